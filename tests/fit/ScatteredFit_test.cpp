// Scattered-data fits checked against independent computations: closed-form surfaces sampled at
// random, exact polynomial reproduction, a dense solve of the same normal equations formed from
// basis values of the core surface, the thin-plate energy of quadratics in closed form, a holed
// DEM, and bad input.
#include <VelSDK/ScatteredFit.h>

#include "fit/FitTestUtil.h"
#include "fit/ScatteredSystem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P3 = point<double, 3>;

namespace {

double Uniform(std::mt19937_64& g, double a, double b) {
    return a + (b - a) * static_cast<double>(g() >> 11) * 0x1.0p-53;
}

template <typename F>
std::vector<P3> Sample(F f, std::size_t n, double x1, double y1, std::uint64_t seed) {
    std::mt19937_64 g(seed);
    std::vector<P3> pts;
    for (std::size_t k = 0; k < n; ++k) {
        const double x = Uniform(g, 0, x1), y = Uniform(g, 0, y1);
        pts.push_back(P3{x, y, f(x, y)});
    }
    return pts;
}

// Largest |S_z(x, y) - f(x, y)| over a 41 x 41 grid, also checking S_x = x and S_y = y.
template <typename F>
double GridError(const V3dNurbsSurface& s, F f) {
    double worst = 0;
    const double a = s.GetMinParamU(), b = s.GetMaxParamU(), c = s.GetMinParamV(), d = s.GetMaxParamV();
    for (int i = 0; i <= 40; ++i)
        for (int j = 0; j <= 40; ++j) {
            const double x = a + (b - a) * i / 40, y = c + (d - c) * j / 40;
            const P3 S = s.EvaluateAt(x, y);
            EXPECT_NEAR(S[0], x, 1e-9 * (1 + std::fabs(x)));
            EXPECT_NEAR(S[1], y, 1e-9 * (1 + std::fabs(y)));
            worst = std::max(worst, std::fabs(S[2] - f(x, y)));
        }
    return worst;
}

TEST(ScatteredFit, AnalyticSurfaceToTolerance) {
    auto f = [](double x, double y) { return std::sin(x) * std::cos(y) + 0.3 * x; };
    const auto pts = Sample(f, 3000, 3.0, 2.0, 7);
    ScatteredFitOptions opt;
    opt.tolerance = 1e-4;
    const SurfaceFitResult r = FitHeightField(pts, opt);
    ASSERT_EQ(r.report.status, SurfaceFitStatus::ToleranceMet) << r.report.message;
    double worst = 0;
    for (const P3& q : pts) worst = std::max(worst, std::fabs(r.surface.EvaluateAt(q[0], q[1])[2] - q[2]));
    EXPECT_LE(worst, opt.tolerance);
    EXPECT_NEAR(worst, r.report.maxError, 1e-12);
    EXPECT_EQ(r.report.maxErrorPerRound.back(), r.report.maxError);
    EXPECT_LE(GridError(r.surface, f), 5 * opt.tolerance);  // between the points too
    EXPECT_LT(r.report.controlPointsU * r.report.controlPointsV, 400u);
    // Without smoothing, refinement stops at the last determined net, never above one control
    // point per point.
    opt.smoothing = 0;
    opt.tolerance = 1e-13;
    const SurfaceFitResult z = FitHeightField(pts, opt);
    EXPECT_EQ(z.report.status, SurfaceFitStatus::ToleranceNotMet) << z.report.message;
    EXPECT_TRUE(z.surface.IsValid());
    EXPECT_LE(z.report.controlPointsU * z.report.controlPointsV, pts.size());
    EXPECT_LT(z.report.maxError, r.report.maxError);
}

// Noisy samples: cross-validation picks a weight that removes noise (the fit is closer to the
// true surface than the noise), where nearly no smoothing follows it.
TEST(ScatteredFit, CrossValidationSmoothsNoise) {
    auto f = [](double x, double y) { return std::exp(-(x - 1) * (x - 1) - y * y); };
    std::mt19937_64 g(3);
    auto pts = Sample(f, 2000, 3.0, 2.0, 11);
    const double sigma = 0.05;
    for (P3& q : pts) q[2] += sigma * (Uniform(g, -1, 1) + Uniform(g, -1, 1) + Uniform(g, -1, 1));
    ScatteredFitOptions opt;
    opt.controlPointsU = opt.controlPointsV = 20;
    const SurfaceFitResult gcv = FitHeightField(pts, opt);
    ASSERT_EQ(gcv.report.status, SurfaceFitStatus::ToleranceMet) << gcv.report.message;
    opt.smoothing = 1e-9 * gcv.report.smoothing;
    const SurfaceFitResult raw = FitHeightField(pts, opt);
    EXPECT_LT(GridError(gcv.surface, f), 0.5 * GridError(raw.surface, f));
    EXPECT_LT(GridError(gcv.surface, f), 2 * sigma);
}

struct PolyCase {
    std::size_t p, q;
    double lambda;
    int degreeX, degreeY;  // of the polynomial (lambda > 0: total degree 1, the energy's kernel)
    ScatteredSolver solver;
};

class Reproduction : public ::testing::TestWithParam<PolyCase> {};

TEST_P(Reproduction, PolynomialOfTheSplineDegree) {
    const PolyCase c = GetParam();
    auto f = [&](double x, double y) {
        double s = 0;
        for (int i = 0; i <= c.degreeX; ++i)
            for (int j = 0; j <= c.degreeY; ++j)
                if (c.lambda == 0 || i + j <= 1) s += (1 + i - 0.5 * j) * std::pow(x - 0.3, i) * std::pow(y + 0.2, j);
        return s;
    };
    const auto pts = Sample(f, 400, 2.0, 1.5, 5);
    ScatteredFitOptions opt;
    opt.degreeU = c.p;
    opt.degreeV = c.q;
    opt.controlPointsU = c.p + 4;
    opt.controlPointsV = c.q + 3;
    opt.smoothing = c.lambda;
    opt.solver = c.solver;
    const SurfaceFitResult r = FitHeightField(pts, opt);
    ASSERT_EQ(r.report.status, SurfaceFitStatus::ToleranceMet) << r.report.message;
    EXPECT_LT(GridError(r.surface, f), 1e-9);
    EXPECT_LT(r.report.maxError, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(ScatteredFit, Reproduction,
                         ::testing::Values(PolyCase{3, 3, 0, 3, 3, ScatteredSolver::SparseLDLT},
                                           PolyCase{2, 3, 0, 2, 3, ScatteredSolver::BandedCholesky},
                                           PolyCase{1, 2, 0, 1, 2, ScatteredSolver::ConjugateGradient},
                                           PolyCase{3, 3, 10.0, 1, 1, ScatteredSolver::SparseLDLT},
                                           PolyCase{3, 2, 10.0, 1, 1, ScatteredSolver::ConjugateGradient}));

// The sparse solvers against a dense Cholesky solve of normal equations formed here from basis
// values of the core surface (a control net with one unit height), and the energy matrix
// against the closed-form thin-plate energy of a quadratic.
TEST(ScatteredSystem, MatchesDenseSolveAndEnergy) {
    const std::size_t p = 3, q = 2, nU = 6, nV = 5, n = nU * nV;
    const std::vector<double> U{0, 0, 0, 0, 0.7, 1.1, 2, 2, 2, 2}, V{0, 0, 0, 0.4, 1.0, 1.5, 1.5, 1.5};
    auto g = [](double x, double y) { return x * x + 3 * x * y - y * y; };  // energy density 4+18+4
    const auto pts = Sample(g, 200, 2.0, 1.5, 9);
    std::vector<double> u, v, z, w, gz;
    for (const P3& s : pts) {
        u.push_back(s[0]), v.push_back(s[1]), gz.push_back(s[2]);
        z.push_back(std::sin(3 * s[0]) + s[1]), w.push_back(1 + s[0]);
    }
    std::vector<std::vector<double>> basis(n, std::vector<double>(pts.size()));
    for (std::size_t r = 0; r < n; ++r) {
        VMatrix<point<double, 4>> net(nU, nV, point<double, 4>{0, 0, 0, 1});
        net(r / nV, r % nV)[2] = 1;
        const V3dNurbsSurface one(net, U, V, p, q);
        for (std::size_t k = 0; k < pts.size(); ++k) basis[r][k] = one.EvaluateAt(u[k], v[k])[2];
    }
    const double lambda = 0.01;
    for (ScatteredSolver solver :
         {ScatteredSolver::SparseLDLT, ScatteredSolver::ConjugateGradient, ScatteredSolver::BandedCholesky}) {
        detail::ScatteredSystem sys(U, p, V, q, solver);
        sys.Accumulate(u.data(), v.data(), w.data(), z.data(), pts.size(), 1);
        sys.BuildSmoothing();
        ASSERT_TRUE(sys.Factor(lambda));
        const std::vector<double> S = sys.Dense(lambda), A = sys.Dense(0.0);
        std::vector<double> M = S, b(n, 0.0);
        for (std::size_t r = 0; r < n; ++r) {
            for (std::size_t k = 0; k < pts.size(); ++k) b[r] += w[k] * basis[r][k] * z[k];
            for (std::size_t c = 0; c < n; ++c) {
                double s = 0;
                for (std::size_t k = 0; k < pts.size(); ++k) s += w[k] * basis[r][k] * basis[c][k];
                EXPECT_NEAR(A[r * n + c], s, 1e-12) << r << "," << c;
            }
        }
        // Dense Cholesky M = L L^T in place, then the two triangular solves.
        for (std::size_t j = 0; j < n; ++j) {
            for (std::size_t k = 0; k < j; ++k) M[j * n + j] -= M[j * n + k] * M[j * n + k];
            M[j * n + j] = std::sqrt(M[j * n + j]);
            for (std::size_t i = j + 1; i < n; ++i) {
                for (std::size_t k = 0; k < j; ++k) M[i * n + j] -= M[i * n + k] * M[j * n + k];
                M[i * n + j] /= M[j * n + j];
            }
        }
        std::vector<double> x = b, sparse(n);
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t k = 0; k < i; ++k) x[i] -= M[i * n + k] * x[k];
            x[i] /= M[i * n + i];
        }
        for (std::size_t i = n; i-- > 0;) {
            for (std::size_t k = i + 1; k < n; ++k) x[i] -= M[k * n + i] * x[k];
            x[i] /= M[i * n + i];
        }
        ASSERT_TRUE(sys.Solve(b.data(), sparse.data(), 1));
        for (std::size_t i = 0; i < n; ++i) EXPECT_NEAR(sparse[i], x[i], 1e-9 * (1 + std::fabs(x[i]))) << i;
    }
    // The coefficients of g (exact fit, lambda = 0) give c^T E c = 26 x area.
    detail::ScatteredSystem sys(U, p, V, q, ScatteredSolver::SparseLDLT);
    sys.Accumulate(u.data(), v.data(), nullptr, gz.data(), pts.size(), 1);
    sys.BuildSmoothing();
    ASSERT_TRUE(sys.Factor(0.0));
    std::vector<double> c(n);
    ASSERT_TRUE(sys.Solve(sys.Rhs().data(), c.data(), 1));
    const std::vector<double> S1 = sys.Dense(1.0), S0 = sys.Dense(0.0);
    double energy = 0;
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t k = 0; k < n; ++k) energy += c[r] * (S1[r * n + k] - S0[r * n + k]) * c[k];
    EXPECT_NEAR(energy, 26 * 2.0 * 1.5, 1e-8);
    EXPECT_NEAR(sys.ResidualSquares(c.data(), 1), 0.0, 1e-9);
}

