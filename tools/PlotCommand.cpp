// The plot subcommand: SVG pictures of curves (data points, control polygon, segmented
// curve, knots, axes, legend) and of surfaces (shaded wire-frame of iso-curves, oblique view).
#include "Commands.h"

#include "CsvOutput.h"
#include "OptionParsing.h"
#include "CurveFile.h"
#include "Geometry.h"
#include "PointReader.h"
#include "SurfaceFile.h"
#include "SvgChart.h"
#include "ToolError.h"

#include <memory>
#include <CLI/CLI.hpp>
#include <VelSDK/CurveLocator.h>
#include <VelSDK/CurveProperties.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace nurbs_tool {

using VelSDK::Math::point;

namespace {

const char* const kCurveColor = "#1f5fb4";
const char* const kPolygonColor = "#8c8c8c";
const char* const kDataColor = "#e6550d";
const char* const kKnotColor = "#c21d2f";
const char* const kProjectionColor = "#2ca02c";
const char* const kOverlayColor = "#9467bd";

std::string Short(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

/// A parallel projection of 3-D points onto the drawing plane, with a depth for hidden
/// surfaces (larger = farther from the viewer).
struct View {
    std::string xName, yName;
    std::function<std::array<double, 2>(const point<double, 3>&)> project;
    std::function<double(const point<double, 3>&)> depth;
    bool oblique = false;
};

/// Cabinet-like oblique projection: x to the right, z up (times zScale), y receding up and to
/// the right at 30 degrees, shortened to 0.6.
View Oblique(double zScale) {
    const double a = 0.6 * std::cos(M_PI / 6.0);
    const double b = 0.6 * std::sin(M_PI / 6.0);
    View v;
    v.oblique = true;
    v.project = [=](const point<double, 3>& p) {
        return std::array<double, 2>{p[0] + a * p[1], zScale * p[2] + b * p[1]};
    };
    // Along (-a, 1, -b / zScale) points fall onto the same spot; farther along it is farther away.
    v.depth = [=](const point<double, 3>& p) { return -a * p[0] + p[1] - (b / zScale) * p[2]; };
    return v;
}

/// Heights far smaller than the ground extent (terrain, a walk) are exaggerated to about a
/// third of it, by a round factor; 1 otherwise.
double Exaggeration(const Box& box) {
    const double ground = std::max(box.max[0] - box.min[0], box.max[1] - box.min[1]);
    const double height = box.max[2] - box.min[2];
    double factor = 1.0;
    if (height > 0.0 && ground > 0.0 && height < ground / 3.0) {
        const double want = ground / 3.0 / height;
        for (double f : {1.0, 2.0, 3.0, 5.0, 10.0, 20.0, 50.0, 100.0})
            if (f <= want) factor = f;
    }
    return factor;
}

View CurveView(const std::string& name, double exaggeration) {
    View v;
    if (name == "front") {
        v.xName = "x";
        v.yName = "z";
        v.project = [](const point<double, 3>& p) { return std::array<double, 2>{p[0], p[2]}; };
    } else if (name == "side") {
        v.xName = "y";
        v.yName = "z";
        v.project = [](const point<double, 3>& p) { return std::array<double, 2>{p[1], p[2]}; };
    } else if (name == "oblique") {
        v = Oblique(exaggeration);
    } else {
        v.xName = "x";
        v.yName = "y";
        v.project = [](const point<double, 3>& p) { return std::array<double, 2>{p[0], p[1]}; };
    }
    if (!v.depth) v.depth = [](const point<double, 3>&) { return 0.0; };
    return v;
}

struct Window {
    double x0 = HUGE_VAL, x1 = -HUGE_VAL, y0 = HUGE_VAL, y1 = -HUGE_VAL;
    void Add(const std::array<double, 2>& q) {
        if (!std::isfinite(q[0]) || !std::isfinite(q[1])) return;
        x0 = std::min(x0, q[0]);
        x1 = std::max(x1, q[0]);
        y0 = std::min(y0, q[1]);
        y1 = std::max(y1, q[1]);
    }
    bool Empty() const { return !(x1 >= x0) || !(y1 >= y0); }
};

/// Three short arrows with the axis names, for oblique views without a frame of ticks.
/// tips holds the three arrow tips (x, y, z) and then the common origin.
void Tripod(SvgChart& chart, const View& view, const std::vector<point<double, 3>>& tips,
            const std::array<std::string, 3>& labels) {
    chart.Svg().BeginGroup("id=\"tripod\"");
    const auto a = view.project(tips[3]);
    const ScreenPoint sa = chart.Map(a[0], a[1]);
    for (std::size_t c = 0; c < 3; ++c) {
        const auto b = view.project(tips[c]);
        const ScreenPoint sb = chart.Map(b[0], b[1]);
        chart.Svg().Line(sa, sb, "stroke=\"#222\" stroke-width=\"1.4\"");
        chart.Svg().Circle(sb, 2.2, "fill=\"#222\"");
        // Labels beside the tips: x below, y above and to the right, z above.
        const ScreenPoint at = c == 0   ? ScreenPoint{sb.x + 6, sb.y + 15}
                               : c == 1 ? ScreenPoint{sb.x + 7, sb.y - 5}
                                        : ScreenPoint{sb.x - 4, sb.y - 8};
        // A white halo keeps the labels readable over the drawing.
        chart.Svg().Text(at, labels[c], "start",
                         "paint-order=\"stroke\" stroke=\"#ffffff\" stroke-width=\"3\" stroke-linejoin=\"round\"");
    }
    chart.Svg().EndGroup();
}

/// A colour for t in [0, 1]: a perceptually ordered ramp from deep blue through teal and
/// green to yellow (the stops of the viridis map).
std::string Ramp(double t) {
    static const double stops[][3] = {{68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}};
    if (!(t >= 0.0)) t = 0.0;
    if (t > 1.0) t = 1.0;
    const double s = t * 4.0;
    const std::size_t i = std::min<std::size_t>(3, static_cast<std::size_t>(s));
    const double f = s - static_cast<double>(i);
    char buf[16];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", static_cast<int>(stops[i][0] + f * (stops[i + 1][0] - stops[i][0])),
                  static_cast<int>(stops[i][1] + f * (stops[i + 1][1] - stops[i][1])),
                  static_cast<int>(stops[i][2] + f * (stops[i + 1][2] - stops[i][2])));
    return buf;
}

// --- curves ---------------------------------------------------------------------------------------

void PlotCurve(const PlotOptions& o, const V3dCurveNurbsPlus& curve) {
    std::vector<point<double, 3>> data;
    if (!o.points.empty()) data = PointReader::ReadPoints(o.points).points;
    Box box = Geometry::ControlBox(curve);
    for (const point<double, 3>& p : data) box.Add(p);
    const double extent = box.Diagonal();
    const double tolerance = o.tolerance > 0.0 ? o.tolerance : (extent > 0.0 ? extent / 2000.0 : 1e-6);
    CheckTolerance(curve, tolerance);
    const Polyline line = Geometry::Segment(curve, tolerance);
    const double exaggeration = o.view == "oblique" ? Exaggeration(box) : 1.0;
    const View view = CurveView(o.view, exaggeration);

    std::vector<point<double, 3>> control;
    for (const point<double, 4>& h : curve.GetControlPoints()) control.push_back(VelSDK::Math::ToCartesian(h));
    // --overlay: a second curve drawn under the first (for example the interpolant under an
    // approximation of the same points).
    Polyline overlay;
    std::size_t overlayControlPoints = 0;
    if (!o.overlay.empty()) {
        const V3dCurveNurbsPlus other = CurveFile::Load(o.overlay);
        overlay = Geometry::Segment(other, tolerance);
        overlayControlPoints = other.GetNumberControlPoints();
    }
    Window w;
    // Feet of the data points on the curve, for --project.
    std::vector<point<double, 3>> feet;
    std::vector<bool> found;
    if (o.project || o.error) {
        // The global nearest point: a local projection can stop on a branch of the curve that
        // passes near the point without being the nearest.
        const VelSDK::NURBS::CurveLocator locator(
            VelSDK::NURBS::V3dNurbsCurve(curve.GetControlPoints(), curve.GetKnots(), curve.GetOrder() - 1u));
        for (const point<double, 3>& q : data) {
            const VelSDK::NURBS::CurveNearest r = locator.Nearest(q);
            feet.push_back(r.point);
            found.push_back(r.status == VelSDK::NURBS::NearestStatus::Found);
        }
    }
    const double tripod = 0.15 * extent;
    std::vector<point<double, 3>> tripodTips;
    if (view.oblique) {
        for (std::size_t c = 0; c < 3; ++c) {
            point<double, 3> tip = box.min;
            tip[c] += c == 2 ? tripod / exaggeration : tripod;
            tripodTips.push_back(tip);
        }
        tripodTips.push_back(box.min);
    }
    const std::vector<const std::vector<point<double, 3>>*> lists{&line.points, &control, &data, &tripodTips,
                                                                  &overlay.points};
    for (const std::vector<point<double, 3>>* list : lists)
        for (const point<double, 3>& p : *list) w.Add(view.project(p));
    if (w.Empty()) throw InputError(Where(o.input, 0, "the curve has no finite points to draw"));

    SvgChart chart(w.x0, w.x1, w.y0, w.y1);
    SvgWriter& svg = chart.Svg();
    svg.Title((o.title.empty() ? BaseName(o.input) : o.title) + ": NURBS curve");
    const std::string subtitle = "order " + std::to_string(curve.GetOrder()) + " \u00b7 " +
                                 std::to_string(curve.GetNumberControlPoints()) + " control points \u00b7 " +
                                 std::to_string(curve.GetNumberKnots()) + " knots \u00b7 " +
                                 (curve.IsClosedLoop() ? "closed" : "open") + " \u00b7 polyline of " +
                                 std::to_string(line.points.size()) + " points within " + Short(tolerance) +
                                 (data.empty() ? "" : " \u00b7 " + std::to_string(data.size()) + " data points") +
                                 (o.view == "top" ? "" : " \u00b7 " + o.view + " view") +
                                 (exaggeration != 1.0 ? " \u00b7 heights x" + Short(exaggeration) : "");
    chart.TitleBlock(o.title.empty() ? BaseName(o.input) : o.title, subtitle);
    if (!view.oblique) chart.Axes(view.xName, view.yName);
    auto toScreen = [&](const std::vector<point<double, 3>>& pts) {
        std::vector<ScreenPoint> s;
        s.reserve(pts.size());
        for (const point<double, 3>& p : pts) {
            const auto q = view.project(p);
            s.push_back(chart.Map(q[0], q[1]));
        }
        return s;
    };

    svg.BeginGroup("id=\"control-polygon\"");
    const std::vector<ScreenPoint> poly = toScreen(control);
    svg.Polyline(poly, "fill=\"none\" stroke=\"" + std::string(kPolygonColor) +
                           "\" stroke-width=\"0.9\" stroke-dasharray=\"4 3\"");
    for (const ScreenPoint& p : poly)
        svg.Rect(p.x - 2.2, p.y - 2.2, 4.4, 4.4, "fill=\"" + std::string(kPolygonColor) + "\"");
    svg.EndGroup();

    if (o.project) {
        svg.BeginGroup("id=\"projections\" stroke=\"" + std::string(kProjectionColor) + "\" stroke-width=\"0.9\"");
        const std::vector<ScreenPoint> from = toScreen(data);
        const std::vector<ScreenPoint> to = toScreen(feet);
        for (std::size_t i = 0; i < from.size(); ++i)
            if (found[i]) svg.Line(from[i], to[i], "");
        svg.EndGroup();
    }

    if (o.curvature) {
        // Curvature comb: at 400 parameters a tooth from C(u) along -N(u) of length
        // proportional to the curvature (the longest a sixth of the drawing), tips joined.
        const VelSDK::NURBS::V3dNurbsCurve held(curve.GetControlPoints(), curve.GetKnots(),
                                                static_cast<std::size_t>(curve.GetOrder()) - 1);
        std::vector<VelSDK::NURBS::CurveLocalProperties> props;
        double kMax = 0.0;
        for (int i = 0; i <= 400; ++i) {
            const double u = held.GetMinParam() + (held.GetMaxParam() - held.GetMinParam()) * (i / 400.0);
            props.push_back(VelSDK::NURBS::LocalProperties(held, u));
            if (props.back().status == VelSDK::NURBS::AnalysisStatus::Success)
                kMax = std::max(kMax, props.back().curvature);
        }
        if (kMax > 0.0) {
            const double scale = extent / 6.0 / kMax;
            std::vector<point<double, 3>> bases, tips;
            for (const auto& lp : props) {
                if (lp.status != VelSDK::NURBS::AnalysisStatus::Success) continue;
                bases.push_back(lp.point);
                tips.push_back(lp.point - (scale * lp.curvature) * lp.normal);
            }
            const std::vector<ScreenPoint> b = toScreen(bases), t = toScreen(tips);
            svg.BeginGroup("id=\"curvature-comb\" stroke=\"#c05a9a\" stroke-width=\"0.6\"");
            for (std::size_t i = 0; i < b.size(); ++i) svg.Line(b[i], t[i], "");
            svg.Polyline(t, "fill=\"none\" stroke-width=\"1\"");
            svg.EndGroup();
        }
    }

    if (!overlay.points.empty()) {
        svg.BeginGroup("id=\"overlay\"");
        svg.Polyline(toScreen(overlay.points), "fill=\"none\" stroke=\"" + std::string(kOverlayColor) +
                                                   "\" stroke-width=\"3.2\" stroke-opacity=\"0.55\" "
                                                   "stroke-linejoin=\"round\"");
        svg.EndGroup();
    }
    svg.BeginGroup("id=\"curve\"");
    svg.Polyline(toScreen(line.points), "fill=\"none\" stroke=\"" + std::string(kCurveColor) +
                                            "\" stroke-width=\"1.8\" stroke-linejoin=\"round\"");
    svg.EndGroup();

    std::vector<point<double, 3>> knotPoints;
    for (double k : Geometry::DistinctKnotsInRange(curve)) {
        point<double, 3> p{};
        curve.EvaluatePosition(p, k);
        knotPoints.push_back(p);
    }
    // Knot marks shrink where knots crowd (a knot per data point), so the curve stays visible;
    // the data points are drawn last, as open circles around them.
    const std::vector<ScreenPoint> knotScreen = toScreen(knotPoints);
    std::vector<double> gaps;
    for (std::size_t i = 1; i < knotScreen.size(); ++i)
        gaps.push_back(std::hypot(knotScreen[i].x - knotScreen[i - 1].x, knotScreen[i].y - knotScreen[i - 1].y));
    double mark = 2.8;
    if (!gaps.empty()) {
        std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
        mark = std::min(2.8, std::max(1.3, 0.25 * gaps[gaps.size() / 2]));
    }
    svg.BeginGroup("id=\"knots\" fill=\"" + std::string(kKnotColor) + "\"");
    for (const ScreenPoint& p : knotScreen)
        svg.Polygon({{p.x, p.y - mark}, {p.x + mark, p.y}, {p.x, p.y + mark}, {p.x - mark, p.y}}, "");
    svg.EndGroup();

    // --error: every data point filled with the colour of its distance to the curve (0 to the
    // largest distance on the ramp), the largest one ringed.
    double worst = 0.0;
    std::size_t worstAt = 0;
    std::vector<double> distance;
    if (o.error) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            distance.push_back(found[i] ? VelSDK::Math::Distance(data[i], feet[i]) : std::nan(""));
            if (distance.back() > worst) {
                worst = distance.back();
                worstAt = i;
            }
        }
    }
    if (!data.empty() && o.error) {
        const std::vector<ScreenPoint> s = toScreen(data);
        svg.BeginGroup("id=\"data-errors\" stroke=\"#1b1b1b\" stroke-width=\"0.4\"");
        for (std::size_t i = 0; i < s.size(); ++i)
            svg.Circle(
                s[i], 3.0,
                "fill=\"" +
                    (std::isnan(distance[i]) ? std::string("#d62728") : Ramp(worst > 0.0 ? distance[i] / worst : 0.0)) +
                    "\"");
        if (!s.empty()) svg.Circle(s[worstAt], 7.0, "fill=\"none\" stroke=\"#d62728\" stroke-width=\"1.4\"");
        svg.EndGroup();
    } else if (!data.empty()) {
        svg.BeginGroup("id=\"data-points\" fill=\"none\" stroke=\"" + std::string(kDataColor) +
                       "\" stroke-width=\"1.1\"");
        for (const ScreenPoint& p : toScreen(data)) svg.Circle(p, 3.4, "");
        svg.EndGroup();
    }

    if (view.oblique) Tripod(chart, view, tripodTips, {"x", "y", "z"});

    std::vector<LegendEntry> legend{{LegendEntry::Line, kCurveColor, "curve (segmented)"},
                                    {LegendEntry::DashedLine, kPolygonColor, "control polygon"},
                                    {LegendEntry::Diamond, kKnotColor, "knots"}};
    if (!overlay.points.empty())
        legend.push_back({LegendEntry::Line, kOverlayColor,
                          BaseName(o.overlay) + " (" + std::to_string(overlayControlPoints) + " control points)"});
    if (!data.empty()) legend.push_back({LegendEntry::Dot, kDataColor, "data points"});
    if (o.project && !data.empty()) legend.push_back({LegendEntry::Line, kProjectionColor, "to nearest curve point"});
    chart.Legend(legend);
    if (o.error && !data.empty()) {
        // The error scale under the legend.
        const double ly = chart.Bottom() + 80;
        svg.BeginGroup("id=\"error-scale\"");
        svg.Text({SvgChart::kLeft, ly + 4}, "distance to the curve 0", "start", "");
        const double barX = SvgChart::kLeft + 150;
        for (int k = 0; k < 40; ++k) svg.Rect(barX + 5.0 * k, ly - 8, 5.4, 12, "fill=\"" + Ramp(k / 39.0) + "\"");
        svg.Text({barX + 206, ly + 4}, Short(worst) + " (largest, ringed: point " + std::to_string(worstAt) + ")",
                 "start", "");
        svg.EndGroup();
    }
    WriteWholeFile(o.output, chart.Finish());
}

