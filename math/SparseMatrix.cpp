// SparseMatrix operations and the sparse LU solver with scaled partial pivoting.
//
// Every routine visits only stored entries. Skipping a coefficient that has no entry is
// exact because such a coefficient only ever adds or subtracts an exact zero (a product
// with +0.0): a sum x + (+-0) or x - (+-0) equals x unless x is -0.0. The sums and
// products and their order are those of the dense formulation (for the solver: Doolittle
// elimination in column order, forward substitution in column order, back substitution
// from the last unknown), so the results are the same bits. A product of +0.0 with an
// infinite or NaN value is NaN, not zero: where such a value meets an absent coefficient
// (a non-finite multiplier, right-hand side, solution value or product operand) the
// routines visit every position as the dense formulation does, for that row only.
#include "math/SparseMatrix.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace VelSDK {
namespace NURBS {

namespace {
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// In-place slots per row, and in all (the slots of rows that stay empty are never touched,
// but they are reserved address space).
constexpr std::size_t kMaxStride = 64;
constexpr std::size_t kMaxInPlaceSlots = std::size_t(1) << 26;
constexpr std::size_t kChunkSlots = std::size_t(1) << 20;  // 16 MiB of entries

inline bool IsNegativeZero(double x) { return x == 0.0 && std::signbit(x); }

// Sorts a short row by column (insertion sort: the rows are short and nearly sorted; a
// sorted row is not written).
void SortByColumn(SparseMatrix::Entry* e, std::size_t len) {
    for (std::size_t i = 1; i < len; ++i) {
        if (e[i - 1].column <= e[i].column) continue;
        const SparseMatrix::Entry x = e[i];
        std::size_t j = i;
        while (j > 0 && e[j - 1].column > x.column) {
            e[j] = e[j - 1];
            --j;
        }
        e[j] = x;
    }
}

// bandwidth + 1 slots per row (saturating), at most the column count and kMaxStride, and
// fewer when the rows are so many that their slots would exceed kMaxInPlaceSlots.
std::size_t ChooseStride(std::size_t rows, std::size_t columns, std::size_t bandwidth) {
    std::size_t stride = bandwidth == kNone ? kNone : bandwidth + 1;
    if (stride > columns) stride = columns;
    if (stride > kMaxStride) stride = kMaxStride;
    if (stride == 0) stride = 1;
    if (rows != 0 && stride > kMaxInPlaceSlots / rows) stride = std::max<std::size_t>(1, kMaxInPlaceSlots / rows);
    return stride;
}
}  // namespace

SparseMatrix::SparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth)
    : SparseMatrix(rows, columns, bandwidth, ChooseStride(rows, columns, bandwidth), ExactStride{}) {}

SparseMatrix::SparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth, std::size_t rowCapacity)
    : SparseMatrix(rows, columns, bandwidth, ChooseStride(rows, columns, rowCapacity == 0 ? 0 : rowCapacity - 1),
                   ExactStride{}) {}

SparseMatrix::SparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth, std::size_t stride,
                           ExactStride)
    : m_rowCount(rows), m_columnCount(columns), m_bandwidth(bandwidth), m_stride(stride), m_length(rows, 0) {
    std::size_t shift = 0;
    while ((std::size_t(2) << shift) * stride <= kChunkSlots && (std::size_t(1) << shift) < rows) ++shift;
    m_chunkShift = shift;
    m_chunkMask = (std::size_t(1) << shift) - 1;
    const std::size_t perChunk = std::size_t(1) << shift;
    m_chunks.resize((rows + perChunk - 1) / perChunk);
    for (std::size_t c = 0; c < m_chunks.size(); ++c)
        m_chunks[c].resize(std::min(perChunk, rows - c * perChunk) * stride);
}

// A copy holds the stored entries only (the unused slots are not read).
SparseMatrix::SparseMatrix(const SparseMatrix& o)
    : SparseMatrix(o.m_rowCount, o.m_columnCount, o.m_bandwidth, o.m_stride, ExactStride{}) {
    for (std::size_t r = 0; r < m_rowCount; ++r) {
        const std::size_t len = o.m_length[r];
        if (len == 0) continue;
        ReserveRow(r, len);
        const Entry* from = o.RowPtr(r, len);
        std::copy(from, from + len, RowPtr(r, len));
        m_length[r] = static_cast<std::uint32_t>(len);
    }
}

