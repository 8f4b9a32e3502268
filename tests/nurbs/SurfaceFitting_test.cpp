// Surface interpolation and least-squares approximation through grids of points: the
// results against fitting every data column and every intermediate row with its own curve
// fit (bit for bit; the curve fits are checked against literal steps in CurveFitting_test),
// interpolation of every grid point, and the refusals and failure states (a table of wrong
// counts and sizes).
#include <VelSDK/Nurbs.h>

#include "NurbsTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P4 = point<double, 4>;
using P3 = point<double, 3>;
using nurbs_test::SameBits;

namespace {

struct Fit {
    bool ok;
    VMatrix<P4> grid;
};

// The passes as defined: a curve fit of every data column along U (cu control points each),
// then of every row of the resulting control points along V (cv each), each list with its own
// curve fit. Interpolation (in place) keeps the U pass in the rows a failed V pass has not reached.
template <typename FitU, typename FitV>
Fit ColumnByColumn(const VMatrix<P3>& Q, std::size_t cu, std::size_t cv, bool inPlace, FitU fitU, FitV fitV) {
    const std::size_t m = Q.RowCount(), n = Q.ColumnCount();
    Fit f{true, VMatrix<P4>(cu, cv, P4{0, 0, 0, 0})};
    VMatrix<P4> R(cu, n, P4{0, 0, 0, 0});
    VMatrix<P4>& U = inPlace ? f.grid : R;
    V3dNurbsCurve c;
    std::vector<P3> list;
    for (std::size_t j = 0; j < n; ++j) {
        list.clear();
        for (std::size_t i = 0; i < m; ++i) list.push_back(Q(i, j));
        if (!fitU(c, list)) return f.ok = false, f;
        for (std::size_t k = 0; k < cu; ++k) U(k, j) = c.GetControlPoints()[k];
    }
    for (std::size_t k = 0; k < cu; ++k) {
        list.clear();
        for (std::size_t j = 0; j < n; ++j) list.push_back(P3{U(k, j)[0], U(k, j)[1], U(k, j)[2]});
        if (!fitV(c, list)) return f.ok = false, f;
        for (std::size_t l = 0; l < cv; ++l) f.grid(k, l) = c.GetControlPoints()[l];
    }
    return f;
}

Fit ColumnByColumnInterpolation(const VMatrix<P3>& Q, const std::vector<double>& pu, const std::vector<double>& pv,
                                const std::vector<double>& ku, const std::vector<double>& kv, std::size_t p,
                                std::size_t q) {
    return ColumnByColumn(
        Q, Q.RowCount(), Q.ColumnCount(), true,
        [&](V3dNurbsCurve& c, const std::vector<P3>& l) { return c.GlobalInterpolation(l, pu, ku, p, false); },
        [&](V3dNurbsCurve& c, const std::vector<P3>& l) { return c.GlobalInterpolation(l, pv, kv, q, false); });
}

// Increasing parameters on [0, 1] with gaps varying 1:20, as chord lengths of measured data.
std::vector<double> ChordLikeParameters(std::mt19937_64& rng, std::size_t count) {
    std::uniform_real_distribution<double> gap(0.05, 1.0);
    std::vector<double> u(count, 0.0);
    for (std::size_t i = 1; i < count; ++i) u[i] = u[i - 1] + gap(rng);
    for (double& x : u) x /= u.back();
    u.back() = 1.0;
    return u;
}

VMatrix<P3> RandomGrid(std::mt19937_64& rng, std::size_t m, std::size_t n, bool planar) {
    std::uniform_real_distribution<double> coord(-50.0, 50.0);
    VMatrix<P3> Q(m, n, P3{0, 0, 0});
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j)
            Q(i, j) = P3{i + 0.3 * coord(rng), j + 0.3 * coord(rng), planar ? 0.0 : coord(rng)};
    return Q;
}

}  // namespace

// One factorization per pass solves every list; the result must be exactly what fitting
// every list with its own curve fit gives, and the surface meets every grid point.
TEST(SurfaceInterpolation, SameBitsAsColumnByColumnCurveFits) {
    std::mt19937_64 rng(73);
    for (int trial = 0; trial < 40; ++trial) {
        const std::size_t p = trial % 6, q = (trial / 6) % 5;
        const std::size_t m = p + 1 + static_cast<std::size_t>(trial % 13);
        const std::size_t n = q + 1 + static_cast<std::size_t>(trial % 11);
        VMatrix<P3> Q = RandomGrid(rng, m, n, trial % 4 == 0);
        if (trial % 5 == 0) Q(0, 0)[2] = -0.0;
        const std::vector<double> pu = trial % 3 ? ChordLikeParameters(rng, m) : UniformParameterization(m);
        const std::vector<double> pv = ChordLikeParameters(rng, n);
        const std::vector<double> ku = p ? KnotAveraging(pu, p) : UniformKnots(m + 1, 0);
        const std::vector<double> kv = q ? KnotAveraging(pv, q) : UniformKnots(n + 1, 0);
        const Fit ref = ColumnByColumnInterpolation(Q, pu, pv, ku, kv, p, q);
        V3dNurbsSurface s;
        EXPECT_EQ(s.GlobalInterpolation(Q, pu, pv, ku, kv, p, q), ref.ok) << "trial " << trial;
        EXPECT_TRUE(SameBits(s.GetControlPoints(), ref.grid)) << "trial " << trial;
        if (!ref.ok || p == 0 || q == 0) continue;
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = 0; j < n; ++j)
                EXPECT_LT(VelSDK::Math::Distance(s.EvaluateAt(pu[i], pv[j]), Q(i, j)), 1e-8) << i << "," << j;
    }
}

