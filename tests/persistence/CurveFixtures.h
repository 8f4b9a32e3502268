// Curves shared by the persistence tests.
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <cstdint>
#include <cstring>
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

/// Bitwise equality of control points and knots (NaNs included), on top of operator=='s
/// fields.
inline bool SameBits(const V3dCurveNurbsPlus& a, const V3dCurveNurbsPlus& b) {
    if (a.IsValid() != b.IsValid() || a.GetOrder() != b.GetOrder() ||
        a.GetNumberControlPoints() != b.GetNumberControlPoints() || a.IsClosedLoop() != b.IsClosedLoop())
        return false;
    const auto& pa = a.GetControlPoints();
    const auto& pb = b.GetControlPoints();
    if (pa.size() != pb.size() || a.GetKnots().size() != b.GetKnots().size()) return false;
    for (std::size_t i = 0; i < pa.size(); ++i)
        for (std::size_t k = 0; k < 4; ++k)
            if (Bits(pa[i][k]) != Bits(pb[i][k])) return false;
    for (std::size_t i = 0; i < a.GetKnots().size(); ++i)
        if (Bits(a.GetKnots()[i]) != Bits(b.GetKnots()[i])) return false;
    return Bits(a.GetMinParameter()) == Bits(b.GetMinParameter()) &&
           Bits(a.GetMaxParameter()) == Bits(b.GetMaxParameter());
}

}  // namespace test
