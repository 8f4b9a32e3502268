// Loading and saving fitted curves.
#include "CurveFile.h"

#include "PointReader.h"
#include "ToolError.h"
#include "CsvOutput.h"

#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusStream.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace nurbs_tool {

namespace {

/// Refuses coordinates that the program's further steps cannot handle: non-finite values, a
/// zero weight, and magnitudes whose squares would overflow (the segmentation's flatness test
/// squares control-point offsets).
void CheckCoordinates(const V3dCurveNurbsPlus& curve, const std::string& name) {
    const std::vector<VelSDK::Math::point<double, 4>>& points = curve.GetControlPoints();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const VelSDK::Math::point<double, 4>& h = points[i];
        bool ok = std::isfinite(h[3]) && h[3] != 0.0;
        for (std::size_t c = 0; c < 3 && ok; ++c) {
            const double x = h[c] / h[3];
            ok = std::isfinite(h[c]) && std::isfinite(x) && std::fabs(x) <= 1e150;
        }
        if (!ok)
            throw InputError(Where(
                name, 0,
                "control point " + std::to_string(i) + " is not usable (not finite, zero weight, or beyond 1e150)"));
    }
    for (double k : curve.GetKnots())
        if (!std::isfinite(k)) throw InputError(Where(name, 0, "the knot vector holds a value that is not finite"));
}

}  // namespace

std::string CurveFile::Extension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

CurveFormat CurveFile::FormatOf(const std::string& path) {
    const std::string ext = Extension(path);
    if (ext == ".xml") return CurveFormat::Xml;
    if (ext == ".nrb") return CurveFormat::Binary;
    throw UsageError(path + ": unknown curve format '" + ext + "' (use .xml for a document, .nrb for a binary record)");
}

std::string CurveFile::RootElement(const std::string& text) {
    std::size_t pos = 0;
    while (true) {
        pos = text.find('<', pos);
        if (pos == std::string::npos || pos + 1 >= text.size()) return std::string();
        const char next = text[pos + 1];
        if (next == '?' || next == '!') {  // declaration, comment or doctype
            const std::size_t end = text.find('>', pos);
            if (end == std::string::npos) return std::string();
            pos = end + 1;
            continue;
        }
        std::size_t end = pos + 1;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) && text[end] != '>' &&
               text[end] != '/')
            ++end;
        return text.substr(pos + 1, end - pos - 1);
    }
}

std::string CurveFile::ToXml(const V3dCurveNurbsPlus& curve) { return V3dCurveNurbsPlusDocument::Save(curve); }

std::string CurveFile::ToBinary(const V3dCurveNurbsPlus& curve) {
    std::ostringstream out(std::ios::binary);
    out << curve;
    return out.str();
}

V3dCurveNurbsPlus CurveFile::FromXml(const std::string& text, const std::string& name) {
    const std::string root = RootElement(text);
    if (root.empty()) throw InputError(Where(name, 0, "not an XML document"));
    if (root != "NURBS_CURVE")
        throw InputError(Where(name, 0, "a <" + root + "> document, not a curve (<NURBS_CURVE>)"));
    V3dCurveNurbsPlus curve;
    const VelSAX::VSAXReadResult result = V3dCurveNurbsPlusDocument::Load(text, curve);
    if (!result) throw InputError(Where(name, result.line, result.message));
    if (!curve.IsValid())
        throw InputError(Where(name, 0,
                               "the document holds no valid curve (order, control points and knots do not fit "
                               "together)"));
    CheckCoordinates(curve, name);
    return curve;
}

V3dCurveNurbsPlus CurveFile::FromBinary(const std::string& bytes, const std::string& name) {
    V3dCurveNurbsPlus curve;
    std::istringstream in(bytes, std::ios::binary);
    try {
        in >> curve;
    } catch (const std::length_error&) {
        throw InputError(Where(name, 0, "broken binary record: its counts promise more data than the file holds"));
    }
    if (in.fail())
        throw InputError(Where(name, 0, "truncated binary record (" + std::to_string(bytes.size()) + " bytes)"));
    if (in.peek() != std::char_traits<char>::eof())
        throw InputError(Where(name, 0, "trailing bytes after the binary record"));
    if (!curve.IsValid()) throw InputError(Where(name, 0, "the record holds no valid curve"));
    CheckCoordinates(curve, name);
    return curve;
}

V3dCurveNurbsPlus CurveFile::Load(const std::string& path) {
    const CurveFormat format = FormatOf(path);
    const std::string bytes = PointReader::ReadFile(path);
    return format == CurveFormat::Xml ? FromXml(bytes, path) : FromBinary(bytes, path);
}

void CurveFile::Save(const V3dCurveNurbsPlus& curve, const std::string& path) {
    const CurveFormat format = FormatOf(path);
    WriteWholeFile(path, format == CurveFormat::Xml ? ToXml(curve) : ToBinary(curve));
}

}  // namespace nurbs_tool