TEST(SurfaceApproximation, SameBitsAsColumnByColumnCurveFits) {
    std::mt19937_64 rng(89);
    for (int trial = 0; trial < 60; ++trial) {
        const std::size_t p = trial % 4, q = (trial / 4) % 4;
        const std::size_t m = 1 + static_cast<std::size_t>(trial % 17);
        const std::size_t n = 1 + static_cast<std::size_t>((trial * 7) % 15);
        // Control-point counts from 2 up to beyond the point count (a singular system).
        const std::size_t cu = std::max<std::size_t>(p + 1, 2 + static_cast<std::size_t>(trial % 6));
        const std::size_t cv = std::max<std::size_t>(q + 1, 2 + static_cast<std::size_t>((trial / 3) % 7));
        VMatrix<P3> Q = RandomGrid(rng, m, n, trial % 5 == 0);
        if (trial % 7 == 0) Q(m / 2, n / 2)[1] = -0.0;
        if (trial % 6 == 5) Q(m / 2, n / 3)
        [trial % 3] =
            trial % 4 == 1 ? std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::infinity();
        const std::vector<double> pu = ChordLikeParameters(rng, m), pv = UniformParameterization(n);
        const std::vector<double> ku = UniformKnots(cu + p + 1, p), kv = UniformKnots(cv + q + 1, q);
        const Fit ref = ColumnByColumn(
            Q, cu, cv, false,
            [&](V3dNurbsCurve& c, const std::vector<P3>& l) { return c.LeastSquaresApproximation(l, pu, ku, cu, p); },
            [&](V3dNurbsCurve& c, const std::vector<P3>& l) { return c.LeastSquaresApproximation(l, pv, kv, cv, q); });
        V3dNurbsSurface s;
        EXPECT_EQ(s.LeastSquaresApproximation(Q, pu, pv, ku, kv, cu, cv, p, q), ref.ok) << "trial " << trial;
        EXPECT_TRUE(SameBits(s.GetControlPoints(), ref.grid)) << "trial " << trial;
    }
}

