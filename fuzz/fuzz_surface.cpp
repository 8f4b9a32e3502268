// Builds a NURBS surface from a fuzzed control grid, knot vectors and degrees (now and then a
// knot too few or too many, unsorted or non-finite knots) and evaluates it, derives it and
// projects a point onto it; then fits a surface through a fuzzed data grid, by interpolation
// or least squares, with generated or fuzzed parameters and knots. Every call must stay
// inside its buffers, allocate in proportion to its input and terminate.
#include <VelSDK/Nurbs.h>

#include "FuzzInput.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

// An invariant of the library's results; a violation names itself and aborts (a finding).
#define Check(condition)                                                                \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

namespace {

bool SameBits(const P3& a, const P3& b) {
    for (int i = 0; i < 3; ++i)
        if (!(std::isnan(a[i]) && std::isnan(b[i])) && std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
    return true;
}

// count knots, mostly non-decreasing from 0 in fuzzed steps; now and then a raw value.
std::vector<double> Knots(fuzz::Input& in, std::size_t count) {
    std::vector<double> U(count);
    double t = 0.0;
    for (double& k : U) {
        const std::uint8_t step = in.Byte();
        t += (step % 3 == 0) ? 0.0 : static_cast<double>(step) / 32.0;
        k = (step == 255) ? in.Double() : t;
    }
    return U;
}

std::size_t Slack(fuzz::Input& in, std::size_t count) {
    switch (in.Byte() % 8) {
        case 0:
            return count > 0 ? count - 1 : 0;
        case 1:
            return count + 1;
        default:
            return count;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::size_t rows = in.Byte() % 9;
    const std::size_t cols = in.Byte() % 9;
    const std::size_t p = in.Byte() % 6;
    const std::size_t q = in.Byte() % 6;

    VMatrix<P4> grid(rows, cols, P4{0, 0, 0, 1});
    for (P4& P : grid.Elements()) P = P4{in.Number(), in.Number(), in.Number(), 1.0 + (in.Byte() % 4) * 0.5};
    std::vector<double> U = Knots(in, Slack(in, rows + p + 1));
    std::vector<double> V = Knots(in, Slack(in, cols + q + 1));
    const V3dNurbsSurface s(grid, U, V, p, q);
    const bool evaluable = s.IsValid() && p < rows && q < cols;

    const double u = in.Number(), v = in.Number();
    const P3 point = s.EvaluateAt(u, v);
    const std::size_t d = in.Byte() % 5;
    const VMatrix<P3> D = s.DeriveAt(u, v, d);
    Check(D.RowCount() == d + 1 && D.ColumnCount() == d + 1);
    Check(SameBits(D(0, 0), point));
    const VMatrix<P4> DH = s.DeriveAtH(u, v, d);
    Check(DH.RowCount() == d + 1 && DH.ColumnCount() == d + 1);
    const auto r = s.Project(P3{in.Number(), in.Number(), in.Number()}, in.Byte() % 32, 1e-9);
    if (evaluable) Check(SameBits(r.first, s.EvaluateAt(r.second.first, r.second.second)));

    // Fitting through a data grid.
    const std::size_t m = in.Byte() % 9;
    const std::size_t n = in.Byte() % 9;
    VMatrix<P3> Q(m, n, P3{0, 0, 0});
    for (P3& P : Q.Elements()) P = P3{in.Number(), in.Number(), in.Number()};
    const std::uint8_t mode = in.Byte();
    std::vector<double> pu = VelSDK::NURBS::UniformParameterization(m);
    std::vector<double> pv = VelSDK::NURBS::UniformParameterization(n);
    if (mode & 2) {
        for (double& x : pu) x = in.Number();
        for (double& x : pv) x = in.Number();
    }
    V3dNurbsSurface fitted(s);
    bool ok;
    std::size_t cu = m, cv = n;
    if (mode & 1) {
        std::vector<double> ku = VelSDK::NURBS::KnotAveraging(pu, p);
        std::vector<double> kv = VelSDK::NURBS::KnotAveraging(pv, q);
        if (mode & 4) ku = Knots(in, Slack(in, m + p + 1));
        ok = fitted.GlobalInterpolation(Q, pu, pv, ku, kv, p, q);
    } else {
        cu = in.Byte() % 9;
        cv = in.Byte() % 9;
        std::vector<double> ku = VelSDK::NURBS::UniformKnots(cu + p + 1, p);
        std::vector<double> kv = VelSDK::NURBS::UniformKnots(cv + q + 1, q);
        if (mode & 4) kv = Knots(in, Slack(in, cv + q + 1));
        ok = fitted.LeastSquaresApproximation(Q, pu, pv, ku, kv, cu, cv, p, q);
    }
    if (ok) {
        Check(fitted.IsValid());
        Check(fitted.GetControlPoints().RowCount() == cu && fitted.GetControlPoints().ColumnCount() == cv);
        // Weight 1, except the interior points a least-squares fit of one or two points leaves at zero.
        for (const P4& P : fitted.GetControlPoints().Elements())
            Check(P[3] == 1.0 || (P[0] == 0.0 && P[1] == 0.0 && P[2] == 0.0 && P[3] == 0.0));
        (void)fitted.EvaluateAt(in.Number(), in.Number());
        (void)fitted.Project(P3{in.Number(), in.Number(), in.Number()}, in.Byte() % 16, 1e-9);
    }
    return 0;
}
