// V3dCurve: range and closed-loop flag, the fitting driver, conversions between
// parameters and points, distance, point projection and the generic segmentation.
// Everything here reaches the geometry through the virtual evaluation members only.
#include <VelSDK/V3dCurve.h>

#include "math/SmallBuffer.h"
#include "curve/ChordRefinement.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

using VelSDK::Math::point;

namespace {

using Point3 = point<double, 3>;

// Length 2^-26 below which two consecutive data points count as coincident.
constexpr double kCoincidentLength = 0x1p-26;
// A plain squared length is within a few ulps of the true one: beyond this factor of a limit
// it decides on its own; closer, the scaled length decides.
constexpr double kClearlyBeyond = 1.000001;
// A squared distance below this square would lose precision as a subnormal number.
constexpr double kSquareSafe = 1e-150;
constexpr int kMaxNewtonIterations = 30;
constexpr std::size_t kStartingValues = 2;

// cos(a, b) = |a . b| / (|a| |b|) with scaled lengths; NaN when either vector is zero.
inline double Cosine(const Point3& a, const Point3& b) {
    return std::fabs(VelSDK::Math::Dot(a, b)) / (VelSDK::Math::ScaledLength(a) * VelSDK::Math::ScaledLength(b));
}

}  // namespace

V3dCurve::V3dCurve() : m_closedLoop(false), m_minParameter(0.0), m_maxParameter(1.0) {}

V3dCurve::V3dCurve(const V3dCurve& other)
    : m_closedLoop(other.m_closedLoop), m_minParameter(other.m_minParameter), m_maxParameter(other.m_maxParameter) {}

V3dCurve& V3dCurve::operator=(const V3dCurve& other) {
    m_closedLoop = other.m_closedLoop;
    m_minParameter = other.m_minParameter;
    m_maxParameter = other.m_maxParameter;
    return *this;
}

V3dCurve::~V3dCurve() {}

// Refuses two consecutive points closer than 2^-26 (scaled length of their difference,
// strict comparison) before anything changes; first and last point are not compared.
V3dCurve::RCode V3dCurve::Fit(const std::vector<Point3>& points, bool closedLoop) {
    // The plain squared length decides pairs that are clearly farther apart than the limit
    // (it is within a few ulps of the true value there, far above any underflow); only the
    // others take the scaled length, whose comparison is the rule.
    constexpr double kClearlyApart = kCoincidentLength * kCoincidentLength * kClearlyBeyond;
    const std::size_t n = points.size();
    if (n >= 2) {
        for (std::size_t i = 1; i < n; ++i) {
            const Point3 diff = points[i - 1] - points[i];
            if (VelSDK::Math::SquaredLength(diff) > kClearlyApart) continue;
            const double d = VelSDK::Math::ScaledLength(diff);
            if (kCoincidentLength > d) return CoincidentPoints;
        }
    }
    m_closedLoop = closedLoop;
    return _Fit(points);
}

double V3dCurve::GetMinParameter() const { return m_minParameter; }
double V3dCurve::GetMaxParameter() const { return m_maxParameter; }
void V3dCurve::SetMinParameter(double value) { m_minParameter = value; }
void V3dCurve::SetMaxParameter(double value) { m_maxParameter = value; }
bool V3dCurve::IsClosedLoop() const { return m_closedLoop; }
void V3dCurve::_SetClosedLoop(bool closedLoop) { m_closedLoop = closedLoop; }

bool V3dCurve::Sanity() { return true; }

Point3 V3dCurve::GetFirstPoint() const {
    Point3 p{};
    EvaluatePosition(p, m_minParameter);
    return p;
}

Point3 V3dCurve::GetLastPoint() const {
    Point3 p{};
    EvaluatePosition(p, m_maxParameter);
    return p;
}

void V3dCurve::ParametersToPoints(std::vector<Point3>& points, const std::vector<double>& parameters) const {
    points.resize(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        Point3 p{};
        EvaluatePosition(p, parameters[i]);
        points[i] = p;
    }
}