SparseMatrix& SparseMatrix::operator=(const SparseMatrix& o) {
    if (this != &o) *this = SparseMatrix(o);
    return *this;
}

std::size_t SparseMatrix::Capacity(std::size_t len) const {
    if (len <= m_stride) return m_stride;
    std::size_t cap = 2 * m_stride;
    while (cap < len) cap *= 2;
    return cap;
}

void SparseMatrix::AppendSlow(std::size_t row, std::size_t column, double value) {
    const std::size_t len = m_length[row];
    if (len >= UINT32_MAX) throw std::length_error("SparseMatrix: row too long");
    if (len > m_stride && len < Capacity(len)) {  // room left in the row's overflow block
        m_overflow[m_overflowOffset[row] + len] = Entry{column, value};
        m_length[row] = static_cast<std::uint32_t>(len + 1);
        return;
    }
    // The row is full: move it to a new overflow block.
    if (m_overflowOffset.empty()) m_overflowOffset.assign(m_rowCount, 0);
    const std::size_t cap = Capacity(len + 1);
    const std::size_t offset = m_overflow.size();
    m_overflow.resize(offset + cap);
    const Entry* from = RowPtr(row, len);
    std::copy(from, from + len, m_overflow.data() + offset);
    m_overflow[offset + len] = Entry{column, value};
    m_overflowOffset[row] = offset;
    m_length[row] = static_cast<std::uint32_t>(len + 1);
}

void SparseMatrix::ReserveRow(std::size_t row, std::size_t count) {
    if (count <= m_stride) return;
    if (count > UINT32_MAX) throw std::length_error("SparseMatrix: row too long");
    if (m_overflowOffset.empty()) m_overflowOffset.assign(m_rowCount, 0);
    const std::size_t offset = m_overflow.size();
    m_overflow.resize(offset + Capacity(count));
    m_overflowOffset[row] = offset;
}

// Result rows of known sizes are written through a cursor per row: a row's location is
// fixed by its final length (in place or in the overflow pool), and the lengths are set at
// the end.
SparseMatrix SparseMatrix::Transpose() const {
    SparseMatrix t(m_columnCount, m_rowCount, m_bandwidth);
    // Result row c receives its entries in increasing i, each source row contributing at
    // most one, so no store meets an existing entry and Set reduces to an append.
    std::vector<std::size_t> count(m_columnCount, 0);
    auto kept = [this](const Entry& e) { return e.column < m_columnCount && !(std::fabs(e.value) < DBL_EPSILON); };
    for (std::size_t i = 0; i < m_rowCount; ++i) {
        const Entry* e = RowEntries(i);
        for (std::size_t q = 0; q < m_length[i]; ++q)
            if (kept(e[q])) ++count[e[q].column];
    }
    for (std::size_t r = 0; r < m_columnCount; ++r) t.ReserveRow(r, count[r]);
    std::vector<std::size_t> cursor(m_columnCount, 0);
    for (std::size_t i = 0; i < m_rowCount; ++i) {
        const Entry* e = RowEntries(i);
        for (std::size_t q = 0; q < m_length[i]; ++q) {
            if (!kept(e[q])) continue;
            const std::size_t r = e[q].column;
            t.RowPtr(r, count[r])[cursor[r]++] = Entry{i, e[q].value};
        }
    }
    for (std::size_t r = 0; r < m_columnCount; ++r) t.m_length[r] = static_cast<std::uint32_t>(count[r]);
    return t;
}

