// Batch calls: item i is bit for bit the single call on item i for 1, 2 and 7 threads (with
// item counts that leave uneven chunks), and a bad item fails alone with its reason.
#include <VelSDK/Nurbs.h>

#include "support/ReferenceBSpline.h"
#include "support/ReferenceSurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace VelSDK::Batch;
using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;

namespace {

using P3 = point<double, 3>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Thread counts of every comparison: the calling thread alone, two, and more threads than cores.
const std::size_t kThreads[] = {1, 2, 7};

template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

bool SameCurve(const V3dCurveNurbsPlus& a, const V3dCurveNurbsPlus& b) {
    return a.IsValid() == b.IsValid() && a.GetOrder() == b.GetOrder() && a.IsClosedLoop() == b.IsClosedLoop() &&
           a.GetNumberControlPoints() == b.GetNumberControlPoints() &&
           SameBits(a.GetControlPoints(), b.GetControlPoints()) && SameBits(a.GetKnots(), b.GetKnots());
}

bool SameCurve(const V3dNurbsCurve& a, const V3dNurbsCurve& b) {
    return a.GetDegree() == b.GetDegree() && SameBits(a.GetControlPoints(), b.GetControlPoints()) &&
           SameBits(a.GetKnots(), b.GetKnots());
}

// A wandering noisy track of n points (a different one per seed).
std::vector<P3> Track(std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.02);
    std::vector<P3> q;
    double heading = 0.3 * seed;
    P3 at{0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < n; ++i) {
        heading += 0.2 * std::sin(0.37 * static_cast<double>(i) + seed);
        at = P3{at[0] + std::cos(heading), at[1] + std::sin(heading), at[2] + 0.1 * std::cos(0.5 * heading)};
        q.push_back(P3{at[0] + noise(rng), at[1] + noise(rng), at[2] + noise(rng)});
    }
    return q;
}

// 29 lists (uneven chunks on 2 and 7 threads) of 3 to 80 points, with bad ones between good
// ones; closed[i] alternates.
struct Lists {
    std::vector<std::vector<P3>> points;
    std::vector<bool> closed;
    std::map<std::size_t, std::string> bad;  // index -> error of the bad items
};

Lists MakeLists() {
    Lists l;
    for (unsigned i = 0; i < 29; ++i) {
        l.points.push_back(Track(4 + (i * 37) % 77, i));
        l.closed.push_back(i % 3 == 1);
    }
    l.points[3] = Track(3, 99);  // fewer than the order 4
    l.bad[3] = "3 points are fewer than the order 4";
    l.points[8][11] = l.points[8][10];  // coincident consecutive points
    l.bad[8] = "points 10 and 11 lie closer than 2^-26";
    l.points[13][2][1] = kNaN;
    l.bad[13] = "point 2 is not finite";
    l.points[20].back()[2] = kInf;
    l.bad[20] = "point " + std::to_string(l.points[20].size() - 1) + " is not finite";
    l.points[27].clear();
    l.bad[27] = "0 points are fewer than the order 4";
    return l;
}

V3dCurveNurbsPlus Prototype() {
    V3dCurveNurbsPlus proto;
    proto.SetOrder(4);
    return proto;
}

