// Grid approximation to a tolerance: distances checked by evaluation at the reported feet and by
// dense sampling, control-point counts against a search over uniform nets, exact reproduction
// of polynomial surfaces, refusals and the bound on the net.
#include <VelSDK/ApproximationBlocks.h>
#include <VelSDK/Generators.h>
#include <VelSDK/SurfaceApproximation.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace {

using P3 = Math::point<double, 3>;

VMatrix<P3> Sample(std::size_t m, std::size_t n, P3 (*f)(double, double)) {
    VMatrix<P3> g(m, n, P3{0, 0, 0});
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const double s = static_cast<double>(i) / static_cast<double>(m - 1);
            const double t = static_cast<double>(j) / static_cast<double>(n - 1);
            g(i, j) = f(s * s * (3 - 2 * s), t);  // uneven spacing along U
        }
    return g;
}

P3 Wave(double s, double t) { return P3{2 * s, 3 * t, 0.3 * std::sin(3 * s + 1) * std::cos(4 * t)}; }

TEST(SurfaceApproximation, AnalyticSurfaceWithinToleranceByDenseCheckWithFewerPointsThanUniformNets) {
    const VMatrix<P3> Q = Sample(30, 40, Wave);
    const double tol = 1e-3;
    const SurfaceFitResult r = ApproximateSurface(Q, tol);
    const SurfaceFitReport& rep = r.report;
    ASSERT_EQ(rep.status, SurfaceFitStatus::ToleranceMet) << rep.message;
    ASSERT_EQ(rep.errors.size(), 1200u);
    double sum = 0, top = 0;
    for (std::size_t k = 0; k < rep.errors.size(); ++k) {
        // Each distance is that of an actual surface point, so it bounds the true distance.
        const double d = Math::Distance(r.surface.EvaluateAt(rep.u[k], rep.v[k]), Q.Elements()[k]);
        EXPECT_NEAR(rep.errors[k], d, 1e-12);
        EXPECT_LE(d, tol);
        sum += d * d;
        top = std::max(top, d);
    }
    EXPECT_EQ(rep.maxError, rep.errors[rep.worstIndex]);
    EXPECT_DOUBLE_EQ(rep.maxError, top);
    EXPECT_NEAR(rep.rms, std::sqrt(sum / 1200), 1e-15);
    // Global: no sample of a dense net is nearer to a point than its reported foot.
    std::vector<P3> dense;
    for (int a = 0; a <= 150; ++a)
        for (int b = 0; b <= 150; ++b) dense.push_back(r.surface.EvaluateAt(a / 150.0, b / 150.0));
    for (std::size_t k = 0; k < 1200; k += 37) {
        double best = std::numeric_limits<double>::infinity();
        for (const P3& s : dense) best = std::min(best, Math::Distance(s, Q.Elements()[k]));
        EXPECT_LE(rep.errors[k], best + 1e-12) << k;
    }
    // Oracle: the smallest square net with eq. 9.69 knots (uniform data parameters) that meets
    // the tolerance at the grid points.
    const auto uv = UniformParameterization(30, 40);
    std::size_t oracle = 0;
    for (std::size_t c = 4; c <= 30 && oracle == 0; ++c) {
        V3dNurbsSurface s;
        ASSERT_TRUE(s.LeastSquaresApproximation(Q, uv.first, uv.second, ApproximationKnots(uv.first, c, 3),
                                                ApproximationKnots(uv.second, c, 3), c, c, 3, 3));
        double e = 0;
        for (std::size_t i = 0; i < 30; ++i)
            for (std::size_t j = 0; j < 40; ++j)
                e = std::max(e, Math::Distance(s.EvaluateAt(uv.first[i], uv.second[j]), Q(i, j)));
        if (e <= tol) oracle = c * c;
    }
    ASSERT_GT(oracle, 0u);
    EXPECT_LT(rep.controlPointsU * rep.controlPointsV, oracle);
}

TEST(SurfaceApproximation, ReproducesPolynomialSurfacesOfItsDegreeWithOneBezierPatch) {
    struct Case {
        std::size_t p, q, m, n;
        bool weighted;
    };
    // The smallest grids a degree takes, and larger ones.
    for (const Case c :
         {Case{1, 1, 2, 2, false}, Case{2, 3, 9, 4, false}, Case{3, 2, 9, 11, true}, Case{4, 4, 9, 11, true}}) {
        const std::size_t m = c.m, n = c.n;
        SurfaceApproximationOptions o;
        o.degreeU = c.p;
        o.degreeV = c.q;
        for (std::size_t i = 0; i < m; ++i) o.paramsU.push_back(std::pow(i / double(m - 1), 1.5));
        o.paramsV = UniformParameterization(n);
        VMatrix<P3> Q(m, n, P3{0, 0, 0});
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = 0; j < n; ++j) {
                const double u = o.paramsU[i], v = o.paramsV[j];
                Q(i, j) = P3{u + 0.5 * std::pow(v, double(c.q)), v - std::pow(u, double(c.p)),
                             std::pow(u, double(c.p)) * std::pow(v, double(c.q)) - u * v};
                if (c.weighted) o.weights.push_back(1.0 + double((i * 7 + j * 3) % 5));
            }
        const SurfaceFitResult r = ApproximateSurface(Q, 1e-9, o);
        EXPECT_EQ(r.report.status, SurfaceFitStatus::ToleranceMet) << r.report.message;
        EXPECT_EQ(r.report.controlPointsU, c.p + 1);
        EXPECT_EQ(r.report.controlPointsV, c.q + 1);
        EXPECT_LT(r.report.maxError, 1e-12) << c.p << "," << c.q;
    }
}

