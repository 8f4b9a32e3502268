// Small geometric helpers of the nurbs program.
#include "Geometry.h"

#include <cmath>

namespace nurbs_tool {

using VelSDK::Math::point;

void Box::Add(const point<double, 3>& p) {
    if (empty) {
        min = max = p;
        empty = false;
        return;
    }
    for (std::size_t c = 0; c < 3; ++c) {
        if (p[c] < min[c]) min[c] = p[c];
        if (p[c] > max[c]) max[c] = p[c];
    }
}

double Box::Diagonal() const { return empty ? 0.0 : VelSDK::Math::Distance(min, max); }

Box Geometry::ControlBox(const V3dCurveNurbsPlus& curve) {
    Box box;
    for (const point<double, 4>& h : curve.GetControlPoints()) box.Add(VelSDK::Math::ToCartesian(h));
    return box;
}

Polyline Geometry::Segment(const V3dCurveNurbsPlus& curve, double tolerance) {
    Polyline line;
    const V3dCurveNurbsPlus copy(curve);
    copy.Segment(line.parameters, tolerance, false);
    copy.ParametersToPoints(line.points, line.parameters);
    return line;
}

bool Geometry::IsRational(const V3dCurveNurbsPlus& curve) {
    for (const point<double, 4>& h : curve.GetControlPoints())
        if (!(h[3] == 1.0)) return true;
    return false;
}

std::vector<double> Geometry::DistinctKnotsInRange(const V3dCurveNurbsPlus& curve) {
    std::vector<double> out;
    const double a = curve.GetMinParameter();
    const double b = curve.GetMaxParameter();
    for (double k : curve.GetKnots()) {
        if (k < a || k > b) continue;
        if (out.empty() || k > out.back()) out.push_back(k);
    }
    return out;
}

}  // namespace nurbs_tool