// Item i is the single fit of list i for every thread count and every overload; a bad list
// fails alone with its reason; measured fits of good lists meet their points.
TEST(BatchFit, EveryItemIsTheSingleFitAndBadListsFailAlone) {
    const Lists l = MakeLists();
    const V3dCurveNurbsPlus proto = Prototype();
    for (std::size_t threads : kThreads) {
        const std::vector<FitResult> r = FitMany(l.points, l.closed, proto, threads, true);
        ASSERT_EQ(r.size(), l.points.size());
        for (std::size_t i = 0; i < l.points.size(); ++i) {
            SCOPED_TRACE("item " + std::to_string(i) + ", threads " + std::to_string(threads));
            if (l.bad.count(i)) {
                EXPECT_NE(r[i].code, V3dCurve::Success);
                EXPECT_FALSE(r[i].curve.IsValid());
                EXPECT_TRUE(std::isnan(r[i].maxDistance));
                if (r[i].error.find("finite") != std::string::npos) continue;  // refused up front
            } else {
                EXPECT_TRUE(r[i].error.empty());
                // Open and closed fits interpolate: every data point lies on the curve.
                EXPECT_LT(r[i].maxDistance, 1e-9);
                EXPECT_GE(r[i].maxDistance, 0.0);
            }
            V3dCurveNurbsPlus single(proto);
            std::vector<double> params;
            EXPECT_EQ(r[i].code, single.Fit(params, l.points[i], l.closed[i]));
            EXPECT_TRUE(SameCurve(r[i].curve, single));
            EXPECT_TRUE(SameBits(r[i].parameters, params));
        }
        for (const auto& b : l.bad) EXPECT_EQ(r[b.first].error, b.second) << b.first;
        EXPECT_EQ(r[8].code, V3dCurve::CoincidentPoints);
    }
    // The other overloads: views of the same lists (plus a null list), one flag for all lists.
    std::vector<PointList> views;
    for (const auto& q : l.points) views.push_back(PointList{q.empty() ? nullptr : q[0].data(), q.size()});
    views.push_back(PointList{nullptr, 5});
    std::vector<bool> closed = l.closed;
    closed.push_back(false);
    const std::vector<FitResult> a = FitMany(l.points, l.closed, proto, 7);
    const std::vector<FitResult> b = FitMany(views, closed, proto, 7);
    const std::vector<FitResult> open = FitMany(l.points, false, proto, 7);
    const std::vector<FitResult> openFlags = FitMany(l.points, std::vector<bool>(l.points.size(), false), proto, 1);
    ASSERT_EQ(b.size(), a.size() + 1);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_TRUE(std::isnan(a[i].maxDistance)) << i;  // not measured
        EXPECT_TRUE(SameCurve(a[i].curve, b[i].curve)) << i;
        EXPECT_EQ(a[i].error, b[i].error) << i;
        EXPECT_TRUE(SameCurve(open[i].curve, openFlags[i].curve)) << i;
        EXPECT_TRUE(SameBits(open[i].parameters, openFlags[i].parameters)) << i;
    }
    EXPECT_EQ(b.back().error, "list 29 holds no data");
    EXPECT_THROW(FitMany(l.points, std::vector<bool>(3, false), proto, 2), std::invalid_argument);
    EXPECT_TRUE(FitMany(std::vector<std::vector<P3>>{}, false, proto, 0).empty());
}

TEST(BatchFit, MaxDistanceIsTheLargestDataDeviation) {
    // Open least squares with fewer control points than points does not interpolate: the
    // reported deviation must equal a distance computed here from the returned curve.
    std::vector<std::vector<P3>> lists{Track(40, 1), Track(55, 2)};
    V3dCurveNurbsPlus proto = Prototype();
    proto.SetParametrization(V3dCurveNurbsPlus::ParametrizationUniform);
    const std::vector<FitResult> r = FitMany(lists, true, proto, 2, true);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        ASSERT_EQ(r[i].code, V3dCurve::Success);
        const V3dNurbsCurve c(r[i].curve.GetControlPoints(), r[i].curve.GetKnots(), 3);
        double worst = 0.0;
        for (std::size_t j = 0; j < lists[i].size(); ++j)
            worst = std::max(worst, VelSDK::Math::Distance(lists[i][j], c.EvaluateAt(r[i].parameters[j])));
        EXPECT_EQ(r[i].maxDistance, worst);
    }
}

TEST(BatchFit, SettingsComeFromThePrototype) {
    // An open fit asking for a control-point count other than the point count fails with that
    // reason; order 2 fits polylines; a closed fit with uniform parameters.
    std::vector<std::vector<P3>> lists{Track(30, 5), Track(31, 6)};
    V3dCurveNurbsPlus proto;
    proto.SetOrder(4);
    proto.SetNumberControlPoints(30);
    const std::vector<FitResult> r = FitMany(lists, false, proto, 2);
    EXPECT_EQ(r[0].code, V3dCurve::Success);
    EXPECT_EQ(r[1].error, "an open fit needs 0 or 31 control points, not 30");
    proto.SetNumberControlPoints(0);
    proto.SetOrder(2);
    const std::vector<FitResult> lines = FitMany(lists, false, proto, 2);
    EXPECT_EQ(lines[1].curve.GetOrder(), 2);
    EXPECT_EQ(lines[1].curve.GetNumberControlPoints(), 31u);
    proto.SetOrder(1);
    EXPECT_EQ(FitMany(lists, false, proto, 2)[0].error, "the order 1 is below 2");
}

