// The documented answers of V3dNurbsCurve, V3dNurbsSurface and the knot-vector and parameter
// generators on hostile input, one sweep of members × a table of objects per class.
//
// Curves (the shared table of Hostile.h): default-constructed, short of knots or control
// points, with decreasing, NaN, infinite, huge or subnormal knots, zero, negative or NaN
// weights, degree 0, 30 and beyond the count, at NaN, infinite, signed-zero, huge and subnormal
// parameters: NaN where the curve cannot be evaluated, zero derivatives above the degree, finite
// values inside the range of a well-formed curve, refusals that leave the targets untouched, and
// length_error or bad_alloc for orders beyond memory. (Arbitrary curves of low degree: the fuzz
// target fuzz_curve_eval.)
//
// Surfaces: without columns, short of knots in either direction, with decreasing, NaN, infinite
// or subnormal knots, zero or NaN weights, degree 0 and 30 and degrees not below the counts:
// NaN where the surface cannot be evaluated, zero derivatives above the total order, finite
// values inside the ranges of a well-formed surface, the projection's point at its parameters.
// (Arbitrary surfaces: the fuzz target fuzz_surface.)
//
// Generators (their exact values and limits at ordinary sizes: tests/nurbs): degrees whose sums
// wrap give empty results, NaN, infinite and huge parameters keep the clamped ends of the
// averaged knots and go through the sums as plain arithmetic, and counts beyond memory fail
// loudly (bad_alloc, length_error).
//
// Hostile input for the analysis and editing functions, one table: every function on curves
// that CheckCurve refuses (default-constructed, short of knots, degree 0, 65 or p >= n, NaN,
// infinite or decreasing knots, empty or infinitely long ranges, zero, negative or NaN weights,
// NaN or overflowing points) answers InvalidGeometry; on curves it accepts with extreme but
// finite data, every hostile number as parameter, length, tolerance or slack gets a documented
// status and stays within the allocation ceiling. (tests/analysis relies on this sweep for
// broken curves; it checks the refusals of broken surfaces itself.)
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

using namespace VelSDK::NURBS;
using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;
using hostile::Clamped;
using hostile::kInf;
using hostile::kNaN;
using hostile::Line;
using hostile::Same;

namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

bool Unchanged(const V3dNurbsCurve& a, const V3dNurbsCurve& b) {
    return a.GetDegree() == b.GetDegree() && Same(a.GetKnots(), b.GetKnots()) &&
           Same(a.GetControlPoints(), b.GetControlPoints());
}

VMatrix<P4> Grid(std::size_t rows, std::size_t cols, double w = 1.0) {
    VMatrix<P4> g(rows, cols, P4{0, 0, 0, 1});
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < cols; ++j) g(i, j) = P4{w * i, w * j, w * std::sin(i + 2.0 * j), w};
    return g;
}

}  // namespace

