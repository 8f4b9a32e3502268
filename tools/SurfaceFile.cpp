// Loading and saving NURBS surfaces in the program's own XML document layout.
#include "SurfaceFile.h"

#include "CsvOutput.h"
#include "CurveFile.h"
#include "PointReader.h"
#include "ToolError.h"

#include <VelSDK/VSAXDocumentReader.h>
#include <VelSDK/VSAXDocumentWriter.h>
#include <VelSDK/VelSAX.h>

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

namespace nurbs_tool {

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;

namespace {

const char* const kRoot = "NURBS_SURFACE";
const char* const kStreamName = "surface";

void TextElement(VelSAX::ISAXWriter& writer, const std::string& name, const std::string& text) {
    writer.StartTag(name);
    writer.WriteText(text);
    writer.EndTag(name);
}

/// Persistence helper of a surface: writes the layout above and gathers the values while
/// reading; the surface is built once the root element ends (Build).
class SurfaceSAXHelper : public VelSAX::ISAXPersistHelper {
public:
    explicit SurfaceSAXHelper(const V3dNurbsSurface* toWrite) : m_toWrite(toWrite) {}

    void SetDefaults() override {
        m_degreeU = m_degreeV = 0;
        m_rows = m_cols = 0;
        m_countU = m_countV = 0;
        m_grid.clear();
        m_knotsU.clear();
        m_knotsV.clear();
        m_ended = false;
    }

    bool HandleTag(const std::string& name, VelSAX::ISAXReader& reader) override {
        const std::string& parent = reader.ParentTagName(1);
        const std::string& grandparent = reader.ParentTagName(2);
        if (name == kRoot) return parent.empty();
        if (parent == kRoot) {
            if (name == "DegreeU") return ReadSmall(reader, m_degreeU);
            if (name == "DegreeV") return ReadSmall(reader, m_degreeV);
            return name == "ControlPoints" || name == "KnotsU" || name == "KnotsV";
        }
        if (grandparent != kRoot) return false;
        if (parent == "ControlPoints") {
            if (name == "Dim") {
                unsigned long dim = 0;
                return reader.ReadValue(dim) && dim == 4;
            }
            if (name == "DataType") return IsDouble(reader);
            if (name == "Rows") return reader.ReadValue(m_rows);
            if (name == "Cols") return reader.ReadValue(m_cols);
            if (name == "Data") {
                const std::size_t count = static_cast<std::size_t>(m_rows) * static_cast<std::size_t>(m_cols);
                // Refuse a size the document cannot hold before allocating for it.
                if (m_rows == 0 || m_cols == 0 || !reader.CanHold(count, 4 * sizeof(double))) return false;
                m_grid.assign(count, point<double, 4>{});
                VelSAX::VSAXStreamBinaryIn& in = reader.GetBinaryStream();
                for (point<double, 4>& p : m_grid)
                    for (std::size_t c = 0; c < 4; ++c) in >> p[c];
                return !in.Failed();
            }
            return false;
        }
        if (parent == "KnotsU" || parent == "KnotsV") {
            std::vector<double>& knots = parent == "KnotsU" ? m_knotsU : m_knotsV;
            unsigned long& count = parent == "KnotsU" ? m_countU : m_countV;
            if (name == "DataType") return IsDouble(reader);
            if (name == "Count") return reader.ReadValue(count);
            if (name == "Data") {
                if (!reader.CanHold(count, sizeof(double))) return false;
                knots.assign(count, 0.0);
                VelSAX::VSAXStreamBinaryIn& in = reader.GetBinaryStream();
                for (double& k : knots) in >> k;
                return !in.Failed();
            }
        }
        return false;
    }

    void HandleEndTag(std::string_view name) override {
        if (name == kRoot) m_ended = true;
    }

    bool Write(VelSAX::ISAXWriter& writer) const override {
        if (m_toWrite == nullptr) return false;
        const V3dNurbsSurface& s = *m_toWrite;
        VelSAX::VSAXTagWriter root(writer, kRoot);
        TextElement(writer, "DegreeU", std::to_string(s.GetDegreeU()));
        TextElement(writer, "DegreeV", std::to_string(s.GetDegreeV()));
        {
            VelSAX::VSAXTagWriter cp(writer, "ControlPoints");
            const VMatrix<point<double, 4>>& grid = s.GetControlPoints();
            VelSAX::VSAXBinaryBlockOut block = writer.GetBinaryStream(kStreamName);
            for (const point<double, 4>& p : grid.Elements())
                for (std::size_t c = 0; c < 4; ++c) block.Stream() << p[c];
            TextElement(writer, "Dim", "4");
            TextElement(writer, "DataType", "double");
            TextElement(writer, "Rows", std::to_string(grid.RowCount()));
            TextElement(writer, "Cols", std::to_string(grid.ColumnCount()));
            writer.WriteBinaryData("Data", block);
        }
        WriteKnots(writer, "KnotsU", s.GetKnotsU());
        WriteKnots(writer, "KnotsV", s.GetKnotsV());
        return true;
    }

