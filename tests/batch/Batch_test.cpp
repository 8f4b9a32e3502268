// Batch calls are the single calls item by item: one table over the entry points, each run on
// 1, 2 and 7 threads (item counts that leave uneven chunks), whose results must have the bytes
// of the single calls on each item, including the reasons a bad item fails alone; and an
// exception in a worker reaches the caller.
#include <VelSDK/Nurbs.h>

#include "math/ParallelFor.h"
#include "support/ReferenceBSpline.h"
#include "support/ReferenceSurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace VelSDK::Batch;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;
namespace T = VelSDK::NURBS::test;

namespace {

using P3 = VelSDK::Math::point<double, 3>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The bytes of results, appended in order: two results are the same when their bytes are.
struct Bytes {
    std::string s;
    template <typename V>
    Bytes& operator<<(const V& x) {
        return s.append(reinterpret_cast<const char*>(&x), sizeof x), *this;
    }
    template <typename V>
    Bytes& operator<<(const std::vector<V>& v) {
        for (const V& x : v) *this << x;
        return *this;
    }
    Bytes& operator<<(const std::string& e) { return s += e + '|', *this; }
    Bytes& operator<<(const V3dCurveNurbsPlus& c) { return *this << c.GetControlPoints() << c.GetKnots(); }
    Bytes& operator<<(const V3dNurbsCurve& c) { return *this << c.GetControlPoints() << c.GetKnots(); }
    Bytes& operator<<(const VelSDK::NURBS::VMatrix<P3>& m) { return *this << m.Elements(); }
    Bytes& operator<<(const ProjectPointResult& r) { return *this << r.code << r.t; }
};

// A noisy widening helix of n points (a different one per seed).
std::vector<P3> Track(std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<P3> q(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double a = 0.3 * static_cast<double>(i) + seed, r = 1.0 + 0.1 * static_cast<double>(i);
        q[i] = P3{r * std::cos(a) + noise(rng), r * std::sin(a) + noise(rng), 0.1 * a + noise(rng)};
    }
    return q;
}

V3dCurveNurbsPlus Prototype(unsigned char order = 4) {
    V3dCurveNurbsPlus p;
    p.SetOrder(order);
    return p;
}

Bytes manyBytes(const std::vector<FitResult>& results) {  // refused items have no curve
    Bytes b;
    for (const FitResult& r : results)
        (r.error.find("finite") == std::string::npos ? b << r.code << r.curve << r.parameters : b)
            << r.error << r.maxDistance;
    return b;
}

TEST(Batch, EveryEntryPointIsTheSingleCallOnEveryThreadCount) {
    // Point lists: open and closed, 4 to 80 points, bad lists between them.
    std::vector<std::vector<P3>> lists;
    std::vector<bool> closed;
    for (unsigned i = 0; i < 23; ++i) lists.push_back(Track(4 + (i * 37) % 77, i)), closed.push_back(i % 3 == 1);
    std::vector<std::string> bad(lists.size());  // why an item fails
    lists[3] = Track(3, 99), bad[3] = "3 points are fewer than the order 4";
    lists[8][11] = lists[8][10], bad[8] = "points 10 and 11 lie closer than 2^-26";
    lists[13][2][1] = kNaN, bad[13] = "point 2 is not finite";
    const V3dCurveNurbsPlus proto = Prototype();
    Bytes fits, segments;
    std::vector<V3dCurveNurbsPlus> curves;
    for (std::size_t i = 0; i < lists.size(); ++i) {
        V3dCurveNurbsPlus single(proto);
        std::vector<double> params, polyline;
        double worst = bad[i].empty() ? 0.0 : kNaN;  // the largest distance of a point, computed here
        if (i != 13) fits << single.Fit(params, lists[i], closed[i]) << single << params;  // 13 refused up front
        const V3dNurbsCurve fit(single.GetControlPoints(), single.GetKnots(), 3);
        for (std::size_t j = 0; j < params.size() && bad[i].empty(); ++j)
            worst = std::max(worst, VelSDK::Math::Distance(lists[i][j], fit.EvaluateAt(params[j])));
        fits << bad[i] << worst;
        curves.push_back(single);
        (single.IsValid() ? segments << single.Segment(polyline, 1e-3, false) << polyline
                          : segments << V3dCurve::Failure)
            << std::string(single.IsValid() ? "" : "the curve is not valid");
    }
    // An open cubic with unclamped knots, which Segment clamps in place (the batch must not).
    std::mt19937_64 rng(8);
    curves.emplace_back();
    ASSERT_EQ(curves.back().Reset(T::RandomControlPoints(rng, 9, false), T::RandomKnots(rng, 9, 3, false), 4, false),
              V3dCurve::Success);
    const std::vector<double> unclampedKnots = curves.back().GetKnots();
    std::vector<double> polyline;
    segments << V3dCurveNurbsPlus(curves.back()).Segment(polyline, 1e-3, false) << polyline << std::string();

    // Curve fits with given parameters and knots: a closed loop, the loop made singular, bad items.
    std::vector<InterpolationItem> interp;
    std::vector<ApproximationItem> approx;
    for (unsigned i = 0; i < 9; ++i) {
        const std::vector<P3> q = Track(6 + 3 * i, 40 + i);
        const std::vector<double> u = VelSDK::NURBS::UniformParameterization(q.size());
        const std::size_t p = 1 + i % 3, nc = q.size() / 2 + 2;
        interp.push_back({q, u, VelSDK::NURBS::KnotAveraging(u, p), p, false});
        approx.push_back({q, u, VelSDK::NURBS::UniformKnots(nc + p + 1, p), nc, p});
    }
    std::vector<P3> loop = Track(12, 3);
    loop.insert(loop.end(), loop.begin(), loop.begin() + 3);
    std::vector<double> u(loop.size());
    for (std::size_t i = 0; i < u.size(); ++i) u[i] = static_cast<double>(i) / 12.0;
    interp.push_back({loop, u, VelSDK::NURBS::KnotAveragingClosed(u, 3), 3, true});
    interp.push_back({loop, u, VelSDK::NURBS::KnotAveraging(u, 3), 3, false});
    interp.push_back(interp[9]);
    approx.push_back({loop, u, {0, 0, 0, 0, 1, 1, 1}, 3, 3});
    std::vector<std::string> badI(interp.size()), badA(approx.size());
    interp[4].knots.pop_back(), badI[4] = "20 knots given, 21 needed (points + degree + 1)";
    interp[7].parameters[2] = kNaN, badI[7] = "parameter 2 is not finite";
    interp[8].points.resize(2), badI[8] = "2 points are fewer than degree + 1";
    interp[10].parameters[5] = u[4], badI[10] = "the interpolation system is singular";
    interp[11].parameters.resize(11), badI[11] = "11 parameters are fewer than the 12 unknowns";
    approx[5] = {approx[5].points, approx[5].parameters, {0, 0, 0, 1}, 1, 2}, badA[5] = "fewer than 2 control points";
    approx[6].parameters.pop_back(), badA[6] = "23 parameters for 24 points";
    approx[7].knots[0] = std::numeric_limits<double>::infinity(), badA[7] = "knot 0 is not finite";
    approx[8].points[1][0] = kNaN, badA[8] = "point 1 is not finite";
    badA[9] = "3 control points are not more than the degree 3";
    Bytes interpolations, approximations;
    for (std::size_t i = 0; i < interp.size(); ++i) {
        V3dNurbsCurve c, d;
        const InterpolationItem& it = interp[i];
        if (i != 7)
            interpolations << c.GlobalInterpolation(it.points, it.parameters, it.knots, it.degree, it.closed) << c;
        interpolations << badI[i];
        if (i >= approx.size()) continue;
        const ApproximationItem& a = approx[i];
        if (i != 7 && i != 8)
            approximations << d.LeastSquaresApproximation(a.points, a.parameters, a.knots, a.controlPoints, a.degree)
                           << d;
        approximations << badA[i];
    }

    // Evaluation and projection: parameters partly outside the range and one NaN; random points.
    const V3dNurbsCurve c(T::RandomControlPoints(rng, 30, true), T::RandomKnots(rng, 30, 3, false), 3);
    const V3dNurbsSurface s = T::RandomSurface(rng, 7, 9, 3, 2, false, true);
    const V3dCurveNurbsPlus& fc = curves[1];
    const std::size_t n = 501;
    std::uniform_real_distribution<double> uni(-0.1, 1.1);
    std::vector<double> pu(n), pv(n);
    std::vector<std::pair<double, double>> uv(n);
    std::vector<P3> pts(n);
    for (std::size_t i = 0; i < n; ++i)
        pu[i] = uni(rng), pv[i] = uni(rng), pts[i] = P3{3 * uni(rng), uni(rng), uni(rng)};
    pu[3] = pts[5][0] = kNaN;
    for (std::size_t i = 0; i < n; ++i) uv[i] = {pu[i], pv[i]};
    Bytes ce, cd, se, sd, pc, ps, pf, pfs;
    for (std::size_t i = 0; i < n; ++i) {
        ce << c.EvaluateAt(pu[i]);
        cd << c.DeriveAt(pu[i], 2);
        se << s.EvaluateAt(pu[i], pv[i]);
        sd << s.DeriveAt(pu[i], pv[i], 2);
        double t = fc.GetMinParameter(), ts = pu[i];  // the parameters double as start values
        pc << c.Project(pts[i], 20, 1e-10);
        ps << s.Project(pts[i], 20, 1e-10);
        pf << fc.ProjectPoint(t, pts[i], 1e-9, false) << t;
        pfs << fc.ProjectPoint(ts, pts[i], 1e-9, true) << ts;
    }
    // The pointer forms write the same bytes as the vector forms.
    const Bytes curveBytes{ce.s + ce.s + cd.s + cd.s}, surfaceBytes{se.s + se.s + sd.s + sd.s},
        projections{pc.s + ps.s + pf.s + pfs.s};

    // The table: each entry point against the single calls' bytes.
    const auto fitBytes = [](const std::vector<CurveFitResult>& results) {
        Bytes b;
        for (const CurveFitResult& r : results)
            (r.error.find("finite") == std::string::npos ? b << r.ok << r.curve : b) << r.error;
        return b;
    };
    std::vector<PointList> views;  // the same lists seen through the pointer overload
    for (const auto& q : lists) views.push_back(PointList{q.empty() ? nullptr : q[0].data(), q.size()});
    std::vector<double> e3(3 * n), e9(9 * n), e27(27 * n);
    const std::vector<std::pair<const Bytes*, std::function<Bytes(std::size_t)>>> table = {
        {&fits, [&](std::size_t t) { return manyBytes(FitMany(lists, closed, proto, t, true)); }},
        {&fits, [&](std::size_t t) { return manyBytes(FitMany(views, closed, proto, t, true)); }},
        {&segments,
         [&](std::size_t t) {
             Bytes b;
             for (const SegmentResult& r : SegmentMany(curves, 1e-3, t)) b << r.code << r.parameters << r.error;
             EXPECT_EQ(curves.back().GetKnots(), unclampedKnots);
             return b;
         }},
        {&interpolations, [&](std::size_t t) { return fitBytes(GlobalInterpolationMany(interp, t)); }},
        {&approximations, [&](std::size_t t) { return fitBytes(LeastSquaresApproximationMany(approx, t)); }},
        {&curveBytes,
         [&](std::size_t t) {
             EvaluateMany(c, pu.data(), n, e3.data(), t);
             DeriveMany(c, pu.data(), n, 2, e9.data(), t);
             return Bytes() << EvaluateMany(c, pu, t) << e3 << DeriveMany(c, pu, 2, t) << e9;
         }},
        {&surfaceBytes,
         [&](std::size_t t) {
             EvaluateMany(s, pu.data(), pv.data(), n, e3.data(), t);
             DeriveMany(s, pu.data(), pv.data(), n, 2, e27.data(), t);
             return Bytes() << EvaluateMany(s, uv, t) << e3 << DeriveMany(s, uv, 2, t) << e27;
         }},
        {&projections,
         [&](std::size_t t) {
             return Bytes() << ProjectMany(c, pts, 20, 1e-10, t) << ProjectMany(s, pts, 20, 1e-10, t)
                            << ProjectPointMany(fc, pts, 1e-9, nullptr, t) << ProjectPointMany(fc, pts, 1e-9, &pu, t);
         }},
    };
    for (std::size_t threads : {1, 2, 7})
        for (std::size_t e = 0; e < table.size(); ++e)
            EXPECT_TRUE(table[e].second(threads).s == table[e].first->s) << "entry " << e << ", threads " << threads;
}

TEST(Batch, OverloadsMeasuresAndRefusals) {
    // One closed flag for all lists is a flag per list; a null list, a closed-flag count or a
    // start count that does not match, and a derivative order no buffer can hold are refused.
    const std::vector<std::vector<P3>> lists{Track(40, 1), Track(31, 6), Track(3, 2)};
    const std::vector<FitResult> a = FitMany(lists, true, Prototype(), 2);
    EXPECT_TRUE(manyBytes(a).s == manyBytes(FitMany(lists, std::vector<bool>(3, true), Prototype(), 2)).s);
    for (const FitResult& r : a) EXPECT_TRUE(std::isnan(r.maxDistance));  // not measured
    EXPECT_EQ(FitMany({PointList{nullptr, 5}}, {false}, Prototype(), 2)[0].error, "list 0 holds no data");
    EXPECT_THROW(FitMany(lists, std::vector<bool>(2, false), Prototype(), 2), std::invalid_argument);
    const std::vector<double> one(1, 0.0);
    EXPECT_THROW(ProjectPointMany(a[0].curve, lists[0], 1e-9, &one, 2), std::invalid_argument);
    const V3dNurbsCurve c(a[0].curve.GetControlPoints(), a[0].curve.GetKnots(), 3);
    for (std::size_t t : {1, 2, 7})
        EXPECT_THROW(DeriveMany(c, one, std::numeric_limits<std::size_t>::max(), t), std::length_error);
    // Order and control-point count come from the prototype, with their refusals.
    V3dCurveNurbsPlus proto = Prototype();
    proto.SetNumberControlPoints(40);
    EXPECT_EQ(FitMany(lists, false, proto, 2)[1].error, "an open fit needs 0 or 31 control points, not 40");
    EXPECT_EQ(FitMany(lists, false, Prototype(1), 2)[0].error, "the order 1 is below 2");
    // Segmentation refuses null curves and bad tolerances.
    const std::vector<const V3dCurveNurbsPlus*> some{&a[0].curve, nullptr};
    EXPECT_EQ(SegmentMany(some, 1e-2, 2)[1].error, "no curve");
    for (double tol : {0.0, kNaN})
        EXPECT_EQ(SegmentMany(some, tol, 2)[0].error, "the tolerance must be a positive finite number");
}

TEST(Batch, AThrowInAnyChunkReachesTheCaller) {
    const auto body = [](std::size_t b, std::size_t e) { b <= 5 && 5 < e ? throw std::runtime_error("5") : void(); };
    for (std::size_t threads : {1, 2, 7}) {
        EXPECT_THROW(VelSDK::Math::ParallelFor(50, threads, 1, body), std::runtime_error);  // claimed chunks
        EXPECT_THROW(VelSDK::Math::ParallelFor(100, threads, body), std::runtime_error);    // one chunk per thread
    }
}

}  // namespace
