#include "math/BinomialTable.h"

#include <gtest/gtest.h>

using VelSDK::Math::BinomialTable;

TEST(BinomialTable, SharedRowsServeOrdersUpToFive) {
    for (std::size_t d = 0; d < 6; ++d) {
        BinomialTable t(d);
        EXPECT_FALSE(t.OwnsRows());
        EXPECT_EQ(&t.Entries(), &BinomialTable::Shared());
    }
    BinomialTable t(5);
    EXPECT_EQ(t(5, 2), 10u);
    EXPECT_EQ(t(4, 0), 1u);
    EXPECT_EQ(t(4, 4), 1u);
    EXPECT_EQ(BinomialTable::Shared().size(), 21u);
}

TEST(BinomialTable, HigherOrdersBuildTheirOwnRows) {
    BinomialTable t6(6);
    EXPECT_TRUE(t6.OwnsRows());
    EXPECT_EQ(t6.Entries().size(), 28u);
    const std::uint64_t row6[] = {1, 6, 15, 20, 15, 6, 1};
    for (std::size_t j = 0; j <= 6; ++j) EXPECT_EQ(t6(6, j), row6[j]);
    for (std::size_t i = 0; i < 21; ++i) EXPECT_EQ(t6.Entries()[i], BinomialTable::Shared()[i]);
    BinomialTable t10(10);
    EXPECT_EQ(t10(10, 5), 252u);
    // Pascal's rule holds in every row of a large table (independent of how entries are built).
    BinomialTable t40(40);
    for (std::size_t i = 1; i <= 40; ++i)
        for (std::size_t j = 1; j < i; ++j) EXPECT_EQ(t40(i, j), t40(i - 1, j - 1) + t40(i - 1, j));
    EXPECT_EQ(t40(40, 20), 137846528820ull);
}
