// SparseMatrix operations and the sparse LU solver with scaled partial pivoting.
//
// Every routine visits only stored entries. Skipping a coefficient that has no entry is
// exact because such a coefficient only ever adds or subtracts an exact zero (a product
// with +0.0): a sum x + (+-0) or x - (+-0) equals x unless x is -0.0. The sums and
// products and their order are those of the dense formulation (for the solver: Doolittle
// elimination in column order, forward substitution in column order, back substitution
// from the last unknown), so the results are the same bits.
#include "math/SparseMatrix.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace VelSDK {
namespace NURBS {

namespace {
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Upper bound for the pool reserved up front (entries); larger matrices grow on demand.
constexpr std::size_t kMaxInitialPool = std::size_t(1) << 24;
// Row lengths are held in 32 bits.
constexpr std::size_t kMaxRowLength = 0xFFFFFFFFu;

inline bool IsNegativeZero(double x) { return x == 0.0 && std::signbit(x); }

// Sorts a short run of entries by column (insertion sort: rows are short and nearly sorted).
void SortByColumn(SparseMatrix::Entry* e, std::size_t len) {
    for (std::size_t i = 1; i < len; ++i) {
        const SparseMatrix::Entry x = e[i];
        std::size_t j = i;
        while (j > 0 && e[j - 1].column > x.column) {
            e[j] = e[j - 1];
            --j;
        }
        e[j] = x;
    }
}
}  // namespace

SparseMatrix::SparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth)
    : m_rows(rows), m_rowCount(rows), m_columnCount(columns), m_bandwidth(bandwidth) {
    const std::size_t cap = InitialCapacity();
    if (rows != 0 && cap <= kMaxInitialPool / rows) m_pool.reserve(rows * cap);
}

// bandwidth + 1 entries per row (saturating), but never more than the row can hold in
// distinct columns, so a wide bandwidth does not reserve unused memory for every row.
std::size_t SparseMatrix::InitialCapacity() const {
    std::size_t cap = m_bandwidth == kNone ? kNone : m_bandwidth + 1;
    if (m_columnCount != 0 && cap > m_columnCount) cap = m_columnCount;
    if (cap > 1024) cap = 1024;
    return cap == 0 ? 1 : cap;
}

void SparseMatrix::Grow(std::size_t row, std::size_t minCapacity) {
    RowSlot& slot = m_rows[row];
    std::size_t cap = slot.capacity == 0 ? InitialCapacity() : 2 * static_cast<std::size_t>(slot.capacity);
    if (cap < minCapacity) cap = minCapacity;
    if (cap > kMaxRowLength) {
        if (minCapacity > kMaxRowLength) throw std::length_error("SparseMatrix: row too long");
        cap = kMaxRowLength;
    }
    const std::size_t offset = m_pool.size();
    m_pool.resize(offset + cap);
    Entry* pool = m_pool.data();
    for (std::size_t i = 0; i < slot.length; ++i) pool[offset + i] = pool[slot.offset + i];
    slot.offset = offset;
    slot.capacity = static_cast<std::uint32_t>(cap);
}

void SparseMatrix::Reserve(std::size_t row, std::size_t capacity) {
    if (capacity > kMaxRowLength) throw std::length_error("SparseMatrix: row too long");
    RowSlot& slot = m_rows[row];
    slot.offset = m_pool.size();
    slot.capacity = static_cast<std::uint32_t>(capacity);
    slot.length = 0;
    m_pool.resize(slot.offset + capacity);
}

