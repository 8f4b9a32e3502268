// V3dCurveNurbsPlus: the owned V3dNurbsCurve, settings, copy/move/compare,
// accessors, Reset, Invalidate, Split and the evaluation overrides. Fitting is
// in V3dCurveNurbsPlusFitting.cpp, segmentation in
// V3dCurveNurbsPlusSegmentation.cpp.
#include <VelSDK/V3dCurveNurbsPlus.h>

#include "nurbs/CurveDerivatives.h"

#include <limits>
#include <utility>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;

namespace {

using Point3 = point<double, 3>;
using Point4 = point<double, 4>;

// The curve a moved-from object stands for: empty, like a default-constructed
// one.
const V3dNurbsCurve& EmptyCurve() {
    static const V3dNurbsCurve empty;
    return empty;
}

// Cartesian point and derivatives 0..k (k <= 2) of the curve at t, written to
// out[0..k]: the kernel of V3dNurbsCurve::DeriveAt without its returned vector,
// since projection and segmentation evaluate many times per call. Curves that
// cannot be evaluated safely go through DeriveAt (NaN results).
void Derive(const V3dNurbsCurve& curve, double t, std::size_t k, Point3* out) {
    namespace detail = VelSDK::NURBS::detail;
    const std::vector<Point4>& ctrl = curve.GetControlPoints();
    const std::vector<double>& knots = curve.GetKnots();
    const std::size_t n = ctrl.size();
    const std::size_t p = curve.GetDegree();
    if (n == 0 || p >= n || knots.size() < n + p + 1) {
        const std::vector<Point3> r = curve.DeriveAt(t, k);
        for (std::size_t i = 0; i <= k; ++i) out[i] = r[i];
        return;
    }
    detail::DeriveCartesian(ctrl.data(), knots.data(), n, p, t, k, out);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Construction, copy, move
// ---------------------------------------------------------------------------------------

V3dCurveNurbsPlus::V3dCurveNurbsPlus()
    : m_curve(new V3dNurbsCurve()),
      m_valid(false),
      m_order(3),
      m_numberControlPoints(0),
      m_parametrization(ParametrizationChordLength),
      m_knotsGeneration(KnotsAveraging) {}

// The body assigns every field, the base's included.
// NOLINTNEXTLINE(bugprone-copy-constructor-init)
V3dCurveNurbsPlus::V3dCurveNurbsPlus(const V3dCurveNurbsPlus& other)
    : V3dCurve(),
      m_valid(false),
      m_order(3),
      m_numberControlPoints(0),
      m_parametrization(ParametrizationChordLength),
      m_knotsGeneration(KnotsAveraging) {
    *this = other;
}

// A moved-from object holds no curve; every member reads it as the empty curve,
// and the valid flag is cleared, so it behaves as an object that is not valid.
V3dCurveNurbsPlus::V3dCurveNurbsPlus(V3dCurveNurbsPlus&& other) noexcept
    : V3dCurve(other),
      m_curve(std::move(other.m_curve)),
      m_valid(other.m_valid),
      m_order(other.m_order),
      m_numberControlPoints(other.m_numberControlPoints),
      m_parametrization(other.m_parametrization),
      m_knotsGeneration(other.m_knotsGeneration),
      m_parameters(std::move(other.m_parameters)) {
    other.m_parameters.clear();
    other.m_valid = false;
}

// The copy of the held curve is complete before it replaces the old one, so a
// failed allocation leaves the destination as it was. The fitted parameters are
// not copied.
V3dCurveNurbsPlus& V3dCurveNurbsPlus::operator=(const V3dCurveNurbsPlus& other) {
    if (this == &other) return *this;
    std::unique_ptr<V3dNurbsCurve> copy;
    if (other.m_curve) copy.reset(new V3dNurbsCurve(*other.m_curve));
    V3dCurve::operator=(other);
    m_curve = std::move(copy);
    m_valid = other.m_valid;
    m_order = other.m_order;
    m_numberControlPoints = other.m_numberControlPoints;
    m_parametrization = other.m_parametrization;
    m_knotsGeneration = other.m_knotsGeneration;
    return *this;
}

V3dCurveNurbsPlus& V3dCurveNurbsPlus::operator=(V3dCurveNurbsPlus&& other) noexcept {
    if (this == &other) return *this;
    m_curve = std::move(other.m_curve);
    m_valid = other.m_valid;
    m_order = other.m_order;
    m_numberControlPoints = other.m_numberControlPoints;
    m_parametrization = other.m_parametrization;
    m_knotsGeneration = other.m_knotsGeneration;
    m_parameters = std::move(other.m_parameters);
    other.m_parameters.clear();
    V3dCurve::operator=(other);
    other.m_valid = false;
    return *this;
}

V3dCurveNurbsPlus::~V3dCurveNurbsPlus() {}

const V3dNurbsCurve& V3dCurveNurbsPlus::_Curve() const { return m_curve ? *m_curve : EmptyCurve(); }

V3dNurbsCurve& V3dCurveNurbsPlus::_MutableCurve() {
    if (!m_curve) m_curve.reset(new V3dNurbsCurve());
    return *m_curve;
}

// ---------------------------------------------------------------------------------------
// Comparison and accessors
// ---------------------------------------------------------------------------------------

// Exact comparison, no tolerance: a NaN component equals nothing.
bool V3dCurveNurbsPlus::operator==(const V3dCurveNurbsPlus& other) const {
    if (m_valid != other.m_valid) return false;
    if (m_order != other.m_order) return false;
    if (m_numberControlPoints != other.m_numberControlPoints) return false;
    if (!m_valid && !other.m_valid) return true;
    if (IsClosedLoop() != other.IsClosedLoop()) return false;

    const std::vector<Point4>& pa = _Curve().GetControlPoints();
    const std::vector<Point4>& pb = other._Curve().GetControlPoints();
    if (pa.size() != pb.size()) return false;
    for (std::size_t i = 0; i < pa.size(); ++i)
        for (std::size_t c = 0; c < 4; ++c)
            if (!(pa[i][c] == pb[i][c])) return false;

    const std::vector<double>& ka = _Curve().GetKnots();
    const std::vector<double>& kb = other._Curve().GetKnots();
    if (ka.size() != kb.size()) return false;
    for (std::size_t i = 0; i < ka.size(); ++i)
        if (!(ka[i] == kb[i])) return false;
    return true;
}

// An index beyond the control points (from a host's bad number) answers a point of NaNs
// instead of reading past the end of the list.
const Point4& V3dCurveNurbsPlus::GetControlPoint(std::size_t index) const {
    static const Point4 kNaNPoint{std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
    const std::vector<Point4>& points = _Curve().GetControlPoints();
    return index < points.size() ? points[index] : kNaNPoint;
}
const std::vector<Point4>& V3dCurveNurbsPlus::GetControlPoints() const { return _Curve().GetControlPoints(); }
const std::vector<double>& V3dCurveNurbsPlus::GetKnots() const { return _Curve().GetKnots(); }

// NaN when not valid, and for an index beyond the knots (instead of reading past the end).
double V3dCurveNurbsPlus::GetKnot(std::size_t index) const {
    const std::vector<double>& knots = _Curve().GetKnots();
    if (!m_valid || index >= knots.size()) return std::numeric_limits<double>::quiet_NaN();
    return knots[index];
}

std::size_t V3dCurveNurbsPlus::GetNumberKnots() const { return m_valid ? _Curve().GetKnots().size() : 0; }
std::size_t V3dCurveNurbsPlus::GetNumberControlPoints() const { return m_numberControlPoints; }
unsigned char V3dCurveNurbsPlus::GetOrder() const { return m_order; }
bool V3dCurveNurbsPlus::IsValid() const { return m_valid; }

// Only meaningful for a valid object; one that is not valid reports false.
bool V3dCurveNurbsPlus::IsClamped() const { return m_valid && _Curve().IsClamped(); }

void V3dCurveNurbsPlus::SetOrder(unsigned char order) { m_order = order; }
void V3dCurveNurbsPlus::SetNumberControlPoints(std::size_t count) { m_numberControlPoints = count; }
void V3dCurveNurbsPlus::SetParametrization(const EParametrization& parametrization) {
    m_parametrization = parametrization;
}
void V3dCurveNurbsPlus::SetKnotsGeneration(const EKnotsGeneration& knotsGeneration) {
    m_knotsGeneration = knotsGeneration;
}

// ---------------------------------------------------------------------------------------
// Invalidate, Reset, Split
// ---------------------------------------------------------------------------------------

void V3dCurveNurbsPlus::Invalidate() {
    m_curve.reset(new V3dNurbsCurve());
    m_valid = false;
}

// Refuses (Failure, nothing changed) an order below 2, fewer control points
// than the order, and fewer knots than control points + order: the range of an
// open curve, and every evaluation, read knot positions that a short knot
// vector does not have. A longer knot vector (a curve saved after SetOrder
// lowered its order) is taken as it is; the range comes from the new curve.
V3dCurve::RCode V3dCurveNurbsPlus::Reset(const std::vector<Point4>& controlPoints, const std::vector<double>& knots,
                                         unsigned char order, bool closedLoop) {
    if (order < 2 || controlPoints.size() < order) return Failure;
    if (knots.size() < controlPoints.size() + order) return Failure;
    std::unique_ptr<V3dNurbsCurve> curve(new V3dNurbsCurve(controlPoints, knots, static_cast<std::size_t>(order) - 1));
    m_curve = std::move(curve);
    m_valid = true;
    m_order = order;
    m_numberControlPoints = m_curve->GetControlPoints().size();
    _SetClosedLoop(closedLoop);
    if (closedLoop) {
        SetMinParameter(0.0);
        SetMaxParameter(1.0);
    } else {
        SetMinParameter(m_curve->GetMinParam());
        SetMaxParameter(m_curve->GetMaxParam());
    }
    return Success;
}

// An object that is not valid is not split: Failure with both targets
// untouched.
V3dCurve::RCode V3dCurveNurbsPlus::Split(V3dCurveNurbsPlus& first, V3dCurveNurbsPlus& second, double t) const {
    if (!m_valid) return Failure;
    if (!_Curve().SplitAt(t, first._MutableCurve(), second._MutableCurve())) return Failure;
    for (V3dCurveNurbsPlus* target : {&first, &second}) {
        target->m_valid = true;
        target->m_order = m_order;
        target->m_parametrization = m_parametrization;
        target->m_knotsGeneration = m_knotsGeneration;
        target->m_numberControlPoints = target->_Curve().GetControlPoints().size();
    }
    first._NormalizeKnotVector();
    second._NormalizeKnotVector();
    first._SetClosedLoop(false);
    second._SetClosedLoop(false);
    return Success;
}

// Rescales the knots to [0, 1] (subtract the first knot, then divide by the
// last one as it then stands, in index order) and rebuilds the object as an
// open curve through Reset's path. A knot vector whose first and last knots are
// equal yields non-finite knots (no guard).
void V3dCurveNurbsPlus::_NormalizeKnotVector() {
    const V3dNurbsCurve& curve = _Curve();
    std::vector<double> knots = curve.GetKnots();
    if (!knots.empty()) {
        const double first = knots[0];
        for (double& k : knots) k = k - first;
        const double last = knots.back();
        for (double& k : knots) k = k / last;
    }
    if (m_order >= 2 && curve.GetControlPoints().size() >= m_order) {
        // Reset refuses a knot count other than control points + order; keep the
        // object as it is then.
        Reset(curve.GetControlPoints(), knots, m_order, false);
    }
}

// ---------------------------------------------------------------------------------------
// Evaluation
// ---------------------------------------------------------------------------------------

V3dCurve::RCode V3dCurveNurbsPlus::EvaluatePosition(Point3& position, double t) const {
    if (!m_valid) return Failure;
    position = _Curve().EvaluateAt(t);
    return Success;
}

V3dCurve::RCode V3dCurveNurbsPlus::EvaluateSpeed(Point3& position, Point3& first, double t) const {
    if (!m_valid) return Failure;
    Point3 d[2];
    Derive(_Curve(), t, 1, d);
    position = d[0];
    first = d[1];
    return Success;
}

V3dCurve::RCode V3dCurveNurbsPlus::EvaluateAcceleration(Point3& position, Point3& first, Point3& second,
                                                        double t) const {
    if (!m_valid) return Failure;
    Point3 d[3];
    Derive(_Curve(), t, 2, d);
    position = d[0];
    first = d[1];
    second = d[2];
    return Success;
}
