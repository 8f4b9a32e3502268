// The sparse LU factorisation with scaled partial pivoting and its substitutions.
//
// Every routine visits only stored entries. Skipping a coefficient that has no entry is
// exact because such a coefficient only ever adds or subtracts an exact zero (a product
// with +0.0): a sum x + (+-0) or x - (+-0) equals x unless x is -0.0 (SignedZeroLedger
// accounts for that case). The sums and products and their order are those of the dense
// formulation (Doolittle elimination in column order, forward substitution in column order,
// back substitution from the last unknown), so the results are the same bits. A product of
// +0.0 with an infinite or NaN value is NaN, not zero: where such a value meets an absent
// coefficient (a non-finite multiplier, right-hand side or solution value) the routines
// visit every position as the dense formulation does, for that row only.
//
// Elimination visits, for pivot column k0, only the rows that hold an entry in that column
// and have not been pivots yet: every such row has all its entries left of k0 eliminated,
// so k0 is its leading (smallest not yet eliminated) column. Rows are kept in buckets by
// leading column; after a row is eliminated it moves to the bucket of its next column. For
// a banded system this costs O(n b^2) instead of the O(n^3) of visiting every coefficient.
// The order in which the rows of one step are eliminated does not matter (each row reads
// only itself and the pivot row); ties of the pivot search go to the smallest position.
//
// The forward substitution of the row at position r reads only that row's multipliers and
// the right-hand sides of earlier positions, all final once the row is the pivot of step r
// (a pivot row is never eliminated again). Running it after the whole factorisation, in
// position order, is therefore the same sequence of operations on every value as running it
// at pivot time, and the factors serve any number of right-hand sides.
#include "math/SparseLU.h"

#include "math/SignedZeroLedger.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <utility>

namespace VelSDK {
namespace Math {

namespace {
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

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
}  // namespace

// The elimination, on the matrix the SparseLU holds. Index is the type of the permutation
// and bucket arrays.
template <typename Index>
class SparseLU::Factorisation {
public:
    Factorisation(SparseMatrix& A, std::size_t n, ScratchVector<Index>& perm) : m_A(A), m_n(n), m_perm(perm) {}

    // onPivot(r) runs once the row at position r is the pivot and sorted (its factors are
    // final): the forward substitution of a solve fused with the factorisation.
    template <typename OnPivot>
    bool Run(const OnPivot& onPivot) {
        Prepare();
        for (std::size_t k0 = 0; k0 + 1 < m_n; ++k0)
            if (!Step(k0, onPivot)) return false;
        // Last pivot: the same test as the others (also for a 1 x 1 system).
        const Index last = m_perm[m_n - 1];
        const double ratio = std::fabs(m_A.Get(last, m_n - 1) / m_scale[last]);
        if (!(ratio > DBL_EPSILON)) return false;
        SortByColumn(Row(last), m_A.m_length[last]);
        onPivot(m_n - 1);
        return true;
    }

private:
    static constexpr Index kNoRow = std::numeric_limits<Index>::max();
    using Entry = SparseMatrix::Entry;

    // Mutable view of row R (valid until the row grows).
    Entry* Row(std::size_t R) { return m_A.RowPtr(R, m_A.m_length[R]); }

    // One pass over the rows: the scale (see the header; 0.0 for an empty row) and the
    // leading column, which files the row in its bucket.
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
    }

    void File(Index R, std::size_t lead) {
        m_next[R] = m_head[lead];
        m_head[lead] = R;
    }

    // Elimination step k0: pivot search, row exchange, the pivot row sorted by column (its
    // factors are final now), elimination of column k0 from the other rows.
    template <typename OnPivot>
    bool Step(std::size_t k0, const OnPivot& onPivot) {
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

        SortByColumn(Row(pivotRow), m_A.m_length[pivotRow]);
        onPivot(k0);
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

    SparseMatrix& m_A;
    std::size_t m_n;
    ScratchVector<Index>& m_perm;
    ScratchVector<double> m_scale;  // the scratch arrays are filled before use
    ScratchVector<Index> m_pos, m_next;
    std::vector<Index> m_head;    // bucket heads by leading column
    std::vector<Index> m_colpos;  // column -> entry index of the row being eliminated (wide rows only)
    std::vector<Entry> m_pivotU;  // the pivot row's entries right of the pivot column
};

// Forward and back substitution with the factors for k right-hand sides at B + R * stride
// (row R of the matrix), then the permutation into position order.
template <typename Index>
class SparseLU::Substitution {
public:
    Substitution(const SparseMatrix& A, std::size_t n, const ScratchVector<Index>& perm, double* B, std::size_t k,
                 std::size_t stride)
        : m_A(A), m_n(n), m_perm(perm), m_B(B), m_k(k), m_stride(stride) {}

