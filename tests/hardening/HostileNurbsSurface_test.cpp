// The documented answers of V3dNurbsSurface on hostile input, one sweep of members × a table of
// surfaces without columns, short of knots in either direction, with decreasing, NaN, infinite
// or subnormal knots, zero or NaN weights, degree 0 and 30 and degrees not below the counts, at
// NaN, infinite, signed-zero, huge and subnormal parameters: NaN where the surface cannot be
// evaluated, zero derivatives above the total order, finite values inside the ranges of a
// well-formed surface, the projection's point at its parameters, length_error and bad_alloc for
// orders beyond memory. (Arbitrary surfaces: the fuzz target fuzz_surface.)
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

using namespace VelSDK::NURBS;
using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;
using hostile::Clamped;
using hostile::kInf;
using hostile::kNaN;
using hostile::Same;

namespace {

VMatrix<P4> Grid(std::size_t rows, std::size_t cols, double w = 1.0) {
    VMatrix<P4> g(rows, cols, P4{0, 0, 0, 1});
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < cols; ++j) g(i, j) = P4{w * i, w * j, w * std::sin(i + 2.0 * j), w};
    return g;
}

}  // namespace

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
