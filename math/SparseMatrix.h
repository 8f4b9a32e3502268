// SparseMatrix: row-wise sparse storage of doubles for the banded systems of curve and
// surface fitting (math/SparseLU.h factorises and solves them). Internal (not exported).
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "math/ScratchVector.h"

namespace VelSDK {
namespace Math {

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
    /// known to be longer than bandwidth + 1, such as those of a normal matrix).
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

    friend class SparseLU;

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
    // Gives an empty row room for count entries (copies of known row sizes).
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
    std::vector<ScratchVector<Entry>> m_chunks;
    std::vector<std::size_t> m_overflowOffset;  // per row, sized when the first row overflows
    ScratchVector<Entry> m_overflow;
};

}  // namespace Math
}  // namespace VelSDK
