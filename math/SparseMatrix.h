// SparseMatrix: row-wise sparse matrix of doubles for the banded systems of curve and
// surface fitting, and SolveLinearSystem, its direct solver. Internal (not exported).
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "math/HugePages.h"

namespace VelSDK {
namespace NURBS {

namespace detail {
/// Allocator that default-initialises (leaves trivial elements uninitialised) on resize, so
/// that sizing a buffer that is written later neither zeroes it nor touches its pages.
template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
    /// Large buffers are advised to use huge pages before anything touches them.
    T* allocate(std::size_t n) {
        T* p = std::allocator<T>::allocate(n);
        AdviseHugePages(p, n * sizeof(T));
        return p;
    }
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <typename T>
using ScratchVector = std::vector<T, DefaultInitAllocator<T>>;
}  // namespace detail

/// A row-wise sparse matrix of doubles.
///
/// Each row holds (column, value) entries in the order in which they were first stored;
/// a coefficient without an entry reads as 0.0. Set never stores a value whose magnitude
/// is below DBL_EPSILON: such a value creates no entry, and an existing entry of that
/// column keeps its previous value.
///
/// Storage (no heap block per row, which would dominate the cost of systems with a million
/// rows): flat arrays of entries. Row r owns `stride` consecutive slots
/// (stride = bandwidth + 1, within limits); a row that outgrows them moves to an overflow
/// pool, in blocks of stride * 2^j slots. Memory of slots that stay unused is never
/// touched.
class SparseMatrix {
public:
    struct Entry {
        std::size_t column;
        double value;
    };

    /// rows x columns, all coefficients zero; rows are expected to hold up to bandwidth + 1
    /// entries (more are allowed).
    SparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth);
    /// The same, with room for rowCapacity entries per row kept in place (a hint for rows
    /// known to be longer than bandwidth + 1, such as those of a product).
    SparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth, std::size_t rowCapacity);
    SparseMatrix(const SparseMatrix& other);
    SparseMatrix& operator=(const SparseMatrix& other);
    SparseMatrix(SparseMatrix&&) noexcept = default;
    SparseMatrix& operator=(SparseMatrix&&) noexcept = default;
    ~SparseMatrix() = default;

    std::size_t RowCount() const { return m_rowCount; }
    std::size_t ColumnCount() const { return m_columnCount; }
    std::size_t Bandwidth() const { return m_bandwidth; }

    /// The coefficient (row, column): the value of the row's entry of that column, or 0.0.
    double Get(std::size_t row, std::size_t column) const {
        const std::size_t len = m_length[row];
        const Entry* e = RowPtr(row, len);
        for (std::size_t i = 0; i < len; ++i)
            if (e[i].column == column) return e[i].value;
        return 0.0;
    }

    /// Stores value at (row, column) unless |value| < DBL_EPSILON: replaces the value of an
    /// existing entry of that column, or appends a new entry at the end of the row.
    void Set(std::size_t row, std::size_t column, double value) {
        if (std::fabs(value) < DBL_EPSILON) return;
        const std::size_t len = m_length[row];
        Entry* e = RowPtr(row, len);
        for (std::size_t i = 0; i < len; ++i) {
            if (e[i].column == column) {
                e[i].value = value;
                return;
            }
        }
        Append(row, column, value);
    }

    /// The entries of a row in stored order (valid until the matrix is modified).
    const Entry* RowEntries(std::size_t row) const {
        const std::size_t len = m_length[row];
        return RowPtr(row, len);
    }
    std::size_t RowLength(std::size_t row) const { return m_length[row]; }

    /// (column count) x (row count), same bandwidth: for each row i in order and each of its
    /// entries (c, v) in row order, Set(c, i, v). Entries whose column is not below the
    /// column count have no row to go to and are dropped.
    SparseMatrix Transpose() const;

    /// Rows [r0, r1) and columns [c0, c1), renumbered from 0, same bandwidth; entries keep
    /// their row order. r1 is clipped to the row count; an empty or reversed range gives
    /// no rows (or no columns) instead of a wrapped count.
    SparseMatrix SubMatrix(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) const;