SparseMatrix SparseMatrix::Transpose() const {
    SparseMatrix t(m_columnCount, m_rowCount, m_bandwidth);
    // Count the entries of every result row, give each row exactly that room, then append
    // row by row of the source: result row c receives its entries in increasing i, each
    // source row contributing at most one, so no store meets an existing entry.
    std::vector<std::size_t> count(m_columnCount, 0);
    for (std::size_t i = 0; i < m_rowCount; ++i) {
        const Entry* e = RowEntries(i);
        for (std::size_t q = 0; q < m_rows[i].length; ++q)
            if (e[q].column < m_columnCount && !(std::fabs(e[q].value) < DBL_EPSILON)) ++count[e[q].column];
    }
    t.m_pool.clear();
    for (std::size_t c = 0; c < m_columnCount; ++c)
        if (count[c] != 0) t.Reserve(c, count[c]);
    for (std::size_t i = 0; i < m_rowCount; ++i) {
        const Entry* e = RowEntries(i);
        for (std::size_t q = 0; q < m_rows[i].length; ++q) {
            const std::size_t c = e[q].column;
            if (c < m_columnCount && !(std::fabs(e[q].value) < DBL_EPSILON)) {
                RowSlot& slot = t.m_rows[c];
                t.m_pool[slot.offset + slot.length] = Entry{i, e[q].value};
                ++slot.length;
            }
        }
    }
    return t;
}

SparseMatrix SparseMatrix::SubMatrix(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) const {
    if (r1 > m_rowCount) r1 = m_rowCount;
    const std::size_t rows = r1 > r0 ? r1 - r0 : 0;
    const std::size_t cols = c1 > c0 ? c1 - c0 : 0;
    SparseMatrix s(rows, cols, m_bandwidth);
    s.m_pool.clear();
    for (std::size_t i = 0; i < rows; ++i) {
        const Entry* e = RowEntries(r0 + i);
        const std::size_t len = m_rows[r0 + i].length;
        std::size_t count = 0;
        for (std::size_t q = 0; q < len; ++q)
            if (e[q].column >= c0 && e[q].column < c1 && !(std::fabs(e[q].value) < DBL_EPSILON)) ++count;
        if (count == 0) continue;
        s.Reserve(i, count);
        e = RowEntries(r0 + i);
        RowSlot& slot = s.m_rows[i];
        for (std::size_t q = 0; q < len; ++q) {
            if (e[q].column >= c0 && e[q].column < c1 && !(std::fabs(e[q].value) < DBL_EPSILON)) {
                s.m_pool[slot.offset + slot.length] = Entry{e[q].column - c0, e[q].value};
                ++slot.length;
            }
        }
    }
    return s;
}

// Row i of the product accumulates, for each entry (m, v) of a's row i in row order, the
// terms b(m, j) * v into a dense accumulator over the columns j of b's row m. Per column j
// this is the sum s = 0.0 + b(m0, j) v0 + b(m1, j) v1 + ... with the zero terms left out
// (s never becomes -0.0, so they change nothing). The touched columns are then stored in
// increasing order.
SparseMatrix operator*(const SparseMatrix& a, const SparseMatrix& b) {
    using Entry = SparseMatrix::Entry;
    SparseMatrix result(a.m_rowCount, b.m_columnCount, std::max(a.m_bandwidth, b.m_bandwidth));
    result.m_pool.clear();
    std::vector<double> acc(b.m_columnCount);
    std::vector<std::size_t> stamp(b.m_columnCount, kNone);
    std::vector<std::size_t> touched;
    std::vector<Entry> rowOut;
    for (std::size_t i = 0; i < a.m_rowCount; ++i) {
        touched.clear();
        const Entry* ea = a.RowEntries(i);
        const std::size_t la = a.m_rows[i].length;
        for (std::size_t q = 0; q < la; ++q) {
            const std::size_t m = ea[q].column;
            if (m >= b.m_rowCount) continue;
            const double v = ea[q].value;
            const Entry* eb = b.RowEntries(m);
            const std::size_t lb = b.m_rows[m].length;
            for (std::size_t t = 0; t < lb; ++t) {
                const std::size_t j = eb[t].column;
                if (j >= b.m_columnCount) continue;
                if (stamp[j] != i) {
                    stamp[j] = i;
                    acc[j] = 0.0;
                    touched.push_back(j);
                }
                acc[j] += eb[t].value * v;
            }
        }
        std::sort(touched.begin(), touched.end());
        rowOut.clear();
        for (const std::size_t j : touched)
            if (!(std::fabs(acc[j]) < DBL_EPSILON)) rowOut.push_back(Entry{j, acc[j]});
        if (rowOut.empty()) continue;
        result.Reserve(i, rowOut.size());
        std::copy(rowOut.begin(), rowOut.end(), result.m_pool.begin() + result.m_rows[i].offset);
        result.m_rows[i].length = static_cast<std::uint32_t>(rowOut.size());
    }
    return result;
}