// One running parameter for all points. It starts at the minimum parameter (the projection
// writes it only when it converges, so the first point needs a defined value).
void V3dCurve::PointsToParameters(std::vector<double>& parameters, const std::vector<Point3>& points,
                                  double tolerance) const {
    parameters.resize(points.size());
    double t = m_minParameter;
    for (std::size_t i = 0; i < points.size(); ++i) {
        ProjectPoint(t, points[i], tolerance, false);
        parameters[i] = t;
    }
}

double V3dCurve::Distance(const Point3& point, double tolerance, double& t) const {
    ProjectPoint(t, point, tolerance, false);
    Point3 c{};
    EvaluatePosition(c, t);
    return VelSDK::Math::ScaledLength(point - c);
}

// The local parameter starts at the minimum parameter, the value kept when no projection converges.
double V3dCurve::Distance(const Point3& point, double tolerance) const {
    double t = m_minParameter;
    return Distance(point, tolerance, t);
}

// ---------------------------------------------------------------------------------------
// Point projection
// ---------------------------------------------------------------------------------------

bool V3dCurve::_ParameterRangeAdjust(double& t) const {
    if (m_closedLoop) return false;
    if (m_minParameter > t) {
        t = m_minParameter;
        return true;
    }
    if (t > m_maxParameter) {
        t = m_maxParameter;
        return true;
    }
    return false;
}

// The k samples of _SegmentMinimal nearest to the point (scaled distance), nearest first.
// The best lists are kept sorted by carrying each new (distance, index) pair through them
// with strict comparisons, so of equal distances the earlier sample stays in front. With
// fewer than k samples the remaining entries repeat the first sample; with no samples at all
// every entry is NaN (there is no parameter to offer, and a NaN start is never tried).
void V3dCurve::_GetClosePoint(double* out, const Point3& point, std::size_t k) const {
    if (k == 0) return;
    std::vector<double> samples;
    _SegmentMinimal(samples);
    if (samples.empty()) {
        for (std::size_t i = 0; i < k; ++i) out[i] = std::numeric_limits<double>::quiet_NaN();
        return;
    }

    constexpr std::size_t kStack = 8;
    VelSDK::Math::SmallBuffer<double, kStack> distBuffer(k);
    VelSDK::Math::SmallBuffer<std::size_t, kStack> indexBuffer(k);
    double* bestDist = distBuffer.data();
    std::size_t* bestIndex = indexBuffer.data();
    for (std::size_t i = 0; i < k; ++i) {
        bestDist[i] = DBL_MAX;
        bestIndex[i] = 0;
    }

    // A sample enters the lists only when its distance is below the k-th best. The plain
    // squared distance, within a few ulps of the true one unless it overflows (then the
    // distance is beyond any finite threshold below), rules out samples clearly farther away
    // before the scaled length is taken; the lists come out the same. (Not used for a k-th best
    // below kSquareSafe, whose square would lose precision as a subnormal number.)
    for (std::size_t j = 0; j < samples.size(); ++j) {
        Point3 c{};
        EvaluatePosition(c, samples[j]);
        const Point3 diff = point - c;
        const double worst = bestDist[k - 1];
        if (worst > kSquareSafe && VelSDK::Math::SquaredLength(diff) > worst * worst * kClearlyBeyond) continue;
        double d = VelSDK::Math::ScaledLength(diff);
        std::size_t index = j;
        for (std::size_t i = 0; i < k; ++i) {
            if (bestDist[i] > d) {
                std::swap(bestDist[i], d);
                std::swap(bestIndex[i], index);
            }
        }
    }
    for (std::size_t i = 0; i < k; ++i) out[i] = samples[bestIndex[i]];
}

