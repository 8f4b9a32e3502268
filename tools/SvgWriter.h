// A small writer of SVG 1.1 documents: shapes, text and groups in screen coordinates.
#pragma once

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace nurbs_tool {

/// Screen coordinates in SVG user units (y grows downwards).
struct ScreenPoint {
    double x;
    double y;
};

/// Builds one SVG document in memory. Styles are raw attribute text such as
/// `stroke="#1f77b4" fill="none"`; text content is escaped here. Numbers are written with
/// two decimals, which is far below a pixel and keeps the files small.
class SvgWriter {
public:
    SvgWriter(double width, double height);

    /// <title> and <desc> of the document (shown by viewers as tooltip / description).
    void Title(const std::string& title);
    void Description(const std::string& text);
    /// Adds a <style> block (CSS).
    void Style(const std::string& css);

    void BeginGroup(const std::string& attributes);
    void EndGroup();

    void Line(ScreenPoint a, ScreenPoint b, const std::string& style);
    void Polyline(const std::vector<ScreenPoint>& points, const std::string& style);
    void Polygon(const std::vector<ScreenPoint>& points, const std::string& style);
    void Circle(ScreenPoint c, double r, const std::string& style);
    void Rect(double x, double y, double w, double h, const std::string& style);
    /// Text at (x, y); anchor is "start", "middle" or "end".
    void Text(ScreenPoint at, const std::string& text, const std::string& anchor, const std::string& style);
    /// A reusable shape referenced by Use.
    void Symbol(const std::string& id, const std::string& content);
    void Use(const std::string& id, ScreenPoint at, const std::string& style);

    /// The complete document (closes the root element).
    std::string Finish();

    static std::string Escape(const std::string& text);
    static std::string Num(double v);

private:
    void Points(const std::vector<ScreenPoint>& points);

    std::ostringstream m_out;
    std::ostringstream m_defs;
    int m_depth = 0;
};

}  // namespace nurbs_tool
