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
        EXPECT_TRUE(e.curve.GetDegree() == k.degree + t && e.curve.IsValid());
        EXPECT_LE(MaxDistance(e.curve, c), 1e-13 * kScale * (k.rational ? 4 : 1)) << "t = " << t;
        // Interior multiplicities: each input knot inside the range gains t.
        V3dNurbsCurve clamped = c;
        clamped.Clamp();
        const auto before = Multiplicities(clamped), after = Multiplicities(e.curve);
        ASSERT_EQ(before.size(), after.size());
        for (const auto& kv : before) EXPECT_EQ(after.at(kv.first), kv.second + t);
        EXPECT_EQ(e.curve.GetControlPoints().size(), clamped.GetControlPoints().size() + t * (before.size() + 1));
    }
}

// Bezier pieces, reversal, reparametrisation and the join of two halves keep the points of
// the curve under their parameter maps.
TEST_P(EveryKind, PiecesReversalReparametrisationAndJoinKeepThePoints) {
    const CurveKind k = GetParam();
    std::mt19937_64 rng(200 + k.degree);
    const V3dNurbsCurve c = RandomCurve(rng, k, k.degree + 7);
    const double a = c.GetMinParam(), b = c.GetMaxParam();
    const BezierDecomposition d = DecomposeToBezier(c);
    ASSERT_EQ(d.status, AnalysisStatus::Success);
    ASSERT_EQ(d.pieces.size(), CountSpans(c));
    EXPECT_TRUE(d.pieces.front().u0 == a && d.pieces.back().u1 == b);
    for (std::size_t i = 0; i < d.pieces.size(); ++i) {
        const BezierPiece& piece = d.pieces[i];
        EXPECT_TRUE(piece.u0 < piece.u1 && (i == 0 || piece.u0 == d.pieces[i - 1].u1));
        ASSERT_EQ(piece.curve.GetControlPoints().size(), k.degree + 1);
        EXPECT_LE(MaxDistance(c, piece.curve, 32), 1e-12 * kScale) << "piece " << i;  // on the piece's span
    }
    const CurveEditResult rev = Reverse(c), re = Reparametrize(c, -2.0, 5.0);
    ASSERT_TRUE(rev.status == AnalysisStatus::Success && re.status == AnalysisStatus::Success);
    EXPECT_TRUE(rev.curve.GetMinParam() == a && rev.curve.GetMaxParam() == b);
    EXPECT_LE(MaxDistance(rev.curve, c, [&](double u) { return a + b - u; }), 1e-12 * kScale);
    EXPECT_TRUE(re.curve.GetMinParam() == -2.0 && re.curve.GetMaxParam() == 5.0);
    EXPECT_LE(MaxDistance(re.curve, c, [&](double u) { return -2.0 + (u - a) * 7.0 / (b - a); }), 1e-12 * kScale);
    V3dNurbsCurve left, right;
    ASSERT_TRUE(c.SplitAt(0.37 * a + 0.63 * b, left, right));
    const JoinResult j = Join(left, right, 1e-9);
    ASSERT_EQ(j.status, AnalysisStatus::Success);
    EXPECT_TRUE(j.curve.GetDegree() == k.degree && j.g1 && j.gap <= 1e-12 * kScale);
    // Equal speeds at the cut keep the parametrisation: the join is the input itself.
    EXPECT_LE(MaxDistance(j.curve, c), 1e-10 * kScale);
    EXPECT_NEAR(j.curve.GetMaxParam(), b, 1e-9);
}

// Inserted knots go again within a tight tolerance: one knot inserted twice, and 40 knots
// removed at every tolerance, with the reported bounds above the measured deviation.
TEST_P(EveryKind, InsertedKnotsGoAgainWithinTheTolerance) {
    const CurveKind k = GetParam();
    std::mt19937_64 rng(500 + k.degree);
    V3dNurbsCurve c = RandomCurve(rng, k, k.degree + 8);
    c.Clamp();
    const double u = 0.41 * c.GetMinParam() + 0.59 * c.GetMaxParam();
    V3dNurbsCurve refined = c;
    const std::size_t copies = std::min<std::size_t>(2, k.degree);
    refined.InsertKnots(std::vector<double>(copies, u));
    const KnotRemovalResult r = RemoveKnot(refined, u, 5, 1e-9);
    ASSERT_EQ(r.status, AnalysisStatus::Success);
    // Both inserted copies go; a knot u that was there already may go as well, or not.
    ASSERT_GE(r.removed, copies);
    EXPECT_TRUE(r.deviationBound <= 1e-9 && r.sampledDeviation <= r.deviationBound + 1e-12);
    EXPECT_LE(MaxDistance(r.curve, c), 1e-9);
    std::vector<double> X;
    for (int i = 1; i <= 40; ++i) X.push_back(c.GetMinParam() + (c.GetMaxParam() - c.GetMinParam()) * i / 41.0);
    refined = c;
    refined.InsertKnots(X);
    for (double tol : {1e-9, 1e-2, 1.0}) {
        const KnotRemovalResult all = ReduceKnots(refined, tol);
        ASSERT_EQ(all.status, AnalysisStatus::Success);
        EXPECT_GE(all.removed, 38u) << "tol " << tol;
        EXPECT_EQ(all.curve.GetControlPoints().size(), refined.GetControlPoints().size() - all.removed);
        const double measured = MaxDistance(all.curve, refined, 24);
        EXPECT_TRUE(all.deviationBound <= tol && measured <= tol && all.sampledDeviation <= measured + 1e-12) << tol;
    }
}

INSTANTIATE_TEST_SUITE_P(Curves, EveryKind, ::testing::ValuesIn(AllKinds()));

