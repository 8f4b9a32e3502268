// Hostile input for the curve framework (V3dCurve through V3dCurveNurbsPlus): default-
// constructed, moved-from, invalidated and failed objects; objects made valid by Reset with
// malformed knots and control points (what a reader may hand over); projection, distance,
// splitting and segmentation at hostile parameters and tolerances. Under AddressSanitizer and
// UndefinedBehaviorSanitizer every call must stay inside its buffers, terminate and allocate
// in proportion to its input, and answer with a documented result code. (Fits of hostile
// points under hostile settings: the fuzz target fuzz_curve_fit and tests/curve.)
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"
#include "support/CurveTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using hostile::kInf;
using hostile::kNaN;
using hostile::Same;
using RCode = V3dCurve::RCode;

namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

std::vector<P3> Helix(std::size_t n) {
    std::vector<P3> q;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = 0.6 * static_cast<double>(i);
        q.push_back(P3{std::cos(a), std::sin(a), 0.1 * a});
    }
    return q;
}

V3dCurveNurbsPlus Fitted(bool closed, unsigned char order = 4) {
    V3dCurveNurbsPlus c;
    c.SetOrder(order);
    EXPECT_EQ(c.Fit(Helix(9), closed), V3dCurve::Success);
    return c;
}

// Segments; a list that would pass the (lowered) limit is refused with std::length_error and
// left as given, which also counts as an end. Returns the size reached, 0 when refused.
template <class List, class Call>
std::size_t SegmentedSize(List& list, Call&& call) {
    const List given = list;
    try {
        EXPECT_EQ(call(), V3dCurve::Success);
        return list.size();
    } catch (const std::length_error&) {
        EXPECT_TRUE(hostile::Same(list, given));
        return 0;
    }
}

