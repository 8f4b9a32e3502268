// Differential properties of NURBS curves: curvature, torsion, the Frenet frame,
// rotation-minimising frames along a parameter list, and tight bounding boxes.
#pragma once

#include <VelSDK/AnalysisStatus.h>
#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// Local properties of a curve at one parameter.
struct CurveLocalProperties {
    /// Success; InvalidGeometry (CheckCurve); InvalidArgument (u NaN or infinite; u outside
    /// the range is allowed and extrapolates the end pieces); Degenerate: the Frenet frame does
    /// not exist (zero speed: tangent, normal, binormal, curvature and torsion NaN; zero
    /// curvature, a straight stretch: curvature 0, normal, binormal and torsion NaN).
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    Math::point<double, 3> point{};
    /// |C'(u)|.
    double speed = 0.0;
    /// Unit vectors of the Frenet frame.
    Math::point<double, 3> tangent{};
    Math::point<double, 3> normal{};
    Math::point<double, 3> binormal{};
    /// kappa = |C' x C''| / |C'|^3 (>= 0).
    double curvature = 0.0;
    /// tau = (C' x C'') . C''' / |C' x C''|^2.
    double torsion = 0.0;
};

/// Curvature, torsion and the Frenet frame at u from the derivatives 0..3 (The NURBS Book
/// A4.2 through V3dNurbsCurve::DeriveAt). Zero tests are relative: the speed counts as zero
/// below 1e-14 times the size of the control polygon per unit parameter, the curvature
/// vector C' x C'' below 1e-14 |C'| |C''|.
VELSDK_NURBS_API CurveLocalProperties LocalProperties(const V3dNurbsCurve& curve, double u);

/// Curvature at count parameters into kappa[0..count-1] (NaN for NaN parameters or zero
/// speed), allocation-free for degrees up to 15: derivatives 0..2 by the shared derivative
/// kernel. Returns the status of the curve check (on InvalidGeometry every kappa is NaN).
VELSDK_NURBS_API AnalysisStatus Curvatures(const V3dNurbsCurve& curve, const double* u, std::size_t count,
                                           double* kappa);

/// Smallest and largest curvature over the range, by sampling every knot span of the range
/// at samplesPerSpan points (at least 2, at most 2^20 samples in all) and refining each sampled extremum by golden-
/// section search inside its neighbouring samples (at most 60 steps).
struct CurvatureRange {
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    double minimum = 0.0;
    double minimumAt = 0.0;
    double maximum = 0.0;
    double maximumAt = 0.0;
};
VELSDK_NURBS_API CurvatureRange FindCurvatureRange(const V3dNurbsCurve& curve, std::size_t samplesPerSpan = 16);

/// One frame of a rotation-minimising frame field: position, unit tangent t, and the unit
/// normals r and s = t x r.
struct Frame {
    double parameter = 0.0;
    Math::point<double, 3> point{};
    Math::point<double, 3> tangent{};
    Math::point<double, 3> normal{};
    Math::point<double, 3> binormal{};
};

/// Rotation-minimising frames along a parameter list.
struct FrameResult {
    /// Success; InvalidGeometry; InvalidArgument (fewer than 1 parameter, a parameter NaN or
    /// outside the range, parameters not increasing, a zero initial normal); Degenerate (a
    /// parameter with zero speed: the frames from there on carry the last tangent).
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    std::vector<Frame> frames;
    /// For a closed curve (first and last position within 1e-9 of the polygon size, tangents
    /// parallel) sampled from range start to range end: the signed angle in radians about the
    /// tangent that turns the last normal onto the first (distribute it linearly along the
    /// length to close the frame field); NaN for an open curve or parameter lists that do not
    /// span the whole range.
    double closingTwist = 0.0;
};

/// Rotation-minimising frames by the double reflection method (W. Wang, B. Juttler, D. Zheng,
/// Y. Liu, "Computation of rotation minimizing frames", ACM TOG 27(1), 2008): each frame is
/// reflected in the bisector plane of the two positions, then in the plane that takes the
/// reflected tangent onto the next tangent; O(h^4) per step. The first normal is
/// initialNormal made orthogonal to the first tangent, or (when it is zero or parallel to the
/// tangent) the principal normal, or any unit vector orthogonal to the tangent.
VELSDK_NURBS_API FrameResult RotationMinimizingFrames(const V3dNurbsCurve& curve, const std::vector<double>& u,
                                                      const Math::point<double, 3>& initialNormal = {0.0, 0.0, 0.0});

/// Axis-aligned box.
struct BoundingBox {
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    Math::point<double, 3> lower{};
    Math::point<double, 3> upper{};
};

/// The tight axis-aligned box of the curve over its range, within `slack` of the exact box on
/// every side and never smaller than it: the Bezier pieces (The NURBS Book A5.6) are halved by
/// de Casteljau's algorithm wherever their control-point box reaches beyond the box of the
/// points found on the curve by more than slack (convex hull property, positive weights).
/// slack <= 0 or NaN gives InvalidArgument; at most 2^20 / (p + 1) pieces are halved per side
/// (NotConverged with the outer box found if that is not enough).
VELSDK_NURBS_API BoundingBox TightBoundingBox(const V3dNurbsCurve& curve, double slack);

}  // namespace NURBS
}  // namespace VelSDK
