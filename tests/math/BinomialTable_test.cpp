// Binomial coefficients: the shared rows 0..5, rows built per object above them, and every row of
// a large table against Pascal's rule and the entry-by-entry sums (modulo 2^64 past row 67).
#include "math/BinomialTable.h"

#include <gtest/gtest.h>

using VelSDK::Math::BinomialTable;

TEST(BinomialTable, SharedRowsUpToFiveOwnRowsAboveAndPascalsRule) {
    for (std::size_t d = 0; d < 6; ++d) {
        BinomialTable t(d);
        EXPECT_FALSE(t.OwnsRows());
        EXPECT_EQ(&t.Entries(), &BinomialTable::Shared());
    }
    EXPECT_EQ(BinomialTable::Shared().size(), 21u);
    BinomialTable t6(6);
    EXPECT_TRUE(t6.OwnsRows());
    EXPECT_EQ(t6.Entries().size(), 28u);
    for (std::size_t i = 0; i < 21; ++i) EXPECT_EQ(t6.Entries()[i], BinomialTable::Shared()[i]);
    for (std::size_t d : {5, 6, 80}) {
        const BinomialTable t(d);
        for (std::size_t i = 0; i <= d; ++i)
            for (std::size_t j = 0; j <= i; ++j) {
                const std::uint64_t pascal = j == 0 || j == i ? 1 : t(i - 1, j - 1) + t(i - 1, j);
                ASSERT_TRUE(t(i, j) == pascal && t(i, j) == BinomialTable::Compute(i, j))
                    << d << ": " << i << ", " << j;
            }
    }
    EXPECT_EQ(BinomialTable(6)(6, 3), 20u);
    EXPECT_EQ(BinomialTable(40)(40, 20), 137846528820ull);
    EXPECT_EQ(BinomialTable(80)(67, 33), 14226520737620288370ull);  // the largest that fits in 64 bits
}