// Holes: the volcano from 30 % of its points with a disc of radius 120 m cut out of its eastern
// flank, lambda by cross-validation. The surface stays within the range of the data everywhere,
// the hole included (to 2 % of the range: a least-squares surface need not pass through the
// extremes).
TEST(ScatteredFit, HoledDemStaysWithinTheDataRange) {
    const auto dem = test::ReadDataSet("dem_volcano_61x87");
    ASSERT_EQ(dem.size(), 61u * 87u);
    std::mt19937_64 g(30);
    std::vector<P3> subset;
    for (const P3& q : dem) {
        const double dx = q[0] - 600, dy = q[1] - 250;
        if (dx * dx + dy * dy >= 120 * 120 && Uniform(g, 0, 1) < 0.3) subset.push_back(q);
    }
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const P3& q : subset) lo = std::min(lo, q[2]), hi = std::max(hi, q[2]);
    const SurfaceFitResult r = FitHeightField(subset, ScatteredFitOptions{});
    ASSERT_EQ(r.report.status, SurfaceFitStatus::ToleranceMet) << r.report.message;
    const V3dNurbsSurface& s = r.surface;
    for (int i = 0; i <= 60; ++i)
        for (int j = 0; j <= 60; ++j) {
            const double x = s.GetMinParamU() + (s.GetMaxParamU() - s.GetMinParamU()) * i / 60;
            const double y = s.GetMinParamV() + (s.GetMaxParamV() - s.GetMinParamV()) * j / 60;
            const double h = s.EvaluateAt(x, y)[2];
            ASSERT_TRUE(h >= lo - 0.02 * (hi - lo) && h <= hi + 0.02 * (hi - lo)) << x << " " << y << ": " << h;
        }
    EXPECT_LT(r.report.rms, 0.02 * (hi - lo));
}