SparseMatrix SparseMatrix::SubMatrix(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) const {
    if (r1 > m_rowCount) r1 = m_rowCount;
    const std::size_t rows = r1 > r0 ? r1 - r0 : 0;
    const std::size_t cols = c1 > c0 ? c1 - c0 : 0;
    SparseMatrix s(rows, cols, m_bandwidth);
    for (std::size_t i = 0; i < rows; ++i) {
        const Entry* e = RowEntries(r0 + i);
        const std::size_t len = m_length[r0 + i];
        auto kept = [&](std::size_t q) {
            return e[q].column >= c0 && e[q].column < c1 && !(std::fabs(e[q].value) < DBL_EPSILON);
        };
        std::size_t count = 0;
        for (std::size_t q = 0; q < len; ++q)
            if (kept(q)) ++count;
        if (count == 0) continue;
        s.ReserveRow(i, count);
        Entry* d = s.RowPtr(i, count);
        for (std::size_t q = 0; q < len; ++q)
            if (kept(q)) *d++ = Entry{e[q].column - c0, e[q].value};
        s.m_length[i] = static_cast<std::uint32_t>(count);
    }
    return s;
}

// Row i of the product accumulates, for each entry (m, v) of a's row i in row order, the
// terms b(m, j) * v into a dense accumulator over the columns j of b's row m. Per column j
// this is the sum s = 0.0 + b(m0, j) v0 + b(m1, j) v1 + ... with the zero terms left out
// (s never becomes -0.0, so they change nothing). The touched columns are then stored in
// increasing order. The result keeps 2 * bandwidth + 1 slots per row in place, the width of
// a product of two banded matrices.
SparseMatrix operator*(const SparseMatrix& a, const SparseMatrix& b) {
    using Entry = SparseMatrix::Entry;
    const std::size_t bw = std::max(a.m_bandwidth, b.m_bandwidth);
    SparseMatrix result(a.m_rowCount, b.m_columnCount, bw, bw >= kMaxStride ? kMaxStride : 2 * bw + 1);
    std::vector<double> acc(b.m_columnCount);
    std::vector<std::size_t> stamp(b.m_columnCount, kNone);
    std::vector<std::size_t> touched;
    std::vector<Entry> out;
    for (std::size_t i = 0; i < a.m_rowCount; ++i) {
        touched.clear();
        const Entry* ea = a.RowEntries(i);
        const std::size_t la = a.m_length[i];
        bool finite = true;
        for (std::size_t q = 0; q < la; ++q)
            if (ea[q].column < b.m_rowCount && !std::isfinite(ea[q].value)) finite = false;
        if (!finite) {
            // A non-finite factor times an absent coefficient is NaN: every column of the row
            // gets its full sum, s = 0.0 + b(m0, j) v0 + b(m1, j) v1 + ..., in increasing j.
            for (std::size_t j = 0; j < b.m_columnCount; ++j) {
                double s = 0.0;
                for (std::size_t q = 0; q < la; ++q)
                    if (ea[q].column < b.m_rowCount) s += b.Get(ea[q].column, j) * ea[q].value;
                result.Set(i, j, s);
            }
            continue;
        }
        for (std::size_t q = 0; q < la; ++q) {
            const std::size_t m = ea[q].column;
            if (m >= b.m_rowCount) continue;
            const double v = ea[q].value;
            const Entry* eb = b.RowEntries(m);
            const std::size_t lb = b.m_length[m];
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
        out.clear();
        for (const std::size_t j : touched)
            if (!(std::fabs(acc[j]) < DBL_EPSILON)) out.push_back(Entry{j, acc[j]});
        const std::size_t count = out.size();
        if (count == 0) continue;
        result.ReserveRow(i, count);
        std::copy(out.begin(), out.end(), result.RowPtr(i, count));
        result.m_length[i] = static_cast<std::uint32_t>(count);
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
// The order in which the rows of one step are eliminated does not matter (each row reads
// only itself and the pivot row); ties of the pivot search go to the smallest position.
//
// Store rule: a multiplier or update below DBL_EPSILON in magnitude is not stored, and the
// coefficient keeps its previous value (the eliminated coefficient for a multiplier, the
// earlier value for an update), exactly as storing through SparseMatrix::Set would.
//
// The last pivot is tested like every other one: when |A(n-1, n-1) / scale| <= DBL_EPSILON
// after elimination (also for a 1 x 1 system) the solver returns false instead of dividing
// by a vanishing pivot.
struct SparseSolver {
    // Index is the type of the permutation and bucket arrays: 32 bits whenever n allows,
    // which halves their memory for large systems.
    template <typename Index>
    class Run {
    public:
        Run(SparseMatrix& A, double* B, std::size_t n, std::size_t k, std::size_t stride)
            : m_A(A), m_B(B), m_n(n), m_k(k), m_stride(stride) {}

        bool Solve() {
            Prepare();
            for (std::size_t k0 = 0; k0 + 1 < m_n; ++k0)
                if (!Step(k0)) return false;
            // Last pivot: the same test as the others (see above).
            const Index last = m_perm[m_n - 1];
            const double ratio = std::fabs(m_A.Get(last, m_n - 1) / m_scale[last]);
            if (!(ratio > DBL_EPSILON)) return false;
            Forward(m_n - 1);
            Back();
            Permute();
            return true;
        }

    private:
        static constexpr Index kNoRow = static_cast<Index>(-1);

        using Entry = SparseMatrix::Entry;

        // Mutable view of row R (valid until the row grows).
        Entry* Row(std::size_t R) {
            const std::size_t len = m_A.m_length[R];
            return m_A.RowPtr(R, len);
        }
        double* Rhs(std::size_t R) { return m_B + R * m_stride; }

        // One pass over the rows: the scale (the largest |value| among the first
        // bandwidth + 1 entries with |value| > 0, in stored order; 0.0 for an empty row,
        // computed from A on entry) and the leading column, which files the row in its bucket.
        void Prepare() {
            const std::size_t n = m_n;
            const std::size_t scanLimit = m_A.m_bandwidth == kNone ? kNone : m_A.m_bandwidth + 1;
            m_scale.resize(n);
            m_perm.resize(n);
            m_pos.resize(n);
            m_next.resize(n);
            m_head.assign(n, kNoRow);
            for (std::size_t i = 0; i < n; ++i) {
                const Entry* e = m_A.RowEntries(i);
                const std::size_t len = m_A.m_length[i];
                double s = 0.0;
                std::size_t met = 0;
                std::size_t lead = kNone;
                for (std::size_t q = 0; q < len; ++q) {
                    if (met < scanLimit) {
                        const double a = std::fabs(e[q].value);
                        if (a > 0.0) {
                            if (a > s) s = a;
                            ++met;
                        }
                    }
                    if (e[q].column < n && e[q].column < lead) lead = e[q].column;
                }
                m_scale[i] = s;
                m_perm[i] = m_pos[i] = static_cast<Index>(i);
                m_next[i] = kNoRow;
                if (lead != kNone) File(static_cast<Index>(i), lead);
            }
            for (std::size_t i = 0; i < n && !m_negativeZero; ++i) {
                const double* b = Rhs(i);
                for (std::size_t j = 0; j < m_k; ++j) m_negativeZero = m_negativeZero || IsNegativeZero(b[j]);
            }
            if (m_negativeZero) m_signs.assign((n + 1) * m_k, 0);
        }

        void File(Index R, std::size_t lead) {
            m_next[R] = m_head[lead];
            m_head[lead] = R;
        }

        // Elimination step k0: pivot search, row exchange, forward substitution of the pivot
        // row (its factors are final now), elimination of column k0 from the other rows.
        bool Step(std::size_t k0) {
            // The largest |A(R, k0) / scale(R)|, the smallest position on ties; a ratio that is
            // not a number never wins. Rows outside the bucket have no entry in column k0 and
            // a ratio of 0 (or NaN).
            double best = 0.0;
            Index pivotRow = kNoRow;
            Index pivotPos = kNoRow;
            for (Index R = m_head[k0]; R != kNoRow; R = m_next[R]) {
                const double ratio = std::fabs(m_A.Get(R, k0) / m_scale[R]);
                if (ratio > best || (ratio == best && m_pos[R] < pivotPos)) {
                    best = ratio;
                    pivotRow = R;
                    pivotPos = m_pos[R];
                }
            }
            if (!(best > DBL_EPSILON)) return false;

            const Index other = m_perm[k0];
            m_perm[k0] = pivotRow;
            m_perm[pivotPos] = other;
            m_pos[pivotRow] = static_cast<Index>(k0);
            m_pos[other] = pivotPos;

            Forward(k0);
            const double d = m_A.Get(pivotRow, k0);
            m_pivotU.clear();
            {
                const Entry* e = m_A.RowEntries(pivotRow);
                const std::size_t len = m_A.m_length[pivotRow];
                for (std::size_t q = 0; q < len; ++q)
                    if (e[q].column > k0 && e[q].column < m_n) m_pivotU.push_back(e[q]);
            }
            Index R = m_head[k0];
            m_head[k0] = kNoRow;
            while (R != kNoRow) {
                const Index nextR = m_next[R];
                if (R != pivotRow) Eliminate(R, k0, d);
                R = nextR;
            }
            return true;
        }

        // Eliminates column k0 from row R with the pivot d and the pivot row's entries right
        // of k0, then files R under its next leading column.
        void Eliminate(Index R, std::size_t k0, double d) {
            Entry* e = Row(R);
            const std::size_t len0 = m_A.m_length[R];
            std::size_t ia = 0;
            while (e[ia].column != k0) ++ia;
            const double f = e[ia].value / d;
            if (!(std::fabs(f) < DBL_EPSILON)) e[ia].value = f;
            if (!std::isfinite(f)) return EliminateEveryColumn(R, k0, f);

            // Short rows find their columns by search; wide ones through a scattered index, so
            // that a step costs O(row + pivot row) entries.
            const std::size_t pivotLen = m_pivotU.size();
            const bool scatter = len0 * pivotLen > 64;
            if (scatter) {
                if (m_colpos.empty()) m_colpos.assign(m_n, kNoRow);
                for (std::size_t q = 0; q < len0; ++q)
                    if (e[q].column < m_n) m_colpos[e[q].column] = static_cast<Index>(q);
            }
            for (std::size_t t = 0; t < pivotLen; ++t) {
                const Entry& pe = m_pivotU[t];
                std::size_t q = kNone;
                if (scatter) {
                    if (m_colpos[pe.column] != kNoRow) q = m_colpos[pe.column];
                } else {
                    for (std::size_t u = 0; u < len0; ++u)
                        if (e[u].column == pe.column) {
                            q = u;
                            break;
                        }
                }
                if (q != kNone) {
                    const double x = e[q].value - pe.value * f;
                    if (!(std::fabs(x) < DBL_EPSILON)) e[q].value = x;
                } else {
                    const double x = 0.0 - pe.value * f;
                    if (!(std::fabs(x) < DBL_EPSILON)) {
                        m_A.Append(R, pe.column, x);
                        e = Row(R);  // the row may have moved
                    }
                }
            }
            std::size_t lead = kNone;
            const std::size_t len = m_A.m_length[R];
            for (std::size_t q = 0; q < len; ++q) {
                const std::size_t c = e[q].column;
                if (scatter && q < len0 && c < m_n) m_colpos[c] = kNoRow;
                if (c > k0 && c < m_n && c < lead) lead = c;
            }
            if (lead != kNone) File(R, lead);
        }

        // Elimination of column k0 from row R with a non-finite multiplier f: 0.0 * f is NaN,
        // so every column c = k0+1..n-1 is updated, A(R, c) = A(R, c) - A(pivot, c) * f with
        // absent coefficients read as 0.0, and stored by the Set rule. The row is then filed
        // under its next leading column.
        void EliminateEveryColumn(Index R, std::size_t k0, double f) {
            const Index P = m_perm[k0];
            for (std::size_t c = k0 + 1; c < m_n; ++c) m_A.Set(R, c, m_A.Get(R, c) - m_A.Get(P, c) * f);
            std::size_t lead = kNone;
            const Entry* e = m_A.RowEntries(R);
            const std::size_t len = m_A.m_length[R];
            for (std::size_t q = 0; q < len; ++q) {
                const std::size_t c = e[q].column;
                if (c > k0 && c < m_n && c < lead) lead = c;
            }
            if (lead != kNone) File(R, lead);
        }

        // Forward substitution of the row at position r, done as soon as that row is the
        // pivot (its multipliers are final, and so are the right-hand sides of all earlier
        // positions): for k0 = 0..r-1 in increasing order, B[r] -= L(r, k0) * B[k0]. This is
        // the column-by-column forward substitution of the dense algorithm, reordered by rows,
        // with the same operations on every value. The row is sorted by column here, once,
        // for this and for the back substitution. A failing later step leaves B partly
        // substituted (callers that need B intact on failure solve a copy).
        void Forward(std::size_t r) {
            const std::size_t k = m_k;
            const std::size_t R = m_perm[r];
            Entry* e = Row(R);
            const std::size_t len = m_A.m_length[R];
            SortByColumn(e, len);
            double* t = Rhs(R);
            if (m_nonFinite) {
                // An earlier right-hand side is not finite: 0.0 times it is NaN, so every
                // position k0 < r takes part, absent multipliers read as 0.0.
                std::size_t q = 0;
                for (std::size_t k0 = 0; k0 < r; ++k0) {
                    while (q < len && e[q].column < k0) ++q;
                    const double m = q < len && e[q].column == k0 ? e[q].value : 0.0;
                    const double* b = Rhs(m_perm[k0]);
                    for (std::size_t j = 0; j < k; ++j) t[j] -= m * b[j];
                }
                return;
            }
            if (!m_negativeZero) {
                for (std::size_t q = 0; q < len && e[q].column < r; ++q) {
                    const double m = e[q].value;
                    const double* b = Rhs(m_perm[e[q].column]);
                    for (std::size_t j = 0; j < k; ++j) t[j] -= m * b[j];
                }
                NoteNonFinite(t);
                return;
            }
            // Signed zeros: a skipped term is +0.0 * b, which turns a running value of -0.0
            // into +0.0 when b has its sign bit set. A running value can only be -0.0 when a
            // right-hand side holds -0.0, so only then are the skipped terms accounted for,
            // through prefix counts of sign bits over the positions.
            std::size_t from = 0;
            auto skip = [&](std::size_t to) {
                for (std::size_t j = 0; j < k; ++j)
                    if (IsNegativeZero(t[j]) && m_signs[to * k + j] != m_signs[from * k + j]) t[j] = 0.0;
            };
            for (std::size_t q = 0; q < len && e[q].column < r; ++q) {
                const std::size_t c = e[q].column;
                if (c > from) skip(c);
                const double m = e[q].value;
                const double* b = Rhs(m_perm[c]);
                for (std::size_t j = 0; j < k; ++j) t[j] -= m * b[j];
                from = c + 1;
            }
            if (r > from) skip(r);
            for (std::size_t j = 0; j < k; ++j)
                m_signs[(r + 1) * k + j] = m_signs[r * k + j] + (std::signbit(t[j]) ? 1 : 0);
            NoteNonFinite(t);
        }

        void NoteNonFinite(const double* t) {
            for (std::size_t j = 0; j < m_k; ++j) m_nonFinite = m_nonFinite || !std::isfinite(t[j]);
        }

        // Back substitution from the last position: t = B[i]; t -= U(i, c) * X[c] for
        // c = i+1..n-1 in increasing order; X[i] = t / U(i, i). X[i] is written over the
        // right-hand side it comes from (row perm[i] of B).
        void Back() {
            const std::size_t n = m_n, k = m_k;
            if (m_negativeZero) m_signs.assign((n + 1) * k, 0);  // now counts over positions c..n-1
            m_nonFinite = false;  // now: a solution value at a later position is not finite
            for (std::size_t i = n; i-- > 0;) {
                const std::size_t R = m_perm[i];
                const Entry* e = m_A.RowEntries(R);
                const std::size_t len = m_A.m_length[R];
                std::size_t q = 0;
                while (q < len && e[q].column < i) ++q;
                double diag = 0.0;
                if (q < len && e[q].column == i) diag = e[q++].value;
                double* t = Rhs(R);
                if (m_nonFinite) {
                    // 0.0 times a non-finite solution value is NaN: every position c > i takes
                    // part, absent coefficients read as 0.0.
                    for (std::size_t c = i + 1; c < n; ++c) {
                        while (q < len && e[q].column < c) ++q;
                        const double a = q < len && e[q].column == c ? e[q].value : 0.0;
                        const double* x = Rhs(m_perm[c]);
                        for (std::size_t j = 0; j < k; ++j) t[j] -= a * x[j];
                    }
                    for (std::size_t j = 0; j < k; ++j) t[j] = t[j] / diag;
                    continue;
                }
                if (!m_negativeZero) {
                    for (; q < len && e[q].column < n; ++q) {
                        const double a = e[q].value;
                        const double* x = Rhs(m_perm[e[q].column]);
                        for (std::size_t j = 0; j < k; ++j) t[j] -= a * x[j];
                    }
                    for (std::size_t j = 0; j < k; ++j) t[j] = t[j] / diag;
                    NoteNonFinite(t);
                    continue;
                }
                std::size_t from = i + 1;
                auto skip = [&](std::size_t to) {
                    for (std::size_t j = 0; j < k; ++j)
                        if (IsNegativeZero(t[j]) && m_signs[from * k + j] != m_signs[to * k + j]) t[j] = 0.0;
                };
                for (; q < len && e[q].column < n; ++q) {
                    const std::size_t c = e[q].column;
                    if (c > from) skip(c);
                    const double a = e[q].value;
                    const double* x = Rhs(m_perm[c]);
                    for (std::size_t j = 0; j < k; ++j) t[j] -= a * x[j];
                    from = c + 1;
                }
                if (n > from) skip(n);
                for (std::size_t j = 0; j < k; ++j) {
                    t[j] = t[j] / diag;
                    m_signs[i * k + j] = m_signs[(i + 1) * k + j] + (std::signbit(t[j]) ? 1 : 0);
                }
                NoteNonFinite(t);
            }
        }

        // Position order: X[i] = B[perm[i]], permuted in place cycle by cycle (uses up perm).
        void Permute() {
            const std::size_t n = m_n, k = m_k;
            std::vector<double> tmp(k);
            for (std::size_t i = 0; i < n; ++i) {
                if (m_perm[i] == i) continue;
                std::copy(Rhs(i), Rhs(i) + k, tmp.data());
                std::size_t j = i;
                for (;;) {
                    const std::size_t from = m_perm[j];
                    m_perm[j] = static_cast<Index>(j);
                    if (from == i) {
                        std::copy(tmp.data(), tmp.data() + k, Rhs(j));
                        break;
                    }
                    std::copy(Rhs(from), Rhs(from) + k, Rhs(j));
                    j = from;
                }
            }
        }

        SparseMatrix& m_A;
        double* m_B;
        std::size_t m_n;
        std::size_t m_k;
        std::size_t m_stride;
        detail::ScratchVector<double> m_scale;  // the scratch arrays are filled before use
        detail::ScratchVector<Index> m_perm, m_pos, m_next;
        std::vector<Index> m_head;    // bucket heads by leading column
        std::vector<Index> m_colpos;  // column -> entry index of the row being eliminated (wide rows only)
        std::vector<Entry> m_pivotU;  // the pivot row's entries right of the pivot column
        bool m_negativeZero = false;
        bool m_nonFinite = false;  // a right-hand side (solution value) already met is not finite
        std::vector<std::size_t> m_signs;
    };
};

bool SolveLinearSystem(SparseMatrix& A, double* B, std::size_t n, std::size_t k, std::size_t stride) {
    if (n == 0) return false;
    if (A.RowCount() < n) return false;  // guard: the system needs n rows
    if (stride < k) return false;        // guard: rows would overlap
    if (n < static_cast<std::size_t>(std::numeric_limits<std::uint32_t>::max()))
        return SparseSolver::Run<std::uint32_t>(A, B, n, k, stride).Solve();
    return SparseSolver::Run<std::size_t>(A, B, n, k, stride).Solve();
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
    if (!SolveLinearSystem(A, flat.data(), n, k, k)) return false;
    for (std::size_t i = 0; i < n; ++i) B[i].assign(flat.begin() + i * k, flat.begin() + (i + 1) * k);
    return true;
}

}  // namespace NURBS
}  // namespace VelSDK
