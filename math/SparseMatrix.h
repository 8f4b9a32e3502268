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

namespace VelSDK {
namespace NURBS {

namespace detail {
/// Allocator that default-initialises (leaves trivial elements uninitialised) on resize, so
/// that growing a pool of entries that are written right away does not zero them first.
template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
}  // namespace detail

/// A row-wise sparse matrix of doubles.
///
/// Each row holds (column, value) entries in the order in which they were first stored;
/// a coefficient without an entry reads as 0.0. Set never stores a value whose magnitude
/// is below DBL_EPSILON: such a value creates no entry, and an existing entry of that
/// column keeps its previous value.
///
/// The rows live in one flat pool of entries: each row owns a segment (offset, length,
/// capacity) that is reserved when the row receives its first entry, with room for
/// bandwidth + 1 entries, and that moves to the end of the pool when it overflows. This
/// avoids one heap block per row, which dominates the cost of systems with a million rows.
class SparseMatrix {
public:
    struct Entry {
        std::size_t column;
        double value;
    };

    /// rows x columns, all coefficients zero; rows are expected to hold up to bandwidth + 1
    /// entries (more are allowed).
    SparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth);

    std::size_t RowCount() const { return m_rowCount; }
    std::size_t ColumnCount() const { return m_columnCount; }
    std::size_t Bandwidth() const { return m_bandwidth; }

    /// The coefficient (row, column): the value of the row's entry of that column, or 0.0.
    double Get(std::size_t row, std::size_t column) const {
        const Entry* e = m_pool.data() + m_rows[row].offset;
        const std::size_t len = m_rows[row].length;
        for (std::size_t i = 0; i < len; ++i)
            if (e[i].column == column) return e[i].value;
        return 0.0;
    }

    /// Stores value at (row, column) unless |value| < DBL_EPSILON: replaces the value of an
    /// existing entry of that column, or appends a new entry at the end of the row.
    void Set(std::size_t row, std::size_t column, double value) {
        if (std::fabs(value) < DBL_EPSILON) return;
        Entry* e = m_pool.data() + m_rows[row].offset;
        const std::size_t len = m_rows[row].length;
        for (std::size_t i = 0; i < len; ++i) {
            if (e[i].column == column) {
                e[i].value = value;
                return;
            }
        }
        Append(row, column, value);
    }

    /// The entries of a row in their stored order (valid until the matrix is modified).
    const Entry* RowEntries(std::size_t row) const { return m_pool.data() + m_rows[row].offset; }
    std::size_t RowLength(std::size_t row) const { return m_rows[row].length; }

    /// (column count) x (row count), same bandwidth: for each row i in order and each of its
    /// entries (c, v) in row order, Set(c, i, v). Entries whose column is not below the
    /// column count have no row to go to and are dropped.
    SparseMatrix Transpose() const;

    /// Rows [r0, r1) and columns [c0, c1), renumbered from 0, same bandwidth; entries keep
    /// their row order. r1 is clipped to the row count; an empty or reversed range gives
    /// no rows (or no columns) instead of a wrapped count.
    SparseMatrix SubMatrix(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) const;

    friend SparseMatrix operator*(const SparseMatrix& a, const SparseMatrix& b);
    friend bool SolveLinearSystem(SparseMatrix& A, double* B, std::size_t n, std::size_t k);

private:
    // 16 bytes per row: a million-row system keeps its row table small.
    struct RowSlot {
        std::size_t offset = 0;
        std::uint32_t length = 0;
        std::uint32_t capacity = 0;
    };

    // Appends (column, value) to a row, moving the row to the end of the pool when full.
    void Append(std::size_t row, std::size_t column, double value) {
        RowSlot& slot = m_rows[row];
        if (slot.length == slot.capacity) Grow(row, static_cast<std::size_t>(slot.length) + 1);
        m_pool[slot.offset + slot.length] = Entry{column, value};
        ++slot.length;
    }
    // Gives a row a segment at the end of the pool with room for at least minCapacity entries.
    void Grow(std::size_t row, std::size_t minCapacity);
    // Gives an empty row a segment of exactly `capacity` entries (used when building results
    // whose row sizes are known).
    void Reserve(std::size_t row, std::size_t capacity);
    std::size_t InitialCapacity() const;

    std::vector<Entry, detail::DefaultInitAllocator<Entry>> m_pool;
    std::vector<RowSlot> m_rows;
    std::size_t m_rowCount;
    std::size_t m_columnCount;
    std::size_t m_bandwidth;
};

/// The product a * b: a's row count x b's column count, bandwidth max of both. Coefficient
/// (i, j) is s = 0.0; s += b.Get(m, j) * v over the entries (m, v) of a's row i in row order,
/// stored with Set (so a sum below DBL_EPSILON in magnitude is absent); each result row
/// holds its entries in increasing column order. Only the columns of b's rows named by a's
/// row are visited: the other terms are exact zeros. a's column count must equal b's row
/// count; entries of a that name a row beyond b, and entries of b beyond its column count,
/// contribute nothing.
SparseMatrix operator*(const SparseMatrix& a, const SparseMatrix& b);

/// Solves A X = B by LU decomposition with scaled partial pivoting, in place on the sparse
/// rows, for n unknowns and k right-hand sides stored row after row in B (row i at
/// B + i * k). On success returns true and overwrites B with X (row i = unknown i); on
/// failure returns false and leaves B unchanged. A is consumed (it holds the factors).
bool SolveLinearSystem(SparseMatrix& A, double* B, std::size_t n, std::size_t k);

/// The same for right-hand sides held as one vector per row (k = length of the first row).
/// On success B is replaced by the solution rows. Returns false for n = 0, for a matrix of
/// fewer than n rows and for right-hand-side rows shorter than the first.
bool SolveLinearSystem(SparseMatrix& A, std::vector<std::vector<double>>& B);

}  // namespace NURBS
}  // namespace VelSDK
