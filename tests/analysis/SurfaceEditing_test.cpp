// Surface knot insertion, sub-patches and Bezier patches on random surfaces of degrees 1-5
// (rational or not, clamped or not): every result compared point by point with the input
// surface (the independent tensor-product reference of tests/support), plus the refusals.
#include <VelSDK/Nurbs.h>
#include <VelSDK/SurfaceEditing.h>

#include "support/ReferenceSurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <array>
#include <random>
#include <tuple>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

// (degree u, degree v, rational, clamped)
using Kind = std::tuple<std::size_t, std::size_t, bool, bool>;
class EverySurface : public ::testing::TestWithParam<Kind> {};

V3dNurbsSurface Make(const Kind& k, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    const auto [p, q, rational, clamped] = k;
    return test::RandomSurface(rng, p + 3, q + 4, p, q, clamped, rational);
}

double RangeU0(const V3dNurbsSurface& s) { return s.GetKnotsU()[s.GetDegreeU()]; }
double RangeU1(const V3dNurbsSurface& s) { return s.GetKnotsU()[s.GetControlPoints().RowCount()]; }
double RangeV0(const V3dNurbsSurface& s) { return s.GetKnotsV()[s.GetDegreeV()]; }
double RangeV1(const V3dNurbsSurface& s) { return s.GetKnotsV()[s.GetControlPoints().ColumnCount()]; }

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

TEST_P(EverySurface, KnotInsertionKeepsTheSurface) {
    const V3dNurbsSurface s = Make(GetParam(), 11);
    const double u0 = RangeU0(s), u1 = RangeU1(s), v0 = RangeV0(s), v1 = RangeV1(s);
    const std::vector<double> X = {u0 + 0.3 * (u1 - u0), u0 + 0.61 * (u1 - u0)};
    const SurfaceEditResult ru = InsertSurfaceKnots(s, SurfaceDirection::U, X);
    ASSERT_EQ(ru.status, AnalysisStatus::Success);
    EXPECT_EQ(ru.surface.GetControlPoints().RowCount(), s.GetControlPoints().RowCount() + 2);
    EXPECT_EQ(ru.surface.GetControlPoints().ColumnCount(), s.GetControlPoints().ColumnCount());
    EXPECT_EQ(ru.surface.GetKnotsV(), s.GetKnotsV());
    EXPECT_LE(MaxDistance(ru.surface, s, u0, u1, v0, v1), 1e-11);
    const SurfaceEditResult rv = InsertSurfaceKnots(s, SurfaceDirection::V, {v0 + 0.5 * (v1 - v0)});
    ASSERT_EQ(rv.status, AnalysisStatus::Success);
    EXPECT_EQ(rv.surface.GetControlPoints().ColumnCount(), s.GetControlPoints().ColumnCount() + 1);
    EXPECT_LE(MaxDistance(rv.surface, s, u0, u1, v0, v1), 1e-11);
}

TEST_P(EverySurface, SubPatchIsThePartOfTheSurface) {
    const V3dNurbsSurface s = Make(GetParam(), 12);
    const double u0 = RangeU0(s), u1 = RangeU1(s), v0 = RangeV0(s), v1 = RangeV1(s);
    const double a = u0 + 0.2 * (u1 - u0), b = u0 + 0.7 * (u1 - u0);
    const double c = v0 + 0.35 * (v1 - v0), d = v1;
    const SurfaceEditResult r = ExtractSubPatch(s, a, b, c, d);
    ASSERT_EQ(r.status, AnalysisStatus::Success);
    EXPECT_EQ(RangeU0(r.surface), a);
    EXPECT_EQ(RangeV1(r.surface), d);
    EXPECT_NEAR(RangeU1(r.surface), b, 1e-15);
    EXPECT_LE(MaxDistance(r.surface, s, a, b, c, d), 1e-10);
}

