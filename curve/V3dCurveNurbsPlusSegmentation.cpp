// V3dCurveNurbsPlus segmentation: Bezier decomposition of open non-rational
// curves of degree 1 to 3 with recursive halving of each piece until its
// control polygon is flat within the tolerance, and the coarse sample list
// (_SegmentMinimal) of segmentation and projection.
#include <VelSDK/V3dCurveNurbsPlus.h>

#include "curve/ChordRefinement.h"
#include "nurbs/SequentialCurveEvaluator.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <typeinfo>
#include <vector>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::detail::SequentialCurveEvaluator;

namespace {

using Point3 = point<double, 3>;
using Point4 = point<double, 4>;

constexpr std::size_t kMaxBezierDegree = 3;

// One Bezier piece: degree + 1 Cartesian control points and its parameter
// interval.
struct BezierSubcurve {
    Point3 points[kMaxBezierDegree + 1];
    double start;
    double end;
};

// Flatness of a piece of degree P: e_i = P * P[i] - ((P - i) * P[0] + i * P[P]) per
// coordinate (P times the offset of P[i] from the point at fraction i / P along the chord);
// the largest e_i^2 per coordinate, Mx, My, Mz, summed as My + Mx + Mz. The piece is flat when
// 16 tol^2 >= that sum; for a cubic this is the classic bound that keeps the curve within tol
// of its chord. The end points (i = 0 and i = P) give e = 0 (or NaN, which never counts as
// larger) and are skipped.
template <std::size_t P>
double FlatnessMeasure(const Point3* pts) {
    const double pd = static_cast<double>(P);
    double M[3] = {0.0, 0.0, 0.0};
    for (std::size_t i = 1; i < P; ++i) {
        const double a = static_cast<double>(P - i);
        const double b = static_cast<double>(i);
        for (std::size_t c = 0; c < 3; ++c) {
            const double e = pd * pts[i][c] - (a * pts[0][c] + b * pts[P][c]);
            const double e2 = e * e;
            if (e2 > M[c]) M[c] = e2;
        }
    }
    return M[1] + M[0] + M[2];
}

inline Point3 Mid(const Point3& a, const Point3& b) { return (a + b) * 0.5; }

// de Casteljau at the parameter midpoint (The NURBS Book, A5.6 with t = 1/2); both halves get
// P + 1 points, the first spans [start, (end + start) * 0.5], the second the rest.
template <std::size_t P>
void Halve(const BezierSubcurve& piece, BezierSubcurve& first, BezierSubcurve& second) {
    static_assert(P == 2 || P == 3, "quadratic or cubic halving");
    const double mid = (piece.end + piece.start) * 0.5;
    first.start = piece.start;
    first.end = mid;
    second.start = mid;
    second.end = piece.end;
    const Point3* Q = piece.points;
    if (P == 2) {
        const Point3 A = Mid(Q[0], Q[1]);
        const Point3 B = Mid(Q[1], Q[2]);
        const Point3 M = Mid(A, B);
        first.points[0] = Q[0];
        first.points[1] = A;
        first.points[2] = M;
        second.points[0] = M;
        second.points[1] = B;
        second.points[2] = Q[2];
    } else {
        const Point3 A = Mid(Q[0], Q[1]);
        const Point3 B = Mid(Q[1], Q[2]);
        const Point3 C = Mid(Q[2], Q[3]);
        const Point3 D = Mid(A, B);
        const Point3 E = Mid(B, C);
        const Point3 M = Mid(D, E);
        first.points[0] = Q[0];
        first.points[1] = A;
        first.points[2] = D;
        first.points[3] = M;
        second.points[0] = M;
        second.points[1] = E;
        second.points[2] = C;
        second.points[3] = Q[3];
    }
}

// The largest absolute coordinate of a piece's control points, or NaN when one is not finite.
template <std::size_t P>
double PieceMagnitude(const BezierSubcurve& piece) {
    double m = 0.0;
    for (std::size_t i = 0; i <= P; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            const double x = std::fabs(piece.points[i][c]);
            if (!(x <= DBL_MAX)) return std::numeric_limits<double>::quiet_NaN();
            if (x > m) m = x;
        }
    }
    return m;
}

