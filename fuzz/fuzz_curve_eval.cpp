// Builds a NURBS curve from fuzzed control points, knots and degree and evaluates it,
// derives it, and (when the curve is valid) projects a point, inserts knots, splits and
// clamps. Every call must stay inside its buffers and terminate.
#include <VelSDK/Nurbs.h>

#include "FuzzInput.h"

#include <cstdint>
#include <vector>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::size_t degree = in.Byte() % 8;
    const std::size_t n = in.Byte() % 24;
    const std::size_t knotSlack = in.Byte() % 4;  // 0..3: a knot count of n + p + 1 +/- 1 now and then
    std::vector<point<double, 4>> P(n);
    for (auto& q : P) q = point<double, 4>{in.Number(), in.Number(), in.Number(), 1.0 + (in.Byte() % 4) * 0.5};
    std::size_t m = n + degree + 1;
    if (knotSlack == 1 && m > 0) --m;
    if (knotSlack == 2) ++m;
    std::vector<double> U(m);
    double t = 0.0;
    for (double& k : U) {
        const std::uint8_t step = in.Byte();
        t += (step % 3 == 0) ? 0.0 : static_cast<double>(step) / 32.0;
        k = (step == 255) ? in.Double() : t;  // occasionally a raw (possibly non-finite, unsorted) knot
    }
    V3dNurbsCurve c(P, U, degree);
    const double u = in.Number();
    (void)c.IsValid();
    (void)c.IsClamped();
    (void)c.GetMinParam();
    (void)c.GetMaxParam();
    (void)c.EvaluateAt(u);
    (void)c.DeriveAt(u, in.Byte() % 10);
    if (c.IsValid()) {
        const point<double, 3> q{in.Number(), in.Number(), in.Number()};
        (void)c.Project(q, in.Byte() % 64, 1e-9);
        V3dNurbsCurve left, right;
        (void)c.SplitAt(u, left, right);
        V3dNurbsCurve refined(c);
        std::vector<double> X;
        const std::size_t r = in.Byte() % 4;
        for (std::size_t i = 0; i < r; ++i) X.push_back(in.Number());
        refined.InsertKnots(X);
        V3dNurbsCurve clamped(c);
        clamped.Clamp();
        (void)clamped.EvaluateAt(u);
    }
    return 0;
}