TEST_P(EverySurface, BezierPatchesTileTheSurface) {
    const V3dNurbsSurface s = Make(GetParam(), 13);
    const auto [p, q, rational, clamped] = GetParam();
    const BezierPatchDecomposition d = DecomposeToBezierPatches(s);
    ASSERT_EQ(d.status, AnalysisStatus::Success);
    ASSERT_EQ(d.patches.size(), d.spansU * d.spansV);
    ASSERT_GE(d.spansU, 1u);
    EXPECT_EQ(d.patches.front().u0, RangeU0(s));
    EXPECT_EQ(d.patches.back().v1, RangeV1(s));
    for (std::size_t i = 0; i < d.patches.size(); ++i) {
        const BezierPatch& b = d.patches[i];
        EXPECT_EQ(b.surface.GetControlPoints().RowCount(), p + 1);
        EXPECT_EQ(b.surface.GetControlPoints().ColumnCount(), q + 1);
        if (i % d.spansV != 0) {
            EXPECT_EQ(b.v0, d.patches[i - 1].v1);
        }
        EXPECT_LE(MaxDistance(b.surface, s, b.u0, b.u1, b.v0, b.v1), 1e-10) << "patch " << i;
    }
}

std::vector<Kind> Kinds() {
    std::vector<Kind> k;
    for (std::size_t p = 1; p <= 5; ++p)
        for (bool rational : {false, true}) k.emplace_back(p, 6 - p, rational, p % 2 == 1);
    k.emplace_back(3, 3, true, false);
    k.emplace_back(2, 2, false, true);
    return k;
}
INSTANTIATE_TEST_SUITE_P(Surfaces, EverySurface, ::testing::ValuesIn(Kinds()),
                         [](const ::testing::TestParamInfo<Kind>& i) {
                             return "p" + std::to_string(std::get<0>(i.param)) + "q" +
                                    std::to_string(std::get<1>(i.param)) +
                                    (std::get<2>(i.param) ? "_rational" : "_polynomial") +
                                    (std::get<3>(i.param) ? "_clamped" : "_unclamped");
                         });

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
    const std::vector<V3dNurbsSurface> broken = {V3dNurbsSurface(), V3dNurbsSurface(grid, {0, 0, 1, 1}, k, 2, 2),
                                                 V3dNurbsSurface(grid, k, {0, 0, 0, nan, 1, 1}, 2, 2),
                                                 V3dNurbsSurface(badGrid, k, k, 2, 2),
                                                 V3dNurbsSurface(grid, {0, 0, 0, 0, 1, 1, 1}, k, 3, 2)};
    for (const auto& b : broken) {
        EXPECT_EQ(CheckSurface(b), AnalysisStatus::InvalidGeometry);
        EXPECT_EQ(InsertSurfaceKnots(b, SurfaceDirection::U, {0.5}).status, AnalysisStatus::InvalidGeometry);
        EXPECT_EQ(ExtractSubPatch(b, 0.1, 0.9, 0.1, 0.9).status, AnalysisStatus::InvalidGeometry);
        EXPECT_EQ(DecomposeToBezierPatches(b).status, AnalysisStatus::InvalidGeometry);
    }
    for (const auto& X : std::vector<std::vector<double>>{{}, {nan}, {0.7, 0.3}, {1.5}, {0.0}, {0.5, 0.5, 0.5}})
        EXPECT_EQ(InsertSurfaceKnots(good, SurfaceDirection::V, X).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(InsertSurfaceKnots(good, SurfaceDirection::V, {0.5, 0.5}).status, AnalysisStatus::Success);
    for (const auto& box : std::vector<std::array<double, 4>>{
             {nan, 1, 0, 1}, {0.5, 0.5, 0, 1}, {0, 1, 0.7, 0.2}, {-0.1, 1, 0, 1}, {0, 1, 0, 1.5}})
        EXPECT_EQ(ExtractSubPatch(good, box[0], box[1], box[2], box[3]).status, AnalysisStatus::InvalidArgument);
}

}  // namespace
