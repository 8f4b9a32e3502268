// V3dCurveNurbsPlus segmentation: the Bezier path (exact lists, flatness, break
// values, clamping of the held curve), the fall-back to the generic path, and
// _SegmentMinimal.
#include <VelSDK/Nurbs.h>

#include "support/CurveTestAccess.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <tuple>
#include <random>
#include <vector>

namespace {

using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;

V3dCurveNurbsPlus Make(const std::vector<P4>& cps, const std::vector<double>& knots, int order, bool closed = false) {
    V3dCurveNurbsPlus c;
    EXPECT_EQ(c.Reset(cps, knots, static_cast<unsigned char>(order), closed), V3dCurve::Success);
    return c;
}

std::vector<P4> Line(std::initializer_list<double> xs) {
    std::vector<P4> cps;
    for (double x : xs) cps.push_back(P4{x, 2 * x, -x, 1.0});
    return cps;
}

// Independent recursive subdivision of one Bezier piece written directly from
// its definition: flat pieces give {start, end}; others are split by de
// Casteljau at the middle.
std::vector<double> ReferenceSubdivide(const std::vector<P3>& P, double a, double b, double tol) {
    const std::size_t p = P.size() - 1;
    double M[3] = {0, 0, 0};
    for (std::size_t i = 0; i <= p; ++i)
        for (int c = 0; c < 3; ++c) {
            const double e = double(p) * P[i][c] - (double(p - i) * P[0][c] + double(i) * P[p][c]);
            M[c] = std::max(M[c], e * e);
        }
    if (tol * tol * 16.0 >= M[1] + M[0] + M[2]) return {a, b};
    std::vector<P3> left{P[0]}, right{P[p]}, w = P;  // de Casteljau
    for (std::size_t r = 1; r <= p; ++r) {
        for (std::size_t i = 0; i + r <= p; ++i) w[i] = (w[i] + w[i + 1]) * 0.5;
        left.push_back(w[0]);
        right.insert(right.begin(), w[p - r]);
    }
    const double m = (b + a) * 0.5;
    std::vector<double> L = ReferenceSubdivide(left, a, m, tol);
    const std::vector<double> R = ReferenceSubdivide(right, m, b, tol);
    L.insert(L.end(), R.begin() + 1, R.end());
    return L;
}

TEST(V3dCurveNurbsPlusSegment, FlatnessBoundAndBreakValues) {
    // x: 0, 0.5, 2.5, 3: offsets e = (0, -1.5, 1.5, 0) per unit of direction (1, 2, -1), so
    // M = 6 * 2.25 = 13.5 against 16 tol^2; each half has M = 6 * 0.5625 = 3.375. Even points
    // (x: 0, 1, 2, 3) are one piece; a kept value becomes a break point of both. Control points at
    // the Greville abscissae give x = t: kept values are sorted and kept inside the knot span.
    const std::vector<double> knots{0, 0, 0, 0, 1, 1, 1, 1};
    const V3dCurveNurbsPlus c = Make(Line({0, 0.5, 2.5, 3}), knots, 4), even = Make(Line({0, 1, 2, 3}), knots, 4);
    const V3dCurveNurbsPlus greville = Make(Line({0, 1.0 / 6, 0.5, 5.0 / 6, 1}), {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 4);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const V3dCurveNurbsPlus linear =  // gives its knots
        Make({{0, 0, 0, 1}, {1, 3, 0, 1}, {2, 0, 5, 1}, {7, 1, 1, 1}, {8, 8, 8, 1}}, {0, 0, 0.1, 0.35, 0.8, 1, 1}, 2);
    const struct {
        const V3dCurveNurbsPlus& curve;
        double tol;
        bool keep;
        std::vector<double> given, t;
    } cases[] = {
        {c, 1.0, false, {}, {0, 1}},                    // 16 >= 13.5
        {c, 0.9, false, {}, {0, 0.5, 1}},               // 12.96 < 13.5, then 12.96 >= 3.375
        {c, 0.46, false, {}, {0, 0.5, 1}},              // 3.3856 >= 3.375
        {c, 0.45, false, {}, {0, 0.25, 0.5, 0.75, 1}},  // 3.24 < 3.375
        {c, 0.01, false, {}, ReferenceSubdivide({{0, 0, 0}, {0.5, 1, -0.5}, {2.5, 5, -2.5}, {3, 6, -3}}, 0, 1, 0.01)},
        {even, 1e-9, false, {0.3, 0.6}, {0, 1}},
        {even, 1e-9, true, {0.25}, {0, 0.25, 1}},
        {linear, 1e-6, false, {}, {0, 0.1, 0.35, 0.8, 1}},
        {greville, 1e-6, true, {0.75, 0.25, 0.5, 0.25, 7, -1, nan}, {0, 0.25, 0.5, 0.75, 1}}};
    for (const auto& k : cases) {
        std::vector<double> t = k.given;
        EXPECT_EQ(k.curve.Segment(t, k.tol, k.keep), V3dCurve::Success);
        EXPECT_EQ(t, k.t) << k.tol;
    }
}

TEST(V3dCurveNurbsPlusSegment, PiecesAgreeWithIndependentSubdivision) {
    // A cubic and a quadratic with simple interior knots: the result is the
    // concatenation of the reference subdivision of each Bezier piece (pieces
    // obtained by the held curve's own knot insertion and compared for shape by
    // evaluation). Also 10^6 away from the origin (UTM metres) with tolerances down to
    // 10^-7, which doubles resolve there.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coord(-1.0, 1.0);
    for (int order : {3, 4}) {
        const std::size_t p = static_cast<std::size_t>(order - 1);
        std::vector<P4> cps(9);
        for (P4& h : cps) h = P4{coord(rng), coord(rng), coord(rng), 1.0};
        const std::vector<double> knots = VelSDK::NURBS::UniformKnots(9 + p + 1, p);
        for (double tol : {1e-3, 1e-5, 1e-7}) {
            for (double offset : {0.0, 1e6}) {
                std::vector<P4> moved = cps;
                for (P4& h : moved) h = P4{h[0] + offset, h[1] - offset, h[2] + offset, 1.0};
                const V3dCurveNurbsPlus c = Make(moved, knots, order);
                std::vector<double> t;
                ASSERT_EQ(c.Segment(t, tol, false), V3dCurve::Success);

                VelSDK::NURBS::V3dNurbsCurve bez = V3dCurveNurbsPlusTestAccess::Held(c);
                std::vector<double> ins;
                for (std::size_t i = p + 1; i < knots.size() - p - 1; ++i) ins.insert(ins.end(), p - 1, knots[i]);
                bez.InsertKnots(ins);
                std::vector<double> expected{0.0};
                const auto& B = bez.GetControlPoints();
                const auto& U = bez.GetKnots();
                for (std::size_t q = 0; q < (B.size() - 1) / p; ++q) {
                    std::vector<P3> P(p + 1);
                    for (std::size_t i = 0; i <= p; ++i) P[i] = P3{B[p * q + i][0], B[p * q + i][1], B[p * q + i][2]};
                    const std::vector<double> r = ReferenceSubdivide(P, U[p * q + 1], U[p * (q + 1) + 1], tol);
                    expected.insert(expected.end(), r.begin() + 1, r.end());
                }
                EXPECT_EQ(t, expected) << order << " " << tol << " " << offset;
            }
        }
    }
}

// A subclass that moves every position: its own evaluation must be the one used.
class ShiftedCurve : public V3dCurveNurbsPlus {
public:
    RCode EvaluatePosition(P3& p, double t) const override {
        return V3dCurveNurbsPlus::EvaluatePosition(p, t) == Success ? (p[0] *= 1.0 + t * t, Success) : Failure;
    }
};

// Closed, quintic, rational (also with a NaN weight), subclassed curves and curves with more knots
// than points + order (Reset takes them) take the generic refinement; closed fits run it on their held curve directly.
// Every list must equal that of the virtual path (V3dCurve::Segment through EvaluatePosition), bit for bit.
TEST(V3dCurveNurbsPlusSegment, OtherCurvesTakeTheGenericPathBitForBit) {
    std::vector<P4> cps = Line({0, 0.5, 2.5, 3, 4});
    cps[2][1] = 7.0;
    const std::vector<double> cubicKnots{0, 0, 0, 0, 0.5, 1, 1, 1, 1};
    std::vector<P4> weighted = cps, nanWeighted = cps;
    weighted[1] = weighted[1] * 0.5;
    nanWeighted[1][3] = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::unique_ptr<V3dCurveNurbsPlus>> curves;
    for (const auto& [points, knots, order, closed] :
         std::vector<std::tuple<std::vector<P4>, std::vector<double>, int, bool>>{
             {cps, cubicKnots, 4, true},
             {cps, {0, 0, 0, 0, 0, 1, 1, 1, 1, 1}, 5, false},
             {weighted, cubicKnots, 4, false},
             {nanWeighted, cubicKnots, 4, false},
             {cps, {0, 0, 0, 0, 0.5, 1, 1, 1, 1, 1}, 4, false}}) {  // one knot more than a clamped cubic needs
        curves.push_back(std::make_unique<V3dCurveNurbsPlus>(Make(points, knots, order, closed)));
    }
    curves.push_back(std::make_unique<ShiftedCurve>());
    ASSERT_EQ(curves.back()->Reset(Line({0, 1, 2, 3}), {0, 0, 0, 0, 1, 1, 1, 1}, 4, true), V3dCurve::Success);
    std::vector<P3> loop;
    for (int i = 0; i < 157; ++i) {
        const double a = 6.283185307179586 * i / 157 + 0.05 * std::sin(5.0 * i);
        loop.push_back(P3{std::cos(a) * (2 + std::cos(3 * a)), std::sin(a) * (2 + std::cos(3 * a)), std::sin(4 * a)});
    }
    for (int order = 2; order <= 7; ++order) {
        curves.push_back(std::make_unique<V3dCurveNurbsPlus>());
        curves.back()->SetOrder(static_cast<unsigned char>(order));
        ASSERT_EQ(curves.back()->Fit(loop, true), V3dCurve::Success) << order;
    }
    for (std::size_t k = 0; k < curves.size(); ++k) {
        for (double tol : {0.1, 1e-3, 1e-6}) {
            std::vector<double> t, g;
            ASSERT_EQ(curves[k]->Segment(t, tol, false), V3dCurve::Success);
            ASSERT_EQ(curves[k]->V3dCurve::Segment(g, tol, false), V3dCurve::Success);
            EXPECT_EQ(t, g) << k << " " << tol;
        }
    }
}

TEST(V3dCurveNurbsPlusSegment, ObjectThatIsNotValidAndRefusedTolerances) {
    V3dCurveNurbsPlus c;
    std::vector<double> t{0.2, 0.4}, kept = t;
    EXPECT_EQ(c.Segment(t, 1e-3, false), V3dCurve::Success);
    EXPECT_TRUE(t.empty());
    c = Make(Line({0, 0.5, 2.5, 3}), {0, 0, 0, 0, 1, 1, 1, 1}, 4);
    for (double tol : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(c.Segment(kept, tol, false), V3dCurve::Failure);
        EXPECT_EQ(kept, (std::vector<double>{0.2, 0.4}));
    }
}

TEST(V3dCurveNurbsPlusSegment, UnclampedCurveIsClampedInPlace) {
    const V3dCurveNurbsPlus c =
        Make({{0, 0, 0, 1}, {1, 2, 0, 1}, {3, 2, 0, 1}, {4, 0, 0, 1}}, {0, 1, 2, 3, 4, 5, 6}, 3);
    EXPECT_FALSE(c.IsClamped());
    P3 before, after;
    c.EvaluatePosition(before, 2.7);
    std::vector<double> t;
    EXPECT_EQ(c.Segment(t, 1e-3, false), V3dCurve::Success);
    EXPECT_TRUE(c.IsClamped());
    EXPECT_EQ(c.GetKnots(), (std::vector<double>{2, 2, 2, 3, 4, 4, 4}));
    c.EvaluatePosition(after, 2.7);
    EXPECT_LT(VelSDK::Math::Distance(after, before), 1e-14);
}

TEST(V3dCurveNurbsPlusSegment, SubdivisionStopsAtTheResolutionOfDoubles) {
    // A wild cubic over a range of four steps of doubles: halving ends there.
    const double e = DBL_EPSILON;
    const V3dCurveNurbsPlus c = Make({{0, 0, 0, 1}, {1e6, -1e6, 0, 1}, {-1e6, 1e6, 3, 1}, {1, 1, 1, 1}},
                                     {1, 1, 1, 1, 1 + 4 * e, 1 + 4 * e, 1 + 4 * e, 1 + 4 * e}, 4);
    std::vector<double> t;
    EXPECT_EQ(c.Segment(t, 1e-9, false), V3dCurve::Success);
    EXPECT_EQ(t, (std::vector<double>{1, 1 + e, 1 + 2 * e, 1 + 3 * e, 1 + 4 * e}));
    // Infinite and NaN coordinates, inner or last, are not subdivided.
    for (std::size_t k : {1u, 3u}) {
        std::vector<P4> cps{{0, 0, 0, 1}, {0, 1, 0, 1}, {1, 1, 1, 1}, {1, 0, 1, 1}};
        cps[k][0] = std::numeric_limits<double>::infinity();
        EXPECT_EQ(Make(cps, {0, 0, 0, 0, 1, 1, 1, 1}, 4).Segment(t, 1e-9, false), V3dCurve::Success);
        EXPECT_LE(t.size(), 3u) << k;
    }
}

TEST(V3dCurveNurbsPlusSegmentMinimal, ThreeSamplesPerSpanAndTheEnd) {
    V3dCurveNurbsPlus c = Make({{0, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 0, 1}, {3, 0, 0, 1}}, {0, 0, 0, 0.5, 1, 1, 1}, 3);
    std::vector<double> s{-9.0};
    V3dCurveTestAccess::SegmentMinimal(c, s);
    const double h = 0.5 / 3.0;
    EXPECT_EQ(s, (std::vector<double>{-9.0, 0.0, h, h + h, 0.5, 0.5 + h, h + h + 0.5, 1.0}));
    // A span reaching past the end of the range is still sampled at its thirds.
    s.clear();
    c.SetMaxParameter(0.25);
    V3dCurveTestAccess::SegmentMinimal(c, s);
    EXPECT_EQ(s, (std::vector<double>{0.0, h, h + h, 0.25}));
    c.Invalidate();  // not valid: nothing is appended
    V3dCurveTestAccess::SegmentMinimal(c, s);
    EXPECT_EQ(s, (std::vector<double>{0.0, h, h + h, 0.25}));
}

}  // namespace
