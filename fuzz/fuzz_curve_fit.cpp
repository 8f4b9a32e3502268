// Fits curves to fuzzed point lists under fuzzed settings: V3dCurveNurbsPlus::Fit (open and
// closed, with and without the parameter list) and FitWithEndDerivatives, and the three fits
// of V3dNurbsCurve with generated or fuzzed parameters and knots. A fitted curve is then
// evaluated, projected onto and segmented. Every call must stay inside its buffers, allocate
// in proportion to its input and terminate; the results must keep the documented invariants.
#include <VelSDK/Nurbs.h>

#include "FuzzInput.h"
#include "UseCurve.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using VelSDK::NURBS::V3dNurbsCurve;

// An invariant of the library's results; a violation names itself and aborts (a finding).
#define Check(condition)                                                                \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

namespace {

std::vector<P3> Points(fuzz::Input& in, std::size_t n) {
    std::vector<P3> q(n);
    for (P3& p : q) p = P3{in.Number(), in.Number(), in.Number()};
    return q;
}

std::vector<double> Values(fuzz::Input& in, std::size_t n) {
    std::vector<double> v(n);
    for (double& x : v) x = in.Number();
    return v;
}

// Ordinary use of a curve that a fit left valid: every member (UseCurve), and a projection of
// a fuzzed point.
void UseFitted(V3dCurveNurbsPlus& c, fuzz::Input& in) {
    Check(c.GetMinParameter() == 0.0 && c.GetMaxParameter() == 1.0);
    double u = 0.5;
    const V3dCurve::RCode r = c.ProjectPoint(u, P3{in.Number(), in.Number(), in.Number()}, 1e-9, (in.Byte() & 1) != 0);
    Check(r == V3dCurve::Success || r == V3dCurve::Failure);
    fuzz::UseCurve(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::uint8_t mode = in.Byte();
    const std::size_t n = in.Byte() % 48;
    std::uint8_t orderByte = in.Byte();
    const unsigned char order = (orderByte & 0x80) ? orderByte : static_cast<unsigned char>(orderByte % 8);
    const std::uint8_t settings = in.Byte();
    const std::uint8_t extra = in.Byte();  // control-point count request, or the knot kind
    const std::vector<P3> Q = Points(in, n);

    if (mode % 3 != 2) {
        // The fitted curve object.
        V3dCurveNurbsPlus c;
        c.SetOrder(order);
        // Mostly valid enumerators; now and then a value out of range (a logic error).
        const int parametrization = (settings & 0x40) ? (settings & 0x0f) : (settings & 1);
        const int knots = (settings & 0x20) ? ((settings >> 1) & 0x0f) : ((settings >> 1) & 1);
        c.SetParametrization(static_cast<V3dCurveNurbsPlus::EParametrization>(parametrization));
        c.SetKnotsGeneration(static_cast<V3dCurveNurbsPlus::EKnotsGeneration>(knots));
        c.SetNumberControlPoints(extra % 4 == 0 ? n : (extra % 4 == 1 ? 0 : extra));
        const bool closed = (settings & 0x10) != 0;
        std::vector<double> parameters;
        V3dCurve::RCode r = V3dCurve::Failure;
        try {
            if (mode % 3 == 0) {
                r = (settings & 0x08) ? c.Fit(parameters, Q, closed) : c.Fit(Q, closed);
            } else {
                const std::pair<P3, P3> D{P3{in.Number(), in.Number(), in.Number()},
                                          P3{in.Number(), in.Number(), in.Number()}};
                r = c.FitWithEndDerivatives(parameters, Q, D);
            }
        } catch (const std::logic_error&) {
            Check(parametrization > 1 || knots > 1);
            return 0;
        }
        Check(r == V3dCurve::Success || r == V3dCurve::Failure || r == V3dCurve::CoincidentPoints);
        if (r == V3dCurve::Success) {
            Check(c.IsValid());
            Check(c.GetControlPoints().size() >= order && order >= 2);
            if (mode % 3 == 1 || (settings & 0x08)) Check(parameters.size() == n);
            UseFitted(c, in);
        }
        return 0;
    }

    // The fits of V3dNurbsCurve with generated or fuzzed parameters and knots.
    const std::size_t p = order % 8;
    std::vector<double> u = VelSDK::NURBS::UniformParameterization(n);
    if (settings & 1) {  // fuzzed parameters, now and then one too few or too many
        std::size_t count = n;
        const std::uint8_t b = in.Byte() % 3;
        if (b == 1 && count > 0) --count;
        if (b == 2) ++count;
        u = Values(in, count);
    }
    std::vector<double> knots;
    switch (extra % 4) {
        case 0:
            knots = VelSDK::NURBS::KnotAveraging(u, p);
            break;
        case 1:
            knots = VelSDK::NURBS::KnotAveragingClosed(u, p);
            break;
        case 2:
            knots = VelSDK::NURBS::KnotAveragingWithEndDerivatives(u, p);
            break;
        default:
            knots = Values(in, in.Byte() % 64);
            break;
    }
    V3dNurbsCurve c;
    const std::size_t nc = (settings & 2) ? n : in.Byte() % 48;
    bool ok = false;
    std::size_t expected = 0;
    switch ((settings >> 2) % 4) {
        case 0:
            ok = c.GlobalInterpolation(Q, u, knots, p, false);
            expected = n;
            break;
        case 1:
            ok = c.GlobalInterpolation(Q, u, knots, p, true);
            expected = n;
            break;
        case 2:
            ok =
                c.GlobalInterpolationWithEndDerivatives(Q, u, knots, {P3{in.Number(), 0, 0}, P3{0, in.Number(), 0}}, p);
            expected = n + 2;
            break;
        default:
            ok = c.LeastSquaresApproximation(Q, u, knots, nc, p);
            expected = nc;
            break;
    }
    if (ok) {
        Check(c.GetControlPoints().size() == expected);
        Check(c.GetKnots().size() == knots.size());
        // Weight 1, except the interior points a least-squares fit of one or two points leaves at zero.
        for (const P4& h : c.GetControlPoints())
            Check(h[3] == 1.0 || (h[0] == 0.0 && h[1] == 0.0 && h[2] == 0.0 && h[3] == 0.0));
        (void)c.EvaluateAt(in.Number());
        (void)c.DeriveAt(in.Number(), in.Byte() % 4);
        (void)c.Project(P3{in.Number(), in.Number(), in.Number()}, in.Byte() % 32, 1e-9);
    }
    return 0;
}
