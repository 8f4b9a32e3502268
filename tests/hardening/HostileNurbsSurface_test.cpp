// Hostile input for V3dNurbsSurface, one sweep: every public member on every case of a table
// of surfaces that are default-constructed, moved from, without columns, short of knots in
// either direction, with decreasing, NaN, infinite or subnormal knots, zero or NaN weights,
// degree 0 and degree 30, a degree not below its control-point count, at NaN, infinite,
// signed-zero, huge and subnormal parameters. Under AddressSanitizer and
// UndefinedBehaviorSanitizer every call must stay inside its buffers, terminate and allocate
// in proportion to its input. (The fits' refusals: tests/nurbs; fuzzed numbers in fits: the
// fuzz target fuzz_surface.)
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using hostile::kInf;
using hostile::kNaN;
using hostile::Same;
using TA = V3dNurbsSurfaceTestAccess;

namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

struct Case {
    std::string name;
    V3dNurbsSurface surface;
    bool wellFormed;  // evaluable, finite sorted knots, non-empty ranges, finite data, positive weights
};

VMatrix<P4> Grid(std::size_t rows, std::size_t cols, double w = 1.0) {
    VMatrix<P4> g(rows, cols, P4{0, 0, 0, 1});
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < cols; ++j) {
            const double x = static_cast<double>(i), y = static_cast<double>(j);
            g(i, j) = P4{w * x, w * y, w * std::sin(x + 2 * y), w};
        }
    return g;
}

std::vector<double> Clamped(std::size_t n, std::size_t p) { return UniformKnots(n + p + 1, p); }

bool SameSurface(const V3dNurbsSurface& a, const V3dNurbsSurface& b) {
    return a.GetDegreeU() == b.GetDegreeU() && a.GetDegreeV() == b.GetDegreeV() &&
           a.GetControlPoints().ColumnCount() == b.GetControlPoints().ColumnCount() &&
           Same(a.GetControlPoints().Elements(), b.GetControlPoints().Elements()) &&
           Same(a.GetKnotsU(), b.GetKnotsU()) && Same(a.GetKnotsV(), b.GetKnotsV()) &&
           Same(a.GetMinParamU(), b.GetMinParamU()) && Same(a.GetMaxParamU(), b.GetMaxParamU()) &&
           Same(a.GetMinParamV(), b.GetMinParamV()) && Same(a.GetMaxParamV(), b.GetMaxParamV());
}