// --- Curve fits with given parameters and knots ---------------------------------------------

TEST(BatchCurveFit, InterpolationAndApproximationAreTheSingleCalls) {
    std::vector<InterpolationItem> interp;
    std::vector<ApproximationItem> approx;
    for (unsigned i = 0; i < 13; ++i) {
        const std::vector<P3> q = Track(6 + 3 * i, 40 + i);
        const std::vector<double> u = VelSDK::NURBS::UniformParameterization(q.size());
        const std::size_t p = 1 + i % 3;
        interp.push_back({q, u, VelSDK::NURBS::KnotAveraging(u, p), p, false});
        const std::size_t nc = q.size() / 2 + 2;
        approx.push_back({q, u, VelSDK::NURBS::UniformKnots(nc + p + 1, p), nc, p});
    }
    interp[4].knots.pop_back();
    interp[7].parameters[2] = kNaN;
    interp[9].points.resize(2);
    interp[9].degree = 3;
    approx[5].controlPoints = 1;
    approx[5].knots.assign(1 + approx[5].degree + 1, 0.0);
    approx[5].knots.back() = 1.0;
    approx[6].parameters.pop_back();
    approx[11].knots[0] = kInf;
    approx[12].points[1][0] = kNaN;
    const std::size_t k4 = interp[4].knots.size(), u6 = approx[6].parameters.size();
    const std::map<std::size_t, std::string> badI = {
        {4, std::to_string(k4) + " knots given, " + std::to_string(k4 + 1) + " needed (points + degree + 1)"},
        {7, "parameter 2 is not finite"},
        {9, "2 points are fewer than degree + 1"}};
    const std::map<std::size_t, std::string> badA = {
        {5, "fewer than 2 control points"},
        {6, std::to_string(u6) + " parameters for " + std::to_string(approx[6].points.size()) + " points"},
        {11, "knot 0 is not finite"},
        {12, "point 1 is not finite"}};

    for (std::size_t threads : kThreads) {
        const std::vector<CurveFitResult> ri = GlobalInterpolationMany(interp, threads);
        const std::vector<CurveFitResult> ra = LeastSquaresApproximationMany(approx, threads);
        for (std::size_t i = 0; i < interp.size(); ++i) {
            SCOPED_TRACE("item " + std::to_string(i) + ", threads " + std::to_string(threads));
            EXPECT_EQ(ri[i].ok, badI.count(i) == 0);
            EXPECT_EQ(ri[i].error, badI.count(i) ? badI.at(i) : "");
            EXPECT_EQ(ra[i].ok, badA.count(i) == 0);
            EXPECT_EQ(ra[i].error, badA.count(i) ? badA.at(i) : "");
            if (i != 7) {  // the items refused before the single call would see them
                V3dNurbsCurve c;
                EXPECT_EQ(ri[i].ok, c.GlobalInterpolation(interp[i].points, interp[i].parameters, interp[i].knots,
                                                          interp[i].degree, interp[i].closed));
                EXPECT_TRUE(SameCurve(ri[i].curve, c));
            }
            if (i != 11 && i != 12) {
                V3dNurbsCurve c;
                EXPECT_EQ(ra[i].ok, c.LeastSquaresApproximation(approx[i].points, approx[i].parameters, approx[i].knots,
                                                                approx[i].controlPoints, approx[i].degree));
                EXPECT_TRUE(SameCurve(ra[i].curve, c));
            }
        }
    }
}

