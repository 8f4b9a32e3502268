// Hostile input for the analysis and editing functions, one table: every function on curves
// that CheckCurve refuses (default-constructed, short of knots, degree 0, 65 or p >= n, NaN,
// infinite or decreasing knots, empty or infinitely long ranges, zero, negative or NaN weights,
// NaN or overflowing points) answers InvalidGeometry; on curves it accepts with extreme but
// finite data, every hostile number as parameter, length, tolerance or slack gets a documented
// status and stays within the allocation ceiling. (tests/analysis relies on this sweep for
// broken curves.)
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using hostile::kInf;
using hostile::kNaN;

namespace {

// Every function, with the hostile number x in one argument (0.5 on refused curves).
std::vector<AnalysisStatus> Statuses(const V3dNurbsCurve& c, double x) {
    const double a = c.GetMinParam(), b = c.GetMaxParam();
    const int t = std::isfinite(x) ? 1 + static_cast<int>(std::fmod(std::fabs(x), 100.0)) : -1;
    const std::size_t count = x == 0.5 ? 3 : std::isnan(x) ? std::size_t{1} << 25 : x > 1 ? 1 : 0;
    double k = 0.0;
    const AnalysisStatus curvature = Curvatures(c, &x, 1, &k);
    EXPECT_TRUE(curvature == AnalysisStatus::Success || std::isnan(k));
    const CurveArcLength table(c);
    const ParameterResult at = table.ParameterAt(x);
    EXPECT_TRUE(at.status != AnalysisStatus::Success || (at.parameter >= a && at.parameter <= b));
    const AnalysisStatus frames = RotationMinimizingFrames(c, std::vector<double>(1, x)).status;
    const AnalysisStatus normal = RotationMinimizingFrames(c, std::vector<double>{a, b}, P3{x, x, x}).status;
    return {curvature,
            at.status,
            table.LengthAt(x).status,
            Reverse(c).status,
            Reparametrize(c, x, x + 1.0).status,
            ElevateDegree(c, t).status,
            DecomposeToBezier(c).status,
            RemoveKnot(c, x, 2, 1e-6).status,
            RemoveKnot(c, 0.5 * (a + b), 1, x).status,
            ReduceKnots(c, x).status,
            Join(c, c, x).status,
            ArcLength(c, x).status,
            ParameterAtLength(c, x).status,
            DivideBySpacing(c, x).status,
            DivideByCount(c, count).status,
            LocalProperties(c, x).status,
            FindCurvatureRange(c).status,
            frames,
            normal,
            TightBoundingBox(c, x).status};
}

TEST(HostileAnalysis, EveryFunctionOnEveryCurve) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    int index = 0;
    for (const auto& [c, wellFormed, checked] : hostile::Curves()) {
        SCOPED_TRACE(index++);
        const bool refused = !checked;
        ASSERT_EQ(CheckCurve(c), refused ? AnalysisStatus::InvalidGeometry : AnalysisStatus::Success);
        EXPECT_EQ(CountSpans(c) == 0, refused);
        // The degree-64 quadrature alone costs a second under the sanitizers: one argument there.
        const std::vector<double> xs = refused || c.GetDegree() > 7 ? std::vector<double>{0.5} : hostile::Numbers();
        for (double x : xs) {
            const std::vector<AnalysisStatus> s = Statuses(c, x);
            for (std::size_t i = 0; i < s.size(); ++i)
                EXPECT_TRUE(refused ? s[i] == AnalysisStatus::InvalidGeometry : s[i] <= AnalysisStatus::Gap)
                    << i << " at " << x;
        }
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileAnalysis, Surfaces) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    VMatrix<P4> grid(4, 4, P4{0, 0, 0, 1});
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j) grid(i, j) = P4{double(i), double(j), double((i * j) % 3), 1};
    const auto k = UniformKnots(7, 2);
    auto bad = grid;
    bad(2, 1)[3] = -1.0;
    const std::vector<std::pair<V3dNurbsSurface, bool>> surfaces = {
        {V3dNurbsSurface(), true},
        {V3dNurbsSurface(grid, k, k, 2, 2), false},
        {V3dNurbsSurface(grid, k, {0, 0, 0, kNaN, 1, 1, 1}, 2, 2), true},
        {V3dNurbsSurface(grid, k, k, 4, 2), true},
        {V3dNurbsSurface(grid, k, k, 0, 2), true},
        {V3dNurbsSurface(bad, k, k, 2, 2), true}};
    for (const auto& [s, refused] : surfaces) {
        EXPECT_EQ(CheckSurface(s), refused ? AnalysisStatus::InvalidGeometry : AnalysisStatus::Success);
        EXPECT_TRUE(DecomposeToBezierPatches(s).status <= AnalysisStatus::Gap);
        for (double x : hostile::Numbers()) {
            for (AnalysisStatus st :
                 {TightBoundingBox(s, x).status, SurfaceProperties(s, x, 0.5).status,
                  InsertSurfaceKnots(s, SurfaceDirection::U, {x}).status,
                  InsertSurfaceKnots(s, SurfaceDirection::V, {0.5, x}).status,
                  ExtractSubPatch(s, x, 0.9, 0.1, 0.9).status, ExtractSubPatch(s, 0.1, 0.9, 0.1, x).status}) {
                EXPECT_TRUE(refused ? st == AnalysisStatus::InvalidGeometry : st <= AnalysisStatus::Gap) << x;
            }
        }
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

}  // namespace