// Damped Newton iteration on f(t) = C'(t) . (C(t) - P) (The NURBS Book, eq. 6.3) from the
// start value in t. Each iteration tries the full step and halves it (factors 1 .. 2^-51)
// until the distance no longer grows; the steps of an open curve are clamped to the range,
// those of a closed curve are neither clamped nor wrapped. Converged when the point is within
// tolerance of the curve, the cosine between C' and C - P is below tolerance, or (while the
// step factor is above DBL_EPSILON) the step moves the curve point less than tolerance.
// A NaN step (0 / 0 where the curve cannot be evaluated) is not clamped into the range, so
// such a run never converges unless the point lies within tolerance of the zero position.
// At most 30 iterations; the iteration that exhausts the step factors is the last one.
V3dCurve::RCode V3dCurve::_ProjectPoint(double& distance, double& t, const Point3& point, double tolerance) const {
    Point3 c{}, c1{}, c2{};
    EvaluateAcceleration(c, c1, c2, t);
    Point3 d = c - point;
    bool converged = tolerance > VelSDK::Math::ScaledLength(d) || tolerance > Cosine(c1, d);

    int n = 0;
    while (!converged && n < kMaxNewtonIterations) {
        double lambda = 1.0;
        double tNew;
        Point3 dNew;
        for (;;) {
            tNew = t - lambda * VelSDK::Math::Dot(c1, d) / (VelSDK::Math::Dot(c1, c1) + VelSDK::Math::Dot(c2, d));
            if (!m_closedLoop) {
                if (m_minParameter > tNew)
                    tNew = m_minParameter;
                else
                    tNew = m_maxParameter < tNew ? m_maxParameter : tNew;  // a NaN step stays NaN
            }
            EvaluateAcceleration(c, c1, c2, tNew);
            lambda = lambda / 2.0;
            dNew = c - point;
            if (lambda <= DBL_EPSILON || !(VelSDK::Math::SquaredLength(dNew) > VelSDK::Math::SquaredLength(d))) break;
        }
        converged = tolerance > VelSDK::Math::ScaledLength(dNew) || tolerance > Cosine(c1, dNew) ||
                    (lambda > DBL_EPSILON && tolerance > VelSDK::Math::ScaledLength(c1) * std::fabs(t - tNew));
        ++n;
        t = tNew;
        d = dNew;
        if (lambda <= DBL_EPSILON) break;
    }
    distance = VelSDK::Math::ScaledLength(d);
    return converged ? Success : Failure;
}

// Tries the caller's start value first (when asked), then the two nearest samples; keeps the
// converged candidate with the strictly smallest distance. With no samples (a curve that
// cannot be sampled) the sample candidates are skipped and t is not written by them.
V3dCurve::RCode V3dCurve::ProjectPoint(double& t, const Point3& point, double tolerance, bool useStart) const {
    RCode result = Failure;
    double distance = 0.0;
    if (useStart) {
        if (_ProjectPoint(distance, t, point, tolerance) == Success) return Success;
    }

    double best = DBL_MAX;
    double candidates[kStartingValues];
    _GetClosePoint(candidates, point, kStartingValues);
    for (std::size_t i = 0; i < kStartingValues; ++i) {
        if (std::isnan(candidates[i])) continue;
        double local = candidates[i];
        if (_ProjectPoint(distance, local, point, tolerance) == Success && best > distance) {
            t = local;
            best = distance;
            result = Success;
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------
// Generic segmentation
// ---------------------------------------------------------------------------------------

// Generic segmentation: the _SegmentMinimal samples (keep = false) or the caller's list as it
// stands (keep = true), refined until every interval's midpoint lies within the tolerance of
// its chord (Curve::detail::RefineByChords, which stops at the rounding noise of the positions),
// with positions from the virtual EvaluatePosition.
// A tolerance that is not a positive finite number is refused (Failure, list untouched): with
// zero, a negative or a NaN tolerance the refinement would never end. The list is refined in a
// copy, so that a refinement beyond Curve::detail::SegmentationLimit (std::length_error) leaves
// the caller's list as given.
V3dCurve::RCode V3dCurve::Segment(std::vector<double>& parameters, double tolerance, bool keep) const {
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) return Failure;
    std::vector<double> list;
    if (keep)
        list = parameters;
    else
        _SegmentMinimal(list);
    if (!list.empty()) {
        VelSDK::Curve::detail::RefineByChords(list, tolerance, [this](double t) {
            Point3 p{};
            EvaluatePosition(p, t);
            return p;
        });
    }
    parameters.swap(list);
    return Success;
}

// Segments through the virtual parameter overload (so a subclass's own segmentation is used)
// and evaluates the points. On Failure (a refused tolerance) or std::length_error the points
// are left as given.
V3dCurve::RCode V3dCurve::Segment(std::vector<Point3>& points, double tolerance) const {
    std::vector<double> parameters;
    const RCode result = Segment(parameters, tolerance, false);
    if (result != Success) return result;
    ParametersToPoints(points, parameters);
    return result;
}
