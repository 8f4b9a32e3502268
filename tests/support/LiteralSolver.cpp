#include "support/LiteralSolver.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>

namespace VelSDK {
namespace NURBS {
namespace reference {

LiteralSparseMatrix::LiteralSparseMatrix(std::size_t rows, std::size_t columns, std::size_t bandwidth)
    : m_rows(rows), m_rowCount(rows), m_columnCount(columns), m_bandwidth(bandwidth) {
    for (auto& r : m_rows) r.reserve(bandwidth + 1);
}

double LiteralSparseMatrix::Get(std::size_t row, std::size_t column) const {
    for (const auto& e : m_rows[row])
        if (e.first == column) return e.second;
    return 0.0;
}

void LiteralSparseMatrix::Set(std::size_t row, std::size_t column, double value) {
    if (std::fabs(value) < DBL_EPSILON) return;
    for (auto& e : m_rows[row]) {
        if (e.first == column) {
            e.second = value;
            return;
        }
    }
    m_rows[row].emplace_back(column, value);
}

LiteralSparseMatrix LiteralSparseMatrix::Transpose() const {
    LiteralSparseMatrix t(m_columnCount, m_rowCount, m_bandwidth);
    for (std::size_t i = 0; i < m_rowCount; ++i)
        for (const auto& e : m_rows[i]) t.Set(e.first, i, e.second);
    return t;
}

LiteralSparseMatrix LiteralSparseMatrix::SubMatrix(std::size_t r0, std::size_t r1, std::size_t c0,
                                                   std::size_t c1) const {
    LiteralSparseMatrix s(r1 - r0, c1 - c0, m_bandwidth);
    for (std::size_t i = r0; i < r1; ++i)
        for (const auto& e : m_rows[i])
            if (e.first >= c0 && e.first < c1) s.Set(i - r0, e.first - c0, e.second);
    return s;
}

LiteralSparseMatrix operator*(const LiteralSparseMatrix& a, const LiteralSparseMatrix& b) {
    LiteralSparseMatrix r(a.RowCount(), b.ColumnCount(), std::max(a.Bandwidth(), b.Bandwidth()));
    for (std::size_t i = 0; i < a.RowCount(); ++i) {
        for (std::size_t j = 0; j < b.ColumnCount(); ++j) {
            double s = 0.0;
            for (const auto& e : a.Row(i)) s += b.Get(e.first, j) * e.second;
            r.Set(i, j, s);
        }
    }
    return r;
}

bool LiteralSolve(LiteralSparseMatrix& A, std::vector<std::vector<double>>& B) {
    const std::size_t n = B.size();
    if (n == 0) return false;
    const std::size_t k = B[0].size();

    std::vector<double> scale(n, 0.0);
    std::vector<std::size_t> perm(n);
    for (std::size_t i = 0; i < n; ++i) {
        double s = 0.0;
        std::size_t met = 0;
        for (const auto& e : A.Row(i)) {
            const double v = std::fabs(e.second);
            if (v > 0.0) {
                if (v > s) s = v;
                if (++met == A.Bandwidth() + 1) break;
            }
        }
        scale[i] = s;
        perm[i] = i;
    }

    if (n > 1) {
        for (std::size_t k0 = 0; k0 + 1 < n; ++k0) {
            double best = 0.0;
            std::size_t piv = k0;
            for (std::size_t r = k0; r < n; ++r) {
                const double ratio = std::fabs(A.Get(perm[r], k0) / scale[perm[r]]);
                if (ratio > best) {
                    best = ratio;
                    piv = r;
                }
            }
            if (best <= DBL_EPSILON) return false;
            if (piv != k0) std::swap(perm[k0], perm[piv]);
            for (std::size_t r = k0 + 1; r < n; ++r) {
                const std::size_t R = perm[r];
                const double a = A.Get(R, k0);
                if (a == 0.0) continue;
                const double f = a / A.Get(perm[k0], k0);
                A.Set(R, k0, f);
                for (std::size_t c = k0 + 1; c < n; ++c) A.Set(R, c, A.Get(R, c) - A.Get(perm[k0], c) * f);
            }
        }
    }
    if (!(std::fabs(A.Get(perm[n - 1], n - 1) / scale[perm[n - 1]]) > DBL_EPSILON)) return false;  // the last pivot

    for (std::size_t k0 = 0; k0 + 1 < n; ++k0)
        for (std::size_t r = k0 + 1; r < n; ++r) {
            const double m = A.Get(perm[r], k0);
            for (std::size_t j = 0; j < k; ++j) B[perm[r]][j] -= m * B[perm[k0]][j];
        }

    std::vector<std::vector<double>> X(n, std::vector<double>(k, 0.0));
    for (std::size_t i = n; i-- > 0;) {
        std::vector<double> t = B[perm[i]];
        for (std::size_t c = i + 1; c < n; ++c) {
            const double a = A.Get(perm[i], c);
            for (std::size_t j = 0; j < k; ++j) t[j] -= a * X[c][j];
        }
        for (std::size_t j = 0; j < k; ++j) X[i][j] = t[j] / A.Get(perm[i], i);
    }
    B = std::move(X);
    return true;
}

}  // namespace reference
}  // namespace NURBS
}  // namespace VelSDK
