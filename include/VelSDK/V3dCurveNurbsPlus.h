// V3dCurveNurbsPlus: a V3dCurve whose geometry is an owned V3dNurbsCurve, with the
// settings that steer how it is fitted to data points.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dCurve.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

/// The fitted NURBS curve of the curve framework.
///
/// Typical use: set order, parametrization and knot generation, call Fit(points, closed),
/// then evaluate, project points (ProjectPoint, Distance) and cut the curve into a polyline
/// (Segment).
///
/// Fitting:
/// - open (Fit with closed = false): least-squares approximation with fixed end points over
///   chord-length or uniform parameters; it succeeds only when the number of control points is
///   0 (= as many as data points) or equal to the number of data points.
/// - closed (Fit with closed = true): global interpolation of the points with the first
///   (order - 1) of them repeated at the end; the curve has N + order - 1 control points, the
///   last order - 1 equal to the first. With KnotsUniform the clamped uniform knot vector is
///   placed under the wrapped points; with chord-length parameters that system is usually
///   singular, and with uniform parameters it becomes badly conditioned beyond roughly 150
///   points. Use KnotsAveraging for closed fits.
/// - with end derivatives: open interpolation with prescribed first derivatives at both ends.
/// Every fit sets the range to [0, 1] and the valid flag to its outcome; a failed fit does not
/// restore the previous curve. Fits with an order below 2 fail.
///
/// Thread safety: const members may run concurrently on one object, except Segment, which
/// clamps the held curve in place (the geometry is unchanged) and therefore must not run
/// beside any other use of the same object.
///
/// A moved-from object holds an empty curve and is not valid.
class VELSDK_NURBS_API V3dCurveNurbsPlus : public V3dCurve {
public:
    /// How fitting assigns parameter values to data points.
    enum EParametrization : int { ParametrizationChordLength = 0, ParametrizationUniform = 1 };
    /// How fitting builds the knot vector.
    enum EKnotsGeneration : int { KnotsAveraging = 0, KnotsUniform = 1 };

    /// Not valid, order 3, number of control points 0, chord length, knot averaging.
    V3dCurveNurbsPlus();
    /// Copies everything except the fitted-parameter list.
    V3dCurveNurbsPlus(const V3dCurveNurbsPlus& other);
    /// Takes over the held curve and the fitted parameters.
    V3dCurveNurbsPlus(V3dCurveNurbsPlus&& other) noexcept;
    /// Copies everything except the fitted-parameter list (the destination keeps its own).
    V3dCurveNurbsPlus& operator=(const V3dCurveNurbsPlus& other);
    V3dCurveNurbsPlus& operator=(V3dCurveNurbsPlus&& other) noexcept;
    ~V3dCurveNurbsPlus() override;

    /// The fitting driver of V3dCurve (coincident-point test, closed-loop flag, _Fit).
    RCode Fit(const std::vector<VelSDK::Math::point<double, 3>>& points, bool closedLoop) override;

    /// Failure (outputs untouched) when not valid; otherwise the held curve's point and derivatives.
    RCode EvaluatePosition(VelSDK::Math::point<double, 3>& position, double t) const override;
    RCode EvaluateSpeed(VelSDK::Math::point<double, 3>& position, VelSDK::Math::point<double, 3>& first,
                        double t) const override;
    RCode EvaluateAcceleration(VelSDK::Math::point<double, 3>& position, VelSDK::Math::point<double, 3>& first,
                               VelSDK::Math::point<double, 3>& second, double t) const override;

    using V3dCurve::Segment;
    /// Open non-rational curves of degree 1 to 3: Bezier decomposition and recursive halving
    /// until each piece's control polygon is flat within tolerance (the caller's parameters
    /// become extra break points when keep is true). Every other curve, an object that is not
    /// valid, and one whose knots are unsorted or NaN (as Reset may leave them), uses the generic
    /// V3dCurve::Segment. A tolerance that is not a positive finite number returns Failure and
    /// leaves the list as given; otherwise Success. A piece is not halved when its parameter
    /// midpoint equals an end, when a control point is not finite, or when its control polygon
    /// is flat within 16 units in the last place of its largest coordinate (their rounding
    /// noise), so a tolerance below that noise ends there. A result longer than 2^27 parameters
    /// throws std::length_error, the list left as given.
    /// Clamps the held curve in place: do not run it beside other uses of the same object.
    RCode Segment(std::vector<double>& parameters, double tolerance, bool keep) const override;

