// A literal, deliberately naive sparse matrix and solver used as the reference in the
// solver tests: rows of (column, value) pairs in stored order, Get by linear search,
// and an elimination that visits every coefficient position (cubic cost). The fast
// SparseMatrix must give the same bits.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace reference {

class LiteralSparseMatrix {
public:
    LiteralSparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth);

    std::size_t RowCount() const { return m_rowCount; }
    std::size_t ColumnCount() const { return m_columnCount; }
    std::size_t Bandwidth() const { return m_bandwidth; }
    const std::vector<std::pair<std::size_t, double>>& Row(std::size_t i) const { return m_rows[i]; }

    /// Linear search of the row from the front; 0.0 when the column has no entry.
    double Get(std::size_t row, std::size_t column) const;
    /// Ignores |value| < DBL_EPSILON; replaces an existing entry or appends a new one.
    void Set(std::size_t row, std::size_t column, double value);

    LiteralSparseMatrix Transpose() const;
    LiteralSparseMatrix SubMatrix(std::size_t r0, std::size_t r1, std::size_t c0, std::size_t c1) const;

private:
    std::vector<std::vector<std::pair<std::size_t, double>>> m_rows;
    std::size_t m_rowCount;
    std::size_t m_columnCount;
    std::size_t m_bandwidth;
};

/// Every (row, column) pair of the result, each a sum over a's row in row order.
LiteralSparseMatrix operator*(const LiteralSparseMatrix& a, const LiteralSparseMatrix& b);

/// LU with scaled partial pivoting, every coefficient position visited; the last pivot gets
/// the same singularity test as the others.
bool LiteralSolve(LiteralSparseMatrix& A, std::vector<std::vector<double>>& B);

}  // namespace reference
}  // namespace NURBS
}  // namespace VelSDK
