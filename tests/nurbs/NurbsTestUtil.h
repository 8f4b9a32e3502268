// Small fixtures shared by the curve and surface test programs: a sample quadratic curve, a
// control grid built from a row-major list, the special values used in refusal tables, and
// the one bit-for-bit comparison.
#pragma once

#include <VelSDK/Nurbs.h>

#include <cstring>
#include <limits>
#include <vector>

namespace nurbs_test {

using P4 = VelSDK::Math::point<double, 4>;

inline const std::vector<P4> kFour = {{0, 0, 0, 1}, {1, 2, 0, 1}, {3, 2, 0, 1}, {4, 0, 0, 1}};
inline const double kNaN = std::numeric_limits<double>::quiet_NaN();
inline const double kInf = std::numeric_limits<double>::infinity();

// The four points above as a clamped quadratic with one interior knot at 0.5.
inline VelSDK::NURBS::V3dNurbsCurve CurveA() { return VelSDK::NURBS::V3dNurbsCurve(kFour, {0, 0, 0, 0.5, 1, 1, 1}, 2); }

// A rows x cols control grid from a row-major list of points.
inline VelSDK::NURBS::VMatrix<P4> Grid(std::size_t rows, std::size_t cols, const std::vector<P4>& pts) {
    VelSDK::NURBS::VMatrix<P4> g(rows, cols, P4{});
    g.Elements() = pts;
    return g;
}

// Bit-for-bit equality of two values, of two arrays (memcmp only on non-empty data: an empty
// vector's data may be null) or of two grids of the same shape.
template <typename T>
bool SameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}
template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}
template <typename T>
bool SameBits(const VelSDK::NURBS::VMatrix<T>& a, const VelSDK::NURBS::VMatrix<T>& b) {
    return a.ColumnCount() == b.ColumnCount() && SameBits(a.Elements(), b.Elements());
}

}  // namespace nurbs_test