// Every const member of the object, with ordinary and hostile arguments. Returns nothing: the
// checks are the sanitizers', the ceiling's and the result-code ones below. A curve of high
// degree gets fewer projections (each costs up to 3 x 30 x 52 evaluations).
void ExerciseConstMembers(const V3dCurveNurbsPlus& c) {
    const bool light = c.GetOrder() > 8;
    const bool valid = c.IsValid();
    (void)c.GetFirstPoint();
    (void)c.GetLastPoint();
    (void)c.GetNumberControlPoints();
    (void)c.IsClamped();
    // Indices beyond the lists answer NaN instead of reading past their ends.
    for (std::size_t index : {c.GetControlPoints().size(), c.GetControlPoints().size() + 1000, kMaxSize}) {
        const P4& P = c.GetControlPoint(index);
        EXPECT_TRUE(std::isnan(P[0]) && std::isnan(P[3]));
    }
    for (std::size_t index : {c.GetKnots().size(), kMaxSize}) EXPECT_TRUE(std::isnan(c.GetKnot(index)));
    if (valid && !c.GetKnots().empty()) {
        EXPECT_TRUE(Same(c.GetKnot(0), c.GetKnots()[0]));
        EXPECT_TRUE(Same(c.GetControlPoint(0), c.GetControlPoints()[0]));
    }
    if (!valid) {
        EXPECT_TRUE(std::isnan(c.GetKnot(0)));
        EXPECT_EQ(c.GetNumberKnots(), 0u);
        EXPECT_FALSE(c.IsClamped());
        EXPECT_TRUE(Same(c.GetFirstPoint(), P3{0, 0, 0}));
    }
    std::vector<double> ts = hostile::Numbers();
    ts.push_back(c.GetMinParameter());
    ts.push_back(c.GetMaxParameter());
    for (double t : ts) {
        P3 p{7, 7, 7}, d1{7, 7, 7}, d2{7, 7, 7};
        const RCode r[] = {c.EvaluatePosition(p, t), c.EvaluateSpeed(p, d1, t), c.EvaluateAcceleration(p, d1, d2, t)};
        EXPECT_EQ(r[0], valid ? V3dCurve::Success : V3dCurve::Failure);
        EXPECT_EQ(r[2], r[0]);
        if (!valid) {
            EXPECT_EQ(r[1], V3dCurve::Failure);
            EXPECT_TRUE(Same(p, P3{7, 7, 7}) && Same(d2, P3{7, 7, 7}));  // outputs untouched
        }
    }
    const std::vector<P3> queries = {{0, 0, 0},        {1, 1, 1},          {kNaN, 0, 0},
                                     {kInf, 0, -kInf}, {1e300, -1e300, 0}, {5e-324, 0, 0}};
    for (const P3& q : queries) {
        if (light && q[0] != 1.0) continue;
        for (double tol : {1e-9, 0.0, -1.0, kNaN, kInf, 5e-324}) {
            for (double start : {0.5, kNaN, kInf, -1e300}) {
                for (bool useStart : {false, true}) {
                    double t = start;
                    const RCode r = c.ProjectPoint(t, q, tol, useStart);
                    EXPECT_TRUE(r == V3dCurve::Success || r == V3dCurve::Failure);
                    if (r == V3dCurve::Failure && !useStart) {
                        EXPECT_TRUE(Same(t, start));  // written only by a converged projection
                    }
                }
            }
            double t = 0.25;
            (void)c.Distance(q, tol, t);
            (void)c.Distance(q, tol);
        }
    }
    std::vector<double> params;
    c.PointsToParameters(params, queries, 1e-9);
    EXPECT_EQ(params.size(), queries.size());
    std::vector<P3> points;
    c.ParametersToPoints(points, ts);
    EXPECT_EQ(points.size(), ts.size());
    // Splitting at hostile parameters: refused with the targets untouched, or two valid, open
    // pieces.
    for (double t : ts) {
        V3dCurveNurbsPlus first, second;
        first.SetOrder(9);
        const RCode r = c.Split(first, second, t);
        if (r == V3dCurve::Failure) {
            EXPECT_FALSE(first.IsValid());
            EXPECT_EQ(first.GetOrder(), 9);
            continue;
        }
        ASSERT_EQ(r, V3dCurve::Success);
        EXPECT_TRUE(valid);
        EXPECT_TRUE(first.IsValid() && second.IsValid());
        EXPECT_FALSE(first.IsClosedLoop() || second.IsClosedLoop());
        point<double, 3> p{};
        (void)first.EvaluatePosition(p, 0.5);
        std::vector<double> s;
        SegmentedSize(s, [&] { return first.Segment(s, 1e-3, false); });
        SegmentedSize(s, [&] { return second.Segment(s, 1e-3, false); });
    }
}

// Segmentation with ordinary and refused tolerances; on a copy, since it may clamp the held
// curve in place.
void ExerciseSegmentation(const V3dCurveNurbsPlus& original) {
    V3dCurveNurbsPlus c(original);
    for (double tol : {0.0, -1.0, kNaN, kInf, -kInf}) {
        std::vector<double> list = {0.25, 0.5};
        EXPECT_EQ(c.Segment(list, tol, true), V3dCurve::Failure);
        EXPECT_EQ(list, (std::vector<double>{0.25, 0.5}));
        std::vector<P3> points = {P3{1, 2, 3}};
        EXPECT_EQ(c.Segment(points, tol), V3dCurve::Failure);
        EXPECT_EQ(points.size(), 1u);
    }
    for (double tol : {1e-3, 1.0, 1e300, DBL_MAX}) {
        std::vector<double> list;
        SegmentedSize(list, [&] { return c.Segment(list, tol, false); });
        if (!c.IsValid()) {
            EXPECT_TRUE(list.empty());
        }
        // Hostile break values: unsorted, NaN, infinite, outside the range.
        std::vector<double> breaks = {0.75, kNaN, 0.25, kInf, -1e300, 0.5, 0.5, 5e-324};
        SegmentedSize(breaks, [&] { return c.Segment(breaks, tol, true); });
        std::vector<P3> points;
        SegmentedSize(points, [&] { return c.Segment(points, tol); });
    }
}

}  // namespace

