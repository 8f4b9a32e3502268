#include "math/BinomialTable.h"

namespace VelSDK {
namespace NURBS {

namespace {
// Rows 0..5 of Pascal's triangle, built during static initialisation and never modified.
const std::vector<std::uint64_t> g_sharedBinomials = {1, 1, 1, 1, 2, 1, 1, 3, 3, 1, 1, 4, 6, 4, 1, 1, 5, 10, 10, 5, 1};
}  // namespace

const std::vector<std::uint64_t>& BinomialTable::Shared() { return g_sharedBinomials; }

std::uint64_t BinomialTable::Compute(std::size_t i, std::size_t j) {
    // Row of m + 1 ones, then j passes of running sums: row[m] = C(m + j, j).
    const std::size_t m = i - j;
    std::vector<std::uint64_t> row(m + 1, 1);
    for (std::size_t pass = 0; pass < j; ++pass)
        for (std::size_t t = 1; t <= m; ++t) row[t] = row[t] + row[t - 1];
    return row[m];
}

BinomialTable::BinomialTable(std::size_t d) : m_table(&g_sharedBinomials) {
    if (d < 6) return;
    m_rows.reserve((d + 1) * d);
    for (std::size_t i = 0; i <= d; ++i)
        for (std::size_t j = 0; j <= i; ++j) m_rows.push_back(Compute(i, j));
    m_table = &m_rows;
}

}  // namespace NURBS
}  // namespace VelSDK