// Subdivides one piece of degree P: a flat piece contributes its end; otherwise its two halves
// are subdivided, first then second. The piece's start is not written (it is the previous
// piece's end). The recursion runs on an explicit stack of pending second halves, so the values
// come out in the same order as with recursive calls. Two guards let every input end, and
// neither acts where the plain halving could end: a piece whose parameter midpoint equals one
// of its ends (or is NaN) is not halved, nor one whose control polygon is flat within the
// rounding noise of its coordinates (Curve::detail::PositionNoise of the largest one), or holds a
// non-finite coordinate. Throws std::length_error as soon as out would hold more than limit
// values.
template <std::size_t P>
void Subdivide(const BezierSubcurve& piece, double tolerance, std::size_t limit, std::vector<BezierSubcurve>& stack,
               std::vector<double>& out) {
    stack.clear();
    stack.push_back(piece);
    while (!stack.empty()) {
        BezierSubcurve current = stack.back();
        stack.pop_back();
        for (;;) {
            const double mid = (current.end + current.start) * 0.5;
            const double measure = FlatnessMeasure<P>(current.points);
            bool flat =
                tolerance * tolerance * 16.0 >= measure || mid == current.start || mid == current.end || mid != mid;
            if (!flat) {
                const double noise = VelSDK::Curve::detail::PositionNoise(PieceMagnitude<P>(current));
                flat = !(noise * noise * 16.0 < measure);
            }
            if (flat) {
                if (out.size() >= limit) VelSDK::Curve::detail::ThrowSegmentationLimit();
                out.push_back(current.end);
                break;
            }
            BezierSubcurve first, second;
            Halve<P>(current, first, second);
            stack.push_back(second);
            current = first;
        }
    }
}

// Degree 1 pieces are always flat.
void Subdivide(const BezierSubcurve& piece, std::size_t p, double tolerance, std::size_t limit,
               std::vector<BezierSubcurve>& stack, std::vector<double>& out) {
    if (p == 2) return Subdivide<2>(piece, tolerance, limit, stack, out);
    if (p == 3) return Subdivide<3>(piece, tolerance, limit, stack, out);
    if (out.size() >= limit) VelSDK::Curve::detail::ThrowSegmentationLimit();
    out.push_back(piece.end);
}

// Knots to insert so that every interior knot reaches multiplicity p and every
// break value that is not a knot gets multiplicity p: a merge of the sorted
// break list B with the knots U. The runs of a clamped vector's ends have
// multiplicity p + 1 and add nothing.
void DecompositionKnots(const std::vector<double>& U, const std::vector<double>& B, std::size_t p,
                        std::vector<double>& I) {
    const std::size_t m = U.size();
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < B.size() && j < m) {
        const double a = B[i];
        const double k = U[j];
        if (k > a) {
            for (std::size_t r = 0; r < p; ++r) I.push_back(a);
            while (i < B.size() && B[i] == a) ++i;
        } else {
            if (k == a)
                while (i < B.size() && B[i] == a) ++i;
            std::size_t run = 0;
            do {  // at least the knot itself: a NaN (which equals nothing) cannot stall the walk
                ++run;
                ++j;
            } while (j < m && U[j] == k);
            for (std::size_t r = run; r < p; ++r) I.push_back(k);
        }
    }
    while (j < m) {
        const double k = U[j];
        std::size_t run = 0;
        do {
            ++run;
            ++j;
        } while (j < m && U[j] == k);
        for (std::size_t r = run; r < p; ++r) I.push_back(k);
    }
}

// Whether the Bezier decomposition can work on the curve: knots and control points in the
// counts of a valid curve, a degree below the number of control points, and knots that are
// non-decreasing with no NaN among them (clamping and knot insertion need exactly that).
bool Decomposable(const V3dNurbsCurve& c) {
    const std::vector<double>& U = c.GetKnots();
    const std::size_t n = c.GetControlPoints().size();
    const std::size_t p = c.GetDegree();
    if (n == 0 || p >= n || U.size() != n + p + 1) return false;
    for (std::size_t i = 1; i < U.size(); ++i)
        if (!(U[i - 1] <= U[i])) return false;
    return true;
}

}  // namespace