// A curved patch, rotated in space: parameters from the least-squares plane, then corrected.
TEST(ScatteredFit, PointCloudWithParameterCorrection) {
    const double c = std::cos(0.7), s = std::sin(0.7);
    auto rotate = [&](double x, double y, double z) { return P3{c * x - s * z, y, s * x + c * z}; };
    std::mt19937_64 g(4);
    std::vector<P3> pts;
    std::vector<point<double, 2>> params;
    for (int k = 0; k < 1500; ++k) {
        const double x = Uniform(g, -1, 1), y = Uniform(g, -1, 1);
        pts.push_back(rotate(x, y, 0.3 * x * x - 0.2 * y * y + 0.1 * x * y));
        params.push_back(point<double, 2>{x, y});
    }
    ScatteredFitOptions opt;
    opt.tolerance = 1e-4;
    for (bool given : {false, true}) {
        const SurfaceFitResult r = FitPointCloud(pts, given ? params : std::vector<point<double, 2>>{}, opt);
        ASSERT_NE(r.report.status, SurfaceFitStatus::InvalidInput) << r.report.message;
        ASSERT_EQ(r.report.maxErrorPerRound.size(), opt.correctionRounds + 1);
        EXPECT_EQ(*std::min_element(r.report.maxErrorPerRound.begin(), r.report.maxErrorPerRound.end()),
                  r.report.maxError);
        EXPECT_LE(r.report.maxError, opt.tolerance) << given;
        for (std::size_t k = 0; k < pts.size(); k += 50) {
            const P3 S = r.surface.EvaluateAt(r.report.u[k], r.report.v[k]);
            EXPECT_NEAR(VelSDK::Math::Distance(S, pts[k]), r.report.errors[k], 1e-12);
            // Back in the frame of the patch, S lies on it.
            const double x = c * S[0] + s * S[2], y = S[1], z = -s * S[0] + c * S[2];
            EXPECT_NEAR(z, 0.3 * x * x - 0.2 * y * y + 0.1 * x * y, 1e-3);
        }
    }
}

