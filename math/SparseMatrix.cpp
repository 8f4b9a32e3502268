// SparseMatrix storage: rows in place in chunked flat arrays, longer rows in an overflow pool
// (see the header for the layout).
#include "math/SparseMatrix.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace VelSDK {
namespace Math {

namespace {
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// In-place slots per row, and in all (the slots of rows that stay empty are never touched,
// but they are reserved address space).
constexpr std::size_t kMaxStride = 64;
constexpr std::size_t kMaxInPlaceSlots = std::size_t(1) << 26;
constexpr std::size_t kChunkSlots = std::size_t(1) << 20;  // 16 MiB of entries

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
    if (len >= std::numeric_limits<std::uint32_t>::max()) throw std::length_error("SparseMatrix: row too long");
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
    if (count > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("SparseMatrix: row too long");
    if (m_overflowOffset.empty()) m_overflowOffset.assign(m_rowCount, 0);
    const std::size_t offset = m_overflow.size();
    m_overflow.resize(offset + Capacity(count));
    m_overflowOffset[row] = offset;
}

}  // namespace Math
}  // namespace VelSDK