    /// The surface read; InputError (without a line) when the document did not describe one.
    V3dNurbsSurface Build(const std::string& name) const {
        if (!m_ended) throw InputError(Where(name, 0, "no <NURBS_SURFACE> element"));
        if (m_grid.empty()) throw InputError(Where(name, 0, "the surface has no control points"));
        if (m_knotsU.size() != m_countU || m_knotsV.size() != m_countV)
            throw InputError(Where(name, 0, "a knot vector has no data"));
        VMatrix<point<double, 4>> grid(m_rows, m_cols, point<double, 4>{});
        grid.Elements() = m_grid;
        V3dNurbsSurface surface(std::move(grid), m_knotsU, m_knotsV, m_degreeU, m_degreeV);
        if (!surface.IsValid())
            throw InputError(Where(name, 0,
                                   "the surface is not valid: " + std::to_string(m_rows) + " x " +
                                       std::to_string(m_cols) + " control points need " +
                                       std::to_string(m_rows + m_degreeU + 1) + " and " +
                                       std::to_string(m_cols + m_degreeV + 1) + " knots, found " +
                                       std::to_string(m_knotsU.size()) + " and " + std::to_string(m_knotsV.size())));
        for (const std::vector<double>* knots : {&m_knotsU, &m_knotsV})
            for (std::size_t i = 0; i < knots->size(); ++i)
                if (!std::isfinite((*knots)[i]) || (i > 0 && (*knots)[i - 1] > (*knots)[i]))
                    throw InputError(Where(name, 0, "a knot vector is not finite and non-decreasing"));
        for (const point<double, 4>& h : m_grid) {
            bool ok = std::isfinite(h[3]) && h[3] != 0.0;
            for (std::size_t c = 0; c < 3 && ok; ++c) ok = std::isfinite(h[c]) && std::fabs(h[c] / h[3]) <= 1e150;
            if (!ok)
                throw InputError(
                    Where(name, 0, "a control point is not usable (not finite, zero weight, or beyond 1e150)"));
        }
        if (m_degreeU >= m_rows || m_degreeV >= m_cols)
            throw InputError(Where(name, 0, "a degree is not below its number of control points"));
        return surface;
    }

private:
    static bool IsDouble(VelSAX::ISAXReader& reader) {
        std::string type;
        return reader.ReadValue(type) && type == "double";
    }
    static bool ReadSmall(VelSAX::ISAXReader& reader, std::size_t& value) {
        unsigned long v = 0;
        if (!reader.ReadValue(v) || v > 64) return false;  // degrees above 64 are not meaningful here
        value = v;
        return true;
    }
    static void WriteKnots(VelSAX::ISAXWriter& writer, const char* element, const std::vector<double>& knots) {
        VelSAX::VSAXTagWriter tag(writer, element);
        VelSAX::VSAXBinaryBlockOut block = writer.GetBinaryStream(kStreamName);
        for (double k : knots) block.Stream() << k;
        TextElement(writer, "DataType", "double");
        TextElement(writer, "Count", std::to_string(knots.size()));
        writer.WriteBinaryData("Data", block);
    }

    const V3dNurbsSurface* m_toWrite;
    std::size_t m_degreeU = 0;
    std::size_t m_degreeV = 0;
    unsigned long m_rows = 0;
    unsigned long m_cols = 0;
    unsigned long m_countU = 0;
    unsigned long m_countV = 0;
    std::vector<point<double, 4>> m_grid;
    std::vector<double> m_knotsU;
    std::vector<double> m_knotsV;
    bool m_ended = false;
};

}  // namespace

std::string SurfaceFile::ToXml(const V3dNurbsSurface& surface) {
    VelSAX::VSAXDocumentWriter writer;
    SurfaceSAXHelper helper(&surface);
    helper.Write(writer);
    return writer.GetDocument();
}

V3dNurbsSurface SurfaceFile::FromXml(const std::string& text, const std::string& name) {
    const std::string root = CurveFile::RootElement(text);
    if (root.empty()) throw InputError(Where(name, 0, "not an XML document"));
    if (root != kRoot) throw InputError(Where(name, 0, "a <" + root + "> document, not a surface (<NURBS_SURFACE>)"));
    SurfaceSAXHelper helper(nullptr);
    VelSAX::VSAXDocumentReader reader;
    const VelSAX::VSAXReadResult result = reader.Read(text, helper);
    if (!result) throw InputError(Where(name, result.line, result.message));
    return helper.Build(name);
}

V3dNurbsSurface SurfaceFile::Load(const std::string& path) {
    if (CurveFile::Extension(path) != ".xml") throw UsageError(path + ": surfaces are stored as XML documents (.xml)");
    return FromXml(PointReader::ReadFile(path), path);
}

void SurfaceFile::Save(const V3dNurbsSurface& surface, const std::string& path) {
    if (CurveFile::Extension(path) != ".xml") throw UsageError(path + ": surfaces are stored as XML documents (.xml)");
    WriteWholeFile(path, ToXml(surface));
}

}  // namespace nurbs_tool
