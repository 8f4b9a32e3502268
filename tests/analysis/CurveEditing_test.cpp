// Degree elevation, Bezier decomposition, reversal, reparametrisation, joins and knot
// removal: shape preservation checked by dense point comparison with the input on random
// curves of degree 1-7 (rational or not, clamped or not), structural counts, and the
// refusals for broken curves and arguments.
#include <VelSDK/Nurbs.h>
#include <VelSDK/CurveEditing.h>
#include <VelSDK/KnotRemoval.h>

#include "analysis/AnalysisTestCurves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

using namespace VelSDK::NURBS;
using namespace analysis_test;

namespace {

class EveryKind : public ::testing::TestWithParam<CurveKind> {};

// Scale of the random control points (coordinates in [-10, 10]).
constexpr double kScale = 10.0;

std::map<double, std::size_t> Multiplicities(const V3dNurbsCurve& c) {
    std::map<double, std::size_t> m;
    const auto& U = c.GetKnots();
    for (std::size_t i = c.GetDegree() + 1; i < c.GetControlPoints().size(); ++i) ++m[U[i]];
    return m;
}

TEST_P(EveryKind, ElevationKeepsShapeAndRaisesEveryMultiplicity) {
    const CurveKind k = GetParam();
    std::mt19937_64 rng(100 + k.degree);
    for (int t : {1, 2, 3}) {
        const V3dNurbsCurve c = SpacedCurve(rng, k, k.degree + 6);
        const CurveEditResult e = ElevateDegree(c, t);
        ASSERT_EQ(e.status, AnalysisStatus::Success);
        EXPECT_EQ(e.curve.GetDegree(), k.degree + t);
        EXPECT_TRUE(e.curve.IsValid());
        EXPECT_LE(MaxDistance(e.curve, c), 1e-13 * kScale * (k.rational ? 4 : 1)) << "t = " << t;
        // Interior multiplicities: each input knot inside the range gains t.
        V3dNurbsCurve clamped = c;
        clamped.Clamp();
        const auto before = Multiplicities(clamped);
        const auto after = Multiplicities(e.curve);
        ASSERT_EQ(before.size(), after.size());
        for (const auto& kv : before) EXPECT_EQ(after.at(kv.first), kv.second + t);
        EXPECT_EQ(e.curve.GetControlPoints().size(), clamped.GetControlPoints().size() + t * (before.size() + 1));
    }
}

TEST_P(EveryKind, BezierPiecesMatchTheirSpans) {
    const CurveKind k = GetParam();
    std::mt19937_64 rng(200 + k.degree);
    const V3dNurbsCurve c = RandomCurve(rng, k, k.degree + 7);
    const BezierDecomposition d = DecomposeToBezier(c);
    ASSERT_EQ(d.status, AnalysisStatus::Success);
    ASSERT_EQ(d.pieces.size(), CountSpans(c));
    EXPECT_EQ(d.pieces.front().u0, c.GetMinParam());
    EXPECT_EQ(d.pieces.back().u1, c.GetMaxParam());
    for (std::size_t i = 0; i < d.pieces.size(); ++i) {
        const BezierPiece& b = d.pieces[i];
        if (i > 0) {
            EXPECT_EQ(b.u0, d.pieces[i - 1].u1);
        }
        ASSERT_LT(b.u0, b.u1);
        ASSERT_EQ(b.curve.GetControlPoints().size(), k.degree + 1);
        // The piece against the source at 33 points of its interval.
        double worst = 0.0;
        for (int s = 0; s <= 32; ++s) {
            const double u = s == 32 ? b.u1 : b.u0 + (b.u1 - b.u0) * s / 32.0;
            worst = std::max(worst, VelSDK::Math::Distance(b.curve.EvaluateAt(u), c.EvaluateAt(u)));
        }
        EXPECT_LE(worst, 1e-12 * kScale) << "piece " << i;
    }
}

TEST_P(EveryKind, ReverseAndReparametrizeMapTheParameter) {
    const CurveKind k = GetParam();
    std::mt19937_64 rng(300 + k.degree);
    const V3dNurbsCurve c = RandomCurve(rng, k, k.degree + 5);
    const double a = c.GetMinParam();
    const double b = c.GetMaxParam();
    const CurveEditResult rev = Reverse(c);
    ASSERT_EQ(rev.status, AnalysisStatus::Success);
    EXPECT_EQ(rev.curve.GetMinParam(), a);
    EXPECT_EQ(rev.curve.GetMaxParam(), b);
    EXPECT_LE(MaxDistance(rev.curve, c, [&](double u) { return a + b - u; }), 1e-12 * kScale);
    // The tangent turns round.
    const double um = 0.5 * (a + b);
    const auto d0 = c.DeriveAt(um, 1)[1];
    const auto d1 = rev.curve.DeriveAt(a + b - um, 1)[1];
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(d1[i], -d0[i], 1e-9 * (1 + std::fabs(d0[i])));

    const CurveEditResult re = Reparametrize(c, -2.0, 5.0);
    ASSERT_EQ(re.status, AnalysisStatus::Success);
    EXPECT_EQ(re.curve.GetMinParam(), -2.0);
    EXPECT_EQ(re.curve.GetMaxParam(), 5.0);
    const double scale = 7.0 / (b - a);
    EXPECT_LE(MaxDistance(re.curve, c, [&](double u) { return -2.0 + (u - a) * scale; }), 1e-12 * kScale);
    const auto e1 = re.curve.DeriveAt(-2.0 + (um - a) * scale, 1)[1];
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(e1[i] * scale, d0[i], 1e-9 * (1 + std::fabs(d0[i])));
}

TEST_P(EveryKind, JoinOfTwoHalvesIsTheWholeCurve) {
    const CurveKind k = GetParam();
    std::mt19937_64 rng(400 + k.degree);
    const V3dNurbsCurve c = RandomCurve(rng, k, k.degree + 6);
    const double cut = 0.37 * c.GetMinParam() + 0.63 * c.GetMaxParam();
    V3dNurbsCurve left, right;
    ASSERT_TRUE(c.SplitAt(cut, left, right));
    const JoinResult j = Join(left, right, 1e-9);
    ASSERT_EQ(j.status, AnalysisStatus::Success);
    EXPECT_EQ(j.curve.GetDegree(), k.degree);
    EXPECT_LE(j.gap, 1e-12 * kScale);
    // Equal speeds at the cut keep the parametrisation: the join is the input itself.
    EXPECT_LE(MaxDistance(j.curve, c), 1e-10 * kScale);
    EXPECT_NEAR(j.curve.GetMaxParam(), c.GetMaxParam(), 1e-9);
    EXPECT_TRUE(j.g1);
}

TEST_P(EveryKind, RemovingAnInsertedKnotGivesTheCurveBack) {
    const CurveKind k = GetParam();
    std::mt19937_64 rng(500 + k.degree);
    V3dNurbsCurve c = RandomCurve(rng, k, k.degree + 5);
    c.Clamp();
    const double u = 0.41 * c.GetMinParam() + 0.59 * c.GetMaxParam();
    V3dNurbsCurve refined = c;
    const std::size_t copies = std::min<std::size_t>(2, k.degree);
    refined.InsertKnots(std::vector<double>(copies, u));
    ASSERT_EQ(refined.GetControlPoints().size(), c.GetControlPoints().size() + copies);
    const KnotRemovalResult r = RemoveKnot(refined, u, 5, 1e-9);
    ASSERT_EQ(r.status, AnalysisStatus::Success);
    // Both inserted copies go; a knot u that was there already may go as well, or not.
    ASSERT_GE(r.removed, copies);
    EXPECT_LE(r.deviationBound, 1e-9);
    EXPECT_LE(r.sampledDeviation, r.deviationBound + 1e-12);
    EXPECT_LE(MaxDistance(r.curve, c), 1e-9);
    if (r.removed == copies) {
        const auto& Q = r.curve.GetControlPoints();
        const auto& P = c.GetControlPoints();
        ASSERT_EQ(Q.size(), P.size());
        for (std::size_t i = 0; i < P.size(); ++i)
            for (int m = 0; m < 4; ++m) EXPECT_NEAR(Q[i][m], P[i][m], 1e-9 * kScale);
    }
}

TEST_P(EveryKind, DataReductionStaysWithinTheTolerance) {
    const CurveKind k = GetParam();
    std::mt19937_64 rng(600 + k.degree);
    V3dNurbsCurve c = RandomCurve(rng, k, k.degree + 8);
    c.Clamp();
    // Refine by 40 extra knots: they can all go again at a tight tolerance.
    std::vector<double> X;
    for (int i = 1; i <= 40; ++i) X.push_back(c.GetMinParam() + (c.GetMaxParam() - c.GetMinParam()) * i / 41.0);
    V3dNurbsCurve refined = c;
    refined.InsertKnots(X);
    for (double tol : {1e-9, 1e-2, 1.0}) {
        const KnotRemovalResult r = ReduceKnots(refined, tol);
        ASSERT_EQ(r.status, AnalysisStatus::Success);
        EXPECT_GE(r.removed, 38u) << "tol " << tol;
        EXPECT_EQ(r.curve.GetControlPoints().size(), refined.GetControlPoints().size() - r.removed);
        EXPECT_LE(r.deviationBound, tol);
        const double measured = MaxDistance(r.curve, refined, 24);
        EXPECT_LE(measured, tol) << "tol " << tol;
        EXPECT_LE(r.sampledDeviation, measured + 1e-12);
    }
}

std::string KindName(const ::testing::TestParamInfo<CurveKind>& info) { return Name(info.param); }
INSTANTIATE_TEST_SUITE_P(Curves, EveryKind, ::testing::ValuesIn(AllKinds()), KindName);

// A smooth interpolant through many samples keeps far fewer knots at a loose tolerance.
TEST(DataReduction, InterpolantOfASmoothFunctionShrinks) {
    std::vector<P3> Q;
    for (int i = 0; i < 400; ++i) {
        const double x = i / 399.0;
        Q.push_back(P3{x, std::sin(6 * x), 0.3 * std::cos(11 * x)});
    }
    const auto u = UniformParameterization(Q.size());
    V3dNurbsCurve c;
    ASSERT_TRUE(c.GlobalInterpolation(Q, u, KnotAveraging(u, 3), 3, false));
    const KnotRemovalResult r = ReduceKnots(c, 1e-4);
    ASSERT_EQ(r.status, AnalysisStatus::Success);
    EXPECT_LT(r.curve.GetControlPoints().size(), 80u);
    EXPECT_LE(MaxDistance(r.curve, c, 32), 1e-4);
    // The data points themselves stay within the tolerance.
    double worst = 0.0;
    for (std::size_t i = 0; i < Q.size(); ++i)
        worst = std::max(worst, VelSDK::Math::Distance(r.curve.EvaluateAt(u[i]), Q[i]));
    EXPECT_LE(worst, 1e-4);
}

// A knot of a cubic that is not removable
// without changing the shape stays at a small tolerance and goes at a large one.
TEST(KnotRemoval, RemovableOnlyWithinALooseTolerance) {
    const V3dNurbsCurve c({P4{0, 0, 0, 1}, P4{1, 3, 0, 1}, P4{2, -1, 0, 1}, P4{3, 3, 0, 1}, P4{4, 0, 0, 1}},
                          {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 3);
    const KnotRemovalResult tight = RemoveKnot(c, 0.5, 1, 1e-6);
    ASSERT_EQ(tight.status, AnalysisStatus::Success);
    EXPECT_EQ(tight.removed, 0u);
    EXPECT_EQ(tight.curve.GetControlPoints().size(), 5u);
    const KnotRemovalResult loose = RemoveKnot(c, 0.5, 1, 10.0);
    ASSERT_EQ(loose.status, AnalysisStatus::Success);
    EXPECT_EQ(loose.removed, 1u);
    EXPECT_EQ(loose.curve.GetKnots(), (std::vector<double>{0, 0, 0, 0, 1, 1, 1, 1}));
    const double d = MaxDistance(loose.curve, c, 64);
    EXPECT_GT(d, 0.1);
    EXPECT_LE(d, loose.deviationBound);
    EXPECT_LE(loose.sampledDeviation, d + 1e-12);
}

TEST(Join, DifferentDegreesAndAKinkAreReported) {
    const V3dNurbsCurve line({P4{-1, 0, 0, 1}, P4{0, 0, 0, 1}}, {0, 0, 1, 1}, 1);
    const V3dNurbsCurve arc({P4{0, 0, 0, 1}, P4{0, 1, 0, 1}, P4{1, 1, 0, 2}, P4{1, 2, 0, 1}}, {0, 0, 0, 0, 2, 2, 2, 2},
                            3);
    const JoinResult j = Join(line, arc, 1e-12, 1e-6);
    ASSERT_EQ(j.status, AnalysisStatus::Success);
    EXPECT_EQ(j.curve.GetDegree(), 3u);
    EXPECT_NEAR(j.tangentAngle, M_PI / 2, 1e-12);
    EXPECT_FALSE(j.g1);
    EXPECT_LE(MaxDistance(j.curve, line), 1e-14);
    const double b1 = j.curve.GetMaxParam();
    const double L = b1 - 1.0;
    EXPECT_LE(MaxDistance(j.curve, arc, [&](double u) { return 1.0 + u / 2.0 * L; }), 1e-13);
    // A gap beyond the tolerance.
    const V3dNurbsCurve far({P4{0, 0, 1, 1}, P4{0, 1, 1, 1}}, {0, 0, 1, 1}, 1);
    const JoinResult g = Join(line, far, 0.5);
    EXPECT_EQ(g.status, AnalysisStatus::Gap);
    EXPECT_DOUBLE_EQ(g.gap, 1.0);
    EXPECT_FALSE(g.curve.IsValid());
    EXPECT_EQ(Join(line, far, std::nan("")).status, AnalysisStatus::InvalidArgument);
}

TEST(Refusals, BadArgumentsAndBreaks) {
    // A knot of multiplicity p + 2 inside the range.
    const V3dNurbsCurve seven(std::vector<P4>(7, P4{1, 1, 1, 1}), {0, 0, 0, 0.5, 0.5, 0.5, 0.5, 1, 1, 1}, 2);
    EXPECT_EQ(CheckCurve(seven), AnalysisStatus::InvalidGeometry);
    const V3dNurbsCurve c({P4{0, 0, 0, 1}, P4{1, 3, 0, 1}, P4{2, -1, 0, 1}, P4{3, 3, 0, 1}, P4{4, 0, 0, 1}},
                          {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 3);
    const double nan = std::nan("");
    for (double a : {nan, 1.0, 2.0, -HUGE_VAL})
        EXPECT_EQ(Reparametrize(c, a, 1.0).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(Reparametrize(c, -1e308, 1e308).status, AnalysisStatus::InvalidArgument);  // b - a overflows
    EXPECT_EQ(ElevateDegree(c, -1).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(ElevateDegree(c, 28).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(ElevateDegree(c, 27).status, AnalysisStatus::Success);
    for (double tol : {0.0, -1.0, nan}) {
        EXPECT_EQ(RemoveKnot(c, 0.5, 1, tol).status, AnalysisStatus::InvalidArgument);
        EXPECT_EQ(ReduceKnots(c, tol).status, AnalysisStatus::InvalidArgument);
    }
    for (double u : {nan, 0.0, 1.0, 0.25, 2.0})
        EXPECT_EQ(RemoveKnot(c, u, 1, 1.0).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(RemoveKnot(c, 0.5, 0, 1.0).status, AnalysisStatus::InvalidArgument);
    // Elevation refuses a curve with a break (multiplicity p + 1); decomposition splits there.
    const V3dNurbsCurve broken({P4{0, 0, 0, 1}, P4{1, 1, 0, 1}, P4{2, 0, 0, 1}, P4{3, 5, 0, 1}}, {0, 0, 0.5, 0.5, 1, 1},
                               1);
    EXPECT_EQ(ElevateDegree(broken, 1).status, AnalysisStatus::InvalidGeometry);
    const BezierDecomposition d = DecomposeToBezier(broken);
    ASSERT_EQ(d.status, AnalysisStatus::Success);
    ASSERT_EQ(d.pieces.size(), 2u);
    EXPECT_EQ(d.pieces[1].curve.GetControlPoints()[0][1], 0.0);
    EXPECT_EQ(d.pieces[1].curve.GetControlPoints()[1][1], 5.0);
    EXPECT_STREQ(AnalysisStatusText(AnalysisStatus::Gap), "curves do not meet");
}

}  // namespace