    void Run() {
        Start();
        for (std::size_t r = 0; r < m_n; ++r) Forward(r);
        Finish();
    }

    // Whether a right-hand side holds -0.0 (then the ledger is kept).
    void Start() {
        for (std::size_t i = 0; i < m_n && !m_negativeZero; ++i) {
            const double* b = Rhs(i);
            for (std::size_t j = 0; j < m_k; ++j)
                m_negativeZero = m_negativeZero || SignedZeroLedger::IsNegativeZero(b[j]);
        }
        if (m_negativeZero) m_ledger.Reset(m_n, m_k);
    }

    void Finish() {
        Back();
        Permute();
    }

    // Forward substitution of the row at position r: for k0 = 0..r-1 in increasing order,
    // B[r] -= L(r, k0) * B[k0], the column-by-column forward substitution of the dense
    // algorithm reordered by rows, with the same operations on every value.
    void Forward(std::size_t r) {
        const std::size_t R = m_perm[r];
        const Entry* e = m_A.RowEntries(R);
        double* t = Rhs(R);
        const bool nonFinite = m_nonFinite;
        Subtract(t, e, m_A.RowLength(R), 0, 0, r);
        if (nonFinite) return;
        if (m_negativeZero) m_ledger.Record(r + 1, r, t);
        NoteNonFinite(t);
    }

private:
    using Entry = SparseMatrix::Entry;

    double* Rhs(std::size_t R) const { return m_B + R * m_stride; }

    // t -= a(c) * X(c) over the positions c in [from, to) in increasing order, X(c) the
    // right-hand side (solution value) at position c and a(c) the coefficient of column c
    // among the row's entries e[q..len) (sorted by column, none left of from). Only stored
    // coefficients take part, unless a value met so far is not finite (every position, absent
    // coefficients read as 0.0); with the ledger kept, skipped ranges are accounted for.
    void Subtract(double* t, const Entry* e, std::size_t len, std::size_t q, std::size_t from, std::size_t to) {
        const std::size_t k = m_k;
        if (m_nonFinite) {
            for (std::size_t c = from; c < to; ++c) {
                while (q < len && e[q].column < c) ++q;
                const double a = q < len && e[q].column == c ? e[q].value : 0.0;
                const double* x = Rhs(m_perm[c]);
                for (std::size_t j = 0; j < k; ++j) t[j] -= a * x[j];
            }
            return;
        }
        if (!m_negativeZero) {
            for (; q < len && e[q].column < to; ++q) {
                const double a = e[q].value;
                const double* x = Rhs(m_perm[e[q].column]);
                for (std::size_t j = 0; j < k; ++j) t[j] -= a * x[j];
            }
            return;
        }
        std::size_t next = from;
        for (; q < len && e[q].column < to; ++q) {
            const std::size_t c = e[q].column;
            if (c > next) m_ledger.Skip(t, next, c);
            const double a = e[q].value;
            const double* x = Rhs(m_perm[c]);
            for (std::size_t j = 0; j < k; ++j) t[j] -= a * x[j];
            next = c + 1;
        }
        if (to > next) m_ledger.Skip(t, next, to);
    }

    void NoteNonFinite(const double* t) {
        for (std::size_t j = 0; j < m_k; ++j) m_nonFinite = m_nonFinite || !std::isfinite(t[j]);
    }

    // Back substitution from the last position: t = B[i]; t -= U(i, c) * X[c] for
    // c = i+1..n-1 in increasing order; X[i] = t / U(i, i). X[i] is written over the
    // right-hand side it comes from (row perm[i] of B).
    void Back() {
        const std::size_t n = m_n, k = m_k;
        if (m_negativeZero) m_ledger.Reset(n, k);  // now counts over positions c..n-1
        m_nonFinite = false;                       // now: a solution value at a later position is not finite
        for (std::size_t i = n; i-- > 0;) {
            const std::size_t R = m_perm[i];
            const Entry* e = m_A.RowEntries(R);
            const std::size_t len = m_A.RowLength(R);
            std::size_t q = 0;
            while (q < len && e[q].column < i) ++q;
            double diag = 0.0;
            if (q < len && e[q].column == i) diag = e[q++].value;
            double* t = Rhs(R);
            const bool nonFinite = m_nonFinite;
            Subtract(t, e, len, q, i + 1, n);
            for (std::size_t j = 0; j < k; ++j) t[j] = t[j] / diag;
            if (nonFinite) continue;
            if (m_negativeZero) m_ledger.Record(i, i + 1, t);
            NoteNonFinite(t);
        }
    }

