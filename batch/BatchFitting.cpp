// Batch fitting: every item is one single fit on its own objects (a copy of the prototype
// fitted curve, or a fresh V3dNurbsCurve), run by the calling thread or a worker; the batch
// adds only the refusal of non-finite input and an explanation of each failure.
#include <VelSDK/BatchFitting.h>

#include "math/ParallelFor.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;

namespace VelSDK {
namespace Batch {

namespace {

using Point3 = point<double, 3>;

// Consecutive points closer than this (scaled length of their difference) are coincident for
// the fitted curve's Fit.
constexpr double kCoincidentLength = 1.4901161193847656e-08;  // 2^-26

std::string Str(std::size_t n) { return std::to_string(n); }

// Index of the first point with a coordinate that is not finite, or points.size().
std::size_t FirstNonFinite(const std::vector<Point3>& points) {
    for (std::size_t i = 0; i < points.size(); ++i)
        if (!std::isfinite(points[i][0]) || !std::isfinite(points[i][1]) || !std::isfinite(points[i][2])) return i;
    return points.size();
}

std::size_t FirstNonFinite(const std::vector<double>& values) {
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!std::isfinite(values[i])) return i;
    return values.size();
}

// Why a curve fit's input is refused before fitting ("" when every value is finite).
std::string NonFiniteInput(const std::vector<Point3>& points, const std::vector<double>& parameters,
                           const std::vector<double>& knots) {
    std::size_t bad = FirstNonFinite(points);
    if (bad != points.size()) return "point " + Str(bad) + " is not finite";
    if ((bad = FirstNonFinite(parameters)) != parameters.size()) return "parameter " + Str(bad) + " is not finite";
    if ((bad = FirstNonFinite(knots)) != knots.size()) return "knot " + Str(bad) + " is not finite";
    return std::string();
}

// Why the fitted curve's Fit returned code for these points (the checks of Fit and _Fit, in
// their order).
std::string FitFailure(V3dCurve::RCode code, const std::vector<Point3>& points, const V3dCurveNurbsPlus& prototype,
                       bool closed) {
    if (code == V3dCurve::CoincidentPoints) {
        for (std::size_t i = 1; i < points.size(); ++i)
            if (kCoincidentLength > Math::ScaledLength(points[i - 1] - points[i]))
                return "points " + Str(i - 1) + " and " + Str(i) + " lie closer than 2^-26";
        return "two consecutive points lie closer than 2^-26";
    }
    const std::size_t order = prototype.GetOrder();
    if (order < 2) return "the order " + Str(order) + " is below 2";
    if (points.size() < order) return Str(points.size()) + " points are fewer than the order " + Str(order);
    const std::size_t requested = prototype.GetNumberControlPoints();
    if (!closed && requested != 0 && requested != points.size())
        return "an open fit needs 0 or " + Str(points.size()) + " control points, not " + Str(requested);
    return "the fitting system is singular";
}

// One item of FitMany: r.curve must hold a copy of the prototype.
void FitOne(FitResult& r, const std::vector<Point3>& points, bool closed, const V3dCurveNurbsPlus& prototype,
            bool measure) {
    const std::size_t bad = FirstNonFinite(points);
    if (bad != points.size()) {  // code stays Failure
        r.error = "point " + Str(bad) + " is not finite";
        return;
    }
    r.code = r.curve.Fit(r.parameters, points, closed);
    if (r.code != V3dCurve::Success) {
        r.error = FitFailure(r.code, points, prototype, closed);
        return;
    }
    if (!measure) return;
    double worst = 0.0;
    const std::size_t n = std::min(points.size(), r.parameters.size());
    for (std::size_t i = 0; i < n; ++i) {
        Point3 q{};
        if (r.curve.EvaluatePosition(q, r.parameters[i]) != V3dCurve::Success) {
            worst = std::nan("");
            break;
        }
        const double d = Math::Distance(points[i], q);
        if (!(d <= worst)) worst = d;  // a NaN distance stays
        if (std::isnan(worst)) break;
    }
    r.maxDistance = worst;
}

// Runs item(i, result) for every result slot; an exception of one item becomes that item's
// error, so nothing leaves the worker.
template <typename Result, typename Item>
void RunItems(std::vector<Result>& results, std::size_t threads, Item item) {
    Math::ParallelFor(results.size(), threads, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            try {
                item(i, results[i]);
            } catch (const std::bad_alloc&) {
                results[i] = Result();
                results[i].error = "out of memory";
            } catch (const std::exception& e) {
                results[i] = Result();
                results[i].error = e.what();
            } catch (...) {
                results[i] = Result();
                results[i].error = "unknown error";
            }
        }
    });
}