// Every member on every object of a table: objects that are not valid (fresh, invalidated,
// after a failed fit, moved from), objects that Reset accepted from malformed data a reader
// may hand over (only the counts are checked), and the pieces of cuts just inside the range.
TEST(HostileCurveFramework, EveryMemberOnEveryCase) {
    const std::vector<P4> five = {{0, 0, 0, 1}, {1, 1, 0, 1}, {2, 0, 1, 1}, {3, 1, 0, 1}, {4, 0, 0, 1}};
    std::vector<std::pair<std::string, V3dCurveNurbsPlus>> objects;
    objects.emplace_back("fresh", V3dCurveNurbsPlus());
    objects.emplace_back("invalidated", Fitted(false));
    objects.back().second.Invalidate();
    objects.emplace_back("failed fit", Fitted(false));
    EXPECT_EQ(objects.back().second.Fit(Helix(2), false), V3dCurve::Failure);  // fewer points than the order
    V3dCurveNurbsPlus source = Fitted(true), assignedFrom = Fitted(false), assignee;
    V3dCurveNurbsPlus taker(std::move(source));
    assignee = std::move(assignedFrom);
    objects.emplace_back("moved from", V3dCurveNurbsPlus(source));
    // Refused: order below 2, fewer points than the order, too few knots.
    V3dCurveNurbsPlus refused;
    EXPECT_EQ(refused.Reset(five, {0, 0, 0, 1, 1, 1}, 1, false), V3dCurve::Failure);
    EXPECT_EQ(refused.Reset(five, std::vector<double>(255 + 5, 0.0), 255, false), V3dCurve::Failure);
    EXPECT_EQ(refused.Reset(five, {0, 0, 0, 1, 1, 1}, 3, false), V3dCurve::Failure);
    EXPECT_EQ(refused.Reset({}, {}, 2, false), V3dCurve::Failure);
    EXPECT_FALSE(refused.IsValid());
    struct Data {
        std::string name;
        std::vector<P4> points;
        std::vector<double> knots;
        unsigned char order;
    };
    std::vector<Data> data = {
        {"NaN knots", five, {0, 0, 0, kNaN, 0.5, 1, 1, 1}, 3},
        {"decreasing knots", five, {1, 1, 1, 0.6, 0.4, 0, 0, 0}, 3},
        {"equal knots", five, std::vector<double>(8, 0.5), 3},
        {"infinite knots", five, {-kInf, -kInf, -kInf, 0, 1, kInf, kInf, kInf}, 3},
        {"unclamped", five, {0, 1, 2, 3, 4, 5, 6, 7}, 3},
        {"order 5 (generic segmentation)", five, {0, 0, 0, 0, 0, 1, 1, 1, 1, 1}, 5},
        {"zero weights",
         {{0, 0, 0, 0}, {1, 1, 0, 0}, {2, 0, 1, 0}, {3, 1, 0, 0}, {4, 0, 0, 0}},
         {0, 0, 0, 0.3, 0.6, 1, 1, 1},
         3},
        {"NaN and infinite points",
         {{kNaN, 0, 0, 1}, {1, kInf, 0, 1}, {2, 0, -kInf, 1}, {3, 1, 0, kNaN}, {4, 0, 0, 1}},
         {0, 0, 0, 0.3, 0.6, 1, 1, 1},
         3},
        {"extreme points",
         {{DBL_MAX, 0, 0, 1}, {-DBL_MAX, DBL_MAX, 0, 1}, {DBL_MAX, 0, -DBL_MAX, 1}, {0, 0, 0, 1}, {1, 1, 1, 1}},
         {0, 0, 0, 0.3, 0.6, 1, 1, 1},
         3},
        {"degree 30", std::vector<P4>(40, P4{1, 2, 3, 1}), VelSDK::NURBS::UniformKnots(71, 30), 31},
    };
    for (const Data& d : data)
        for (bool closed : {false, true}) {
            V3dCurveNurbsPlus r;
            ASSERT_EQ(r.Reset(d.points, d.knots, d.order, closed), V3dCurve::Success) << d.name;
            EXPECT_EQ(r.GetNumberControlPoints(), d.points.size());
            objects.emplace_back(d.name + (closed ? ", closed" : ""), r);
        }
    for (bool closed : {false, true})
        for (double t : {1e-300, 5e-324, DBL_EPSILON, 1.0 - DBL_EPSILON / 2}) {
            V3dCurveNurbsPlus first, second;
            if (Fitted(closed).Split(first, second, t) != V3dCurve::Success) continue;
            objects.emplace_back("first piece", first);
            objects.emplace_back("second piece", second);
        }
    for (const auto& [name, c] : objects) {
        SCOPED_TRACE(name);
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        ExerciseConstMembers(c);
        ExerciseSegmentation(c);
        // Equal to a copy, unless a NaN (which equals nothing) is held.
        bool hasNaN = false;
        for (double k : c.GetKnots()) hasNaN = hasNaN || std::isnan(k);
        for (const P4& P : c.GetControlPoints())
            for (int i = 0; i < 4; ++i) hasNaN = hasNaN || std::isnan(P[i]);
        EXPECT_EQ(c == V3dCurveNurbsPlus(c), !hasNaN);
        V3dCurveNurbsPlus copy(c);
        V3dCurveNurbsPlus& self = copy;
        copy = self;
        copy = std::move(self);
        EXPECT_EQ(copy.GetNumberKnots(), c.GetNumberKnots());
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
    // The moved-from objects take a new fit; the objects that took them are valid.
    source.SetNumberControlPoints(0);  // the count of the closed fit it was moved from
    EXPECT_EQ(source.Fit(Helix(6), false), V3dCurve::Success);
    EXPECT_EQ(assignedFrom.Reset({P4{0, 0, 0, 1}, P4{1, 0, 0, 1}}, {0, 0, 1, 1}, 2, false), V3dCurve::Success);
    EXPECT_TRUE(taker.IsValid() && assignee.IsValid());
    // The largest order: evaluation, a projection and a split.
    V3dCurveNurbsPlus r;
    std::vector<P4> points;
    for (int i = 0; i < 255; ++i) points.push_back(P4{double(i), std::sin(0.1 * i), 0.0, 1.0});
    ASSERT_EQ(r.Reset(points, VelSDK::NURBS::UniformKnots(510, 254), 255, false), V3dCurve::Success);
    P3 p{}, d1{}, d2{};
    EXPECT_EQ(r.EvaluateAcceleration(p, d1, d2, 0.5), V3dCurve::Success);
    EXPECT_TRUE(hostile::AllFinite(p));
    double t = 0.5;
    (void)r.ProjectPoint(t, P3{100, 0, 1}, 1e-9, true);
    V3dCurveNurbsPlus a, b;
    EXPECT_EQ(r.Split(a, b, 0.25), V3dCurve::Success);
}

// A curve given by a formula: a unit circle around (10^6, 0, 0) over [0, 1], sampled at its
// ends and middle.
class FarCircle : public V3dCurve {
public:
    RCode EvaluatePosition(P3& p, double t) const override {
        const double a = 2.0 * M_PI * t;
        p = P3{1e6 + std::cos(a), std::sin(a), 0.0};
        return Success;
    }
    RCode EvaluateSpeed(P3& p, P3& d, double t) const override {
        EvaluatePosition(p, t);
        const double a = 2.0 * M_PI * t;
        d = P3{-2.0 * M_PI * std::sin(a), 2.0 * M_PI * std::cos(a), 0.0};
        return Success;
    }
    RCode EvaluateAcceleration(P3& p, P3& d, P3& dd, double t) const override {
        EvaluateSpeed(p, d, t);
        dd = P3{1e6 - p[0], -p[1], 0.0} * (4.0 * M_PI * M_PI);
        return Success;
    }

private:
    void _SegmentMinimal(std::vector<double>& s) const override { s.insert(s.end(), {0.0, 0.5, 1.0}); }
    RCode _Fit(const std::vector<P3>&) override { return Failure; }
};

TEST(HostileCurveFramework, SegmentationWithTolerancesBelowTheRoundingNoise) {
    // A positive tolerance below the rounding noise of the positions (16 units in the last
    // place of their largest coordinate, 1.9e-9 at 10^6) segments as that noise decides: every
    // such tolerance gives the same list, in time and memory that the curve's shape decides
    // instead of endless halving down to the bits of the parameter. A small helix 10^6 away
    // keeps the lists short.
    for (bool closed : {false, true}) {
        for (unsigned char order : {3, 4, 6}) {
            SCOPED_TRACE(std::to_string(order) + (closed ? " closed" : " open"));
            V3dCurveNurbsPlus c;
            c.SetOrder(order);
            std::vector<P3> far = Helix(9);
            for (P3& q : far) q = q * 1e-3 + P3{1e6, -5e5, 2e5};
            ASSERT_EQ(c.Fit(far, closed), V3dCurve::Success);
            hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
            std::vector<double> belowNoise;
            ASSERT_EQ(c.Segment(belowNoise, 1e-15, false), V3dCurve::Success);
            EXPECT_GT(belowNoise.size(), 100u);
            EXPECT_LT(belowNoise.size(), 100000u);
            for (double tol : {1e-30, 1e-300, 5e-324}) {
                std::vector<double> list;
                EXPECT_EQ(c.Segment(list, tol, false), V3dCurve::Success) << tol;
                EXPECT_EQ(list, belowNoise) << tol;
            }
            EXPECT_EQ(ceiling.Refused(), 0u);
        }
    }
    {
        // Near the origin the noise is finer and the list longer than the (lowered) limit:
        // refused, the list left as given, the memory bounded.
        const V3dCurveNurbsPlus c = Fitted(false);
        hostile::Ceiling ceiling(hostile::kSegmentationCeiling);
        std::vector<double> list = {42.0};
        EXPECT_EQ(SegmentedSize(list, [&] { return c.Segment(list, 1e-300, false); }), 0u);
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
    {
        // The generic segmentation of any curve stops halving at the noise of its positions.
        const FarCircle circle;
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        for (double tol : {1e-300, 5e-324}) {
            std::vector<double> list;
            EXPECT_EQ(circle.Segment(list, tol, false), V3dCurve::Success);
            EXPECT_GT(list.size(), 1000u);
            EXPECT_LE(list.size(), std::size_t{1} << 20);
        }
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
}

TEST(HostileCurveFramework, SegmentationOfRangesFarBeyondTheKnots) {
    // A range (or a knot) of 1e100 makes the segmentation extrapolate a polynomial over a
    // hundred orders of magnitude. The list it would need is refused beyond the limit
    // (std::length_error, list left as given); either way the memory stays in proportion (here:
    // no single block above 32 MiB at the lowered limit of 2^20 parameters).
    const std::size_t kLimit = std::size_t{1} << 20;
    using hostile::kSegmentationCeiling;
    for (bool closed : {false, true}) {
        V3dCurveNurbsPlus c = Fitted(closed);
        c.SetMaxParameter(1e100);
        hostile::Ceiling ceiling(kSegmentationCeiling);
        std::vector<double> list = {42.0};
        EXPECT_LE(SegmentedSize(list, [&] { return c.Segment(list, 1e-3, false); }), kLimit);
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
    {
        FarCircle circle;
        hostile::Ceiling ceiling(kSegmentationCeiling);
        std::vector<double> list = {-1e100, 1e100};
        EXPECT_EQ(SegmentedSize(list, [&] { return circle.Segment(list, 1e-3, true); }), 0u);
        std::vector<P3> points = {P3{1, 2, 3}};
        EXPECT_EQ(circle.Segment(points, 1e-300), V3dCurve::Success);  // from the samples: bounded
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
    {
        // The same limit on the Bezier path: an open cubic from a record whose range is huge.
        V3dCurveNurbsPlus c;
        ASSERT_EQ(c.Reset({P4{0, 0, 0, 1}, P4{1, 3, 0, 1}, P4{2, -3, 0, 1}, P4{3, 0, 0, 1}},
                          {-1e100, -1e100, -1e100, -1e100, 1e100, 1e100, 1e100, 1e100}, 4, false),
                  V3dCurve::Success);
        hostile::Ceiling ceiling(kSegmentationCeiling);
        std::vector<double> list;
        EXPECT_LE(SegmentedSize(list, [&] { return c.Segment(list, 1e-300, false); }), kLimit);
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
}
