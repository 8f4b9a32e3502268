// The thread-chunking helper: every item exactly once in chunks of the given grain, the
// calling thread alone for one thread, exceptions handed to the calling thread.
#include "math/ParallelFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

using VelSDK::Math::DefaultGrain;
using VelSDK::Math::ParallelFor;

namespace {

// (count, threads, grain): uneven last chunks, more threads than chunks, grain 0, one item.
class ParallelForClaimedCover : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t, std::size_t>> {};

TEST_P(ParallelForClaimedCover, EveryItemOnceInAlignedChunks) {
    const auto [count, threads, grain] = GetParam();
    const std::size_t g = grain == 0 ? 1 : grain;
    std::vector<std::atomic<int>> seen(count);
    std::atomic<std::size_t> calls{0};
    std::atomic<bool> misaligned{false};
    ParallelFor(count, threads, grain, [&](std::size_t b, std::size_t e) {
        ++calls;
        // A chunk starts at a multiple of the grain and is full unless it is the last one.
        if (b % g != 0 || e <= b || (e - b != g && e != count)) misaligned = true;
        for (std::size_t i = b; i < e; ++i) ++seen[i];
    });
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(seen[i].load(), 1) << i;
    EXPECT_FALSE(misaligned.load());
    EXPECT_EQ(calls.load(), (count + g - 1) / g);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ParallelForClaimedCover,
                         ::testing::Values(std::make_tuple(0, 2, 1), std::make_tuple(1, 7, 1),
                                           std::make_tuple(23, 7, 3), std::make_tuple(23, 2, 5),
                                           std::make_tuple(100, 7, 0), std::make_tuple(1001, 0, 64),
                                           std::make_tuple(5, 7, 100), std::make_tuple(64, 1, 8)));

TEST(ParallelForClaimed, OneThreadRunsInTheCallerInOrder) {
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<std::size_t> begins;
    bool elsewhere = false;
    ParallelFor(10, 1, 3, [&](std::size_t b, std::size_t) {
        begins.push_back(b);
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
    });
    EXPECT_FALSE(elsewhere);
    EXPECT_EQ(begins, (std::vector<std::size_t>{0, 3, 6, 9}));
}

TEST(ParallelForClaimed, SeveralThreadsReallyRun) {
    // Each chunk waits until two distinct threads have entered, so a helper that ran everything
    // on one thread would never finish this loop: it is bounded by a spin budget instead.
    std::atomic<int> entered{0};
    std::atomic<bool> met{false};
    ParallelFor(2, 2, 1, [&](std::size_t, std::size_t) {
        ++entered;
        for (long spin = 0; spin < 200000000L && entered.load() < 2; ++spin) std::this_thread::yield();
        if (entered.load() >= 2) met = true;
    });
    EXPECT_TRUE(met.load());
}

TEST(ParallelForClaimed, ExceptionReachesTheCallerAfterEveryWorkerStopped) {
    for (std::size_t threads : {1, 2, 7}) {
        std::atomic<int> running{0};
        std::atomic<int> afterReturn{0};
        std::atomic<bool> done{false};
        EXPECT_THROW(ParallelFor(50, threads, 1,
                                 [&](std::size_t b, std::size_t) {
                                     ++running;
                                     if (b == 5) {
                                         --running;
                                         throw std::runtime_error("item 5");
                                     }
                                     if (done.load()) ++afterReturn;
                                     --running;
                                 }),
                     std::runtime_error)
            << threads;
        done = true;
        EXPECT_EQ(running.load(), 0) << threads;
        EXPECT_EQ(afterReturn.load(), 0) << threads;
    }
}

TEST(ParallelForClaimed, ContiguousChunksHandBackAnExceptionOfAnyChunk) {
    // The contiguous-chunk form (one chunk per thread): a throw in the calling thread's own
    // first chunk, and in a worker's chunk, reaches the caller.
    for (const std::size_t thrower : {std::size_t{0}, std::size_t{60}})
        for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{7}})
            EXPECT_THROW(ParallelFor(100, threads,
                                     [&](std::size_t b, std::size_t e) {
                                         if (b <= thrower && thrower < e) throw std::runtime_error("chunk");
                                     }),
                         std::runtime_error)
                << thrower << " " << threads;
}

TEST(ParallelForClaimed, DefaultGrainBalancesAndRespectsTheMinimum) {
    EXPECT_EQ(DefaultGrain(16000, 2, 1), 1000u);  // eight chunks per thread
    EXPECT_EQ(DefaultGrain(100, 2, 64), 64u);     // never below the minimum
    EXPECT_EQ(DefaultGrain(0, 2, 0), 1u);         // never 0
}

}  // namespace