TEST(BatchCurveFit, ClosedInterpolationAndSingularSystems) {
    // A closed interpolation through a wrapped loop, and a system made singular by repeating
    // one parameter for two different points.
    std::vector<P3> loop = Track(12, 3);
    const std::size_t p = 3;
    for (std::size_t i = 0; i < p; ++i) loop.push_back(loop[i]);
    std::vector<double> u(loop.size());
    for (std::size_t i = 0; i < u.size(); ++i) u[i] = static_cast<double>(i) / 12.0;
    InterpolationItem closed{loop, u, VelSDK::NURBS::KnotAveragingClosed(u, p), p, true};
    InterpolationItem singular = closed;
    singular.closed = false;
    singular.knots = VelSDK::NURBS::KnotAveraging(u, p);
    singular.parameters[5] = singular.parameters[4];
    InterpolationItem fewParameters = closed;  // a closed system has 12 unknowns (15 points - 3)
    fewParameters.parameters.resize(11);
    ApproximationItem lowCount{loop, u, {0, 0, 0, 0, 1, 1, 1}, 3, 3};  // 3 control points, degree 3
    const std::vector<CurveFitResult> few = GlobalInterpolationMany({fewParameters}, 1);
    EXPECT_EQ(few[0].error, "11 parameters are fewer than the 12 unknowns");
    EXPECT_EQ(LeastSquaresApproximationMany({lowCount}, 1)[0].error, "3 control points are not more than the degree 3");
    const std::vector<CurveFitResult> r = GlobalInterpolationMany({closed, singular}, 2);
    ASSERT_TRUE(r[0].ok) << r[0].error;
    for (std::size_t i = 0; i < 12; ++i)
        EXPECT_LT(VelSDK::Math::Distance(r[0].curve.EvaluateAt(u[i]), loop[i]), 1e-9) << i;
    EXPECT_FALSE(r[1].ok);
    EXPECT_EQ(r[1].error, "the interpolation system is singular");
}

// --- Segmentation ----------------------------------------------------------------------------

TEST(BatchSegment, EachItemSegmentsItsOwnCopy) {
    // Open fits, closed fits, and an open cubic with unclamped knots, which Segment clamps in
    // place: the batch must leave the caller's curve as it was.
    const Lists l = MakeLists();
    std::vector<FitResult> fits = FitMany(l.points, l.closed, Prototype(), 2);
    std::vector<V3dCurveNurbsPlus> curves;
    for (FitResult& f : fits) curves.push_back(std::move(f.curve));
    std::mt19937_64 rng(8);
    V3dCurveNurbsPlus unclamped;
    ASSERT_EQ(unclamped.Reset(VelSDK::NURBS::test::RandomControlPoints(rng, 9, false),
                              VelSDK::NURBS::test::RandomKnots(rng, 9, 3, false), 4, false),
              V3dCurve::Success);
    ASSERT_FALSE(unclamped.IsClamped());
    curves.push_back(unclamped);
    const std::vector<double> knotsBefore = curves.back().GetKnots();

    for (std::size_t threads : kThreads) {
        const std::vector<SegmentResult> r = SegmentMany(curves, 1e-3, threads);
        ASSERT_EQ(r.size(), curves.size());
        EXPECT_TRUE(SameBits(curves.back().GetKnots(), knotsBefore));
        for (std::size_t i = 0; i < curves.size(); ++i) {
            SCOPED_TRACE("item " + std::to_string(i) + ", threads " + std::to_string(threads));
            if (!curves[i].IsValid()) {
                EXPECT_EQ(r[i].code, V3dCurve::Failure);
                EXPECT_EQ(r[i].error, "the curve is not valid");
                continue;
            }
            V3dCurveNurbsPlus single(curves[i]);
            std::vector<double> params;
            EXPECT_EQ(r[i].code, single.Segment(params, 1e-3, false));
            EXPECT_TRUE(SameBits(r[i].parameters, params));
            EXPECT_TRUE(r[i].error.empty());
            // The polyline stays within the tolerance: curve points inside each piece lie near
            // its chord (distance to the segment, computed here).
            for (std::size_t j = 1; j < params.size(); ++j) {
                P3 a{}, b{}, m{};
                curves[i].EvaluatePosition(a, params[j - 1]);
                curves[i].EvaluatePosition(b, params[j]);
                for (double f : {0.25, 0.5, 0.75}) {
                    curves[i].EvaluatePosition(m, (1 - f) * params[j - 1] + f * params[j]);
                    const P3 d = b - a;
                    const double len2 = VelSDK::Math::Dot(d, d);
                    double s = len2 > 0 ? VelSDK::Math::Dot(m - a, d) / len2 : 0.0;
                    s = std::min(1.0, std::max(0.0, s));
                    EXPECT_LT(VelSDK::Math::Distance(m, a + s * d), 1.01e-3) << j;
                }
            }
        }
    }
    // The single call on the caller's object clamps it; the batch did not.
    std::vector<double> params;
    curves.back().Segment(params, 1e-3, false);
    EXPECT_TRUE(curves.back().IsClamped());
}