    friend SparseMatrix operator*(const SparseMatrix& a, const SparseMatrix& b);
    friend struct SparseSolver;

private:
    struct ExactStride {};
    SparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth, std::size_t stride, ExactStride);

    // A row of length len lives in place while len <= stride, else in the overflow pool.
    bool InPlace(std::size_t len) const { return len <= m_stride; }
    const Entry* RowPtr(std::size_t row, std::size_t len) const {
        return InPlace(len) ? m_chunks[row >> m_chunkShift].data() + (row & m_chunkMask) * m_stride
                            : m_overflow.data() + m_overflowOffset[row];
    }
    Entry* RowPtr(std::size_t row, std::size_t len) {
        return InPlace(len) ? m_chunks[row >> m_chunkShift].data() + (row & m_chunkMask) * m_stride
                            : m_overflow.data() + m_overflowOffset[row];
    }
    // Capacity of a row holding len entries: stride in place, else the smallest stride * 2^j
    // (j >= 1) that holds len.
    std::size_t Capacity(std::size_t len) const;

    // Appends (column, value) to a row (no search, no store rule).
    void Append(std::size_t row, std::size_t column, double value) {
        const std::size_t len = m_length[row];
        if (len < m_stride) {
            m_chunks[row >> m_chunkShift][(row & m_chunkMask) * m_stride + len] = Entry{column, value};
            m_length[row] = static_cast<std::uint32_t>(len + 1);
            return;
        }
        AppendSlow(row, column, value);
    }
    void AppendSlow(std::size_t row, std::size_t column, double value);
    // Gives an empty row room for count entries (building results of known row sizes).
    void ReserveRow(std::size_t row, std::size_t count);

    std::size_t m_rowCount;
    std::size_t m_columnCount;
    std::size_t m_bandwidth;
    std::size_t m_stride;
    std::vector<std::uint32_t> m_length;
    // The in-place slots, rows * stride, in chunks of 2^chunkShift rows (at most 2^20 slots,
    // 16 MiB, per chunk: no single huge allocation for large systems).
    std::size_t m_chunkShift;
    std::size_t m_chunkMask;
    std::vector<detail::ScratchVector<Entry>> m_chunks;
    std::vector<std::size_t> m_overflowOffset;  // per row, sized when the first row overflows
    detail::ScratchVector<Entry> m_overflow;
};

/// The product a * b: a's row count x b's column count, bandwidth max of both. Coefficient
/// (i, j) is s = 0.0; s += b.Get(m, j) * v over the entries (m, v) of a's row i in row order,
/// stored with Set (so a sum below DBL_EPSILON in magnitude is absent); each result row
/// holds its entries in increasing column order. Only the columns of b's rows named by a's
/// row are visited: the other terms are exact zeros (a row of a that holds an infinite or NaN
/// value, for which 0.0 * v is NaN, gets every column j). a's column count must equal b's row
/// count; entries of a that name a row beyond b, and entries of b beyond its column count,
/// contribute nothing.
SparseMatrix operator*(const SparseMatrix& a, const SparseMatrix& b);

/// Solves A X = B by LU decomposition with scaled partial pivoting, in place on the sparse
/// rows, for n unknowns and k right-hand sides; right-hand side row i holds k values at
/// B + i * stride (stride >= k). On success returns true and overwrites those values with
/// X (row i = unknown i); on failure returns false, and they may hold partly substituted
/// values (solve a copy when they are needed). Values between k and stride are not touched.
/// A is consumed (it holds the factors). Results are the bits of the elimination that visits
/// every coefficient position, also for infinite and NaN values (where 0.0 times them is NaN):
/// a non-finite multiplier updates every column of its row, and once a right-hand side
/// (solution value) is not finite the substitutions visit every position.
bool SolveLinearSystem(SparseMatrix& A, double* B, std::size_t n, std::size_t k, std::size_t stride);

/// The same with the right-hand-side rows packed (stride = k).
inline bool SolveLinearSystem(SparseMatrix& A, double* B, std::size_t n, std::size_t k) {
    return SolveLinearSystem(A, B, n, k, k);
}

/// The same for right-hand sides held as one vector per row (k = length of the first row).
/// On success B is replaced by the solution rows; on failure B is left unchanged. Returns
/// false for n = 0, for a matrix of fewer than n rows and for right-hand-side rows shorter
/// than the first.
bool SolveLinearSystem(SparseMatrix& A, std::vector<std::vector<double>>& B);

}  // namespace NURBS
}  // namespace VelSDK