    // Position order: X[i] = B[perm[i]], permuted in place cycle by cycle.
    void Permute() {
        const std::size_t n = m_n, k = m_k;
        std::vector<double> tmp(k);
        std::vector<bool> done(n, false);
        for (std::size_t i = 0; i < n; ++i) {
            if (done[i] || m_perm[i] == i) continue;
            std::copy(Rhs(i), Rhs(i) + k, tmp.data());
            std::size_t j = i;
            for (;;) {
                const std::size_t from = m_perm[j];
                done[j] = true;
                if (from == i) {
                    std::copy(tmp.data(), tmp.data() + k, Rhs(j));
                    break;
                }
                std::copy(Rhs(from), Rhs(from) + k, Rhs(j));
                j = from;
            }
        }
    }

    const SparseMatrix& m_A;
    std::size_t m_n;
    const ScratchVector<Index>& m_perm;
    double* m_B;
    std::size_t m_k;
    std::size_t m_stride;
    bool m_negativeZero = false;
    bool m_nonFinite = false;  // a right-hand side (solution value) already met is not finite
    SignedZeroLedger m_ledger;
};

template <typename Index>
bool SparseLU::Factorise(ScratchVector<Index>& perm, double* B, std::size_t k, std::size_t stride) {
    Factorisation<Index> f(m_A, m_n, perm);
    if (B == nullptr) return f.Run([](std::size_t) {});
    Substitution<Index> s(m_A, m_n, perm, B, k, stride);
    s.Start();
    if (!f.Run([&s](std::size_t r) { s.Forward(r); })) return false;
    s.Finish();
    return true;
}

bool SparseLU::ComputeAndSolve(SparseMatrix A, std::size_t n, double* B, std::size_t k, std::size_t stride) {
    m_A = std::move(A);
    m_n = n;
    m_ok = false;
    m_perm32 = ScratchVector<std::uint32_t>();
    m_perm64 = ScratchVector<std::size_t>();
    if (n == 0 || m_A.RowCount() < n) return false;  // guard: the system needs n rows
    if (B != nullptr && stride < k) return false;    // guard: rows would overlap
    if (n < static_cast<std::size_t>(std::numeric_limits<std::uint32_t>::max()))
        m_ok = Factorise(m_perm32, B, k, stride);
    else
        m_ok = Factorise(m_perm64, B, k, stride);
    return m_ok;
}

bool SparseLU::Compute(SparseMatrix A, std::size_t n) { return ComputeAndSolve(std::move(A), n, nullptr, 0, 0); }

bool SparseLU::Solve(double* B, std::size_t k, std::size_t stride) const {
    if (!m_ok || stride < k) return false;
    if (!m_perm32.empty())
        Substitution<std::uint32_t>(m_A, m_n, m_perm32, B, k, stride).Run();
    else
        Substitution<std::size_t>(m_A, m_n, m_perm64, B, k, stride).Run();
    return true;
}

SparseMatrix SparseLU::TakeFactors() {
    SparseMatrix A = std::move(m_A);
    m_A = SparseMatrix(0, 0, 0);
    m_n = 0;
    m_ok = false;
    m_perm32 = ScratchVector<std::uint32_t>();
    m_perm64 = ScratchVector<std::size_t>();
    return A;
}

bool SolveLinearSystem(SparseMatrix& A, double* B, std::size_t n, std::size_t k, std::size_t stride) {
    if (n == 0) return false;
    if (A.RowCount() < n) return false;  // guard: the system needs n rows
    if (stride < k) return false;        // guard: rows would overlap
    SparseLU lu;
    const bool ok = lu.ComputeAndSolve(std::move(A), n, B, k, stride);
    A = lu.TakeFactors();
    return ok;
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

}  // namespace Math
}  // namespace VelSDK