// --- surfaces -------------------------------------------------------------------------------------

void PlotSurface(const PlotOptions& o, const VelSDK::NURBS::V3dNurbsSurface& surface) {
    const std::size_t lines = o.lines;
    const std::size_t sub = 4;  // samples per iso-curve between two crossing iso-curves
    const std::size_t n = lines * sub;
    const double u0 = surface.GetMinParamU(), u1 = surface.GetMaxParamU();
    const double v0 = surface.GetMinParamV(), v1 = surface.GetMaxParamV();
    std::vector<point<double, 3>> grid((n + 1) * (n + 1));
    Box box;
    for (std::size_t i = 0; i <= n; ++i)
        for (std::size_t j = 0; j <= n; ++j) {
            const double u = i == n ? u1 : u0 + (u1 - u0) * (static_cast<double>(i) / static_cast<double>(n));
            const double v = j == n ? v1 : v0 + (v1 - v0) * (static_cast<double>(j) / static_cast<double>(n));
            grid[i * (n + 1) + j] = surface.EvaluateAt(u, v);
            box.Add(grid[i * (n + 1) + j]);
        }
    std::vector<point<double, 3>> data;
    if (!o.points.empty()) data = PointReader::ReadPoints(o.points).points;

    const double ground = std::max(box.max[0] - box.min[0], box.max[1] - box.min[1]);
    const double height = box.max[2] - box.min[2];
    const double exaggeration = Exaggeration(box);
    const View view = Oblique(exaggeration);
    // The tripod stands left of the surface's front corner.
    point<double, 3> corner = box.min;
    corner[0] -= 0.2 * ground;
    std::vector<point<double, 3>> tips;
    for (std::size_t c = 0; c < 3; ++c) {
        point<double, 3> tip = corner;
        tip[c] += (c == 2 ? 1.0 / exaggeration : 1.0) * 0.12 * ground;
        tips.push_back(tip);
    }
    tips.push_back(corner);
    Window w;
    for (const point<double, 3>& p : grid) w.Add(view.project(p));
    for (const point<double, 3>& p : tips) w.Add(view.project(p));
    if (w.Empty()) throw InputError(Where(o.input, 0, "the surface has no finite points to draw"));

    struct Cell {
        double depth;
        double height;
        std::vector<point<double, 3>> outline;
    };
    std::vector<Cell> cells;
    cells.reserve(lines * lines);
    auto at = [&](std::size_t i, std::size_t j) { return grid[i * (n + 1) + j]; };
    for (std::size_t ci = 0; ci < lines; ++ci)
        for (std::size_t cj = 0; cj < lines; ++cj) {
            Cell c{0.0, 0.0, {}};
            const std::size_t i0 = ci * sub, i1 = i0 + sub, j0 = cj * sub, j1 = j0 + sub;
            for (std::size_t i = i0; i < i1; ++i) c.outline.push_back(at(i, j0));
            for (std::size_t j = j0; j < j1; ++j) c.outline.push_back(at(i1, j));
            for (std::size_t i = i1; i > i0; --i) c.outline.push_back(at(i, j1));
            for (std::size_t j = j1; j > j0; --j) c.outline.push_back(at(i0, j));
            for (const point<double, 3>& p : c.outline) {
                c.depth += view.depth(p);
                c.height += p[2];
            }
            c.depth /= static_cast<double>(c.outline.size());
            c.height /= static_cast<double>(c.outline.size());
            cells.push_back(std::move(c));
        }
    // Painter's order: the farthest cells first.
    std::stable_sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) { return a.depth > b.depth; });

    SvgChart chart(w.x0, w.x1, w.y0, w.y1, 860.0, 240.0, 720.0);
    SvgWriter& svg = chart.Svg();
    const std::string title = o.title.empty() ? BaseName(o.input) : o.title;
    svg.Title(title + ": NURBS surface");
    const auto& cp = surface.GetControlPoints();
    chart.TitleBlock(title, "degrees " + std::to_string(surface.GetDegreeU()) + ", " +
                                std::to_string(surface.GetDegreeV()) + " \u00b7 " + std::to_string(cp.RowCount()) +
                                " x " + std::to_string(cp.ColumnCount()) + " control points \u00b7 " +
                                std::to_string(lines + 1) + " x " + std::to_string(lines + 1) +
                                " iso-curves \u00b7 oblique view" +
                                (exaggeration != 1.0 ? " \u00b7 heights x" + Short(exaggeration) : ""));
    svg.BeginGroup("id=\"surface\" stroke=\"#1b1b1b\" stroke-width=\"0.45\" stroke-linejoin=\"round\"");
    for (const Cell& c : cells) {
        std::vector<ScreenPoint> s;
        s.reserve(c.outline.size());
        for (const point<double, 3>& p : c.outline) {
            const auto q = view.project(p);
            s.push_back(chart.Map(q[0], q[1]));
        }
        svg.Polygon(s, "fill=\"" + Ramp(height > 0.0 ? (c.height - box.min[2]) / height : 0.5) + "\"");
    }
    svg.EndGroup();
    if (!data.empty()) {
        svg.BeginGroup("id=\"data-points\" fill=\"" + std::string(kDataColor) + "\"");
        for (const point<double, 3>& p : data) {
            const auto q = view.project(p);
            svg.Circle(chart.Map(q[0], q[1]), 1.1, "");
        }
        svg.EndGroup();
    }
    Tripod(chart, view, tips,
           {"x " + Short(box.min[0]) + " \u2026 " + Short(box.max[0]),
            "y " + Short(box.min[1]) + " \u2026 " + Short(box.max[1]),
            "z " + Short(box.min[2]) + " \u2026 " + Short(box.max[2])});

    // Height scale as the legend.
    const double ly = chart.Bottom() + 56;
    svg.BeginGroup("id=\"legend\"");
    svg.Text({SvgChart::kLeft, ly + 4}, "height " + Short(box.min[2]), "start", "");
    const double barX = SvgChart::kLeft + 110;
    for (int k = 0; k < 40; ++k) svg.Rect(barX + 5.0 * k, ly - 8, 5.4, 12, "fill=\"" + Ramp(k / 39.0) + "\"");
    svg.Text({barX + 206, ly + 4}, Short(box.max[2]), "start", "");
    if (!data.empty()) {
        svg.Circle({barX + 300, ly - 2}, 2.5, "fill=\"" + std::string(kDataColor) + "\"");
        svg.Text({barX + 310, ly + 4}, "data points", "start", "");
    }
    svg.EndGroup();
    WriteWholeFile(o.output, chart.Finish());
}

}  // namespace

