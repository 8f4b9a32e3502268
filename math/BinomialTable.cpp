#include "math/BinomialTable.h"

namespace VelSDK {
namespace Math {

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

// Rows 0..d of Pascal's triangle, row after row. Each entry is formed from the row above by
// Pascal's rule, C(i, j) = C(i - 1, j - 1) + C(i - 1, j), in the same wrapping 64-bit
// arithmetic as Compute: both give C(i, j) modulo 2^64 (addition modulo 2^64 is exact ring
// arithmetic), so every entry equals Compute(i, j), in O(d^2) additions instead of the O(d^4)
// of computing each entry on its own (a derivative of order 1000 would take a minute).
BinomialTable::BinomialTable(std::size_t d) : m_table(&g_sharedBinomials) {
    if (d < 6) return;
    m_rows.reserve((d + 1) * d);
    for (std::size_t i = 0; i <= d; ++i) {
        const std::size_t above = i * (i - 1) / 2;  // start of row i - 1 (unused for i = 0)
        for (std::size_t j = 0; j <= i; ++j)
            m_rows.push_back(j == 0 || j == i ? 1 : m_rows[above + j - 1] + m_rows[above + j]);
    }
    m_table = &m_rows;
}

}  // namespace Math
}  // namespace VelSDK
