// V3dCurve: abstract base of the parametric 3-D curves of the curve framework.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>

#include <cstddef>
#include <vector>

/// Abstract parametric 3-D curve over [minimum, maximum] with a closed-loop flag.
///
/// Subclasses supply the evaluation (position, first and second derivative), a coarse
/// sample list (_SegmentMinimal) and the fit itself (_Fit). On top of these this class
/// offers the fitting driver with its coincident-point test, point/parameter conversions,
/// point projection by damped Newton iteration, distance queries and a generic chord-
/// tolerance segmentation.
///
/// The virtual functions are declared in virtual-table order; do not reorder them.
class VELSDK_NURBS_API V3dCurve {
public:
    /// Result codes of the curve framework.
    enum RCode { Success = 0, CoincidentPoints = 1, Failure = 2 };

    /// Not closed, range [0.0, 1.0].
    V3dCurve();
    V3dCurve(const V3dCurve& other);
    V3dCurve& operator=(const V3dCurve& other);

    // 1. destructor
    virtual ~V3dCurve();

    // 2. Fitting driver: returns CoincidentPoints (object untouched) as soon as two consecutive
    //    points lie closer than 2^-26 (scaled length of their difference); otherwise stores the
    //    closed-loop flag and returns the result of _Fit. First and last point are not compared.
    virtual RCode Fit(const std::vector<VelSDK::Math::point<double, 3>>& points, bool closedLoop);

    // 3.-5. Evaluation at parameter t. Failure (outputs untouched) when the curve cannot be
    //       evaluated.
    virtual RCode EvaluatePosition(VelSDK::Math::point<double, 3>& position, double t) const = 0;
    virtual RCode EvaluateSpeed(VelSDK::Math::point<double, 3>& position, VelSDK::Math::point<double, 3>& first,
                                double t) const = 0;
    virtual RCode EvaluateAcceleration(VelSDK::Math::point<double, 3>& position, VelSDK::Math::point<double, 3>& first,
                                       VelSDK::Math::point<double, 3>& second, double t) const = 0;

    // 6. Generic segmentation: refines the list (the _SegmentMinimal samples when keep is
    //    false, the caller's list when true) by halving every interval whose midpoint lies
    //    farther than tolerance from its chord, pass after pass. Returns Success, except for a
    //    tolerance that is not a positive finite number: Failure, list left as given. An
    //    interval is not halved when its midpoint equals an end, when a position is not finite,
    //    or when its deviation is within 16 units in the last place of the largest coordinate of
    //    its three positions (their rounding noise; at 1e6 about 1.9e-9): so a tolerance below
    //    that noise ends there instead of never. A list that would grow beyond 2^27 parameters
    //    throws std::length_error, the list left as given (a range or curve extrapolated over
    //    many orders of magnitude would otherwise fill the memory; the refinement keeps about
    //    66 bytes per parameter).
    virtual RCode Segment(std::vector<double>& parameters, double tolerance, bool keep) const;
    // 7. Segmentation into points: the (virtual) parameter overload, then ParametersToPoints.
    virtual RCode Segment(std::vector<VelSDK::Math::point<double, 3>>& points, double tolerance) const;
    // 8. Nearest point: tries t first when useStart, then the two nearest _SegmentMinimal
    //    samples; Success with t the parameter of the nearest converged point, else Failure.
    virtual RCode ProjectPoint(double& t, const VelSDK::Math::point<double, 3>& point, double tolerance,
                               bool useStart) const;

    double GetMinParameter() const;
    double GetMaxParameter() const;
    void SetMinParameter(double value);
    void SetMaxParameter(double value);
    bool IsClosedLoop() const;

    /// Position at the minimum (maximum) parameter; (0, 0, 0) when the curve cannot be evaluated.
    VelSDK::Math::point<double, 3> GetFirstPoint() const;
    VelSDK::Math::point<double, 3> GetLastPoint() const;

    /// points[i] = position at parameters[i] ((0, 0, 0) where evaluation fails).
    void ParametersToPoints(std::vector<VelSDK::Math::point<double, 3>>& points,
                            const std::vector<double>& parameters) const;
    /// parameters[i] = ProjectPoint of points[i]. One running parameter is used for all points;
    /// it starts at the minimum parameter, and a projection that fails keeps the previous value.
    void PointsToParameters(std::vector<double>& parameters, const std::vector<VelSDK::Math::point<double, 3>>& points,
                            double tolerance) const;

    /// Distance from point to the curve; t receives the parameter of the nearest point found
    /// (and is kept when the projection fails).
    double Distance(const VelSDK::Math::point<double, 3>& point, double tolerance, double& t) const;
    /// The same with a local parameter starting at the minimum parameter.
    double Distance(const VelSDK::Math::point<double, 3>& point, double tolerance) const;

protected:
    /// For subclasses: sets the closed-loop flag.
    void _SetClosedLoop(bool closedLoop);

private:
    friend struct V3dCurveTestAccess;

    // 9. Always true; no operation of the library calls it.
    virtual bool Sanity();
    // 10. Appends the coarsest parameter list from which segmentation and projection start.
    virtual void _SegmentMinimal(std::vector<double>& parameters) const = 0;
    // 11. Fits the curve to points already checked by Fit.
    virtual RCode _Fit(const std::vector<VelSDK::Math::point<double, 3>>& points) = 0;

    RCode _ProjectPoint(double& distance, double& t, const VelSDK::Math::point<double, 3>& point,
                        double tolerance) const;
    void _GetClosePoint(double* out, const VelSDK::Math::point<double, 3>& point, std::size_t k) const;
    bool _ParameterRangeAdjust(double& t) const;

    bool m_closedLoop;
    double m_minParameter;
    double m_maxParameter;
};
