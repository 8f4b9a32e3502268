// IGES 5.3 writer of rational B-spline curves (entity 126) and surfaces (entity 128), after
// "Initial Graphics Exchange Specification 5.3" (1996): section 2.2 (file structure, fixed
// 80-column ASCII form), 4.23 (entity 126) and 4.24 (entity 128).
#include <VelSDK/IgesExchange.h>

#include "exchange/ExchangeGeometry.h"

#include <cmath>
#include <ostream>
#include <sstream>

namespace VelSDK {
namespace Exchange {

using Math::point;
using NURBS::V3dNurbsCurve;
using NURBS::V3dNurbsSurface;

namespace {

std::string Hollerith(const std::string& s) { return std::to_string(s.size()) + "H" + s; }

std::string Sequence(char section, std::size_t n) {
    std::string digits = std::to_string(n);
    return std::string(1, section) + std::string(digits.size() < 7 ? 7 - digits.size() : 0, '0') + digits;
}

std::string Pad(const std::string& s, std::size_t width) {
    return s.size() >= width ? s.substr(0, width) : s + std::string(width - s.size(), ' ');
}
std::string Right(const std::string& s, std::size_t width) {
    return s.size() >= width ? s.substr(s.size() - width) : std::string(width - s.size(), ' ') + s;
}

// Cuts a parameter string into pieces of at most `width` columns, breaking after delimiters;
// a single token longer than a line (only a long Hollerith string) is cut where it must.
std::vector<std::string> Cut(const std::string& text, std::size_t width) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text.size() - at <= width) {
            lines.push_back(text.substr(at));
            break;
        }
        std::size_t cut = text.find_last_of(",;", at + width - 1);
        if (cut == std::string::npos || cut < at) cut = at + width - 1;
        lines.push_back(text.substr(at, cut + 1 - at));
        at = cut + 1;
    }
    return lines;
}

// The plane through the control points, when they lie in one (to 1e-12 of their size); the
// unit normal goes to n.
bool Planar(const std::vector<point<double, 4>>& P, double n[3]) {
    std::vector<point<double, 3>> x(P.size());
    double size = 1.0;
    for (std::size_t i = 0; i < P.size(); ++i) {
        for (int k = 0; k < 3; ++k) {
            x[i][k] = P[i][k] / P[i][3];
            size = std::max(size, std::fabs(x[i][k]));
        }
    }
    const double tol = 1e-12 * size;
    for (std::size_t i = 1; i < x.size(); ++i) {
        for (std::size_t j = i + 1; j < x.size(); ++j) {
            const double a[3] = {x[i][0] - x[0][0], x[i][1] - x[0][1], x[i][2] - x[0][2]};
            const double b[3] = {x[j][0] - x[0][0], x[j][1] - x[0][1], x[j][2] - x[0][2]};
            double c[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
            const double len = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
            const double la = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
            const double lb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
            if (!(len > 1e-9 * la * lb)) continue;
            for (double& v : c) v /= len;
            for (const auto& p : x) {
                const double d = (p[0] - x[0][0]) * c[0] + (p[1] - x[0][1]) * c[1] + (p[2] - x[0][2]) * c[2];
                if (!(std::fabs(d) <= tol)) return false;
            }
            for (int k = 0; k < 3; ++k) n[k] = c[k] + 0.0;  // no negative zero
            return true;
        }
    }
    return false;  // collinear: no single plane
}

std::string Label(const std::string& name) {
    std::string s;
    for (char c : name) {
        if (s.size() == 8) break;
        s += (c > ' ' && c < 0x7f) ? c : '_';
    }
    return s;
}

struct Entity {
    int type;
    std::string parameters;  // free-format, ending with ';'
    std::string label;
};

std::string CurveParameters(const V3dNurbsCurve& c) {
    const auto& P = c.GetControlPoints();
    const std::size_t K = P.size() - 1, M = c.GetDegree();
    double n[3] = {0, 0, 0};
    const bool planar = Planar(P, n);
    const bool rational = detail::IsRational(P);
    std::string s = "126," + std::to_string(K) + "," + std::to_string(M) + "," + (planar ? "1" : "0") + "," +
                    (detail::CurveIsClosed(c) ? "1" : "0") + "," + (rational ? "0" : "1") + ",0";
    for (double k : c.GetKnots()) s += "," + detail::RealText(k);
    for (const auto& p : P) s += "," + detail::RealText(p[3]);
    for (const auto& p : P)
        for (int k = 0; k < 3; ++k) s += "," + detail::RealText(detail::CartesianCoordinate(p[k], p[3]));
    s += "," + detail::RealText(c.GetMinParam()) + "," + detail::RealText(c.GetMaxParam());
    for (int k = 0; k < 3; ++k) s += "," + detail::RealText(n[k]);
    return s + ";";
}

std::string SurfaceParameters(const V3dNurbsSurface& srf) {
    const auto& net = srf.GetControlPoints();
    const std::size_t nu = net.RowCount(), nv = net.ColumnCount();
    const bool rational = detail::IsRational(net.Elements());
    std::string s = "128," + std::to_string(nu - 1) + "," + std::to_string(nv - 1) + "," +
                    std::to_string(srf.GetDegreeU()) + "," + std::to_string(srf.GetDegreeV()) + "," +
                    (detail::SurfaceIsClosed(srf, true) ? "1" : "0") + "," +
                    (detail::SurfaceIsClosed(srf, false) ? "1" : "0") + "," + (rational ? "0" : "1") + ",0,0";
    for (double k : srf.GetKnotsU()) s += "," + detail::RealText(k);
    for (double k : srf.GetKnotsV()) s += "," + detail::RealText(k);
    // Weights and points with the first (U) index running fastest.
    for (std::size_t j = 0; j < nv; ++j)
        for (std::size_t i = 0; i < nu; ++i) s += "," + detail::RealText(net(i, j)[3]);
    for (std::size_t j = 0; j < nv; ++j)
        for (std::size_t i = 0; i < nu; ++i)
            for (int k = 0; k < 3; ++k)
                s += "," + detail::RealText(detail::CartesianCoordinate(net(i, j)[k], net(i, j)[3]));
    const auto& ku = srf.GetKnotsU();
    const auto& kv = srf.GetKnotsV();
    s += "," + detail::RealText(ku[srf.GetDegreeU()]) + "," + detail::RealText(ku[nu]) + "," +
         detail::RealText(kv[srf.GetDegreeV()]) + "," + detail::RealText(kv[nv]);
    return s + ";";
}

}  // namespace

