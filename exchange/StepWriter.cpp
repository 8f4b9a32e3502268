// STEP writer: an AP214 (automotive_design) exchange structure holding one product whose
// shape representation carries a geometric set of B-spline curves and surfaces, written after
// ISO 10303-21 (syntax) and ISO 10303-42 (b_spline_curve_with_knots,
// b_spline_surface_with_knots, rational_b_spline_curve / _surface as complex instances).
#include <VelSDK/StepExchange.h>

#include "exchange/ExchangeGeometry.h"

#include <ostream>
#include <sstream>

namespace VelSDK {
namespace Exchange {

using Math::point;
using NURBS::V3dNurbsCurve;
using NURBS::V3dNurbsSurface;

namespace {

// A string literal: quotes doubled, bytes outside printable ASCII written as \X\hh, at most
// 255 bytes of the input.
std::string Quoted(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "'";
    const std::size_t n = std::min<std::size_t>(s.size(), 255);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\'') {
            out += "''";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c > 0x7e) {
            out += "\\X\\";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "'";
}

const char* Logical(bool b) { return b ? ".T." : ".F."; }

// Accumulates the DATA section; instance numbers count up from 1. Long instances break
// their lines after commas near 80 columns.
class DataWriter {
public:
    std::size_t Next() const { return m_next; }

    // Starts instance #Next(); returns its number.
    std::size_t Begin() {
        m_lineStart = m_out.size();
        m_out += "#" + std::to_string(m_next) + "=";
        return m_next++;
    }
    void Put(const std::string& token) {
        if (m_out.size() - m_lineStart + token.size() > 78 && !m_out.empty() && m_out.back() == ',') {
            m_out += "\n  ";
            m_lineStart = m_out.size() - 2;
        }
        m_out += token;
    }
    void End() { m_out += ";\n"; }

    // Writes a whole simple instance.
    std::size_t Simple(const std::string& text) {
        const std::size_t id = Begin();
        Put(text);
        End();
        return id;
    }

    static std::string Ref(std::size_t id) { return "#" + std::to_string(id); }

