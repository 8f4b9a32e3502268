// Colour map of per-point errors on an SVG chart.
#include "ErrorMap.h"

#include "SvgChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace nurbs_tool {

namespace {

// The viridis colour map (matplotlib, CC0) at nine evenly spaced stops, linearly interpolated.
std::string Viridis(double t) {
    static const double stops[9][3] = {{68, 1, 84},    {71, 44, 122}, {59, 81, 139},  {44, 113, 142}, {33, 144, 141},
                                       {39, 173, 129}, {92, 200, 99}, {170, 220, 50}, {253, 231, 37}};
    if (!std::isfinite(t)) return "#999999";
    t = std::min(1.0, std::max(0.0, t)) * 8.0;
    const int k = std::min(7, static_cast<int>(t));
    const double f = t - k;
    char buf[8];
    int c[3];
    for (int i = 0; i < 3; ++i) c[i] = static_cast<int>(std::lround(stops[k][i] + f * (stops[k + 1][i] - stops[k][i])));
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c[0], c[1], c[2]);
    return buf;
}

}  // namespace

std::string ErrorMapSvg(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& errors,
                        const ErrorMapOptions& o) {
    const std::size_t count = std::min(x.size(), std::min(y.size(), errors.size()));
    double x0 = HUGE_VAL, x1 = -HUGE_VAL, y0 = HUGE_VAL, y1 = -HUGE_VAL, top = o.tolerance > 0.0 ? o.tolerance : 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        x0 = std::min(x0, x[k]);
        x1 = std::max(x1, x[k]);
        y0 = std::min(y0, y[k]);
        y1 = std::max(y1, y[k]);
        if (std::isfinite(errors[k])) top = std::max(top, errors[k]);
    }
    if (count == 0) x0 = x1 = y0 = y1 = 0.0;
    if (!(top > 0.0)) top = 1.0;
    double cell = o.cell;
    if (!(cell > 0.0) && count > 0) cell = std::sqrt(std::max((x1 - x0) * (y1 - y0), 0.0) / static_cast<double>(count));
    if (!(cell > 0.0)) cell = std::max(x1 - x0, y1 - y0) / 50.0;
    if (!(cell > 0.0)) cell = 1.0;
    SvgChart chart(x0 - 0.5 * cell, x1 + 0.5 * cell, y0 - 0.5 * cell, y1 + 0.5 * cell);
    chart.TitleBlock(o.title, o.subtitle);
    chart.Axes(o.xName, o.yName);
    SvgWriter& svg = chart.Svg();
    const double side = cell / chart.Scale();
    svg.BeginGroup("shape-rendering=\"crispEdges\"");
    for (std::size_t k = 0; k < count; ++k) {
        const ScreenPoint c = chart.Map(x[k], y[k]);
        svg.Rect(c.x - 0.5 * side, c.y - 0.5 * side, side, side, "fill=\"" + Viridis(errors[k] / top) + "\"");
    }
    svg.EndGroup();
    if (o.tolerance > 0.0)
        for (std::size_t k = 0; k < count; ++k) {
            if (!(errors[k] > o.tolerance)) continue;
            const ScreenPoint c = chart.Map(x[k], y[k]);
            svg.Rect(c.x - 0.5 * side, c.y - 0.5 * side, side, side, "fill=\"none\" stroke=\"#d62728\"");
        }
    // Colour bar below the axes' labels: 64 slices from 0 to the top of the scale, with ticks.
    const double barX = SvgChart::kLeft, barW = 320.0, barY = chart.Bottom() + 46.0, barH = 10.0;
    for (int s = 0; s < 64; ++s)
        svg.Rect(barX + barW * s / 64.0, barY, barW / 64.0 + 0.3, barH, "fill=\"" + Viridis((s + 0.5) / 64.0) + "\"");
    const std::vector<double> ticks = SvgChart::Ticks(0.0, top, 4);
    const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : top;
    for (double t : ticks)
        svg.Text({barX + barW * t / top, barY + barH + 13.0}, SvgChart::TickLabel(t, step), "middle", "class=\"tick\"");
    std::string label = "distance";
    if (o.tolerance > 0.0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, " (red outline: beyond the tolerance %.4g)", o.tolerance);
        label += buf;
    }
    svg.Text({barX + barW + 12.0, barY + barH}, label, "start", "class=\"tick\"");
    return chart.Finish();
}

}  // namespace nurbs_tool
