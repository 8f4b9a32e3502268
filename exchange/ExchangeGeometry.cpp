// Shared checks and conversions of the exchange writers and readers.
#include "exchange/ExchangeGeometry.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <charconv>
#include <cmath>
#include <ctime>

namespace VelSDK {
namespace Exchange {
namespace detail {

using Math::point;
using NURBS::V3dNurbsCurve;
using NURBS::V3dNurbsSurface;

namespace {

std::string PointsProblem(const point<double, 4>* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 4; ++k)
            if (!std::isfinite(p[i][k])) return "control point " + std::to_string(i) + " is not finite";
        if (!(p[i][3] > 0.0)) return "control point " + std::to_string(i) + " has a weight <= 0";
        for (int k = 0; k < 3; ++k)
            if (!std::isfinite(p[i][k] / p[i][3]))
                return "control point " + std::to_string(i) + " is not finite after division by its weight";
    }
    return {};
}

std::string KnotsProblem(const std::vector<double>& knots, const char* which) {
    for (std::size_t i = 0; i < knots.size(); ++i) {
        if (!std::isfinite(knots[i])) return std::string(which) + "knot " + std::to_string(i) + " is not finite";
        if (i > 0 && knots[i] < knots[i - 1]) return std::string(which) + "knots decrease at " + std::to_string(i);
    }
    if (knots.front() == knots.back()) return std::string(which) + "knot vector has an empty range";
    return {};
}

// Size of a point set: the largest coordinate magnitude (at least 1 so that a net at the
// origin still has an absolute tolerance).
double NetSize(const point<double, 4>* p, std::size_t n) {
    double s = 1.0;
    for (std::size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) s = std::max(s, std::fabs(p[i][k] / p[i][3]));
    return s;
}

double Gap(const point<double, 3>& a, const point<double, 3>& b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

}  // namespace

std::string CurveProblem(const V3dNurbsCurve& curve) {
    if (!curve.IsValid()) return "the curve is not valid (counts of control points, knots and degree do not match)";
    if (curve.GetDegree() == 0) return "degree 0 cannot be exchanged";
    const auto& P = curve.GetControlPoints();
    std::string p = PointsProblem(P.data(), P.size());
    if (p.empty()) p = KnotsProblem(curve.GetKnots(), "");
    return p;
}

std::string SurfaceProblem(const V3dNurbsSurface& surface) {
    if (!surface.IsValid())
        return "the surface is not valid (counts of control points, knots and degrees do not match)";
    if (surface.GetDegreeU() == 0 || surface.GetDegreeV() == 0) return "degree 0 cannot be exchanged";
    const auto& P = surface.GetControlPoints().Elements();
    std::string p = PointsProblem(P.data(), P.size());
    if (p.empty()) p = KnotsProblem(surface.GetKnotsU(), "U ");
    if (p.empty()) p = KnotsProblem(surface.GetKnotsV(), "V ");
    return p;
}

bool IsRational(const std::vector<point<double, 4>>& points) {
    for (const auto& p : points)
        if (p[3] != 1.0) return true;
    return false;
}

bool CurveIsClosed(const V3dNurbsCurve& curve) {
    const auto& P = curve.GetControlPoints();
    const double tol = 1e-12 * NetSize(P.data(), P.size());
    return Gap(curve.EvaluateAt(curve.GetMinParam()), curve.EvaluateAt(curve.GetMaxParam())) <= tol;
}

bool SurfaceIsClosed(const V3dNurbsSurface& surface, bool alongU) {
    const auto& P = surface.GetControlPoints().Elements();
    const double tol = 1e-12 * NetSize(P.data(), P.size());
    const std::vector<double>& other = alongU ? surface.GetKnotsV() : surface.GetKnotsU();
    const std::size_t q = alongU ? surface.GetDegreeV() : surface.GetDegreeU();
    const std::size_t n = alongU ? surface.GetControlPoints().ColumnCount() : surface.GetControlPoints().RowCount();
    const std::vector<double>& knots = alongU ? surface.GetKnotsU() : surface.GetKnotsV();
    const std::size_t m = alongU ? surface.GetControlPoints().RowCount() : surface.GetControlPoints().ColumnCount();
    const std::size_t p = alongU ? surface.GetDegreeU() : surface.GetDegreeV();
    const double a = knots[p], b = knots[m];
    const std::size_t steps = 2 * (q + 1);
    for (std::size_t s = q; s < n; ++s) {
        const double t0 = other[s], t1 = other[s + 1];
        if (!(t1 > t0)) continue;
        for (std::size_t k = 0; k <= steps; ++k) {
            const double t = t0 + (t1 - t0) * static_cast<double>(k) / static_cast<double>(steps);
            const auto pa = alongU ? surface.EvaluateAt(a, t) : surface.EvaluateAt(t, a);
            const auto pb = alongU ? surface.EvaluateAt(b, t) : surface.EvaluateAt(t, b);
            if (!(Gap(pa, pb) <= tol)) return false;
        }
    }
    return true;
}

void DistinctKnots(const std::vector<double>& knots, std::vector<double>& values, std::vector<std::size_t>& mults) {
    values.clear();
    mults.clear();
    for (double k : knots) {
        if (!values.empty() && values.back() == k) {
            ++mults.back();
        } else {
            values.push_back(k);
            mults.push_back(1);
        }
    }
}

double CartesianCoordinate(double hx, double w) {
    const double x = hx / w;
    if (x * w == hx || w == 1.0) return x;
    double down = x, up = x;
    for (int step = 0; step < 4; ++step) {
        down = std::nextafter(down, -INFINITY);
        up = std::nextafter(up, INFINITY);
        if (down * w == hx) return down;
        if (up * w == hx) return up;
    }
    return x;
}

std::string RealText(double x) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, x);
    std::string s(buf, r.ptr);
    std::string mantissa = s, exponent;
    const std::size_t e = s.find('e');
    if (e != std::string::npos) {
        mantissa = s.substr(0, e);
        exponent = s.substr(e + 1);
    }
    if (mantissa.find('.') == std::string::npos) mantissa += '.';
    if (exponent.empty()) return mantissa;
    return mantissa + "E" + exponent;
}

