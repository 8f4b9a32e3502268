#include "math/ParallelFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using VelSDK::Math::ParallelFor;
using VelSDK::Math::ResolveThreadCount;

TEST(ParallelFor, ThreadCountFollowsRequestAndItems) {
    const unsigned hw = std::thread::hardware_concurrency();
    const std::size_t all = hw == 0 ? 1 : hw;
    struct Case {
        std::size_t requested, items, expected;
    };
    const Case cases[] = {{1, 100, 1}, {3, 100, 3}, {8, 5, 5}, {4, 0, 1}, {0, 1000000, all}, {0, 1, 1}};
    for (const Case& c : cases) EXPECT_EQ(ResolveThreadCount(c.requested, c.items), c.expected) << c.requested;
}

TEST(ParallelFor, ChunksCoverEveryIndexOnceInContiguousPieces) {
    for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
        for (std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{16}}) {
            std::vector<std::atomic<int>> visits(count);
            std::atomic<std::size_t> chunks{0};
            ParallelFor(count, threads, [&](std::size_t b, std::size_t e) {
                ASSERT_LT(b, e);
                ++chunks;
                for (std::size_t i = b; i < e; ++i) ++visits[i];
            });
            for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(visits[i].load(), 1) << count << " " << threads;
            EXPECT_EQ(chunks.load(), count == 0 ? 0 : ResolveThreadCount(threads, count));
        }
    }
}

TEST(ParallelFor, ExceptionOfAChunkReachesTheCallerAfterAllChunksRan) {
    std::atomic<int> ran{0};
    EXPECT_THROW(ParallelFor(4, 4,
                             [&](std::size_t b, std::size_t) {
                                 ++ran;
                                 if (b == 2) throw std::runtime_error("chunk");
                             }),
                 std::runtime_error);
    EXPECT_EQ(ran.load(), 4);
}