TEST(SurfaceApproximation, BoundOnTheNetAndBudgetGiveTheBestSurfaceFound) {
    const VMatrix<P3> Q = Sample(30, 40, Wave);
    SurfaceApproximationOptions o;
    o.maxControlPoints = 60;
    SurfaceFitResult r = ApproximateSurface(Q, 1e-6, o);
    EXPECT_EQ(r.report.status, SurfaceFitStatus::ToleranceNotMet);
    EXPECT_LE(r.report.controlPointsU * r.report.controlPointsV, 60u);
    EXPECT_GT(r.report.maxError, 1e-6);
    o = {};
    o.maxFits = 2;
    r = ApproximateSurface(Q, 1e-6, o);
    EXPECT_EQ(r.report.status, SurfaceFitStatus::ToleranceNotMet);
    EXPECT_EQ(r.report.fits, 2u);
    EXPECT_NE(r.report.message.find("budget of 2 fits"), std::string::npos) << r.report.message;
    // Rough heights: nothing short of the interpolant, reached once no span can be split.
    VMatrix<P3> rough(8, 12, P3{0, 0, 0});
    for (std::size_t k = 0; k < 96; ++k) rough.Elements()[k] = P3{double(k % 12), double(k / 12), double(k * 37 % 11)};
    r = ApproximateSurface(rough, 1e-9);
    EXPECT_EQ(r.report.status, SurfaceFitStatus::ToleranceMet) << r.report.message;
    EXPECT_EQ(r.report.controlPointsU * r.report.controlPointsV, 96u);
    EXPECT_LT(r.report.fits, 40u);
}

TEST(SurfaceApproximation, RefusesBadInputWithAMessage) {
    const VMatrix<P3> Q = Sample(6, 7, Wave);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    using G = VMatrix<P3>;
    using O = SurfaceApproximationOptions;
    struct Case {
        const char* what;
        double tol;
        void (*edit)(G&, O&);
    };
    const Case cases[] = {
        {"not finite", 1e-3, [](G& g, O&) { g(2, 3)[1] = std::nan(""); }},
        {"too small", 1e-3, [](G&, O& o) { o.degreeV = 7; }},
        {"degrees", 1e-3, [](G&, O& o) { o.degreeU = 0; }},
        {"degrees", 1e-3, [](G&, O& o) { o.degreeU = 10; }},
        {"tolerance", 0.0, [](G&, O&) {}},
        {"tolerance", nan, [](G&, O&) {}},
        {"tolerance", HUGE_VAL, [](G&, O&) {}},
        {"weights for", 1e-3, [](G&, O& o) { o.weights.assign(41, 1.0); }},
        {"weight 5", 1e-3, [](G&, O& o) { o.weights.assign(42, 1.0), o.weights[5] = -1; }},
        {"paramsU", 1e-3,
         [](G&, O& o) {
             o.paramsU = {0, 0.5, 1};
         }},
        {"paramsV", 1e-3, [](G&, O& o) { o.paramsV = {0, 0.2, 0.1, 0.5, 0.6, 0.7, 1}; }},
        {"maxControlPoints", 1e-3, [](G&, O& o) { o.maxControlPoints = 15; }},
        {"column has zero length", 1e-3,
         [](G& g, O&) {
             for (std::size_t k = 0; k < 42; ++k) g.Elements()[k] = g.Elements()[k % 7];
         }},
    };
    for (const Case& c : cases) {
        VMatrix<P3> g = Q;
        SurfaceApproximationOptions o;
        c.edit(g, o);
        const SurfaceFitResult r = ApproximateSurface(g, c.tol, o);
        EXPECT_EQ(r.report.status, SurfaceFitStatus::InvalidInput) << c.what;
        EXPECT_NE(r.report.message.find(c.what), std::string::npos) << r.report.message;
        EXPECT_TRUE(r.surface.GetControlPoints().Elements().empty()) << c.what;
    }
}

}  // namespace
}  // namespace NURBS
}  // namespace VelSDK