ExchangeReport WriteIges(std::ostream& out, const CadModel& model, const IgesWriteOptions& options) {
    ExchangeReport report;
    report.error = detail::ModelProblem(model, options.unit, "an IGES file");
    if (!report.error.empty()) return report;
    std::vector<Entity> entities;
    double maxCoordinate = 0.0;
    auto grow = [&](const std::vector<point<double, 4>>& P) {
        for (const auto& p : P)
            for (int k = 0; k < 3; ++k) maxCoordinate = std::max(maxCoordinate, std::fabs(p[k] / p[3]));
    };
    for (std::size_t i = 0; i < model.curves.size(); ++i) {
        grow(model.curves[i].GetControlPoints());
        entities.push_back({126, CurveParameters(model.curves[i]), Label(model.CurveName(i))});
    }
    for (std::size_t i = 0; i < model.surfaces.size(); ++i) {
        grow(model.surfaces[i].GetControlPoints().Elements());
        entities.push_back({128, SurfaceParameters(model.surfaces[i]), Label(model.SurfaceName(i))});
    }

    std::ostringstream file;
    std::size_t seq = 0;
    auto record = [&](const std::string& columns72, char section) {
        file << Pad(columns72, 72) << Sequence(section, ++seq) << "\n";
    };

    // Start section.
    record("VelSDK.Nurbs: " + std::to_string(model.curves.size()) + " curve(s), " +
               std::to_string(model.surfaces.size()) + " surface(s) as entities 126 and 128",
           'S');
    const std::size_t startCount = seq;

    // Global section (IGES 5.3, 2.2.4.3, fields 1-26).
    const bool metre = options.unit == LengthUnit::Metre;
    const std::string stamp =
        options.timeStamp.empty() ? detail::UtcStamp("%Y%m%d.%H%M%S") : options.timeStamp.substr(0, 15);
    // Delimiters inside strings would let a record break fall inside them.
    std::string fileName = options.fileName.substr(0, 60);
    for (char& c : fileName)
        if (c == ',' || c == ';' || c < ' ' || c > '~') c = '_';
    const std::string global = "1H,,1H;," + Hollerith("VelSDK.Nurbs") + "," + Hollerith(fileName) + "," +
                               Hollerith("VelSDK.Nurbs") + "," + Hollerith("1.0") + ",32,38,6,308,15," +
                               Hollerith("VelSDK.Nurbs") + ",1.," + (metre ? "6,1HM" : "2,2HMM") + ",1,0.," +
                               Hollerith(stamp) + "," + (metre ? "1.E-10," : "1.E-07,") +
                               detail::RealText(maxCoordinate) + ",0H,0H,11,0," + Hollerith(stamp) + ";";
    seq = 0;
    for (const std::string& line : Cut(global, 72)) record(line, 'G');
    const std::size_t globalCount = seq;

    // Parameter lines first (their pointers go into the directory).
    std::vector<std::size_t> firstLine(entities.size()), lineCount(entities.size());
    std::ostringstream params;
    std::size_t pseq = 0;
    for (std::size_t e = 0; e < entities.size(); ++e) {
        firstLine[e] = pseq + 1;
        const std::vector<std::string> lines = Cut(entities[e].parameters, 64);
        lineCount[e] = lines.size();
        for (const std::string& line : lines)
            params << Pad(line, 64) << " " << Right(std::to_string(2 * e + 1), 7) << Sequence('P', ++pseq) << "\n";
    }

    // Directory entries: two records of nine 8-column fields each.
    seq = 0;
    for (std::size_t e = 0; e < entities.size(); ++e) {
        const std::string type = Right(std::to_string(entities[e].type), 8);
        record(type + Right(std::to_string(firstLine[e]), 8) + Right("0", 8) + Right("1", 8) + Right("0", 8) +
                   Right("0", 8) + Right("0", 8) + Right("0", 8) + "00000000",
               'D');
        record(type + Right("0", 8) + Right("0", 8) + Right(std::to_string(lineCount[e]), 8) + Right("0", 8) +
                   Right("", 8) + Right("", 8) + Right(entities[e].label, 8) + Right("0", 8),
               'D');
    }
    const std::size_t directoryCount = seq;
    file << params.str();

    // Terminate section.
    seq = 0;
    record(Sequence('S', startCount) + Sequence('G', globalCount) + Sequence('D', directoryCount) + Sequence('P', pseq),
           'T');

    out << file.str();
    if (!out) {
        report.error = "the output stream failed while writing";
        return report;
    }
    detail::MarkDone(report, model);
    return report;
}

ExchangeReport SaveIges(const std::string& path, const CadModel& model, const IgesWriteOptions& options) {
    return detail::SaveText(path, [&](std::ostream& out) { return WriteIges(out, model, options); });
}

}  // namespace Exchange
}  // namespace VelSDK
