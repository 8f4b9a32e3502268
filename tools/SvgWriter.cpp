// A small writer of SVG 1.1 documents.
#include "SvgWriter.h"

#include <cmath>
#include <cstdio>

namespace nurbs_tool {

SvgWriter::SvgWriter(double width, double height) {
    m_out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          << "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" version=\"1.1\" "
          << "width=\"" << Num(width) << "\" height=\"" << Num(height) << "\" viewBox=\"0 0 " << Num(width) << ' '
          << Num(height) << "\">\n";
}

std::string SvgWriter::Num(double v) {
    if (!std::isfinite(v)) return "0";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    std::string s(buf);
    // Drop trailing zeros ("12.50" -> "12.5", "3.00" -> "3").
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

std::string SvgWriter::Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                // Control characters other than tab and newline are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
                    out += ' ';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

void SvgWriter::Title(const std::string& title) { m_out << "<title>" << Escape(title) << "</title>\n"; }

void SvgWriter::Description(const std::string& text) { m_out << "<desc>" << Escape(text) << "</desc>\n"; }

void SvgWriter::Style(const std::string& css) {
    m_out << "<style type=\"text/css\"><![CDATA[\n" << css << "\n]]></style>\n";
}

void SvgWriter::BeginGroup(const std::string& attributes) {
    m_out << "<g" << (attributes.empty() ? "" : " ") << attributes << ">\n";
    ++m_depth;
}

void SvgWriter::EndGroup() {
    if (m_depth == 0) return;
    m_out << "</g>\n";
    --m_depth;
}

void SvgWriter::Line(ScreenPoint a, ScreenPoint b, const std::string& style) {
    m_out << "<line x1=\"" << Num(a.x) << "\" y1=\"" << Num(a.y) << "\" x2=\"" << Num(b.x) << "\" y2=\"" << Num(b.y)
          << "\" " << style << "/>\n";
}

void SvgWriter::Points(const std::vector<ScreenPoint>& points) {
    m_out << " points=\"";
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (i != 0) m_out << ' ';
        m_out << Num(points[i].x) << ',' << Num(points[i].y);
    }
    m_out << '"';
}

void SvgWriter::Polyline(const std::vector<ScreenPoint>& points, const std::string& style) {
    if (points.empty()) return;
    m_out << "<polyline";
    Points(points);
    m_out << ' ' << style << "/>\n";
}

void SvgWriter::Polygon(const std::vector<ScreenPoint>& points, const std::string& style) {
    if (points.empty()) return;
    m_out << "<polygon";
    Points(points);
    m_out << ' ' << style << "/>\n";
}

void SvgWriter::Circle(ScreenPoint c, double r, const std::string& style) {
    m_out << "<circle cx=\"" << Num(c.x) << "\" cy=\"" << Num(c.y) << "\" r=\"" << Num(r) << "\" " << style << "/>\n";
}

void SvgWriter::Rect(double x, double y, double w, double h, const std::string& style) {
    m_out << "<rect x=\"" << Num(x) << "\" y=\"" << Num(y) << "\" width=\"" << Num(w) << "\" height=\"" << Num(h)
          << "\" " << style << "/>\n";
}

void SvgWriter::Text(ScreenPoint at, const std::string& text, const std::string& anchor, const std::string& style) {
    m_out << "<text x=\"" << Num(at.x) << "\" y=\"" << Num(at.y) << "\" text-anchor=\"" << anchor << "\""
          << (style.empty() ? "" : " ") << style << ">" << Escape(text) << "</text>\n";
}

void SvgWriter::Symbol(const std::string& id, const std::string& content) {
    m_defs << "<symbol id=\"" << id << "\" overflow=\"visible\">" << content << "</symbol>\n";
}

void SvgWriter::Use(const std::string& id, ScreenPoint at, const std::string& style) {
    m_out << "<use xlink:href=\"#" << id << "\" x=\"" << Num(at.x) << "\" y=\"" << Num(at.y) << "\""
          << (style.empty() ? "" : " ") << style << "/>\n";
}

std::string SvgWriter::Finish() {
    while (m_depth > 0) EndGroup();
    std::string defs = m_defs.str();
    std::string body = m_out.str();
    if (!defs.empty()) {
        // Definitions go right after the opening <svg> element.
        const std::size_t pos = body.find(">\n", body.find("<svg")) + 2;
        body.insert(pos, "<defs>\n" + defs + "</defs>\n");
    }
    return body + "</svg>\n";
}

}  // namespace nurbs_tool