// Bezier segmentation of open, non-rational curves of degree 1 to 3; every
// other curve (and an object that is not valid, or whose held curve cannot be
// clamped or refined: knots unsorted or NaN) goes to the generic segmentation.
// The path is decided on the held curve's degree, which is what the
// decomposition works with. The held curve is clamped in place (its shape on
// the range does not change), so this const member must not run beside other
// uses of the same object. Break values of keep = true are sorted, and those
// outside the knot vector's span or NaN are dropped, so the knot insertion
// always receives a valid list. The list is built in a copy, so a result longer
// than Curve::detail::SegmentationLimit (std::length_error) leaves it as given.
V3dCurve::RCode V3dCurveNurbsPlus::Segment(std::vector<double>& parameters, double tolerance, bool keep) const {
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) return Failure;
    if (!m_valid || !m_curve) return V3dCurve::Segment(parameters, tolerance, keep);

    V3dNurbsCurve& held = *m_curve;
    const std::size_t degree = held.GetDegree();
    bool rational = false;
    for (const Point4& cp : held.GetControlPoints()) {
        if (!(cp[3] == 1.0)) {
            rational = true;
            break;
        }
    }
    if (degree < 1 || degree > kMaxBezierDegree || IsClosedLoop() || rational || !Decomposable(held)) {
        // The generic segmentation. An object of exactly this class (a subclass may evaluate or
        // sample differently) runs it on the held curve directly, with the same positions.
        if (typeid(*this) != typeid(V3dCurveNurbsPlus) || !SequentialCurveEvaluator::Handles(held))
            return V3dCurve::Segment(parameters, tolerance, keep);
        std::vector<double> list;
        if (keep)
            list = parameters;
        else
            _SegmentMinimal(list);
        if (!list.empty()) {
            SequentialCurveEvaluator evaluate(held);
            VelSDK::Curve::detail::RefineByChords(list, tolerance, evaluate);
        }
        parameters.swap(list);
        return Success;
    }

    held.Clamp();
    // A range end at infinity cannot be cut at: Clamp leaves an empty curve, which only the
    // generic path (NaN positions) handles.
    if (!Decomposable(held)) return V3dCurve::Segment(parameters, tolerance, keep);
    const std::size_t p = held.GetDegree();
    V3dNurbsCurve local(held);

    const std::vector<double>& U0 = local.GetKnots();
    std::vector<double> breaks;
    if (keep && !U0.empty()) {
        breaks.reserve(parameters.size());
        for (double b : parameters)
            if (b >= U0.front() && b <= U0.back()) breaks.push_back(b);
        std::sort(breaks.begin(), breaks.end());
    }
    std::vector<double> insert;
    DecompositionKnots(U0, breaks, p, insert);
    if (!insert.empty()) local.InsertKnots(insert);

    const std::vector<Point4>& P = local.GetControlPoints();
    const std::vector<double>& U = local.GetKnots();
    const std::size_t n = P.size();
    const std::size_t pieces = (n - 1) / p;

    const std::size_t limit = VelSDK::Curve::detail::SegmentationLimit().load();
    std::vector<double> list;
    list.reserve(pieces + 1);
    std::vector<BezierSubcurve> stack;
    for (std::size_t q = 0; q < pieces; ++q) {
        BezierSubcurve piece;
        for (std::size_t i = 0; i <= p; ++i) {
            const Point4& h = P[p * q + i];
            piece.points[i] = Point3{h[0], h[1], h[2]};
        }
        piece.start = U[p * q + 1];
        piece.end = U[p * (q + 1) + 1];
        if (q == 0) list.push_back(piece.start);
        Subdivide(piece, p, tolerance, limit, stack, list);
    }
    parameters.swap(list);
    return Success;
}

// Three samples per knot span of the range (at 0, 1/3 and 2/3 of it) and the
// end of the range. Knots not above the running start are skipped; a span
// reaching past the end is still sampled, and the walk stops after it. An
// object that is not valid adds nothing.
void V3dCurveNurbsPlus::_SegmentMinimal(std::vector<double>& parameters) const {
    if (!m_valid) return;
    double a = GetMinParameter();
    const double b = GetMaxParameter();
    if (b > a) {
        const std::vector<double>& U = _Curve().GetKnots();
        for (std::size_t i = 0; i < U.size() && b > a; ++i) {
            const double k = U[i];
            if (k > a) {
                const double h = (k - a) / 3.0;
                parameters.push_back(a + h * 0.0);
                parameters.push_back(a + h);
                parameters.push_back(h + h + a);
                a = k;
            }
        }
    }
    parameters.push_back(b);
}