// LU decomposition with scaled partial pivoting (Doolittle, multipliers stored in place of
// the eliminated coefficients), then forward and back substitution. Rows are addressed
// through a permutation; columns directly.
//
// Elimination visits, for pivot column k0, only the rows that hold an entry in that column
// and have not been pivots yet: every such row has all its entries left of k0 eliminated,
// so k0 is its leading (smallest not yet eliminated) column. Rows are kept in buckets by
// leading column; after a row is eliminated it moves to the bucket of its next column. For
// a banded system this costs O(n b^2) instead of the O(n^3) of visiting every coefficient.
//
// Store rule: a multiplier or update below DBL_EPSILON in magnitude is not stored, and the
// coefficient keeps its previous value (the eliminated coefficient for a multiplier, the
// earlier value for an update), exactly as storing through SparseMatrix::Set would.
//
// The last pivot is tested like every other one: when |A(n-1, n-1) / scale| <= DBL_EPSILON
// after elimination (also for a 1 x 1 system) the solver returns false instead of dividing
// by a vanishing pivot.
bool SolveLinearSystem(SparseMatrix& A, double* B, std::size_t n, std::size_t k) {
    using Entry = SparseMatrix::Entry;
    if (n == 0) return false;
    if (A.m_rowCount < n) return false;  // guard: the system needs n rows

    // Row scales from A on entry: the largest |value| among the first bandwidth + 1 entries
    // with |value| > 0, in stored order (an empty row has scale 0.0).
    const std::size_t scanLimit = A.m_bandwidth == kNone ? kNone : A.m_bandwidth + 1;
    std::vector<double> scale(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Entry* e = A.RowEntries(i);
        const std::size_t len = A.m_rows[i].length;
        double s = 0.0;
        std::size_t met = 0;
        for (std::size_t q = 0; q < len && met < scanLimit; ++q) {
            const double v = std::fabs(e[q].value);
            if (v > 0.0) {
                if (v > s) s = v;
                ++met;
            }
        }
        scale[i] = s;
    }

    std::vector<std::size_t> perm(n), pos(n);
    for (std::size_t i = 0; i < n; ++i) perm[i] = pos[i] = i;

    if (n > 1) {
        // Buckets of rows by leading column (singly linked through next[]).
        std::vector<std::size_t> head(n, kNone), next(n, kNone);
        for (std::size_t i = 0; i < n; ++i) {
            const Entry* e = A.RowEntries(i);
            const std::size_t len = A.m_rows[i].length;
            std::size_t lead = kNone;
            for (std::size_t q = 0; q < len; ++q)
                if (e[q].column < n && (lead == kNone || e[q].column < lead)) lead = e[q].column;
            if (lead != kNone) {
                next[i] = head[lead];
                head[lead] = i;
            }
        }

        std::vector<std::size_t> colpos(n, kNone);
        std::vector<Entry> pivotU;
        for (std::size_t k0 = 0; k0 + 1 < n; ++k0) {
            // Pivot search: the largest |A(R, k0) / scale(R)|, the smallest position on ties;
            // a ratio that is not a number never wins. Rows outside the bucket have no entry
            // in column k0 and a ratio of 0 (or NaN).
            double best = 0.0;
            std::size_t pivotRow = kNone;
            std::size_t pivotPos = kNone;
            for (std::size_t R = head[k0]; R != kNone; R = next[R]) {
                const double ratio = std::fabs(A.Get(R, k0) / scale[R]);
                if (ratio > best || (ratio == best && pos[R] < pivotPos)) {
                    best = ratio;
                    pivotRow = R;
                    pivotPos = pos[R];
                }
            }
            if (!(best > DBL_EPSILON)) return false;

            const std::size_t other = perm[k0];
            perm[k0] = pivotRow;
            perm[pivotPos] = other;
            pos[pivotRow] = k0;
            pos[other] = pivotPos;

            const double d = A.Get(pivotRow, k0);
            pivotU.clear();
            {
                const Entry* e = A.RowEntries(pivotRow);
                const std::size_t len = A.m_rows[pivotRow].length;
                for (std::size_t q = 0; q < len; ++q)
                    if (e[q].column > k0 && e[q].column < n) pivotU.push_back(e[q]);
            }

            std::size_t R = head[k0];
            head[k0] = kNone;
            while (R != kNone) {
                const std::size_t nextR = next[R];
                if (R != pivotRow) {
                    SparseMatrix::RowSlot& slot = A.m_rows[R];
                    Entry* e = A.m_pool.data() + slot.offset;
                    std::size_t ia = 0;
                    while (e[ia].column != k0) ++ia;
                    const double f = e[ia].value / d;
                    if (!(std::fabs(f) < DBL_EPSILON)) e[ia].value = f;
                    const std::size_t len0 = slot.length;
                    for (std::size_t q = 0; q < len0; ++q)
                        if (e[q].column < n) colpos[e[q].column] = q;
                    for (const Entry& pe : pivotU) {
                        const std::size_t q = colpos[pe.column];
                        if (q != kNone) {
                            const double v = e[q].value - pe.value * f;
                            if (!(std::fabs(v) < DBL_EPSILON)) e[q].value = v;
                        } else {
                            const double v = 0.0 - pe.value * f;
                            if (!(std::fabs(v) < DBL_EPSILON)) {
                                A.Append(R, pe.column, v);
                                e = A.m_pool.data() + slot.offset;
                            }
                        }
                    }
                    std::size_t lead = kNone;
                    for (std::size_t q = 0; q < slot.length; ++q) {
                        const std::size_t c = e[q].column;
                        if (q < len0 && c < n) colpos[c] = kNone;
                        if (c > k0 && c < n && (lead == kNone || c < lead)) lead = c;
                    }
                    if (lead != kNone) {
                        next[R] = head[lead];
                        head[lead] = R;
                    }
                }
                R = nextR;
            }
        }
    }

    // Last pivot: the same test as the others (see above).
    {
        const std::size_t R = perm[n - 1];
        const double ratio = std::fabs(A.Get(R, n - 1) / scale[R]);
        if (!(ratio > DBL_EPSILON)) return false;
    }

    // From here on the solve succeeds. Sort every row by column so that the substitutions
    // visit the multipliers and the upper coefficients in increasing column order.
    for (std::size_t i = 0; i < n; ++i) SortByColumn(A.m_pool.data() + A.m_rows[i].offset, A.m_rows[i].length);

    // Signed zeros: a skipped term is +0.0 * b, which turns a running value of -0.0 into
    // +0.0 when b has its sign bit set. A running value can only be -0.0 when a right-hand
    // side holds -0.0, so only then are the skipped terms accounted for (by prefix counts of
    // sign bits over the positions).
    bool negativeZero = false;
    for (std::size_t i = 0; i < n * k && !negativeZero; ++i) negativeZero = IsNegativeZero(B[i]);

    // Forward substitution, row by row in position order: row r receives, for k0 = 0..r-1
    // in increasing order, B[r] -= L(r, k0) * B[k0] (B[k0] is final by then).
    std::vector<std::size_t> signs;
    if (negativeZero) signs.assign((n + 1) * k, 0);
    for (std::size_t r = 0; r < n; ++r) {
        const std::size_t R = perm[r];
        const Entry* e = A.RowEntries(R);
        const std::size_t len = A.m_rows[R].length;
        double* t = B + R * k;
        if (!negativeZero) {
            for (std::size_t q = 0; q < len && e[q].column < r; ++q) {
                const double m = e[q].value;
                const double* b = B + perm[e[q].column] * k;
                for (std::size_t j = 0; j < k; ++j) t[j] -= m * b[j];
            }
        } else {
            std::size_t from = 0;
            auto skip = [&](std::size_t to) {
                for (std::size_t j = 0; j < k; ++j)
                    if (IsNegativeZero(t[j]) && signs[to * k + j] != signs[from * k + j]) t[j] = 0.0;
            };
            for (std::size_t q = 0; q < len && e[q].column < r; ++q) {
                const std::size_t c = e[q].column;
                if (c > from) skip(c);
                const double m = e[q].value;
                const double* b = B + perm[c] * k;
                for (std::size_t j = 0; j < k; ++j) t[j] -= m * b[j];
                from = c + 1;
            }
            if (r > from) skip(r);
            for (std::size_t j = 0; j < k; ++j)
                signs[(r + 1) * k + j] = signs[r * k + j] + (std::signbit(t[j]) ? 1 : 0);
        }
    }

    // Back substitution into X, from the last unknown: t = B[i]; t -= U(i, c) * X[c] for
    // c = i+1..n-1 in increasing order; X[i] = t / U(i, i).
    std::vector<double> X(n * k);
    std::vector<double> t(k);
    if (negativeZero) signs.assign((n + 1) * k, 0);  // now counts over positions c..n-1
    for (std::size_t i = n; i-- > 0;) {
        const std::size_t R = perm[i];
        const Entry* e = A.RowEntries(R);
        const std::size_t len = A.m_rows[R].length;
        std::size_t q = 0;
        while (q < len && e[q].column < i) ++q;
        double diag = 0.0;
        if (q < len && e[q].column == i) diag = e[q++].value;
        std::memcpy(t.data(), B + R * k, k * sizeof(double));
        if (!negativeZero) {
            for (; q < len && e[q].column < n; ++q) {
                const double a = e[q].value;
                const double* x = X.data() + e[q].column * k;
                for (std::size_t j = 0; j < k; ++j) t[j] -= a * x[j];
            }
            double* xi = X.data() + i * k;
            for (std::size_t j = 0; j < k; ++j) xi[j] = t[j] / diag;
        } else {
            std::size_t from = i + 1;
            auto skip = [&](std::size_t to) {
                for (std::size_t j = 0; j < k; ++j)
                    if (IsNegativeZero(t[j]) && signs[from * k + j] != signs[to * k + j]) t[j] = 0.0;
            };
            for (; q < len && e[q].column < n; ++q) {
                const std::size_t c = e[q].column;
                if (c > from) skip(c);
                const double a = e[q].value;
                const double* x = X.data() + c * k;
                for (std::size_t j = 0; j < k; ++j) t[j] -= a * x[j];
                from = c + 1;
            }
            if (n > from) skip(n);
            double* xi = X.data() + i * k;
            for (std::size_t j = 0; j < k; ++j) {
                xi[j] = t[j] / diag;
                signs[i * k + j] = signs[(i + 1) * k + j] + (std::signbit(xi[j]) ? 1 : 0);
            }
        }
    }
    std::memcpy(B, X.data(), n * k * sizeof(double));
    return true;
}

bool SolveLinearSystem(SparseMatrix& A, std::vector<std::vector<double>>& B) {
    const std::size_t n = B.size();
    if (n == 0) return false;
    const std::size_t k = B[0].size();
    for (const auto& row : B)
        if (row.size() < k) return false;  // guard: rows shorter than the first
    if (A.RowCount() < n) return false;    // guard: the system needs n rows
    std::vector<double> flat(n * k);
    for (std::size_t i = 0; i < n; ++i) std::copy(B[i].begin(), B[i].begin() + k, flat.begin() + i * k);
    if (!SolveLinearSystem(A, flat.data(), n, k)) return false;
    for (std::size_t i = 0; i < n; ++i) B[i].assign(flat.begin() + i * k, flat.begin() + (i + 1) * k);
    return true;
}

}  // namespace NURBS
}  // namespace VelSDK