std::vector<Case> Cases() {
    using U = std::vector<double>;
    std::vector<Case> c;
    auto add = [&](const char* name, VMatrix<P4> g, U ku, U kv, std::size_t p, std::size_t q, bool wellFormed = false) {
        c.push_back({name, V3dNurbsSurface(std::move(g), std::move(ku), std::move(kv), p, q), wellFormed});
    };
    c.push_back({"default", V3dNurbsSurface(), false});
    {
        V3dNurbsSurface source(Grid(3, 4), Clamped(3, 2), Clamped(4, 2), 2, 2);
        V3dNurbsSurface sink(std::move(source));
        c.push_back({"moved-from", source, false});  // NOLINT(bugprone-use-after-move): on purpose
    }
    add("grid without columns", VMatrix<P4>(), {0, 0, 1, 1}, {0, 0, 1, 1}, 1, 1);
    add("no knots", Grid(3, 3), {}, {}, 2, 2);
    add("U knots short", Grid(3, 3), {0, 0, 0, 1, 1}, Clamped(3, 2), 2, 2);
    add("V knots long", Grid(3, 3), Clamped(3, 2), {0, 0, 0, 0.5, 1, 1, 1}, 2, 2);
    add("decreasing knots", Grid(4, 4), {0, 0, 0, 0.8, 0.2, 1, 1}, {1, 1, 1, 0.5, 0, 0, 0}, 2, 2);
    add("NaN knots", Grid(4, 3), {0, 0, kNaN, 0.5, 1, 1, kNaN}, U(6, kNaN), 2, 2);
    add("infinite knots", Grid(2, 2), {-kInf, -kInf, kInf, kInf}, {0, 0, kInf, kInf}, 1, 1);
    add("subnormal knots", Grid(2, 2), {0, 0, 5e-324, 5e-324}, {0, 0, 1e-310, 1e-310}, 1, 1);
    add("empty ranges", Grid(2, 2), {1, 1, 1, 1}, {1, 1, 1, 1}, 1, 1);
    add("zero weights", Grid(3, 3, 0.0), Clamped(3, 2), Clamped(3, 2), 2, 2);
    VMatrix<P4> g = Grid(3, 3);
    g(1, 1) = P4{kNaN, kInf, -kInf, kNaN};
    g(0, 2)[3] = -1.0;
    add("non-finite control points", g, Clamped(3, 2), Clamped(3, 2), 2, 2);
    add("extreme coordinates", VMatrix<P4>(2, 2, P4{DBL_MAX, -DBL_MAX, DBL_MAX, 1.0}), Clamped(2, 1), Clamped(2, 1), 1,
        1);
    add("degrees not below the counts", Grid(2, 2), U(7, 0.0), U(6, 1.0), 4, 3);
    add("degree SIZE_MAX", Grid(2, 2), {0, 1}, {0, 1}, kMaxSize, kMaxSize);
    add("degree 0, single point", Grid(1, 1), {0, 1}, {0, 1}, 0, 0, true);
    add("degree 30 by 1", Grid(31, 2), Clamped(31, 30), Clamped(2, 1), 30, 1, true);
    add("bicubic", Grid(5, 6), Clamped(5, 3), Clamped(6, 3), 3, 3, true);
    add("unclamped", Grid(4, 4), {0, 1, 2, 3, 4, 5, 6}, {0, 1, 2, 3, 4, 5, 6}, 2, 2, true);
    g = Grid(3, 3);
    g(1, 1) = P4{0.5, 0.5, 0.5, 0.5};
    add("rational", g, Clamped(3, 2), Clamped(3, 2), 2, 2, true);
    return c;
}

std::vector<double> Parameters(const std::vector<double>& knots) {
    std::vector<double> t = {kNaN, kInf, -kInf, 0.0, -0.0, DBL_MAX, -DBL_MAX, 5e-324, 1e-310, 0.5, 1.0};
    for (double k : knots) t.push_back(k);
    return t;
}

bool Evaluable(const V3dNurbsSurface& s) {
    const std::size_t nV = s.GetControlPoints().ColumnCount();
    const std::size_t nU = s.GetControlPoints().RowCount();
    return s.IsValid() && s.GetDegreeU() < nU && s.GetDegreeV() < nV;
}

bool InRange(const V3dNurbsSurface& s, double u, double v) {
    return u >= s.GetMinParamU() && u <= s.GetMaxParamU() && v >= s.GetMinParamV() && v <= s.GetMaxParamV();
}

}  // namespace