TEST(BatchSegment, NullCurvesAndBadTolerances) {
    const std::vector<FitResult> fits = FitMany({Track(20, 1)}, false, Prototype(), 1);
    const std::vector<const V3dCurveNurbsPlus*> curves{&fits[0].curve, nullptr};
    const std::vector<SegmentResult> r = SegmentMany(curves, 1e-2, 2);
    EXPECT_EQ(r[0].code, V3dCurve::Success);
    EXPECT_GE(r[0].parameters.size(), 2u);
    EXPECT_EQ(r[1].error, "no curve");
    for (double tol : {0.0, -1.0, kNaN, kInf}) {
        const std::vector<SegmentResult> bad = SegmentMany(curves, tol, 2);
        for (const SegmentResult& b : bad) {
            EXPECT_EQ(b.code, V3dCurve::Failure);
            EXPECT_EQ(b.error, "the tolerance must be a positive finite number");
            EXPECT_TRUE(b.parameters.empty());
        }
    }
}

// --- Evaluation ------------------------------------------------------------------------------

std::vector<double> Params(std::size_t n, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> uni(-0.1, 1.1);  // some outside the range
    std::vector<double> u(n);
    for (double& x : u) x = uni(rng);
    if (n > 3) u[3] = kNaN;
    return u;
}

TEST(BatchEvaluate, CurvePointsAndDerivativesAreTheSingleCalls) {
    std::mt19937_64 rng(11);
    for (const std::size_t p : {1u, 3u, 7u}) {
        const V3dNurbsCurve c(VelSDK::NURBS::test::RandomControlPoints(rng, 30, true),
                              VelSDK::NURBS::test::RandomKnots(rng, 30, p, p != 3), p);
        for (const std::size_t n : {0u, 1u, 1337u}) {
            const std::vector<double> u = Params(n, static_cast<unsigned>(n + p));
            std::vector<P3> points;
            std::vector<std::vector<P3>> ders;
            for (double x : u) {
                points.push_back(c.EvaluateAt(x));
                ders.push_back(c.DeriveAt(x, 2));
            }
            for (std::size_t threads : kThreads) {
                SCOPED_TRACE("degree " + std::to_string(p) + ", n " + std::to_string(n) + ", threads " +
                             std::to_string(threads));
                EXPECT_TRUE(SameBits(EvaluateMany(c, u, threads), points));
                const std::vector<std::vector<P3>> d = DeriveMany(c, u, 2, threads);
                ASSERT_EQ(d.size(), n);
                for (std::size_t i = 0; i < n; ++i) EXPECT_TRUE(SameBits(d[i], ders[i])) << i;
                std::vector<double> flat(9 * n + 1, 42.0);
                DeriveMany(c, u.data(), n, 2, flat.data(), threads);
                for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(std::memcmp(&flat[9 * i], ders[i].data(), 72), 0) << i;
                EXPECT_EQ(flat.back(), 42.0);  // nothing written past the items
                std::vector<double> xyz(3 * n + 1, 42.0);
                EvaluateMany(c, u.data(), n, xyz.data(), threads);
                EXPECT_TRUE(n == 0 || std::memcmp(xyz.data(), points.data(), 24 * n) == 0);
                EXPECT_EQ(xyz.back(), 42.0);
            }
        }
    }
}

TEST(BatchEvaluate, SurfacePointsAndDerivativesAreTheSingleCalls) {
    std::mt19937_64 rng(12);
    const V3dNurbsSurface s = VelSDK::NURBS::test::RandomSurface(rng, 7, 9, 3, 2, false, true);
    const std::size_t n = 501;
    const std::vector<double> u = Params(n, 1), v = Params(n, 2);
    std::vector<std::pair<double, double>> uv;
    std::vector<P3> points;
    std::vector<VMatrix<P3>> ders;
    for (std::size_t i = 0; i < n; ++i) {
        uv.emplace_back(u[i], v[i]);
        points.push_back(s.EvaluateAt(u[i], v[i]));
        ders.push_back(s.DeriveAt(u[i], v[i], 2));
    }
    for (std::size_t threads : kThreads) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        EXPECT_TRUE(SameBits(EvaluateMany(s, uv, threads), points));
        std::vector<double> xyz(3 * n);
        EvaluateMany(s, u.data(), v.data(), n, xyz.data(), threads);
        EXPECT_EQ(std::memcmp(xyz.data(), points.data(), 24 * n), 0);
        const std::vector<VMatrix<P3>> d = DeriveMany(s, uv, 2, threads);
        std::vector<double> flat(27 * n);
        DeriveMany(s, u.data(), v.data(), n, 2, flat.data(), threads);
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_TRUE(SameBits(d[i].Elements(), ders[i].Elements())) << i;
            EXPECT_EQ(d[i].ColumnCount(), 3u);
            EXPECT_EQ(std::memcmp(&flat[27 * i], ders[i].Elements().data(), 27 * sizeof(double)), 0) << i;
        }
    }
}