TEST(HostileNurbsCurve, EveryMemberOnEveryCase) {
    using U = std::vector<double>;
    int index = 0;
    for (const auto& [c, wellFormed, checked] : hostile::Curves()) {
        SCOPED_TRACE(index++);
        const std::size_t n = c.GetControlPoints().size(), p = c.GetDegree();
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        EXPECT_TRUE((c.GetKnots().size() > p || std::isnan(c.GetMinParam())) &&
                    (c.GetKnots().size() > n || std::isnan(c.GetMaxParam())));
        // Evaluation reads control points s - p .. s and knots s - p .. s + p + 1; a curve
        // without them answers NaN everywhere.
        const bool evaluable = n != 0 && p < n && c.GetKnots().size() >= n + p + 1;
        U us = hostile::Numbers();
        us.insert(us.end(), c.GetKnots().begin(), c.GetKnots().end());
        for (double u : us) {
            const P4 h = c.EvaluateAtH(u);
            EXPECT_TRUE(Same(c.EvaluateAt(u), P3{h[0] / h[3], h[1] / h[3], h[2] / h[3]})) << u;
            EXPECT_TRUE(evaluable || (std::isnan(h[0]) && std::isnan(h[3]))) << u;
            const std::vector<P3> d = c.DeriveAt(u, 31);
            ASSERT_EQ(d.size(), 32u);
            EXPECT_TRUE(Same(c.DeriveAtH(u, 31)[0], h) && Same(d[0], c.EvaluateAt(u))) << u;
            for (std::size_t i = 0; i <= 31; ++i) {
                EXPECT_TRUE(!evaluable || i <= p || Same(d[i], P3{0, 0, 0})) << u << " order " << i;
                EXPECT_TRUE(!wellFormed || !(u >= c.GetMinParam() && u <= c.GetMaxParam()) || hostile::AllFinite(d[i]))
                    << u << " order " << i;
            }
            // Split: refused with the targets untouched, or two pieces that meet at the cut. A
            // cut within DBL_EPSILON above the range start leaves a left piece with fewer than
            // p + 1 control points (see the V3dNurbsCurve header).
            const V3dNurbsCurve sentinel({P4{9, 9, 9, 9}}, {7}, 5);
            V3dNurbsCurve left(sentinel), right(sentinel);
            if (!c.SplitAt(u, left, right)) {
                EXPECT_TRUE(Unchanged(left, sentinel) && Unchanged(right, sentinel)) << u;
                continue;
            }
            EXPECT_TRUE(c.GetMinParam() < u && u < c.GetMaxParam()) << u;
            EXPECT_EQ(right.GetKnots().size(), right.GetControlPoints().size() + p + 1) << u;
            if (wellFormed && u - c.GetMinParam() > DBL_EPSILON && p > 0) {
                ASSERT_GT(left.GetControlPoints().size(), p);
                EXPECT_TRUE(Same(left.GetControlPoints().back(), right.GetControlPoints().front())) << u;
            }
        }
        // Projection: the point returned is the curve point at the parameter returned.
        for (const P3& q : {P3{1, 2, 3}, P3{kNaN, 0, 0}, P3{kInf, -kInf, 0}, P3{DBL_MAX, 0, 0}})
            for (double tol : {1e-9, 0.0, kNaN, kInf}) {
                const auto r = c.Project(q, 100, tol);
                EXPECT_TRUE(Same(r.first, c.EvaluateAt(r.second))) << r.second;
                EXPECT_TRUE(!wellFormed || std::isnan(r.second) ||
                            (r.second >= c.GetKnots().front() && r.second <= c.GetKnots().back()));
            }
        // Knot insertion refines a valid curve by every value or leaves the curve as it was.
        const double lo = c.GetMinParam(), hi = c.GetMaxParam(), mid = 0.5 * (lo + hi);
        const std::vector<U> lists = {
            {kNaN}, {kInf}, {-0.0}, {5e-324}, {mid}, {hi, lo}, {lo - 1.0}, {mid, kNaN}, U(p < 40 ? p + 2 : 2, mid)};
        for (const U& X : lists) {
            V3dNurbsCurve r(c);
            r.InsertKnots(X);
            EXPECT_TRUE(Unchanged(r, c) || (c.IsValid() && r.IsValid() && r.GetControlPoints().size() == n + X.size()));
        }
        // Clamp clamps a valid curve over the same range, leaves it, or (a cut refused at an
        // infinite range end) leaves the empty piece.
        V3dNurbsCurve clamped(c);
        clamped.Clamp();
        EXPECT_TRUE(
            Unchanged(clamped, c) ||
            (Unchanged(clamped, V3dNurbsCurve()) && (std::isinf(c.GetMinParam()) || std::isinf(c.GetMaxParam()))) ||
            (c.IsValid() && clamped.IsClamped() && Same(clamped.GetMinParam(), c.GetMinParam()) &&
             Same(clamped.GetMaxParam(), c.GetMaxParam())));
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
}

TEST(HostileNurbsCurve, HugeOrdersAndDegrees) {
    {
        // k + 1 entries cannot be represented: the length error of a standard container; an
        // order whose result does not fit in memory fails like the allocation it needs.
        const V3dNurbsCurve c(Line(4), Clamped(4, 2), 2);
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        EXPECT_THROW(c.DeriveAt(0.5, kMaxSize), std::length_error);
        EXPECT_THROW(c.DeriveAtH(0.5, kMaxSize), std::length_error);
        EXPECT_THROW(c.DeriveAt(0.5, std::size_t{1} << 40), std::bad_alloc);
        EXPECT_THROW(V3dNurbsCurve().DeriveAt(0.5, std::size_t{1} << 40), std::bad_alloc);
    }
    // Degree 1000: every derivative order needs its own binomial rows; the cost must stay a
    // small power of the degree (the test timeout catches a table built entry by entry).
    // Control points (i, i^2 / 4, 1 - i) of a Bezier curve of degree n give
    // C(t) = (n t, (n t + n (n - 1) t^2) / 4, 1 - n t): Bernstein polynomials reproduce polynomials.
    const std::size_t p = 1000;
    const std::vector<P3> d = V3dNurbsCurve(Line(p + 1), Clamped(p + 1, p), p).DeriveAt(0.5, p);
    ASSERT_EQ(d.size(), p + 1);
    const double m = static_cast<double>(p);
    EXPECT_NEAR(d[0][0], m / 2, 1e-9 * m);
    EXPECT_NEAR(d[0][1], (m / 2 + m * (m - 1) / 4) / 4, 1e-9 * m * m);
    EXPECT_NEAR(d[1][0], m, 1e-6 * m);
}

TEST(HostileNurbsSurface, EveryMemberOnEveryCase) {
    using U = std::vector<double>;
    VMatrix<P4> g = Grid(3, 3);
    g(1, 1) = P4{kNaN, kInf, -kInf, kNaN};
    const std::vector<std::pair<V3dNurbsSurface, bool>> cases = {
        // (surface, well-formed)
        {V3dNurbsSurface(), false},
        {V3dNurbsSurface(VMatrix<P4>(), {0, 0, 1, 1}, {0, 0, 1, 1}, 1, 1), false},
        {V3dNurbsSurface(Grid(3, 3), {0, 0, 0, 1, 1}, Clamped(3, 2), 2, 2), false},
        {V3dNurbsSurface(Grid(4, 4), {0, 0, 0, 0.8, 0.2, 1, 1}, {1, 1, 1, 0.5, 0, 0, 0}, 2, 2), false},
        {V3dNurbsSurface(Grid(4, 3), {0, 0, kNaN, 0.5, 1, 1, kNaN}, U(6, kNaN), 2, 2), false},
        {V3dNurbsSurface(Grid(2, 2), {-kInf, -kInf, kInf, kInf}, {0, 0, kInf, kInf}, 1, 1), false},
        {V3dNurbsSurface(g, Clamped(3, 2), Clamped(3, 2), 2, 2), false},
        {V3dNurbsSurface(Grid(2, 2), U(7, 0.0), U(6, 1.0), 4, 3), false},
        {V3dNurbsSurface(Grid(1, 1), {0, 1}, {0, 1}, 0, 0), true},
        {V3dNurbsSurface(Grid(31, 2), Clamped(31, 30), Clamped(2, 1), 30, 1), true},
        {V3dNurbsSurface(Grid(5, 6), Clamped(5, 3), Clamped(6, 3), 3, 3), true},
        {V3dNurbsSurface(Grid(4, 4), {0, 1, 2, 3, 4, 5, 6}, {0, 1, 2, 3, 4, 5, 6}, 2, 2), true},
        {V3dNurbsSurface(Grid(3, 3, 0.5), Clamped(3, 2), Clamped(3, 2), 2, 2), true}};
    for (std::size_t index = 0; index < cases.size(); ++index) {
        SCOPED_TRACE(index);
        const auto& [s, wellFormed] = cases[index];
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        const bool evaluable = s.IsValid() && s.GetDegreeU() < s.GetControlPoints().RowCount() &&
                               s.GetDegreeV() < s.GetControlPoints().ColumnCount();
        U us = {kNaN, kInf, -kInf, -0.0, DBL_MAX, 5e-324, 0.5}, vs = us;
        us.insert(us.end(), s.GetKnotsU().begin(), s.GetKnotsU().end());
        vs.insert(vs.end(), s.GetKnotsV().begin(), s.GetKnotsV().end());
        for (double u : us)
            for (double v : vs) {
                const P4 h = s.EvaluateAtH(u, v);
                EXPECT_TRUE(Same(s.EvaluateAt(u, v), P3{h[0] / h[3], h[1] / h[3], h[2] / h[3]})) << u << ", " << v;
                EXPECT_TRUE(evaluable || (std::isnan(h[0]) && std::isnan(h[3]))) << u << ", " << v;
                const bool mustBeFinite = wellFormed && u >= s.GetMinParamU() && u <= s.GetMaxParamU() &&
                                          v >= s.GetMinParamV() && v <= s.GetMaxParamV();
                const VMatrix<P3> D = s.DeriveAt(u, v, 5);
                ASSERT_TRUE(D.RowCount() == 6 && D.ColumnCount() == 6);
                for (std::size_t a = 0; a <= 5; ++a)
                    for (std::size_t b = 0; b <= 5; ++b) {
                        EXPECT_TRUE(!evaluable || a + b <= 5 || Same(D(a, b), P3{0, 0, 0}));
                        EXPECT_TRUE(!mustBeFinite || a + b > 5 || hostile::AllFinite(D(a, b))) << u << ", " << v;
                    }
            }
        // Projection: the point returned is the surface point at the parameters returned.
        for (const P3& P : {P3{1, 2, 3}, P3{kNaN, 0, 0}, P3{kInf, -kInf, 0}})
            for (double tol : {1e-9, 0.0, kNaN, kInf}) {
                const auto r = s.Project(P, 50, tol);
                const double u = r.second.first, v = r.second.second;
                EXPECT_TRUE(evaluable ? Same(r.first, s.EvaluateAt(u, v)) : std::isnan(r.first[0])) << u << ", " << v;
                EXPECT_TRUE(!wellFormed || std::isnan(u) || (u >= s.GetKnotsU().front() && u <= s.GetKnotsU().back()));
                EXPECT_TRUE(!wellFormed || std::isnan(v) || (v >= s.GetKnotsV().front() && v <= s.GetKnotsV().back()));
            }
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
    const V3dNurbsSurface s(Grid(3, 3), Clamped(3, 2), Clamped(3, 2), 2, 2);
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    EXPECT_THROW(s.DeriveAt(0.5, 0.5, std::numeric_limits<std::size_t>::max()), std::length_error);
    EXPECT_THROW(s.DeriveAtH(0.5, 0.5, std::numeric_limits<std::size_t>::max()), std::length_error);
    EXPECT_THROW(s.DeriveAt(0.5, 0.5, std::size_t{1} << 20), std::bad_alloc);
}

TEST(HostileGenerators, WrappingDegreesHostileParametersAndHugeCounts) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    std::vector<std::vector<double>> lists = {{}, {0.0}, {0.0, 1.0}, std::vector<double>(40, DBL_MAX)};
    for (double x : hostile::Numbers()) lists.push_back({0.0, x, 0.5, x, 1.0});
    for (std::size_t p : {std::size_t{1} << 62, kMaxSize / 2, kMaxSize / 2 + 1, kMaxSize}) {
        for (std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{10}, 2 * p, 2 * p + 1, 2 * p + 2, 2 * p + 9})
            EXPECT_TRUE(k >= 1000 || (UniformKnots(k, p).empty() && UniformKnotsClosed(k, p).empty())) << p << " " << k;
        for (const std::vector<double>& u : lists)
            EXPECT_TRUE(KnotAveraging(u, p).empty() && KnotAveragingClosed(u, p).empty() &&
                        KnotAveragingWithEndDerivatives(u, p).empty());
    }
    for (std::size_t p : {1, 2, 3})
        for (const std::vector<double>& u : lists) {
            const std::vector<double> open = KnotAveraging(u, p), ends = KnotAveragingWithEndDerivatives(u, p);
            for (std::size_t i = 0; i <= p && u.size() > p; ++i)
                EXPECT_TRUE(open[i] == 0.0 && open[open.size() - 1 - i] == 1.0 && ends[i] == 0.0 &&
                            ends[ends.size() - 1 - i] == 1.0)
                    << p << " " << u.size();
            EXPECT_EQ(KnotAveragingClosed(u, p).size(), u.size() < p ? 0 : u.size() + p + 1);
        }
    EXPECT_TRUE(std::isinf(KnotAveraging(std::vector<double>(5, DBL_MAX), 2)[3]));
    EXPECT_TRUE(std::isnan(KnotAveraging({0, hostile::kNaN, hostile::kNaN, 1}, 1)[2]));
    // Counts beyond memory: the allocation failure of the result, nothing else.
    EXPECT_THROW(UniformParameterization(std::size_t{1} << 40), std::bad_alloc);
    EXPECT_THROW(UniformKnots(std::size_t{1} << 40, 1), std::bad_alloc);
    EXPECT_THROW(UniformKnotsClosed(std::size_t{1} << 40, 1), std::bad_alloc);
    EXPECT_EQ(ceiling.Refused(), 3u);
    EXPECT_THROW(UniformParameterization(kMaxSize), std::length_error);
    EXPECT_THROW(UniformParameterization(3, kMaxSize), std::length_error);
}

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

}  // namespace
