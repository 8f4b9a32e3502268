// Surface knot insertion, sub-patches and Bezier patches on random surfaces of degrees 1-5
// (rational or not, clamped or not): every result compared point by point with the input
// surface (the independent tensor-product reference of tests/support), plus the refusals.
#include <VelSDK/Nurbs.h>
#include <VelSDK/SurfaceEditing.h>

#include "support/ReferenceSurface.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <tuple>

using namespace VelSDK::NURBS;
using P4 = VelSDK::Math::point<double, 4>;

namespace {

// (degree u, degree v, rational, clamped)
using Kind = std::tuple<std::size_t, std::size_t, bool, bool>;
class EverySurface : public ::testing::TestWithParam<Kind> {};

// Largest distance between a and the reference point of b on a 13 x 13 grid of [u0,u1] x [v0,v1].
double MaxDistance(const V3dNurbsSurface& a, const V3dNurbsSurface& b, double u0, double u1, double v0, double v1) {
    double worst = 0.0;
    for (int i = 0; i <= 12; ++i)
        for (int j = 0; j <= 12; ++j) {
            const double u = i == 12 ? u1 : u0 + (u1 - u0) * i / 12.0;
            const double v = j == 12 ? v1 : v0 + (v1 - v0) * j / 12.0;
            const double d = VelSDK::Math::Distance(a.EvaluateAt(u, v), test::ReferenceSurfacePoint(b, u, v));
            worst = std::max(worst, std::isnan(d) ? HUGE_VAL : d);
        }
    return worst;
}

TEST_P(EverySurface, InsertionSubPatchesAndBezierPatchesKeepTheSurface) {
    const auto [p, q, rational, clamped] = GetParam();
    std::mt19937_64 rng(11);
    const V3dNurbsSurface s = test::RandomSurface(rng, p + 3, q + 4, p, q, clamped, rational);
    const std::size_t rows = s.GetControlPoints().RowCount(), columns = s.GetControlPoints().ColumnCount();
    const double u0 = s.GetKnotsU()[p], u1 = s.GetKnotsU()[rows], v0 = s.GetKnotsV()[q], v1 = s.GetKnotsV()[columns];
    const SurfaceEditResult ru =
        InsertSurfaceKnots(s, SurfaceDirection::U, {u0 + 0.3 * (u1 - u0), u0 + 0.61 * (u1 - u0)});
    ASSERT_EQ(ru.status, AnalysisStatus::Success);
    EXPECT_TRUE(ru.surface.GetControlPoints().RowCount() == rows + 2 && ru.surface.GetKnotsV() == s.GetKnotsV());
    EXPECT_LE(MaxDistance(ru.surface, s, u0, u1, v0, v1), 1e-11);
    const SurfaceEditResult rv = InsertSurfaceKnots(s, SurfaceDirection::V, {v0 + 0.5 * (v1 - v0)});
    ASSERT_EQ(rv.status, AnalysisStatus::Success);
    EXPECT_EQ(rv.surface.GetControlPoints().ColumnCount(), columns + 1);
    EXPECT_LE(MaxDistance(rv.surface, s, u0, u1, v0, v1), 1e-11);

    const double a = u0 + 0.2 * (u1 - u0), b = u0 + 0.7 * (u1 - u0), c = v0 + 0.35 * (v1 - v0);
    const SurfaceEditResult r = ExtractSubPatch(s, a, b, c, v1);
    ASSERT_EQ(r.status, AnalysisStatus::Success);
    EXPECT_TRUE(r.surface.GetKnotsU()[p] == a &&
                r.surface.GetKnotsV()[r.surface.GetControlPoints().ColumnCount()] == v1);
    EXPECT_NEAR(r.surface.GetKnotsU()[r.surface.GetControlPoints().RowCount()], b, 1e-15);
    EXPECT_LE(MaxDistance(r.surface, s, a, b, c, v1), 1e-10);

    const BezierPatchDecomposition d = DecomposeToBezierPatches(s);
    ASSERT_EQ(d.status, AnalysisStatus::Success);
    ASSERT_TRUE(d.spansU >= 1 && d.patches.size() == d.spansU * d.spansV);
    EXPECT_TRUE(d.patches.front().u0 == u0 && d.patches.back().v1 == v1);
    for (std::size_t i = 0; i < d.patches.size(); ++i) {
        const BezierPatch& patch = d.patches[i];
        const auto& net = patch.surface.GetControlPoints();
        EXPECT_TRUE(net.RowCount() == p + 1 && net.ColumnCount() == q + 1 &&
                    (i % d.spansV == 0 || patch.v0 == d.patches[i - 1].v1));
        EXPECT_LE(MaxDistance(patch.surface, s, patch.u0, patch.u1, patch.v0, patch.v1), 1e-10) << "patch " << i;
    }
}

std::vector<Kind> Kinds() {
    std::vector<Kind> k = {{3, 3, true, false}, {2, 2, false, true}};
    for (std::size_t p = 1; p <= 5; ++p)
        for (bool rational : {false, true}) k.emplace_back(p, 6 - p, rational, p % 2 == 1);
    return k;
}
INSTANTIATE_TEST_SUITE_P(Surfaces, EverySurface, ::testing::ValuesIn(Kinds()));

TEST(SurfaceRefusals, BrokenSurfacesAndArguments) {
    const double nan = std::nan("");
    VMatrix<P4> grid(3, 3, P4{0, 0, 0, 1});
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j) grid(i, j) = P4{double(i), double(j), double(i * j), 1};
    const std::vector<double> k = {0, 0, 0, 1, 1, 1};
    const V3dNurbsSurface good(grid, k, k, 2, 2);
    ASSERT_EQ(CheckSurface(good), AnalysisStatus::Success);
    auto badGrid = grid;
    badGrid(1, 2)[3] = 0.0;
    for (const auto& b : {V3dNurbsSurface(), V3dNurbsSurface(grid, {0, 0, 1, 1}, k, 2, 2),
                          V3dNurbsSurface(grid, k, {0, 0, 0, nan, 1, 1}, 2, 2), V3dNurbsSurface(badGrid, k, k, 2, 2),
                          V3dNurbsSurface(grid, {0, 0, 0, 0, 1, 1, 1}, k, 3, 2)})
        EXPECT_TRUE(CheckSurface(b) == AnalysisStatus::InvalidGeometry &&
                    InsertSurfaceKnots(b, SurfaceDirection::U, {0.5}).status == AnalysisStatus::InvalidGeometry &&
                    ExtractSubPatch(b, 0.1, 0.9, 0.1, 0.9).status == AnalysisStatus::InvalidGeometry &&
                    DecomposeToBezierPatches(b).status == AnalysisStatus::InvalidGeometry);
    for (const auto& X : std::vector<std::vector<double>>{{}, {nan}, {0.7, 0.3}, {1.5}, {0.0}, {0.5, 0.5, 0.5}})
        EXPECT_EQ(InsertSurfaceKnots(good, SurfaceDirection::V, X).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(InsertSurfaceKnots(good, SurfaceDirection::V, {0.5, 0.5}).status, AnalysisStatus::Success);
    for (const auto& box : std::vector<std::array<double, 4>>{
             {nan, 1, 0, 1}, {0.5, 0.5, 0, 1}, {0, 1, 0.7, 0.2}, {-0.1, 1, 0, 1}, {0, 1, 0, 1.5}})
        EXPECT_EQ(ExtractSubPatch(good, box[0], box[1], box[2], box[3]).status, AnalysisStatus::InvalidArgument);
}

}  // namespace
