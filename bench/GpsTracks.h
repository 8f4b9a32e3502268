// The GPS track collection of examples/python/gps_tracks.py, built the same way in C++ (bit
// for bit the same tracks): windows of 300-400 fixes of the loop and the walk of
// examples/data, each point with its own deterministic noise of at most 0.5 m per coordinate.
// See gps_tracks.py for the rule; splitmix64 is the generator of Steele, Lea and Flood,
// "Fast splittable pseudorandom number generators", OOPSLA 2014.
#pragma once

#include <VelSDK/Point.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace gps_tracks {

using Point3 = VelSDK::Math::point<double, 3>;

inline std::uint64_t SplitMix64(std::uint64_t x) {
    std::uint64_t z = x + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

/// The points of a data file of examples/data (comment lines '#', a header 'x,y,z').
inline std::vector<Point3> ReadCsv(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<Point3> pts;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == 'x') continue;
        const char* s = line.c_str();
        char* end = nullptr;
        Point3 p{};
        for (int c = 0; c < 3; ++c) {
            p[c] = std::strtod(s, &end);
            s = end + (*end == ',' ? 1 : 0);
        }
        pts.push_back(p);
    }
    return pts;
}

/// Track k from the loop (358 fixes) and the walk (337 fixes).
inline std::vector<Point3> Track(std::uint64_t k, const std::vector<Point3>& loop, const std::vector<Point3>& walk) {
    const std::uint64_t seed = k << 20;
    const std::size_t length = 300 + static_cast<std::size_t>((SplitMix64(seed + (1u << 19)) >> 11) % 101);
    const std::uint64_t h1 = SplitMix64(seed + (1u << 19) + 1) >> 11;
    const std::size_t period = k % 2 == 0 ? loop.size() : 2 * (walk.size() - 1);
    const std::size_t start = static_cast<std::size_t>(h1 % period);
    std::vector<Point3> t(length);
    for (std::size_t j = 0; j < length; ++j) {
        const std::size_t i = (start + j) % period;
        const Point3& base = k % 2 == 0 ? loop[i] : walk[i < walk.size() ? i : period - i];
        for (int c = 0; c < 3; ++c) {
            const double u = static_cast<double>(SplitMix64(seed + 3 * j + static_cast<std::uint64_t>(c)) >> 11) *
                             1.1102230246251565e-16;  // 2^-53
            t[j][c] = base[c] + 0.5 * (2.0 * u - 1.0);
        }
    }
    return t;
}

/// Tracks 0 .. count - 1 from the data files in dataDir.
inline std::vector<std::vector<Point3>> Tracks(std::size_t count, const std::string& dataDir) {
    const std::vector<Point3> loop = ReadCsv(dataDir + "/gps_loop_3d.csv");
    const std::vector<Point3> walk = ReadCsv(dataDir + "/gps_open_3d.csv");
    std::vector<std::vector<Point3>> out;
    out.reserve(count);
    for (std::size_t k = 0; k < count; ++k) out.push_back(Track(k, loop, walk));
    return out;
}

}  // namespace gps_tracks