void CheckClosedCount(std::size_t flags, std::size_t lists) {
    if (flags != lists)
        throw std::invalid_argument("FitMany: " + Str(flags) + " closed flags for " + Str(lists) + " point lists");
}

}  // namespace

std::vector<FitResult> FitMany(const std::vector<std::vector<Point3>>& lists, bool closed,
                               const V3dCurveNurbsPlus& prototype, std::size_t threads, bool measureDistance) {
    std::vector<FitResult> results(lists.size());
    RunItems(results, threads, [&](std::size_t i, FitResult& r) {
        r.curve = prototype;
        FitOne(r, lists[i], closed, prototype, measureDistance);
    });
    return results;
}

std::vector<FitResult> FitMany(const std::vector<std::vector<Point3>>& lists, const std::vector<bool>& closed,
                               const V3dCurveNurbsPlus& prototype, std::size_t threads, bool measureDistance) {
    CheckClosedCount(closed.size(), lists.size());
    std::vector<FitResult> results(lists.size());
    RunItems(results, threads, [&](std::size_t i, FitResult& r) {
        r.curve = prototype;
        FitOne(r, lists[i], closed[i], prototype, measureDistance);
    });
    return results;
}

std::vector<FitResult> FitMany(const std::vector<PointList>& lists, const std::vector<bool>& closed,
                               const V3dCurveNurbsPlus& prototype, std::size_t threads, bool measureDistance) {
    CheckClosedCount(closed.size(), lists.size());
    std::vector<FitResult> results(lists.size());
    RunItems(results, threads, [&](std::size_t i, FitResult& r) {
        r.curve = prototype;
        const PointList& list = lists[i];
        if (list.count > 0 && list.xyz == nullptr) {
            r.error = "list " + Str(i) + " holds no data";
            return;
        }
        std::vector<Point3> points(list.count);
        for (std::size_t j = 0; j < list.count; ++j)
            points[j] = Point3{list.xyz[3 * j], list.xyz[3 * j + 1], list.xyz[3 * j + 2]};
        FitOne(r, points, closed[i], prototype, measureDistance);
    });
    return results;
}

std::vector<CurveFitResult> GlobalInterpolationMany(const std::vector<InterpolationItem>& items, std::size_t threads) {
    std::vector<CurveFitResult> results(items.size());
    RunItems(results, threads, [&](std::size_t i, CurveFitResult& r) {
        const InterpolationItem& it = items[i];
        r.error = NonFiniteInput(it.points, it.parameters, it.knots);
        if (!r.error.empty()) return;
        r.ok = r.curve.GlobalInterpolation(it.points, it.parameters, it.knots, it.degree, it.closed);
        if (r.ok) return;
        const std::size_t n = it.points.size(), p = it.degree;
        if (n < p + 1 || p + 1 == 0)
            r.error = Str(n) + " points are fewer than degree + 1";
        else if (it.knots.size() != n + p + 1)
            r.error = Str(it.knots.size()) + " knots given, " + Str(n + p + 1) + " needed (points + degree + 1)";
        else if (it.parameters.size() < (it.closed ? n - p : n))
            r.error = Str(it.parameters.size()) + " parameters are fewer than the " + Str(it.closed ? n - p : n) +
                      " unknowns";
        else
            r.error = "the interpolation system is singular";
    });
    return results;
}

std::vector<CurveFitResult> LeastSquaresApproximationMany(const std::vector<ApproximationItem>& items,
                                                          std::size_t threads) {
    std::vector<CurveFitResult> results(items.size());
    RunItems(results, threads, [&](std::size_t i, CurveFitResult& r) {
        const ApproximationItem& it = items[i];
        r.error = NonFiniteInput(it.points, it.parameters, it.knots);
        if (!r.error.empty()) return;
        r.ok = r.curve.LeastSquaresApproximation(it.points, it.parameters, it.knots, it.controlPoints, it.degree);
        if (r.ok) return;
        const std::size_t n = it.points.size(), nc = it.controlPoints, p = it.degree;
        if (it.knots.size() != nc + p + 1)
            r.error =
                Str(it.knots.size()) + " knots given, " + Str(nc + p + 1) + " needed (control points + degree + 1)";
        else if (it.parameters.size() != n)
            r.error = Str(it.parameters.size()) + " parameters for " + Str(n) + " points";
        else if (n == 0)
            r.error = "no point";
        else if (nc < 2)
            r.error = "fewer than 2 control points";
        else if (n >= 3 && nc >= 3 && nc <= p)
            r.error = Str(nc) + " control points are not more than the degree " + Str(p);
        else
            r.error = "the normal system is singular";
    });
    return results;
}

}  // namespace Batch
}  // namespace VelSDK