std::string ModelProblem(const CadModel& model, LengthUnit unit, const std::string& format) {
    if (model.curves.empty() && model.surfaces.empty())
        return "nothing to write: the model holds no curve and no surface";
    if (unit == LengthUnit::Other) return format + " is written in millimetres or metres";
    for (std::size_t i = 0; i < model.curves.size(); ++i) {
        const std::string problem = CurveProblem(model.curves[i]);
        if (!problem.empty()) return "curve " + std::to_string(i) + ": " + problem;
    }
    for (std::size_t i = 0; i < model.surfaces.size(); ++i) {
        const std::string problem = SurfaceProblem(model.surfaces[i]);
        if (!problem.empty()) return "surface " + std::to_string(i) + ": " + problem;
    }
    return {};
}

std::string UtcStamp(const char* format) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

void MarkDone(ExchangeReport& report, const CadModel& model) {
    report.ok = true;
    report.curves = model.curves.size();
    report.surfaces = model.surfaces.size();
}

ExchangeReport SaveText(const std::string& path, const std::function<ExchangeReport(std::ostream&)>& write) {
    std::ostringstream text;
    ExchangeReport report = write(text);
    if (!report.ok) return report;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text.str();
    file.close();
    if (!file) {
        report.ok = false;
        report.error = "cannot write " + path;
    }
    return report;
}

ExchangeReport LoadText(const std::string& path, CadModel& model,
                        const std::function<ExchangeReport(const std::string&, CadModel&)>& read) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        model = CadModel();
        ExchangeReport report;
        report.error = "cannot open " + path;
        return report;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return read(text, model);
}

}  // namespace detail
}  // namespace Exchange
}  // namespace VelSDK