// A knot of a cubic that is not removable without changing the shape stays at a small
// tolerance and goes at a large one.
TEST(KnotRemoval, RemovableOnlyWithinALooseTolerance) {
    const V3dNurbsCurve c({P4{0, 0, 0, 1}, P4{1, 3, 0, 1}, P4{2, -1, 0, 1}, P4{3, 3, 0, 1}, P4{4, 0, 0, 1}},
                          {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 3);
    const KnotRemovalResult tight = RemoveKnot(c, 0.5, 1, 1e-6), loose = RemoveKnot(c, 0.5, 1, 10.0);
    ASSERT_TRUE(tight.status == AnalysisStatus::Success && loose.status == AnalysisStatus::Success);
    EXPECT_TRUE(tight.removed == 0 && tight.curve.GetControlPoints().size() == 5);
    EXPECT_EQ(loose.removed, 1u);
    EXPECT_EQ(loose.curve.GetKnots(), (std::vector<double>{0, 0, 0, 0, 1, 1, 1, 1}));
    const double d = MaxDistance(loose.curve, c, 64);
    EXPECT_TRUE(d > 0.1 && d <= loose.deviationBound && loose.sampledDeviation <= d + 1e-12) << d;
}

TEST(Join, DifferentDegreesAKinkAndAGap) {
    const V3dNurbsCurve line({P4{-1, 0, 0, 1}, P4{0, 0, 0, 1}}, {0, 0, 1, 1}, 1);
    const V3dNurbsCurve arc({P4{0, 0, 0, 1}, P4{0, 1, 0, 1}, P4{1, 1, 0, 2}, P4{1, 2, 0, 1}}, {0, 0, 0, 0, 2, 2, 2, 2},
                            3);
    const JoinResult j = Join(line, arc, 1e-12, 1e-6);
    ASSERT_EQ(j.status, AnalysisStatus::Success);
    EXPECT_TRUE(j.curve.GetDegree() == 3 && !j.g1);
    EXPECT_NEAR(j.tangentAngle, M_PI / 2, 1e-12);
    EXPECT_LE(MaxDistance(j.curve, line), 1e-14);
    const double L = j.curve.GetMaxParam() - 1.0;
    EXPECT_LE(MaxDistance(j.curve, arc, [&](double u) { return 1.0 + u / 2.0 * L; }), 1e-13);
    const V3dNurbsCurve far({P4{0, 0, 1, 1}, P4{0, 1, 1, 1}}, {0, 0, 1, 1}, 1);
    const JoinResult g = Join(line, far, 0.5);
    EXPECT_TRUE(g.status == AnalysisStatus::Gap && g.gap == 1.0 && !g.curve.IsValid());
    EXPECT_EQ(Join(line, far, std::nan("")).status, AnalysisStatus::InvalidArgument);
}

TEST(Refusals, BadArgumentsAndBreaks) {
    // A knot of multiplicity p + 2 inside the range.
    const V3dNurbsCurve seven(std::vector<P4>(7, P4{1, 1, 1, 1}), {0, 0, 0, 0.5, 0.5, 0.5, 0.5, 1, 1, 1}, 2);
    EXPECT_EQ(CheckCurve(seven), AnalysisStatus::InvalidGeometry);
    const V3dNurbsCurve c({P4{0, 0, 0, 1}, P4{1, 3, 0, 1}, P4{2, -1, 0, 1}, P4{3, 3, 0, 1}, P4{4, 0, 0, 1}},
                          {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 3);
    const double nan = std::nan("");
    const auto invalid = [](AnalysisStatus s) { return s == AnalysisStatus::InvalidArgument; };
    for (double a : {nan, 1.0, 2.0, -HUGE_VAL}) EXPECT_TRUE(invalid(Reparametrize(c, a, 1.0).status)) << a;
    EXPECT_TRUE(invalid(Reparametrize(c, -1e308, 1e308).status));  // b - a overflows
    EXPECT_TRUE(invalid(ElevateDegree(c, -1).status) && invalid(ElevateDegree(c, 28).status));
    EXPECT_EQ(ElevateDegree(c, 27).status, AnalysisStatus::Success);
    for (double tol : {0.0, -1.0, nan})
        EXPECT_TRUE(invalid(RemoveKnot(c, 0.5, 1, tol).status) && invalid(ReduceKnots(c, tol).status)) << tol;
    for (double u : {nan, 0.0, 1.0, 0.25, 2.0}) EXPECT_TRUE(invalid(RemoveKnot(c, u, 1, 1.0).status)) << u;
    EXPECT_TRUE(invalid(RemoveKnot(c, 0.5, 0, 1.0).status));
    // Elevation refuses a curve with a break (multiplicity p + 1); decomposition splits there.
    const V3dNurbsCurve broken({P4{0, 0, 0, 1}, P4{1, 1, 0, 1}, P4{2, 0, 0, 1}, P4{3, 5, 0, 1}}, {0, 0, 0.5, 0.5, 1, 1},
                               1);
    EXPECT_EQ(ElevateDegree(broken, 1).status, AnalysisStatus::InvalidGeometry);
    const BezierDecomposition d = DecomposeToBezier(broken);
    ASSERT_TRUE(d.status == AnalysisStatus::Success && d.pieces.size() == 2);
    EXPECT_TRUE(d.pieces[1].curve.GetControlPoints()[0][1] == 0.0 && d.pieces[1].curve.GetControlPoints()[1][1] == 5.0);
    EXPECT_STREQ(AnalysisStatusText(AnalysisStatus::Gap), "curves do not meet");
}

}  // namespace