    /// Fit, then hands the fitted parameters (one per data point) to the caller.
    RCode Fit(std::vector<double>& parameters, const std::vector<VelSDK::Math::point<double, 3>>& points,
              bool closedLoop);
    /// Open interpolation with first derivatives (start, end) prescribed at both ends. No
    /// coincident-point test; the closed-loop flag is kept.
    RCode FitWithEndDerivatives(
        std::vector<double>& parameters, const std::vector<VelSDK::Math::point<double, 3>>& points,
        const std::pair<VelSDK::Math::point<double, 3>, VelSDK::Math::point<double, 3>>& endDerivatives);

    /// Valid flag, order and number of control points must agree; two objects that are not
    /// valid are then equal. Valid ones also compare closed-loop flag, control points and knots
    /// exactly. Range, fitting settings and fitted parameters are not compared.
    bool operator==(const V3dCurveNurbsPlus& other) const;

    /// No validity check; an index beyond the control points gives a point of NaNs.
    const VelSDK::Math::point<double, 4>& GetControlPoint(std::size_t index) const;
    const std::vector<VelSDK::Math::point<double, 4>>& GetControlPoints() const;
    const std::vector<double>& GetKnots() const;
    /// NaN when not valid or for an index beyond the knots; otherwise the knot.
    double GetKnot(std::size_t index) const;
    /// 0 when not valid.
    std::size_t GetNumberKnots() const;
    std::size_t GetNumberControlPoints() const;
    unsigned char GetOrder() const;
    bool IsValid() const;
    /// The held curve's IsClamped(); false when not valid.
    bool IsClamped() const;

    /// Setters store only; they steer the next fit.
    void SetOrder(unsigned char order);
    void SetNumberControlPoints(std::size_t count);
    void SetParametrization(const EParametrization& parametrization);
    void SetKnotsGeneration(const EKnotsGeneration& knotsGeneration);

    /// Replaces the held curve by an empty one and clears the valid flag; settings stay.
    void Invalidate();
    /// Builds a valid curve from homogeneous control points, knots and order. Failure (nothing
    /// changed) for an order below 2, fewer control points than the order, or fewer knots than
    /// control points + order. A longer knot vector is taken as it is (a curve saved after
    /// SetOrder lowered its order reads back). Range [0, 1] when closed, else the new curve's
    /// own range (knots[order - 1] to knots[control points]).
    RCode Reset(const std::vector<VelSDK::Math::point<double, 4>>& controlPoints, const std::vector<double>& knots,
                unsigned char order, bool closedLoop);
    /// Cuts the curve at t into two valid, open pieces with knots rescaled to [0, 1]. Failure
    /// when this object is not valid (targets untouched) or the cut is refused. A cut within
    /// DBL_EPSILON above the start of the range leaves a first piece with fewer control points
    /// than the order (V3dNurbsCurve::SplitAt): it is valid, evaluates to NaN, and its knots
    /// are not rescaled.
    RCode Split(V3dCurveNurbsPlus& first, V3dCurveNurbsPlus& second, double t) const;

private:
    friend struct V3dCurveNurbsPlusTestAccess;

    void _SegmentMinimal(std::vector<double>& parameters) const override;
    RCode _Fit(const std::vector<VelSDK::Math::point<double, 3>>& points) override;

    bool _FitClosed(std::vector<double>& parameters, const std::vector<VelSDK::Math::point<double, 3>>& points);
    bool _FitNonClosed(std::vector<double>& parameters, const std::vector<VelSDK::Math::point<double, 3>>& points);
    bool _FitNonClosedWithDerivatives(
        std::vector<double>& parameters, const std::vector<VelSDK::Math::point<double, 3>>& points,
        const std::pair<VelSDK::Math::point<double, 3>, VelSDK::Math::point<double, 3>>& endDerivatives);
    void _NormalizeKnotVector();

    /// The held curve, or a shared empty curve when this object was moved from.
    const VelSDK::NURBS::V3dNurbsCurve& _Curve() const;
    /// The held curve; a moved-from object gets a new empty one first.
    VelSDK::NURBS::V3dNurbsCurve& _MutableCurve();

    std::unique_ptr<VelSDK::NURBS::V3dNurbsCurve> m_curve;
    bool m_valid;
    unsigned char m_order;
    std::size_t m_numberControlPoints;
    EParametrization m_parametrization;
    EKnotsGeneration m_knotsGeneration;
    std::vector<double> m_parameters;
};
