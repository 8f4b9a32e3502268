// V3dCurveNurbsPlus fitting: the open least-squares fit, the closed
// interpolating fit with wrapped points, the open interpolation with end
// derivatives, and the chord-length parametrization they share.
#include <VelSDK/Generators.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <cfloat>
#include <stdexcept>
#include <utility>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;

namespace {

using Point3 = point<double, 3>;

// Chord-length parameters of Q[0..n-1] (The NURBS Book, eq. 9.5): u[0] = 0 and
// u[k] = d[k-1] / total + u[k-1], d the Euclidean chord lengths. The total sums
// the first m chords in index order: m = n - 1 for an open list; for a closed
// list, whose last p points repeat the first p, m = n - p (the perimeter
// including the closing chord), so the repeated points get parameters at and
// above 1.0. A total not above DBL_EPSILON falls back to k / m. An open list
// ends at 1.0 exactly. Fewer than 2 points (or a closed list shorter than p +
// 1) give all zeros. The chord lengths are kept in u itself until they are
// accumulated.
std::vector<double> ChordLengthParametrization(const std::vector<Point3>& Q, std::size_t p, bool closed) {
    const std::size_t n = Q.size();
    std::vector<double> u(n, 0.0);
    if (n < 2) return u;
    if (closed && n < p + 1) return u;
    for (std::size_t k = 0; k + 1 < n; ++k) u[k + 1] = VelSDK::Math::Distance(Q[k], Q[k + 1]);
    const std::size_t m = closed ? n - p : n - 1;
    double total = 0.0;
    for (std::size_t k = 0; k < m; ++k) total = total + u[k + 1];
    u[0] = 0.0;
    if (m > 0 && total > DBL_EPSILON) {
        for (std::size_t k = 1; k < n; ++k) u[k] = u[k] / total + u[k - 1];
    } else {
        for (std::size_t k = 1; k < n; ++k) u[k] = static_cast<double>(k) / static_cast<double>(m);
    }
    if (!closed) u[n - 1] = 1.0;
    return u;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Parameters and knots by the object's settings
// ---------------------------------------------------------------------------------------

namespace {

// Parameters by the stored parametrization; throws for a value that is not an
// enumerator.
std::vector<double> Parametrize(V3dCurveNurbsPlus::EParametrization kind, const std::vector<Point3>& Q, std::size_t p,
                                bool closed) {
    switch (kind) {
        case V3dCurveNurbsPlus::ParametrizationChordLength:
            return ChordLengthParametrization(Q, p, closed);
        case V3dCurveNurbsPlus::ParametrizationUniform:
            return VelSDK::NURBS::UniformParameterization(Q.size());
    }
    throw std::logic_error("Unknown parametrization type");
}

enum class FitKind { Open, Closed, EndDerivatives };

// Knots by the stored knot generation; throws for a value that is not an
// enumerator. The uniform knots are the clamped ones for every kind of fit
// (also the closed one).
std::vector<double> MakeKnots(V3dCurveNurbsPlus::EKnotsGeneration kind, FitKind fit, const std::vector<double>& u,
                              std::size_t p) {
    switch (kind) {
        case V3dCurveNurbsPlus::KnotsAveraging:
            if (fit == FitKind::Closed) return VelSDK::NURBS::KnotAveragingClosed(u, p);
            if (fit == FitKind::EndDerivatives) return VelSDK::NURBS::KnotAveragingWithEndDerivatives(u, p);
            return VelSDK::NURBS::KnotAveraging(u, p);
        case V3dCurveNurbsPlus::KnotsUniform:
            return VelSDK::NURBS::UniformKnots(u.size() + p + (fit == FitKind::EndDerivatives ? 3 : 1), p);
    }
    throw std::logic_error("Unknown knots generation type");
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------------------

V3dCurve::RCode V3dCurveNurbsPlus::Fit(const std::vector<Point3>& points, bool closedLoop) {
    return V3dCurve::Fit(points, closedLoop);
}

// The caller receives the fitted parameters by exchange, whatever the result
// (after CoincidentPoints it gets what the previous fit left).
V3dCurve::RCode V3dCurveNurbsPlus::Fit(std::vector<double>& parameters, const std::vector<Point3>& points,
                                       bool closedLoop) {
    const RCode result = V3dCurve::Fit(points, closedLoop);
    parameters.clear();
    if (&parameters != &m_parameters) parameters.swap(m_parameters);
    return result;
}

// Open interpolation with end derivatives; not routed through the
// coincident-point test, and the closed-loop flag is kept. An order below 2
// fails like too few points.
V3dCurve::RCode V3dCurveNurbsPlus::FitWithEndDerivatives(std::vector<double>& parameters,
                                                         const std::vector<Point3>& points,
                                                         const std::pair<Point3, Point3>& endDerivatives) {
    bool valid = false;
    if (m_order >= 2 && m_order <= points.size())
        valid = _FitNonClosedWithDerivatives(m_parameters, points, endDerivatives);
    m_valid = valid;
    SetMinParameter(0.0);
    SetMaxParameter(1.0);
    if (&parameters != &m_parameters) parameters = m_parameters;
    return valid ? Success : Failure;
}

// Chooses the closed or the open fit; fewer points than the order, or an order
// below 2 (whose degree would wrap or be 0), fail with the held curve
// untouched. Every fit that gets here sets the range to [0, 1] and the valid
// flag to its outcome.
V3dCurve::RCode V3dCurveNurbsPlus::_Fit(const std::vector<Point3>& points) {
    bool valid = false;
    if (m_order >= 2 && m_order <= points.size())
        valid = IsClosedLoop() ? _FitClosed(m_parameters, points) : _FitNonClosed(m_parameters, points);
    m_valid = valid;
    SetMinParameter(0.0);
    SetMaxParameter(1.0);
    return valid ? Success : Failure;
}

// Closed interpolating fit: the first p points are appended again, the wrapped
// list of N + p points is parametrized (chord length over the closed polygon,
// or uniform), knots by KnotAveragingClosed or the clamped UniformKnots, and
// the periodic system solves for N control points; the curve gets N + p, the
// last p equal to the first p. The parameter list keeps one value per data
// point.
bool V3dCurveNurbsPlus::_FitClosed(std::vector<double>& parameters, const std::vector<Point3>& points) {
    const std::size_t p = static_cast<std::size_t>(m_order) - 1;
    const std::size_t N = points.size();
    std::vector<Point3> wrapped;
    wrapped.reserve(N + p);
    wrapped.insert(wrapped.end(), points.begin(), points.end());
    for (std::size_t i = 0; i < p; ++i) wrapped.push_back(points[i]);

    parameters = Parametrize(m_parametrization, wrapped, p, true);
    const std::vector<double> knots = MakeKnots(m_knotsGeneration, FitKind::Closed, parameters, p);

    V3dNurbsCurve& curve = _MutableCurve();
    const bool ok = curve.GlobalInterpolation(wrapped, parameters, knots, p, true);
    parameters.resize(N);
    m_numberControlPoints = curve.GetControlPoints().size();
    return ok && !curve.GetControlPoints().empty() && !curve.GetKnots().empty();
}

// Open least-squares fit with fixed end points. The requested number of control
// points c (0: one per data point, stored back) must be at least the order; the
// knots are made for N control points, so the approximation accepts only c = N.
bool V3dCurveNurbsPlus::_FitNonClosed(std::vector<double>& parameters, const std::vector<Point3>& points) {
    const std::size_t p = static_cast<std::size_t>(m_order) - 1;
    const std::size_t N = points.size();
    std::size_t c = m_numberControlPoints;
    if (c != 0 && c < m_order) return false;
    if (c == 0) {
        c = N;
        m_numberControlPoints = c;
    }
    parameters = Parametrize(m_parametrization, points, p, false);
    const std::vector<double> knots = MakeKnots(m_knotsGeneration, FitKind::Open, parameters, p);
    return _MutableCurve().LeastSquaresApproximation(points, parameters, knots, c, p);
}

// Open interpolation with prescribed first derivatives at both ends: N + 2
// control points.
bool V3dCurveNurbsPlus::_FitNonClosedWithDerivatives(std::vector<double>& parameters, const std::vector<Point3>& points,
                                                     const std::pair<Point3, Point3>& endDerivatives) {
    const std::size_t p = static_cast<std::size_t>(m_order) - 1;
    const std::size_t N = points.size();
    if (m_numberControlPoints != 0 && m_numberControlPoints < m_order) return false;
    if (m_numberControlPoints == 0) m_numberControlPoints = N;
    parameters = Parametrize(m_parametrization, points, p, false);
    const std::vector<double> knots = MakeKnots(m_knotsGeneration, FitKind::EndDerivatives, parameters, p);
    V3dNurbsCurve& curve = _MutableCurve();
    const bool ok = curve.GlobalInterpolationWithEndDerivatives(points, parameters, knots, endDerivatives, p);
    m_numberControlPoints = curve.GetControlPoints().size();
    return ok && curve.IsValid();
}
