// A 2-D chart on an SVG canvas.
#include "SvgChart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace nurbs_tool {

namespace {

/// Half-widths of a degenerate window (a straight line along one axis, or one point).
void Widen(double& a, double& b, double other) {
    if (b - a > 0.0) return;
    const double half = other > 0.0 ? other * 0.05 : (std::fabs(a) > 0.0 ? std::fabs(a) * 0.05 : 1.0);
    a -= half;
    b += half;
}

double PlotHeight(double x0, double x1, double y0, double y1, double width, double minH, double maxH) {
    const double h = width * (y1 - y0) / (x1 - x0);
    return std::min(maxH, std::max(minH, std::isfinite(h) ? h : minH));
}

}  // namespace

SvgChart::SvgChart(double x0, double x1, double y0, double y1, double plotWidth, double minHeight, double maxHeight)
    : m_x0(x0),
      m_x1(x1),
      m_y0(y0),
      m_y1(y1),
      m_plotW(plotWidth),
      m_plotH(0.0),
      m_scale(1.0),
      m_offsetX(0.0),
      m_offsetY(0.0),
      m_svg(1.0, 1.0) {
    Widen(m_x0, m_x1, m_y1 - m_y0);
    Widen(m_y0, m_y1, m_x1 - m_x0);
    // 4 % margin inside the frame so that markers on the border are not cut.
    const double mx = (m_x1 - m_x0) * 0.04;
    const double my = (m_y1 - m_y0) * 0.04;
    m_x0 -= mx;
    m_x1 += mx;
    m_y0 -= my;
    m_y1 += my;
    m_plotH = PlotHeight(m_x0, m_x1, m_y0, m_y1, m_plotW, minHeight, maxHeight);
    // Equal scales: the tighter direction decides, the other is widened to fill the area.
    m_scale = std::max((m_x1 - m_x0) / m_plotW, (m_y1 - m_y0) / m_plotH);
    const double cx = 0.5 * (m_x0 + m_x1);
    const double cy = 0.5 * (m_y0 + m_y1);
    m_x0 = cx - 0.5 * m_plotW * m_scale;
    m_x1 = cx + 0.5 * m_plotW * m_scale;
    m_y0 = cy - 0.5 * m_plotH * m_scale;
    m_y1 = cy + 0.5 * m_plotH * m_scale;
    m_offsetX = kLeft;
    m_offsetY = kTop;
    m_svg = SvgWriter(kLeft + m_plotW + kRight, kTop + m_plotH + kBottom);
    m_svg.Style(
        "text { font-family: 'DejaVu Sans', Verdana, Arial, sans-serif; font-size: 12px; fill: #222; }\n"
        ".title { font-size: 17px; font-weight: bold; }\n"
        ".subtitle { font-size: 12px; fill: #555; }\n"
        ".tick { font-size: 11px; fill: #444; }");
    m_svg.Rect(0, 0, kLeft + m_plotW + kRight, kTop + m_plotH + kBottom, "fill=\"#ffffff\"");
}

ScreenPoint SvgChart::Map(double x, double y) const {
    return ScreenPoint{m_offsetX + (x - m_x0) / m_scale, m_offsetY + (m_y1 - y) / m_scale};
}

void SvgChart::TitleBlock(const std::string& title, const std::string& subtitle) {
    m_svg.Text({kLeft, 26}, title, "start", "class=\"title\"");
    if (!subtitle.empty()) m_svg.Text({kLeft, 46}, subtitle, "start", "class=\"subtitle\"");
}

std::vector<double> SvgChart::Ticks(double a, double b, int count) {
    std::vector<double> ticks;
    if (!(b > a) || !std::isfinite(a) || !std::isfinite(b) || count < 1) return ticks;
    const double raw = (b - a) / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double f : {1.0, 2.0, 5.0, 10.0}) {
        step = f * power;
        if (step >= raw) break;
    }
    const double first = std::ceil(a / step);
    for (double k = first; k * step <= b + step * 1e-9 && ticks.size() < 100; k += 1.0) {
        const double v = k * step;
        ticks.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
    }
    return ticks;
}