TEST(HostileNurbsSurface, EveryMemberOnEveryCase) {
    const std::vector<P3> queries = {{1, 2, 3}, {kNaN, 0, 0}, {kInf, -kInf, 0}, {5e-324, 0, -0.0}};
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        const V3dNurbsSurface& s = k.surface;
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        const bool evaluable = Evaluable(s);
        const std::size_t nU = s.GetControlPoints().RowCount(), nV = s.GetControlPoints().ColumnCount();
        const std::size_t p = s.GetDegreeU(), q = s.GetDegreeV();
        for (double u : Parameters(s.GetKnotsU())) {
            for (double v : Parameters(s.GetKnotsV())) {
                const P4 h = s.EvaluateAtH(u, v);
                EXPECT_TRUE(Same(s.EvaluateAt(u, v), P3{h[0] / h[3], h[1] / h[3], h[2] / h[3]})) << u << ", " << v;
                EXPECT_TRUE(evaluable || (std::isnan(h[0]) && std::isnan(h[3]))) << u << ", " << v;
                const bool mustBeFinite = k.wellFormed && InRange(s, u, v);
                for (std::size_t d : {0, 2, 5}) {
                    const VMatrix<P3> D = s.DeriveAt(u, v, d);
                    ASSERT_EQ(D.RowCount(), d + 1);
                    ASSERT_EQ(D.ColumnCount(), d + 1);
                    EXPECT_TRUE(Same(s.DeriveAtH(u, v, d)(0, 0), h)) << u << ", " << v;
                    for (std::size_t a = 0; a <= d; ++a)
                        for (std::size_t b = 0; b <= d; ++b) {
                            EXPECT_TRUE(!evaluable || a + b <= d || Same(D(a, b), P3{0, 0, 0}));
                            EXPECT_TRUE(!mustBeFinite || a + b > d || hostile::AllFinite(D(a, b)))
                                << u << ", " << v << " (" << a << ", " << b << ")";
                        }
                }
            }
            // The private span searches are clipped into [p, n - 1] whenever such a span exists.
            const std::size_t spanU = TA::SpanU(s, u), spanV = TA::SpanV(s, u);
            EXPECT_TRUE(p >= nU || s.GetKnotsU().size() <= nU || (spanU >= p && spanU < nU)) << u;
            EXPECT_TRUE(q >= nV || s.GetKnotsV().size() <= nV || (spanV >= q && spanV < nV)) << u;
            (void)TA::BasisU(s, u);
            (void)TA::BasisV(s, u);
            EXPECT_TRUE(p >= nU || TA::BasisDersU(s, u, p + 3).RowCount() == p + 4);
        }
        // Projection: the point returned is the surface point at the parameters returned.
        for (const P3& P : queries)
            for (double tol : {1e-9, 0.0, kNaN, kInf})
                for (std::size_t budget : {std::size_t{0}, std::size_t{50}}) {
                    const auto r = s.Project(P, budget, tol);
                    const double u = r.second.first, v = r.second.second;
                    EXPECT_TRUE(evaluable ? Same(r.first, s.EvaluateAt(u, v)) : std::isnan(r.first[0]))
                        << u << ", " << v;
                    if (k.wellFormed && !std::isnan(u) && !std::isnan(v)) {
                        EXPECT_TRUE(u >= s.GetKnotsU().front() && u <= s.GetKnotsU().back());
                        EXPECT_TRUE(v >= s.GetKnotsV().front() && v <= s.GetKnotsV().back());
                    }
                }
        // Copies and moves keep every field; the stored range is a plain value.
        V3dNurbsSurface a(k.surface);
        V3dNurbsSurface& self = a;
        a = self;
        V3dNurbsSurface b(std::move(a));
        EXPECT_TRUE(SameSurface(b, k.surface));
        EXPECT_TRUE(a.GetControlPoints().Elements().empty() && !a.IsValid());
        for (double x : hostile::Numbers()) {
            b.SetMinParamU(x);
            b.SetMaxParamV(x);
            EXPECT_TRUE(Same(b.GetMinParamU(), x) && Same(b.GetMaxParamV(), x));
        }
        EXPECT_TRUE(Same(b.EvaluateAt(0.5, 0.5), k.surface.EvaluateAt(0.5, 0.5)));
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
    const V3dNurbsSurface s(Grid(3, 3), Clamped(3, 2), Clamped(3, 2), 2, 2);
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    EXPECT_THROW(s.DeriveAt(0.5, 0.5, kMaxSize), std::length_error);
    EXPECT_THROW(s.DeriveAtH(0.5, 0.5, kMaxSize), std::length_error);
    EXPECT_THROW(s.DeriveAt(0.5, 0.5, std::size_t{1} << 20), std::bad_alloc);
}