struct BadCase {
    const char* what;
    std::vector<P3> points;
    ScatteredFitOptions options;
    const char* says;
};

TEST(ScatteredFit, BadInputIsRefusedWithAReason) {
    const auto good = Sample([](double x, double y) { return x * y; }, 100, 1, 1, 1);
    auto with = [&](auto edit) {
        ScatteredFitOptions o;
        edit(o);
        return o;
    };
    auto nan = good;
    nan[17][1] = std::nan("");
    std::vector<P3> line;
    for (int k = 0; k < 50; ++k) line.push_back(P3{0.1 * k, 0.2 * k + 1, 0.3 * k});
    const std::vector<BadCase> cases{
        {"NaN point", nan, {}, "point 17 is not finite"},
        {"collinear", line, {}, "one line"},
        {"too few points for lambda 0", good,
         with([](ScatteredFitOptions& o) { o.smoothing = 0, o.controlPointsU = 12, o.controlPointsV = 12; }),
         "fewer points (100) than control points (144)"},
        {"negative lambda", good, with([](ScatteredFitOptions& o) { o.smoothing = -0.5; }), "smoothing weight"},
        {"NaN tolerance", good, with([](ScatteredFitOptions& o) { o.tolerance = std::nan(""); }), "tolerance"},
        {"negative tolerance", good, with([](ScatteredFitOptions& o) { o.tolerance = -1; }), "tolerance"},
        {"degree", good, with([](ScatteredFitOptions& o) { o.degreeV = 6; }), "degrees"},
        {"net above bound", good,
         with([](ScatteredFitOptions& o) { o.controlPointsU = 1000, o.controlPointsV = 1000; }), "maxControlPoints"},
        {"bound above the hard bound", good,
         with([](ScatteredFitOptions& o) { o.maxControlPoints = ScatteredFitOptions::kMaxControlPoints + 1; }),
         "bound"},
        {"weights", good, with([](ScatteredFitOptions& o) { o.weights.assign(100, 1.0), o.weights[3] = 0; }), "weight"},
        {"empty spans without smoothing", Sample([](double x, double) { return x; }, 200, 0.05, 1, 2),
         with([](ScatteredFitOptions& o) { o.smoothing = 0, o.controlPointsU = o.controlPointsV = 8; }),
         "undetermined"},
    };
    for (const BadCase& b : cases) {
        auto pts = b.points;
        if (std::string(b.what) == "empty spans without smoothing") pts.push_back(P3{1, 0.5, 1});
        for (bool cloud : {false, true}) {
            const SurfaceFitResult r = cloud ? FitPointCloud(pts, {}, b.options) : FitHeightField(pts, b.options);
            EXPECT_EQ(r.report.status, SurfaceFitStatus::InvalidInput) << b.what << " " << cloud;
            EXPECT_NE(r.report.message.find(b.says), std::string::npos) << b.what << ": " << r.report.message;
            EXPECT_FALSE(r.surface.IsValid()) << b.what;
        }
    }
}

}  // namespace
