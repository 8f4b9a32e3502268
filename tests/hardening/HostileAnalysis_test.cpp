// Hostile input for the analysis and editing functions: every function on curves and surfaces
// that are default-constructed, short of knots, with NaN, infinite, decreasing, huge or
// subnormal knots, zero, negative or NaN weights, NaN points, degree 0, degree 65 and p >= n,
// and on a good curve with every hostile number as parameter, length, tolerance, count or
// slack. Under AddressSanitizer every call must stay in its buffers, end, allocate within the
// ceiling and answer a documented status.
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using hostile::kInf;
using hostile::kNaN;

namespace {

std::vector<P4> Zigzag(std::size_t n, double w = 1.0) {
    std::vector<P4> P;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i);
        P.push_back(P4{w * x, w * (i % 2 == 0 ? 0.0 : 1.0), w * 0.1 * x, w});
    }
    return P;
}

std::vector<double> Clamped(std::size_t n, std::size_t p) { return UniformKnots(n + p + 1, p); }

// Curves CheckCurve must refuse.
std::vector<std::pair<std::string, V3dNurbsCurve>> Refused() {
    std::vector<std::pair<std::string, V3dNurbsCurve>> c = {
        {"default", V3dNurbsCurve()},
        {"no knots", V3dNurbsCurve(Zigzag(4), {}, 2)},
        {"short knots", V3dNurbsCurve(Zigzag(4), {0, 0, 0, 1, 1, 1}, 2)},
        {"degree 0", V3dNurbsCurve(Zigzag(4), {0, 0.25, 0.5, 0.75, 1}, 0)},
        {"p = n", V3dNurbsCurve(Zigzag(3), Clamped(4, 3), 3)},
        {"degree 65", V3dNurbsCurve(Zigzag(70), Clamped(70, 65), 65)},
        {"decreasing", V3dNurbsCurve(Zigzag(6), {0, 0, 0, 0.6, 0.3, 0.8, 1, 1, 1}, 2)},
        {"empty range", V3dNurbsCurve(Zigzag(4), std::vector<double>(7, 0.5), 2)},
        {"infinitely long range",
         V3dNurbsCurve(Zigzag(4), {-DBL_MAX, -DBL_MAX, -DBL_MAX, 0, DBL_MAX, DBL_MAX, DBL_MAX}, 2)}};
    for (double bad : {kNaN, kInf, -kInf}) {
        auto U = Clamped(6, 2);
        U[4] = bad;
        c.push_back({"knot " + std::to_string(bad), V3dNurbsCurve(Zigzag(6), U, 2)});
    }
    for (double w : {0.0, -1.0, kNaN, kInf}) {
        auto P = Zigzag(5);
        P[2] = P4{w, w, w, w};
        c.push_back({"weight " + std::to_string(w), V3dNurbsCurve(P, Clamped(5, 2), 2)});
    }
    auto P = Zigzag(5);
    P[1][0] = kNaN;
    c.push_back({"NaN point", V3dNurbsCurve(P, Clamped(5, 2), 2)});
    P = Zigzag(5);
    P[3][2] = DBL_MAX;
    P[3][3] = 0.5;  // x / w overflows
    c.push_back({"overflowing point", V3dNurbsCurve(P, Clamped(5, 2), 2)});
    return c;
}