TEST(BatchEvaluate, ImpossibleOrderReachesTheCaller) {
    std::mt19937_64 rng(13);
    const V3dNurbsCurve c(VelSDK::NURBS::test::RandomControlPoints(rng, 6, false),
                          VelSDK::NURBS::test::RandomKnots(rng, 6, 2, true), 2);
    const std::vector<double> u(40, 0.5);
    for (std::size_t threads : kThreads)
        EXPECT_THROW(DeriveMany(c, u, std::numeric_limits<std::size_t>::max(), threads), std::length_error);
}

// --- Projection ------------------------------------------------------------------------------

TEST(BatchProject, CurveSurfaceAndFittedCurveAreTheSingleCalls) {
    std::mt19937_64 rng(14);
    const V3dNurbsCurve c(VelSDK::NURBS::test::RandomControlPoints(rng, 25, true),
                          VelSDK::NURBS::test::RandomKnots(rng, 25, 3, true), 3);
    const V3dNurbsSurface s = VelSDK::NURBS::test::RandomSurface(rng, 6, 6, 3, 3, true, false);
    const std::vector<FitResult> fit = FitMany({Track(40, 4)}, false, Prototype(), 1);
    const V3dCurveNurbsPlus& fc = fit[0].curve;
    std::uniform_real_distribution<double> uni(-1.0, 2.0);
    std::vector<P3> pts(97);
    for (P3& q : pts) q = P3{uni(rng), uni(rng), uni(rng)};
    pts[5] = P3{kNaN, 0.0, 0.0};
    std::vector<double> starts(pts.size());
    for (std::size_t i = 0; i < pts.size(); ++i) starts[i] = static_cast<double>(i) / 96.0;

    for (std::size_t threads : kThreads) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        const auto rc = ProjectMany(c, pts, 20, 1e-10, threads);
        const auto rs = ProjectMany(s, pts, 20, 1e-10, threads);
        const auto rf = ProjectPointMany(fc, pts, 1e-9, nullptr, threads);
        const auto rfs = ProjectPointMany(fc, pts, 1e-9, &starts, threads);
        for (std::size_t i = 0; i < pts.size(); ++i) {
            const auto ec = c.Project(pts[i], 20, 1e-10);
            const auto es = s.Project(pts[i], 20, 1e-10);
            EXPECT_EQ(std::memcmp(&rc[i].first, &ec.first, sizeof(P3)), 0) << i;
            EXPECT_EQ(std::memcmp(&rc[i].second, &ec.second, sizeof(double)), 0) << i;
            EXPECT_EQ(std::memcmp(&rs[i].first, &es.first, sizeof(P3)), 0) << i;
            EXPECT_EQ(std::memcmp(&rs[i].second, &es.second, sizeof(es.second)), 0) << i;
            double t = fc.GetMinParameter();
            EXPECT_EQ(rf[i].code, fc.ProjectPoint(t, pts[i], 1e-9, false)) << i;
            EXPECT_EQ(std::memcmp(&rf[i].t, &t, sizeof(double)), 0) << i;
            t = starts[i];
            EXPECT_EQ(rfs[i].code, fc.ProjectPoint(t, pts[i], 1e-9, true)) << i;
            EXPECT_EQ(std::memcmp(&rfs[i].t, &t, sizeof(double)), 0) << i;
        }
        EXPECT_EQ(rf[5].code, V3dCurve::Failure);
    }
    const std::vector<double> shortStarts(3, 0.0);
    EXPECT_THROW(ProjectPointMany(fc, pts, 1e-9, &shortStarts, 2), std::invalid_argument);
}

}  // namespace
