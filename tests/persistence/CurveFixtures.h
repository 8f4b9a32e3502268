// Curves shared by the persistence tests.
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace test {

using P4 = VelSDK::Math::point<double, 4>;

inline double FromBits(std::uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}
inline std::uint64_t Bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

/// The open cubic of the examples: 5 control points, knots {0,0,0,0,0.5,1,1,1,1}.
inline V3dCurveNurbsPlus OpenCubic() {
    V3dCurveNurbsPlus c;
    const std::vector<P4> points = {{0, 0, 0, 1}, {1, 2, 0, 1}, {2, -1, 0.5, 1}, {3, 1, 1, 1}, {4, 0, 0, 1}};
    c.Reset(points, {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 4, false);
    return c;
}

/// A closed quadratic: the last two control points repeat the first two.
inline V3dCurveNurbsPlus ClosedQuadratic() {
    V3dCurveNurbsPlus c;
    const std::vector<P4> points = {{0, 0, 0, 1}, {1, 0, 0, 1}, {1, 1, 0, 1}, {0, 1, 0, 1}, {0, 0, 0, 1}, {1, 0, 0, 1}};
    c.Reset(points, {-2, -1, 0, 1, 2, 3, 4, 5, 6}, 3, true);
    return c;
}

/// A rational quadratic (a quarter circle, weights 1, sqrt(2)/2, 1), knots on [2, 4].
inline V3dCurveNurbsPlus RationalQuadratic() {
    V3dCurveNurbsPlus c;
    const double w = 0.70710678118654757;
    const std::vector<P4> points = {{1, 0, 0, 1}, {w, w, 0, w}, {0, 1, 0, 1}};
    c.Reset(points, {2, 2, 2, 4, 4, 4}, 3, false);
    return c;
}

/// A curve whose control points and knots hold the values that text formats lose: negative
/// zero, subnormals, infinities, NaNs with payloads. Reset takes them as they are.
inline V3dCurveNurbsPlus SpecialValues() {
    V3dCurveNurbsPlus c;
    const double nan1 = FromBits(0x7FF8000000000123ull), snan = FromBits(0x7FF0000000000001ull);
    const double negnan = FromBits(0xFFFFFFFFFFFFFFFFull), sub = FromBits(1), inf = FromBits(0x7FF0000000000000ull);
    const std::vector<P4> points = {{-0.0, sub, -sub, 1}, {inf, -inf, nan1, 1}, {snan, negnan, 1e308, 5e-324}};
    c.Reset(points, {-0.0, -0.0, 0.0, sub, 1, 1}, 3, false);
    return c;
}

/// Bitwise equality of range, control points and knots (NaNs included), on top of the order,
/// count, validity and closed-loop fields.
inline bool SameBits(const V3dCurveNurbsPlus& a, const V3dCurveNurbsPlus& b) {
    auto bits = [](const V3dCurveNurbsPlus& c) {
        std::vector<std::uint64_t> v = {
            Bits(c.GetMinParameter()), Bits(c.GetMaxParameter()), c.GetOrder(), c.GetNumberControlPoints(), c.IsValid(),
            c.IsClosedLoop()};
        for (const P4& p : c.GetControlPoints())
            for (std::size_t k = 0; k < 4; ++k) v.push_back(Bits(p[k]));
        for (const double k : c.GetKnots()) v.push_back(Bits(k));
        return v;
    };
    return bits(a) == bits(b);
}

/// The bytes of a golden file under tests/data/persistence.
inline std::string Golden(const std::string& name) {
    std::ifstream in(std::string(VELSDK_TEST_DATA_DIR) + "/persistence/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace test