// Curves CheckCurve accepts, with extreme but finite data.
std::vector<std::pair<std::string, V3dNurbsCurve>> Accepted() {
    std::vector<std::pair<std::string, V3dNurbsCurve>> c;
    c.push_back({"plain", V3dNurbsCurve(Zigzag(7), Clamped(7, 3), 3)});
    c.push_back({"rational", V3dNurbsCurve(Zigzag(7, 2.0), Clamped(7, 3), 3)});
    c.push_back({"unclamped", V3dNurbsCurve(Zigzag(6), {0, 1, 2, 3, 4, 5, 6, 7, 8}, 2)});
    c.push_back(
        {"huge knots", V3dNurbsCurve(Zigzag(6), {1e300, 1e300, 1e300, 2e300, 3e300, 4e300, 5e300, 5e300, 5e300}, 2)});
    c.push_back({"subnormal span", V3dNurbsCurve(Zigzag(6), {0, 0, 0, 1e-310, 2e-310, 0.5, 1, 1, 1}, 2)});
    c.push_back({"huge points",
                 V3dNurbsCurve({P4{0, 0, 0, 1}, P4{1e300, 1e300, 0, 1}, P4{-1e300, 1e300, 1e300, 1}, P4{0, 0, 0, 1}},
                               Clamped(4, 2), 2)});
    c.push_back({"coincident points", V3dNurbsCurve(std::vector<P4>(5, P4{1, 2, 3, 1}), Clamped(5, 2), 2)});
    c.push_back({"degree 64", V3dNurbsCurve(Zigzag(66), Clamped(66, 64), 64)});
    auto tiny = Zigzag(5);
    tiny[2] = P4{hostile::kDenormMin, hostile::kDenormMin, hostile::kDenormMin, hostile::kDenormMin};
    c.push_back({"subnormal weight", V3dNurbsCurve(tiny, Clamped(5, 2), 2)});
    c.push_back({"break", V3dNurbsCurve(Zigzag(6), {0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1}, 2)});
    return c;
}

bool Documented(AnalysisStatus s) {
    return s == AnalysisStatus::Success || s == AnalysisStatus::InvalidArgument || s == AnalysisStatus::NotConverged ||
           s == AnalysisStatus::Degenerate || s == AnalysisStatus::InvalidGeometry || s == AnalysisStatus::Gap;
}