// Wrong counts and sizes: false (or, for a grid too large to exist, the allocation failure),
// with the state each failure documents.
TEST(SurfaceFitting, RefusalsAndFailureStates) {
    std::mt19937_64 rng(79);
    const VMatrix<P3> Q = RandomGrid(rng, 5, 6, false);
    const std::vector<double> pu = UniformParameterization(5), pv = UniformParameterization(6);
    const std::vector<double> ku = KnotAveraging(pu, 3), kv = KnotAveraging(pv, 2);
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    using Knots = std::vector<double>;
    const std::vector<double> a4 = UniformKnots(4 + 3, 2), a5 = UniformKnots(5 + 3, 2);  // 4 and 5 points
    struct Refused {
        const char* what;
        VMatrix<P3> data;
        Knots pu, pv, ku, kv;
        std::size_t p, q;
    };
    const Refused interpolations[] = {
        {"no grid", VMatrix<P3>(), pu, pv, ku, kv, 3, 2},
        {"wrapping degrees", Q, pu, pv, {0.0}, {0.0}, huge, huge},
        {"a U knot too many", Q, pu, pv, UniformKnots(5 + 5, 3), kv, 3, 2},
        {"too few V parameters", Q, pu, {0, 1}, ku, kv, 3, 2},
        {"fewer points than the order", Q, pu, pv, UniformKnots(5 + 6, 5), kv, 5, 2},
    };
    for (const Refused& r : interpolations) {
        V3dNurbsSurface s;
        EXPECT_FALSE(s.GlobalInterpolation(r.data, r.pu, r.pv, r.ku, r.kv, r.p, r.q)) << r.what;
    }
    struct RefusedApproximation {
        const char* what;
        VMatrix<P3> data;
        Knots pv, ku, kv;
        std::size_t cu, cv, p, q;
    };
    const RefusedApproximation approximations[] = {
        {"no control points", Q, pv, {}, {}, 0, 0, 0, 0},
        {"no control columns", Q, pv, a4, UniformKnots(0 + 3, 2), 4, 0, 2, 2},
        {"wrapping degree", Q, pv, a4, a5, 4, 5, huge, 2},
        {"one control point in V", Q, pv, a4, {0, 1}, 4, 1, 2, 0},
        {"a V parameter count other than the point count", Q, {0.5}, a4, a5, 4, 5, 2, 2},
    };
    for (const RefusedApproximation& r : approximations) {
        V3dNurbsSurface s;
        EXPECT_FALSE(s.LeastSquaresApproximation(r.data, pu, r.pv, r.ku, r.kv, r.cu, r.cv, r.p, r.q)) << r.what;
    }
    V3dNurbsSurface s;
    EXPECT_TRUE(s.LeastSquaresApproximation(Q, pu, pv, a4, UniformKnots(2 + 2, 1), 4, 2, 2, 1));
    // Counts far beyond their knot vectors ask for their zero grid first: a size that overflows
    // throws std::length_error, one beyond the memory std::bad_alloc.
    EXPECT_THROW(s.LeastSquaresApproximation(Q, pu, pv, a4, a5, huge, 5, 2, 2), std::length_error);

    // Interpolation: one knot too many in U: false after every field was replaced; not valid.
    std::vector<double> longU = ku;
    longU.push_back(1.0);
    EXPECT_FALSE(s.GlobalInterpolation(Q, pu, pv, longU, kv, 3, 2));
    EXPECT_FALSE(s.IsValid());
    EXPECT_EQ(s.GetKnotsU(), longU);
    // A singular V system (every parameter equal) after a successful U pass: false, the grid
    // holds the U pass, and the sizes make the surface valid.
    const std::vector<double> badV(6, 0.25);
    EXPECT_FALSE(s.GlobalInterpolation(Q, pu, badV, ku, kv, 3, 2));
    EXPECT_TRUE(s.IsValid());
    const Fit ref = ColumnByColumnInterpolation(Q, pu, badV, ku, kv, 3, 2);
    EXPECT_FALSE(ref.ok);
    EXPECT_TRUE(SameBits(s.GetControlPoints(), ref.grid));
    // A singular U system (every parameter equal): nothing written, all zeros.
    EXPECT_FALSE(s.GlobalInterpolation(Q, std::vector<double>(5, 0.5), pv, ku, kv, 3, 2));
    EXPECT_TRUE(s.IsValid());
    for (const P4& c : s.GetControlPoints().Elements()) EXPECT_EQ(c, (P4{0, 0, 0, 0}));

    // Counts not below their knot counts: the new 7 x 9 zero grid, knots, range and degrees.
    EXPECT_FALSE(s.LeastSquaresApproximation(Q, pu, pv, a4, UniformKnots(5 + 4, 3), 7, 9, 1, 3));
    EXPECT_FALSE(s.IsValid());
    ASSERT_EQ(s.GetControlPoints().RowCount(), 7u);
    ASSERT_EQ(s.GetControlPoints().ColumnCount(), 9u);
    for (const P4& c : s.GetControlPoints().Elements()) EXPECT_EQ(c, (P4{0, 0, 0, 0}));
    EXPECT_EQ(s.GetMinParamV(), UniformKnots(5 + 4, 3)[3]);
    // Counts that fit their knots but fail otherwise still leave the zero grid of their size;
    // a parameter count other than the point count fails the first curve fit: zeros, valid.
    EXPECT_FALSE(s.LeastSquaresApproximation(Q, UniformParameterization(9), pv, a4, a5, 4, 5, 2, 2));
    EXPECT_TRUE(s.IsValid());
    EXPECT_EQ(s.GetControlPoints().ColumnCount(), 5u);
    for (const P4& c : s.GetControlPoints().Elements()) EXPECT_EQ(c, (P4{0, 0, 0, 0}));
}

// Refitting with the surface's own knot vectors as arguments (even crossed over) reads
// them as they were on entry.
TEST(SurfaceInterpolation, OwnKnotVectorsAsArguments) {
    std::mt19937_64 rng(103);
    const VMatrix<P3> Q = RandomGrid(rng, 7, 7, false);
    const std::vector<double> pu = ChordLikeParameters(rng, 7), pv = ChordLikeParameters(rng, 7);
    const std::vector<double> ku = KnotAveraging(pu, 3), kv = KnotAveraging(pv, 2);
    V3dNurbsSurface s;
    ASSERT_TRUE(s.GlobalInterpolation(Q, pu, pv, ku, kv, 3, 2));
    V3dNurbsSurface crossed(s);
    ASSERT_TRUE(crossed.GlobalInterpolation(Q, pv, pu, crossed.GetKnotsV(), crossed.GetKnotsU(), 2, 3));
    V3dNurbsSurface fresh;
    ASSERT_TRUE(fresh.GlobalInterpolation(Q, pv, pu, kv, ku, 2, 3));
    EXPECT_EQ(crossed.GetKnotsU(), kv);
    EXPECT_EQ(crossed.GetKnotsV(), ku);
    EXPECT_TRUE(SameBits(crossed.GetControlPoints(), fresh.GetControlPoints()));
}
