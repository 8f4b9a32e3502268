// Row-major grid of elements with a column count.
//
// Where surfaces use it, rows run along U and columns along V. Tables of basis
// function derivatives store the k-th derivatives in row k.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

template <typename T>
class VMatrix {
public:
    /// No elements, column count 0.
    VMatrix() = default;
    /// rows x cols copies of fill.
    VMatrix(std::size_t rows, std::size_t cols, const T& fill) : m_elements(rows * cols, fill), m_columns(cols) {}

    VMatrix(const VMatrix&) = default;
    VMatrix& operator=(const VMatrix&) = default;
    /// A move leaves the source's elements empty and copies the column count.
    VMatrix(VMatrix&& o) noexcept : m_elements(std::move(o.m_elements)), m_columns(o.m_columns) {}
    VMatrix& operator=(VMatrix&& o) noexcept {
        m_elements = std::move(o.m_elements);
        m_columns = o.m_columns;
        return *this;
    }

    /// Element (row, col), stored at row * ColumnCount() + col. No bounds check.
    T& operator()(std::size_t row, std::size_t col) noexcept { return m_elements[row * m_columns + col]; }
    const T& operator()(std::size_t row, std::size_t col) const noexcept { return m_elements[row * m_columns + col]; }

    std::size_t ColumnCount() const noexcept { return m_columns; }
    /// Element count / column count; a grid with 0 columns has 0 rows.
    std::size_t RowCount() const noexcept { return m_columns == 0 ? 0 : m_elements.size() / m_columns; }

    /// The elements in row-major order.
    const std::vector<T>& Elements() const noexcept { return m_elements; }
    std::vector<T>& Elements() noexcept { return m_elements; }

private:
    std::vector<T> m_elements;
    std::size_t m_columns = 0;
};

}  // namespace NURBS
}  // namespace VelSDK
