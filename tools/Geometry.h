// Small geometric helpers of the nurbs program: bounding boxes and curve polylines.
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <cstddef>
#include <vector>

namespace nurbs_tool {

/// Axis-aligned box; empty until the first point is added.
struct Box {
    VelSDK::Math::point<double, 3> min{};
    VelSDK::Math::point<double, 3> max{};
    bool empty = true;

    void Add(const VelSDK::Math::point<double, 3>& p);
    /// Length of the diagonal (0 for an empty box).
    double Diagonal() const;
};

/// A polyline of a curve: parameters and points.
struct Polyline {
    std::vector<double> parameters;
    std::vector<VelSDK::Math::point<double, 3>> points;
};

class Geometry {
public:
    /// Box of the Cartesian control points.
    static Box ControlBox(const V3dCurveNurbsPlus& curve);
    /// The curve's own segmentation at the tolerance (on a copy, since segmentation clamps
    /// the curve it runs on) with the points at its parameters.
    static Polyline Segment(const V3dCurveNurbsPlus& curve, double tolerance);
    /// Whether any weight differs from 1.
    static bool IsRational(const V3dCurveNurbsPlus& curve);
    /// The distinct knot values inside the parameter range, ends included.
    static std::vector<double> DistinctKnotsInRange(const V3dCurveNurbsPlus& curve);
};

}  // namespace nurbs_tool