    const std::string& Text() const { return m_out; }

private:
    std::string m_out;
    std::size_t m_next = 1;
    std::size_t m_lineStart = 0;
};

// Writes "(a,b,c)" token by token.
template <typename F>
void PutList(DataWriter& w, std::size_t n, F item) {
    w.Put("(");
    for (std::size_t i = 0; i < n; ++i) w.Put(item(i) + (i + 1 < n ? "," : ""));
    w.Put(")");
}

std::size_t PutPoint(DataWriter& w, const point<double, 4>& h) {
    const std::size_t id = w.Begin();
    w.Put("CARTESIAN_POINT('',(");
    w.Put(detail::RealText(detail::CartesianCoordinate(h[0], h[3])) + ",");
    w.Put(detail::RealText(detail::CartesianCoordinate(h[1], h[3])) + ",");
    w.Put(detail::RealText(detail::CartesianCoordinate(h[2], h[3])) + "))");
    w.End();
    return id;
}

std::string IntText(std::size_t v) { return std::to_string(v); }

std::size_t PutCurve(DataWriter& w, const V3dNurbsCurve& c, const std::string& name) {
    const auto& P = c.GetControlPoints();
    std::vector<std::size_t> ids(P.size());
    for (std::size_t i = 0; i < P.size(); ++i) ids[i] = PutPoint(w, P[i]);
    std::vector<double> knots;
    std::vector<std::size_t> mults;
    detail::DistinctKnots(c.GetKnots(), knots, mults);
    const bool rational = detail::IsRational(P);
    const std::string closed = Logical(detail::CurveIsClosed(c));

    const std::size_t id = w.Begin();
    auto points = [&](std::size_t i) { return DataWriter::Ref(ids[i]); };
    auto multiplicity = [&](std::size_t i) { return IntText(mults[i]); };
    auto knot = [&](std::size_t i) { return detail::RealText(knots[i]); };
    if (!rational) {
        w.Put("B_SPLINE_CURVE_WITH_KNOTS(" + Quoted(name) + "," + IntText(c.GetDegree()) + ",");
        PutList(w, ids.size(), points);
        w.Put(",.UNSPECIFIED.," + closed + ",.U.,");
        PutList(w, mults.size(), multiplicity);
        w.Put(",");
        PutList(w, knots.size(), knot);
        w.Put(",.UNSPECIFIED.)");
    } else {
        // Complex instance: partial entities in alphabetical order, each with its own
        // attributes (ISO 10303-21, 11.2.5.3).
        w.Put("(BOUNDED_CURVE()B_SPLINE_CURVE(" + IntText(c.GetDegree()) + ",");
        PutList(w, ids.size(), points);
        w.Put(",.UNSPECIFIED.," + closed + ",.U.)B_SPLINE_CURVE_WITH_KNOTS(");
        PutList(w, mults.size(), multiplicity);
        w.Put(",");
        PutList(w, knots.size(), knot);
        w.Put(",.UNSPECIFIED.)CURVE()GEOMETRIC_REPRESENTATION_ITEM()RATIONAL_B_SPLINE_CURVE(");
        PutList(w, P.size(), [&](std::size_t i) { return detail::RealText(P[i][3]); });
        w.Put(")REPRESENTATION_ITEM(" + Quoted(name) + "))");
    }
    w.End();
    return id;
}

std::size_t PutSurface(DataWriter& w, const V3dNurbsSurface& s, const std::string& name) {
    const auto& net = s.GetControlPoints();
    const std::size_t nu = net.RowCount(), nv = net.ColumnCount();
    std::vector<std::size_t> ids(nu * nv);
    for (std::size_t i = 0; i < nu; ++i)
        for (std::size_t j = 0; j < nv; ++j) ids[i * nv + j] = PutPoint(w, net(i, j));
    std::vector<double> ku, kv;
    std::vector<std::size_t> mu, mv;
    detail::DistinctKnots(s.GetKnotsU(), ku, mu);
    detail::DistinctKnots(s.GetKnotsV(), kv, mv);
    const bool rational = detail::IsRational(net.Elements());
    const std::string closed = std::string(Logical(detail::SurfaceIsClosed(s, true))) + "," +
                               Logical(detail::SurfaceIsClosed(s, false)) + ",.U.";

    const std::size_t id = w.Begin();
    auto grid = [&]() {
        PutList(w, nu, [&](std::size_t i) {
            std::string row = "(";
            for (std::size_t j = 0; j < nv; ++j) {
                row += DataWriter::Ref(ids[i * nv + j]);
                if (j + 1 < nv) row += ",";
            }
            return row + ")";
        });
    };
    auto knotLists = [&]() {
        PutList(w, mu.size(), [&](std::size_t i) { return IntText(mu[i]); });
        w.Put(",");
        PutList(w, mv.size(), [&](std::size_t i) { return IntText(mv[i]); });
        w.Put(",");
        PutList(w, ku.size(), [&](std::size_t i) { return detail::RealText(ku[i]); });
        w.Put(",");
        PutList(w, kv.size(), [&](std::size_t i) { return detail::RealText(kv[i]); });
        w.Put(",.UNSPECIFIED.)");
    };
    const std::string degrees = IntText(s.GetDegreeU()) + "," + IntText(s.GetDegreeV()) + ",";
    if (!rational) {
        w.Put("B_SPLINE_SURFACE_WITH_KNOTS(" + Quoted(name) + "," + degrees);
        grid();
        w.Put(",.UNSPECIFIED.," + closed + ",");
        knotLists();
    } else {
        w.Put("(BOUNDED_SURFACE()B_SPLINE_SURFACE(" + degrees);
        grid();
        w.Put(",.UNSPECIFIED.," + closed + ")B_SPLINE_SURFACE_WITH_KNOTS(");
        knotLists();
        w.Put("GEOMETRIC_REPRESENTATION_ITEM()RATIONAL_B_SPLINE_SURFACE(");
        PutList(w, nu, [&](std::size_t i) {
            std::string row = "(";
            for (std::size_t j = 0; j < nv; ++j) {
                row += detail::RealText(net(i, j)[3]);
                if (j + 1 < nv) row += ",";
            }
            return row + ")";
        });
        w.Put(")REPRESENTATION_ITEM(" + Quoted(name) + ")SURFACE())");
    }
    w.End();
    return id;
}

}  // namespace

ExchangeReport WriteStep(std::ostream& out, const CadModel& model, const StepWriteOptions& options) {
    ExchangeReport report;
    report.error = detail::ModelProblem(model, options.unit, "a STEP file");
    if (!report.error.empty()) return report;
    for (std::size_t i = 0; i < model.surfaces.size(); ++i) {
        const V3dNurbsSurface& s = model.surfaces[i];
        const auto net = s.GetControlPoints();
        if (s.GetMinParamU() != s.GetKnotsU()[s.GetDegreeU()] || s.GetMaxParamU() != s.GetKnotsU()[net.RowCount()] ||
            s.GetMinParamV() != s.GetKnotsV()[s.GetDegreeV()] || s.GetMaxParamV() != s.GetKnotsV()[net.ColumnCount()])
            report.notes.push_back("surface " + std::to_string(i) +
                                   ": its stored range differs from the knot domain; the whole domain is written");
    }

    DataWriter w;
    const bool metre = options.unit == LengthUnit::Metre;
    const std::size_t appContext =
        w.Simple("APPLICATION_CONTEXT('core data for automotive mechanical design processes')");
    w.Simple("APPLICATION_PROTOCOL_DEFINITION('international standard','automotive_design',2000," +
             DataWriter::Ref(appContext) + ")");
    const std::size_t productContext = w.Simple("PRODUCT_CONTEXT(''," + DataWriter::Ref(appContext) + ",'mechanical')");
    const std::string productName = Quoted(options.productName);
    const std::size_t product =
        w.Simple("PRODUCT(" + productName + "," + productName + ",'',(" + DataWriter::Ref(productContext) + "))");
    w.Simple("PRODUCT_RELATED_PRODUCT_CATEGORY('part',$,(" + DataWriter::Ref(product) + "))");
    const std::size_t formation = w.Simple("PRODUCT_DEFINITION_FORMATION('',''," + DataWriter::Ref(product) + ")");
    const std::size_t defContext =
        w.Simple("PRODUCT_DEFINITION_CONTEXT('part definition'," + DataWriter::Ref(appContext) + ",'design')");
    const std::size_t definition = w.Simple("PRODUCT_DEFINITION('design',''," + DataWriter::Ref(formation) + "," +
                                            DataWriter::Ref(defContext) + ")");
    const std::size_t defShape = w.Simple("PRODUCT_DEFINITION_SHAPE('',''," + DataWriter::Ref(definition) + ")");
    const std::size_t lengthUnit = w.Simple(metre ? "(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT($,.METRE.))"
                                                  : "(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT(.MILLI.,.METRE.))");
    const std::size_t angleUnit = w.Simple("(NAMED_UNIT(*)PLANE_ANGLE_UNIT()SI_UNIT($,.RADIAN.))");
    const std::size_t solidUnit = w.Simple("(NAMED_UNIT(*)SI_UNIT($,.STERADIAN.)SOLID_ANGLE_UNIT())");
    const std::size_t uncertainty =
        w.Simple(std::string("UNCERTAINTY_MEASURE_WITH_UNIT(LENGTH_MEASURE(") + (metre ? "1.E-10" : "1.E-07") + ")," +
                 DataWriter::Ref(lengthUnit) + ",'distance_accuracy_value','confusion accuracy')");
    const std::size_t context =
        w.Simple("(GEOMETRIC_REPRESENTATION_CONTEXT(3)GLOBAL_UNCERTAINTY_ASSIGNED_CONTEXT((" +
                 DataWriter::Ref(uncertainty) + "))GLOBAL_UNIT_ASSIGNED_CONTEXT((" + DataWriter::Ref(lengthUnit) + "," +
                 DataWriter::Ref(angleUnit) + "," + DataWriter::Ref(solidUnit) + "))REPRESENTATION_CONTEXT('',''))");

    std::vector<std::size_t> items;
    for (std::size_t i = 0; i < model.curves.size(); ++i)
        items.push_back(PutCurve(w, model.curves[i], model.CurveName(i)));
    for (std::size_t i = 0; i < model.surfaces.size(); ++i)
        items.push_back(PutSurface(w, model.surfaces[i], model.SurfaceName(i)));

    const bool curvesOnly = model.surfaces.empty();
    const std::size_t set = w.Begin();
    w.Put(curvesOnly ? "GEOMETRIC_CURVE_SET(''," : "GEOMETRIC_SET('',");
    PutList(w, items.size(), [&](std::size_t i) { return DataWriter::Ref(items[i]); });
    w.Put(")");
    w.End();
    const std::size_t representation =
        w.Simple(std::string(curvesOnly ? "GEOMETRICALLY_BOUNDED_WIREFRAME_SHAPE_REPRESENTATION"
                                        : "GEOMETRICALLY_BOUNDED_SURFACE_SHAPE_REPRESENTATION") +
                 "(" + productName + ",(" + DataWriter::Ref(set) + ")," + DataWriter::Ref(context) + ")");
    w.Simple("SHAPE_DEFINITION_REPRESENTATION(" + DataWriter::Ref(defShape) + "," + DataWriter::Ref(representation) +
             ")");

    std::ostringstream head;
    head << "ISO-10303-21;\nHEADER;\n"
         << "FILE_DESCRIPTION(('NURBS curves and surfaces'),'2;1');\n"
         << "FILE_NAME(" << Quoted(options.productName) << ",'"
         << (options.timeStamp.empty() ? detail::UtcStamp("%Y-%m-%dT%H:%M:%S") : options.timeStamp)
         << "',(''),(''),'VelSDK.Nurbs','VelSDK.Nurbs','');\n"
         << "FILE_SCHEMA(('AUTOMOTIVE_DESIGN { 1 0 10303 214 1 1 1 1 }'));\nENDSEC;\nDATA;\n";
    out << head.str() << w.Text() << "ENDSEC;\nEND-ISO-10303-21;\n";
    if (!out) {
        report.error = "the output stream failed while writing";
        return report;
    }
    detail::MarkDone(report, model);
    return report;
}

ExchangeReport SaveStep(const std::string& path, const CadModel& model, const StepWriteOptions& options) {
    return detail::SaveText(path, [&](std::ostream& out) { return WriteStep(out, model, options); });
}

}  // namespace Exchange
}  // namespace VelSDK
