// A host program that only includes the umbrella header and links VelSDK::Nurbs.
#include <VelSDK/Nurbs.h>

#include <cmath>
#include <cstdio>

int main() {
    using VelSDK::Math::point;
    VelSDK::NURBS::V3dNurbsCurve curve(
        {point<double, 4>{0, 0, 0, 1}, point<double, 4>{1, 2, 0, 1}, point<double, 4>{2, 0, 0, 1}}, {0, 0, 0, 1, 1, 1},
        2);
    const point<double, 3> p = curve.EvaluateAt(0.5);
    if (!curve.IsValid() || std::fabs(p[0] - 1.0) > 1e-15 || std::fabs(p[1] - 1.0) > 1e-15) {
        std::printf("unexpected point %g %g %g\n", p[0], p[1], p[2]);
        return 1;
    }
    std::printf("ok\n");
    return 0;
}