int RunPlot(const PlotOptions& o) {
    if (CurveFile::Extension(o.output) != ".svg") throw UsageError(o.output + ": the picture is written as SVG (.svg)");
    const std::string ext = CurveFile::Extension(o.input);
    if (ext == ".nrb") {
        PlotCurve(o, CurveFile::Load(o.input));
        return kExitSuccess;
    }
    if (ext != ".xml") throw UsageError(o.input + ": expected a curve (.xml, .nrb) or a surface (.xml) file");
    const std::string text = PointReader::ReadFile(o.input);
    if (CurveFile::RootElement(text) == "NURBS_SURFACE") {
        PlotSurface(o, SurfaceFile::FromXml(text, o.input));
    } else {
        PlotCurve(o, CurveFile::FromXml(text, o.input));
    }
    return kExitSuccess;
}

// --- command-line registration ------------------------------------------------------------------

void AddPlotCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<PlotOptions>();
    CLI::App* cmd = app.add_subcommand("plot", "Draw a curve or a surface as an SVG picture");
    cmd->add_option("FILE", o->input, "curve (.xml, .nrb) or surface (.xml) file")->required();
    CLI::Option* points = cmd->add_option("--points", o->points, "data points to draw as well");
    cmd->add_option("--tolerance", o->tolerance,
                    "chord tolerance of the drawn polyline (default: 1/2000 of the drawing's extent)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--view", o->view, "curves: top (x,y), front (x,z), side (y,z) or oblique")
        ->check(CLI::IsMember({"top", "front", "side", "oblique"}));
    cmd->add_flag("--project", o->project,
                  "curves: connect every data point (--points) with its nearest point on the curve")
        ->needs(points);
    cmd->add_option("--overlay", o->overlay, "curves: a second curve file drawn under the first, for comparison");
    cmd->add_flag("--error", o->error,
                  "curves: colour every data point (--points) by its distance to the curve, largest ringed")
        ->needs(points);
    cmd->add_flag("--curvature", o->curvature,
                  "curves: draw the curvature comb (teeth along -normal, length ~ curvature)");
    cmd->add_option("--title", o->title, "title (default: the file name)");
    cmd->add_option("--lines", o->lines, "surfaces: iso-curves per direction")
        ->check(CLI::Range(std::size_t{2}, std::size_t{200}));
    cmd->add_option("-o,--output", o->output, "SVG file to write")->required();
    cmd->footer(
        "Curves: data points, control polygon, the segmented curve with its knots marked, axes and a "
        "legend. Surfaces: a wire-frame of iso-curves in an oblique view, shaded by height.\n"
        "Examples:\n  nurbs plot S.xml --points examples/data/glyph_S.csv -o S.svg\n"
        "  nurbs plot loop.xml --points fixes.csv --project -o loop.svg\n"
        "  nurbs plot loop.xml --points examples/data/gps_loop_3d.csv --error -o errors.svg\n"
        "  nurbs plot loop-5m.xml --overlay loop.xml --points examples/data/gps_loop_3d.csv -o both.svg\n"
        "  nurbs plot volcano.xml -o volcano.svg");
    cmd->callback([o, &exitCode] { exitCode = RunPlot(*o); });
}

}  // namespace nurbs_tool
