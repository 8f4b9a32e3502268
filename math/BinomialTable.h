// Exact binomial coefficients C(i, j) for the rational derivative formulas.
//
// Rows 0..5 come from one table built when the library is loaded; a request for a
// higher row builds its own rows. Internal to the library (not exported).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace VelSDK {
namespace Math {

class BinomialTable {
public:
    /// Rows 0..d: the shared table when d < 6, otherwise rows built for this object.
    explicit BinomialTable(std::size_t d);
    BinomialTable(const BinomialTable&) = delete;
    BinomialTable& operator=(const BinomialTable&) = delete;

    /// C(i, j) for 0 <= j <= i <= max(d, 5); no bounds check.
    std::uint64_t operator()(std::size_t i, std::size_t j) const { return (*m_table)[i * (i + 1) / 2 + j]; }

    /// True when this object built its own rows.
    bool OwnsRows() const { return !m_rows.empty(); }
    /// The table in use, row after row.
    const std::vector<std::uint64_t>& Entries() const { return *m_table; }

    /// C(i, j) computed on its own by running sums over a row of ones (wraps beyond 64 bits).
    static std::uint64_t Compute(std::size_t i, std::size_t j);
    /// The shared rows 0..5 (21 entries), built at load.
    static const std::vector<std::uint64_t>& Shared();

private:
    std::vector<std::uint64_t> m_rows;
    const std::vector<std::uint64_t>* m_table;
};

}  // namespace Math
}  // namespace VelSDK
