// The C++ track collection of the batch benchmark is the Python one (examples/python/
// gps_tracks.py) bit for bit: length and points of a track of each kind (loop and walk),
// copied from the Python module's output as hexadecimal literals.
#include "bench/GpsTracks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Expected {
    std::size_t k, length;
    double first[3], last[3], at200[3];
};

TEST(GpsTracks, SameBitsAsThePythonModule) {
    const Expected cases[] = {
        {9999,
         355,
         {0x1.66f0d19429d91p+10, -0x1.10f3a365b927dp+10, 0x1.8626144ea1742p+9},
         {0x1.02e7df3fb286bp+7, -0x1.42bed0e5bc492p+3, 0x1.ea6ddb39dcf37p+9},
         {0x1.4531da5f20ee6p+10, -0x1.488130951b848p+9, 0x1.d3464c6d4f991p+9}},
        {10000,
         328,
         {0x1.9003db845ae1ap+8, -0x1.1e800bb2d5e8fp+8, 0x1.8ed6f4c26c778p+9},
         {0x1.d5b03055d4321p+5, -0x1.25f7f6ec80eccp+5, 0x1.6ed343e11a8e6p+9},
         {0x1.b1a87952272d8p+10, -0x1.746e53c539f2ep+9, 0x1.f25c430d2f9f8p+9}},
    };
    const auto loop = gps_tracks::ReadCsv(std::string(VELSDK_DATA_DIR) + "/gps_loop_3d.csv");
    const auto walk = gps_tracks::ReadCsv(std::string(VELSDK_DATA_DIR) + "/gps_open_3d.csv");
    ASSERT_EQ(loop.size(), 358u);
    ASSERT_EQ(walk.size(), 337u);
    for (const Expected& e : cases) {
        const auto t = gps_tracks::Track(e.k, loop, walk);
        ASSERT_EQ(t.size(), e.length) << e.k;
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(t.front()[c], e.first[c]) << e.k;
            EXPECT_EQ(t.back()[c], e.last[c]) << e.k;
            EXPECT_EQ(t[200][c], e.at200[c]) << e.k;
        }
    }
    EXPECT_EQ(gps_tracks::SplitMix64(0), 0xE220A8397B1DCDAFULL);  // published first output for seed 0
}

}  // namespace
