// A 2-D chart on an SVG canvas: data window, axes with ticks, title and legend.
#pragma once

#include "SvgWriter.h"

#include <string>
#include <vector>

namespace nurbs_tool {

/// One line of the legend: a sample of the drawing style and its label.
struct LegendEntry {
    enum Kind { Line, DashedLine, Dot, Square, Diamond };
    Kind kind;
    std::string color;
    std::string label;
};

/// Lays out a chart: a title band at the top, the plot area, the legend below it. The data
/// window is mapped with equal scales in x and y (shapes are not distorted) and centred.
class SvgChart {
public:
    /// The plot area gets about plotWidth units; its height follows the data's aspect ratio
    /// within [minHeight, maxHeight].
    SvgChart(double x0, double x1, double y0, double y1, double plotWidth = 820.0, double minHeight = 320.0,
             double maxHeight = 820.0);

    ScreenPoint Map(double x, double y) const;
    /// Screen y of the bottom edge of the plot area.
    double Bottom() const { return kTop + m_plotH; }
    /// Data units per screen unit.
    double Scale() const { return m_scale; }

    void TitleBlock(const std::string& title, const std::string& subtitle);
    /// Frame, grid lines and tick labels at round values, axis names.
    void Axes(const std::string& xName, const std::string& yName);
    void Legend(const std::vector<LegendEntry>& entries);

    SvgWriter& Svg() { return m_svg; }
    std::string Finish() { return m_svg.Finish(); }

    /// Round tick values covering [a, b] with about `count` steps of 1, 2 or 5 times a power of ten.
    static std::vector<double> Ticks(double a, double b, int count);
    /// Shortest readable label of a tick value.
    static std::string TickLabel(double v, double step);

    static constexpr double kLeft = 80.0;
    static constexpr double kRight = 30.0;
    static constexpr double kTop = 64.0;
    static constexpr double kBottom = 84.0;

private:
    double m_x0, m_x1, m_y0, m_y1;
    double m_plotW, m_plotH;
    double m_scale;
    double m_offsetX, m_offsetY;
    SvgWriter m_svg;
};

}  // namespace nurbs_tool