std::string SvgChart::TickLabel(double v, double step) {
    char buf[32];
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    if (std::fabs(v) >= 1e6 || (std::fabs(v) > 0.0 && std::fabs(v) < 1e-4)) {
        std::snprintf(buf, sizeof buf, "%.3g", v);
    } else {
        std::snprintf(buf, sizeof buf, "%.*f", std::min(decimals, 8), v);
    }
    return buf;
}

void SvgChart::Axes(const std::string& xName, const std::string& yName) {
    const double left = kLeft, top = kTop, right = kLeft + m_plotW, bottom = kTop + m_plotH;
    m_svg.BeginGroup("id=\"axes\"");
    const std::vector<double> xt = Ticks(m_x0, m_x1, std::max(2, static_cast<int>(m_plotW / 110.0)));
    const std::vector<double> yt = Ticks(m_y0, m_y1, std::max(2, static_cast<int>(m_plotH / 80.0)));
    const double xs = xt.size() > 1 ? xt[1] - xt[0] : 1.0;
    const double ys = yt.size() > 1 ? yt[1] - yt[0] : 1.0;
    for (double v : xt) {
        const double x = Map(v, 0.0).x;
        m_svg.Line({x, top}, {x, bottom}, "stroke=\"#e6e6e6\" stroke-width=\"1\"");
        m_svg.Line({x, bottom}, {x, bottom + 5}, "stroke=\"#444\" stroke-width=\"1\"");
        m_svg.Text({x, bottom + 18}, TickLabel(v, xs), "middle", "class=\"tick\"");
    }
    for (double v : yt) {
        const double y = Map(0.0, v).y;
        m_svg.Line({left, y}, {right, y}, "stroke=\"#e6e6e6\" stroke-width=\"1\"");
        m_svg.Line({left - 5, y}, {left, y}, "stroke=\"#444\" stroke-width=\"1\"");
        m_svg.Text({left - 8, y + 4}, TickLabel(v, ys), "end", "class=\"tick\"");
    }
    m_svg.Rect(left, top, m_plotW, m_plotH, "fill=\"none\" stroke=\"#444\" stroke-width=\"1\"");
    m_svg.Text({left + 0.5 * m_plotW, bottom + 36}, xName, "middle", "");
    m_svg.Text(
        {left - 56, top + 0.5 * m_plotH}, yName, "middle",
        "transform=\"rotate(-90 " + SvgWriter::Num(left - 56) + " " + SvgWriter::Num(top + 0.5 * m_plotH) + ")\"");
    m_svg.EndGroup();
}

void SvgChart::Legend(const std::vector<LegendEntry>& entries) {
    const double y = kTop + m_plotH + 62;
    double x = kLeft;
    m_svg.BeginGroup("id=\"legend\"");
    for (const LegendEntry& e : entries) {
        const std::string stroke = "stroke=\"" + e.color + "\"";
        switch (e.kind) {
            case LegendEntry::Line:
                m_svg.Line({x, y - 4}, {x + 26, y - 4}, stroke + " stroke-width=\"2\"");
                break;
            case LegendEntry::DashedLine:
                m_svg.Line({x, y - 4}, {x + 26, y - 4}, stroke + " stroke-width=\"1\" stroke-dasharray=\"4 3\"");
                break;
            case LegendEntry::Dot:
                m_svg.Circle({x + 13, y - 4}, 3, stroke + " fill=\"none\" stroke-width=\"1.2\"");
                break;
            case LegendEntry::Square:
                m_svg.Rect(x + 10, y - 7, 6, 6, "fill=\"" + e.color + "\"");
                break;
            case LegendEntry::Diamond:
                m_svg.Polygon({{x + 13, y - 9}, {x + 18, y - 4}, {x + 13, y + 1}, {x + 8, y - 4}},
                              "fill=\"" + e.color + "\"");
                break;
        }
        m_svg.Text({x + 32, y}, e.label, "start", "");
        x += 32 + 7.0 * static_cast<double>(e.label.size()) + 24;
    }
    m_svg.EndGroup();
}

}  // namespace nurbs_tool