TEST(HostileAnalysis, RefusedCurvesGetInvalidGeometryEverywhere) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    for (const auto& [name, c] : Refused()) {
        SCOPED_TRACE(name);
        const auto bad = AnalysisStatus::InvalidGeometry;
        EXPECT_EQ(CheckCurve(c), bad);
        EXPECT_EQ(Reverse(c).status, bad);
        EXPECT_EQ(Reparametrize(c, 0, 1).status, bad);
        EXPECT_EQ(ElevateDegree(c, 1).status, bad);
        EXPECT_EQ(DecomposeToBezier(c).status, bad);
        EXPECT_EQ(CountSpans(c), 0u);
        EXPECT_EQ(RemoveKnot(c, 0.5, 1, 1.0).status, bad);
        EXPECT_EQ(ReduceKnots(c, 1.0).status, bad);
        EXPECT_EQ(Join(c, c, 1.0).status, bad);
        EXPECT_EQ(ArcLength(c).status, bad);
        EXPECT_EQ(ParameterAtLength(c, 0.5).status, bad);
        EXPECT_EQ(DivideByCount(c, 3).status, bad);
        EXPECT_EQ(DivideBySpacing(c, 0.5).status, bad);
        EXPECT_EQ(LocalProperties(c, 0.5).status, bad);
        EXPECT_EQ(FindCurvatureRange(c).status, bad);
        EXPECT_EQ(RotationMinimizingFrames(c, {0.1, 0.2}).status, bad);
        EXPECT_EQ(TightBoundingBox(c, 1e-3).status, bad);
        double u = 0.5, k = 0.0;
        EXPECT_EQ(Curvatures(c, &u, 1, &k), bad);
        EXPECT_TRUE(std::isnan(k));
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileAnalysis, AcceptedCurvesWithHostileArguments) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    for (const auto& [name, c] : Accepted()) {
        SCOPED_TRACE(name);
        ASSERT_EQ(CheckCurve(c), AnalysisStatus::Success);
        const double a = c.GetMinParam(), b = c.GetMaxParam();
        EXPECT_TRUE(Documented(Reverse(c).status));
        EXPECT_TRUE(Documented(ElevateDegree(c, 2).status));
        EXPECT_TRUE(Documented(DecomposeToBezier(c).status));
        EXPECT_TRUE(Documented(ReduceKnots(c, 1e-3).status));
        EXPECT_TRUE(Documented(Join(c, c, 1e300).status));
        EXPECT_TRUE(Documented(FindCurvatureRange(c).status));
        EXPECT_TRUE(Documented(TightBoundingBox(c, 1e-3).status));
        EXPECT_TRUE(Documented(RotationMinimizingFrames(c, {a, 0.5 * a + 0.5 * b, b}).status));
        const CurveArcLength table(c);
        EXPECT_TRUE(Documented(table.Status()));
        // Every hostile number as argument (not on the degree-64 curve, whose quadrature alone
        // costs a second under the sanitizers).
        for (double x : c.GetDegree() > 7 ? std::vector<double>{} : hostile::Numbers()) {
            EXPECT_TRUE(Documented(Reparametrize(c, x, x + 1.0).status));
            EXPECT_TRUE(Documented(ElevateDegree(c, static_cast<int>(std::fmod(std::fabs(x), 100.0))).status));
            EXPECT_TRUE(Documented(RemoveKnot(c, x, 2, 1e-6).status));
            EXPECT_TRUE(Documented(RemoveKnot(c, 0.5 * (a + b), 1, x).status));
            EXPECT_TRUE(Documented(ReduceKnots(c, x).status));
            EXPECT_TRUE(Documented(ArcLength(c, x).status));
            EXPECT_TRUE(Documented(table.LengthAt(x).status));
            EXPECT_TRUE(Documented(table.LengthBetween(a, x).status));
            const ParameterResult pr = table.ParameterAt(x);
            EXPECT_TRUE(Documented(pr.status));
            if (pr.status == AnalysisStatus::Success) {
                EXPECT_TRUE(pr.parameter >= a && pr.parameter <= b);
            }
            EXPECT_TRUE(Documented(DivideBySpacing(c, x).status));
            EXPECT_TRUE(Documented(LocalProperties(c, x).status));
            EXPECT_TRUE(Documented(TightBoundingBox(c, x).status));
            EXPECT_TRUE(Documented(RotationMinimizingFrames(c, {x}).status));
            EXPECT_TRUE(Documented(RotationMinimizingFrames(c, {a, b}, P3{x, x, x}).status));
            double k = 0.0;
            EXPECT_TRUE(Documented(Curvatures(c, &x, 1, &k)));
        }
        for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{1} << 25})
            EXPECT_TRUE(Documented(DivideByCount(c, count).status));
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileAnalysis, Surfaces) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    VMatrix<P4> grid(4, 4, P4{0, 0, 0, 1});
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j) grid(i, j) = P4{double(i), double(j), double((i * j) % 3), 1};
    const auto k = UniformKnots(7, 2);
    std::vector<V3dNurbsSurface> surfaces = {V3dNurbsSurface(), V3dNurbsSurface(grid, k, k, 2, 2),
                                             V3dNurbsSurface(grid, k, {0, 0, 0, kNaN, 1, 1, 1}, 2, 2),
                                             V3dNurbsSurface(grid, k, k, 4, 2), V3dNurbsSurface(grid, k, k, 0, 2)};
    auto bad = grid;
    bad(2, 1)[3] = -1.0;
    surfaces.emplace_back(bad, k, k, 2, 2);
    for (const auto& s : surfaces) {
        EXPECT_TRUE(Documented(CheckSurface(s)));
        EXPECT_TRUE(Documented(DecomposeToBezierPatches(s).status));
        for (double x : hostile::Numbers()) {
            EXPECT_TRUE(Documented(TightBoundingBox(s, x).status));
            EXPECT_TRUE(Documented(SurfaceProperties(s, x, 0.5).status));
            EXPECT_TRUE(Documented(InsertSurfaceKnots(s, SurfaceDirection::U, {x}).status));
            EXPECT_TRUE(Documented(InsertSurfaceKnots(s, SurfaceDirection::V, {0.5, x}).status));
            EXPECT_TRUE(Documented(ExtractSubPatch(s, x, 0.9, 0.1, 0.9).status));
            EXPECT_TRUE(Documented(ExtractSubPatch(s, 0.1, 0.9, 0.1, x).status));
        }
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

}  // namespace
