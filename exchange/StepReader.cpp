// STEP reader of B-spline curves and surfaces (ISO 10303-42 b_spline_curve_with_knots,
// b_spline_surface_with_knots and their rational complex instances) and of the length unit.
// The text is scanned once (StepTextFile); only the instances that are needed are parsed,
// each one on its own, so memory stays at the text plus one instance's parameters.
#include <VelSDK/StepExchange.h>

#include "exchange/ExchangeGeometry.h"

#include "exchange/StepTextFile.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

namespace VelSDK {
namespace Exchange {

using detail::StepTextFile;
using detail::StepTextInstance;
using detail::StepTextRecord;
using detail::StepTextValue;
using Math::point;
using NURBS::V3dNurbsCurve;
using NURBS::V3dNurbsSurface;
using NURBS::VMatrix;

namespace {

// Thrown inside the reader with a message and line; caught at the top.
struct ReadError {
    std::string message;
    std::size_t line;
};

class StepModelReader {
public:
    explicit StepModelReader(const StepTextFile& file) : m_file(file) {}

    void Read(CadModel& model, ExchangeReport& report) {
        std::map<std::string, std::size_t> skipped;
        std::size_t flat = 0;
        std::vector<std::string> names;
        for (const StepTextInstance& inst : m_file.Instances()) {
            if (!m_file.RecordNames(inst, names)) {
                // The syntax error is reported by the parser with its exact place.
                std::vector<StepTextRecord> records;
                Parse(inst, records);
                throw ReadError{"#" + std::to_string(inst.id) + ": malformed instance", inst.line};
            }
            const bool isCurve = Has(names, "B_SPLINE_CURVE_WITH_KNOTS");
            const bool isSurface = Has(names, "B_SPLINE_SURFACE_WITH_KNOTS");
            if (isCurve || isSurface) {
                std::vector<StepTextRecord> records;
                Parse(inst, records);
                if (isCurve ? ReadCurve(inst, records, model) : ReadSurface(inst, records, model)) continue;
                ++flat;
                continue;
            }
            if (Has(names, "LENGTH_UNIT")) ReadUnit(inst, model, report);
            std::string key = names.size() == 1 ? names[0] : "(" + Join(names) + ")";
            if (key != "CARTESIAN_POINT") ++skipped[key];
        }
        if (flat > 0)
            report.notes.push_back("skipped " + std::to_string(flat) +
                                   " B-spline(s) with 2-D points (curves or surfaces in parameter space)");
        if (!skipped.empty()) {
            std::size_t total = 0;
            for (const auto& kv : skipped) total += kv.second;
            std::string note = "skipped " + std::to_string(total) + " other instance(s):";
            std::size_t listed = 0;
            for (const auto& kv : skipped) {
                if (listed++ == 24) {
                    note += " ...";
                    break;
                }
                note += " " + kv.first + " x" + std::to_string(kv.second);
            }
            report.notes.push_back(note);
        }
    }

private:
    static bool Has(const std::vector<std::string>& names, const char* name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    }
    static std::string Join(const std::vector<std::string>& names) {
        std::string s;
        for (const auto& n : names) s += (s.empty() ? "" : " ") + n;
        return s;
    }

    void Parse(const StepTextInstance& inst, std::vector<StepTextRecord>& records) const {
        std::string error;
        std::size_t line = inst.line;
        if (!m_file.Parse(inst, records, error, line)) throw ReadError{error, line};
    }

    [[noreturn]] static void Fail(const StepTextInstance& inst, const std::string& message) {
        throw ReadError{"#" + std::to_string(inst.id) + ": " + message, inst.line};
    }

    static const StepTextRecord* FindRecord(const std::vector<StepTextRecord>& records, const char* name) {
        for (const auto& r : records)
            if (r.name == name) return &r;
        return nullptr;
    }

    // Attribute checks: each names the instance and what was expected.
    static const StepTextValue& Arg(const StepTextInstance& inst, const StepTextRecord& r, std::size_t i) {
        if (i >= r.params.size())
            Fail(inst, r.name + " has " + std::to_string(r.params.size()) + " attribute(s), expected more than " +
                           std::to_string(i));
        return r.params[i];
    }
    static std::size_t Count(const StepTextInstance& inst, const StepTextValue& v, const char* what,
                             std::size_t limit) {
        if (v.kind != StepTextValue::Integer || v.integer < 0 || static_cast<unsigned long long>(v.integer) > limit)
            Fail(inst, std::string(what) + " must be an integer from 0 to " + std::to_string(limit));
        return static_cast<std::size_t>(v.integer);
    }
    static double Real(const StepTextInstance& inst, const StepTextValue& v, const char* what) {
        const StepTextValue* x = &v;
        if (x->kind == StepTextValue::Typed) x = &x->items[0];
        if (x->kind != StepTextValue::Real && x->kind != StepTextValue::Integer)
            Fail(inst, std::string(what) + " must be a number");
        return x->real;
    }
    static const std::vector<StepTextValue>& List(const StepTextInstance& inst, const StepTextValue& v,
                                                  const char* what) {
        if (v.kind != StepTextValue::List) Fail(inst, std::string(what) + " must be a list");
        return v.items;
    }
    static std::string Name(const StepTextValue& v) { return v.kind == StepTextValue::String ? v.text : std::string(); }

    // The Cartesian point an attribute refers to; false for a point that is not 3-D.
    bool Point(const StepTextInstance& from, const StepTextValue& ref, point<double, 3>& out) const {
        if (ref.kind != StepTextValue::Reference) Fail(from, "control points must be references to CARTESIAN_POINTs");
        const StepTextInstance* target = m_file.Find(static_cast<std::uint64_t>(ref.integer));
        if (!target) Fail(from, "refers to #" + std::to_string(ref.integer) + ", which is not defined in the file");
        std::vector<StepTextRecord> records;
        Parse(*target, records);
        if (records.size() != 1 || records[0].name != "CARTESIAN_POINT")
            Fail(from, "refers to #" + std::to_string(ref.integer) + " (line " + std::to_string(target->line) +
                           "), which is not a CARTESIAN_POINT");
        const auto& coords = List(*target, Arg(*target, records[0], 1), "CARTESIAN_POINT coordinates");
        if (coords.size() < 1 || coords.size() > 3) Fail(*target, "a CARTESIAN_POINT has 1 to 3 coordinates");
        if (coords.size() != 3) return false;
        for (int k = 0; k < 3; ++k) out[k] = Real(*target, coords[k], "a coordinate");
        return true;
    }

    // Knot vector from distinct values and multiplicities; the total must be `expected`.
    static std::vector<double> Knots(const StepTextInstance& inst, const StepTextValue& multsValue,
                                     const StepTextValue& knotsValue, std::size_t expected, const char* which) {
        const auto& mults = List(inst, multsValue, "knot multiplicities");
        const auto& values = List(inst, knotsValue, "knots");
        if (mults.size() != values.size())
            Fail(inst, std::string(which) + std::to_string(mults.size()) + " multiplicities for " +
                           std::to_string(values.size()) + " knots");
        std::vector<double> knots;
        knots.reserve(expected);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::size_t m = Count(inst, mults[i], "a knot multiplicity", expected);
            const double k = Real(inst, values[i], "a knot");
            if (!knots.empty() && k < knots.back()) Fail(inst, std::string(which) + "knots decrease");
            if (m > expected - knots.size())
                Fail(inst, std::string(which) + "multiplicities add up to more than the " + std::to_string(expected) +
                               " knots that the control points and degree need");
            knots.insert(knots.end(), m, k);
        }
        if (knots.size() != expected)
            Fail(inst, std::string(which) + "multiplicities add up to " + std::to_string(knots.size()) + ", expected " +
                           std::to_string(expected) + " (control points + degree + 1)");
        if (knots.front() == knots.back()) Fail(inst, std::string(which) + "knots span an empty range");
        return knots;
    }

    static double Weight(const StepTextInstance& inst, const StepTextValue& v) {
        const double w = Real(inst, v, "a weight");
        if (!(w > 0.0)) Fail(inst, "weights must be positive");
        return w;
    }

    // Where the arguments of a B-spline entity stand. A simple instance is one
    // <baseName>_WITH_KNOTS record (name first, the knots at `simpleKnotsAt`); a complex one
    // splits them over <baseName> (degree first), <baseName>_WITH_KNOTS (knots first) and an
    // optional REPRESENTATION_ITEM holding the name.
    struct Parts {
        const StepTextRecord* main;
        const StepTextRecord* base;
        std::size_t at;
        std::size_t knotsAt;
        std::string name;
    };
    static Parts Locate(const StepTextInstance& inst, const std::vector<StepTextRecord>& records,
                        const std::string& baseName, const char* kind, std::size_t simpleKnotsAt) {
        Parts parts{FindRecord(records, (baseName + "_WITH_KNOTS").c_str()), nullptr, 1, simpleKnotsAt, {}};
        parts.base = parts.main;
        if (records.size() > 1) {
            parts.base = FindRecord(records, baseName.c_str());
            if (!parts.base) Fail(inst, std::string("complex B-spline ") + kind + " without " + baseName);
            parts.at = 0;
            parts.knotsAt = 0;
            if (const StepTextRecord* item = FindRecord(records, "REPRESENTATION_ITEM"))
                if (!item->params.empty()) parts.name = Name(item->params[0]);
        } else {
            parts.name = Name(Arg(inst, *parts.main, 0));
        }
        return parts;
    }

    bool ReadCurve(const StepTextInstance& inst, const std::vector<StepTextRecord>& records, CadModel& model) const {
        // Simple: (name, degree, points, form, closed, self_intersect, mults, knots, spec).
        // Complex: B_SPLINE_CURVE(degree, points, form, closed, self) + WITH_KNOTS(mults, knots,
        // spec) + RATIONAL_B_SPLINE_CURVE(weights) + REPRESENTATION_ITEM(name).
        const Parts parts = Locate(inst, records, "B_SPLINE_CURVE", "curve", 6);
        const StepTextRecord* main = parts.main;
        const StepTextRecord* base = parts.base;
        const std::size_t at = parts.at, kat = parts.knotsAt;
        const std::string& name = parts.name;
        const std::size_t degree = Count(inst, Arg(inst, *base, at), "the degree", 1000);
        const auto& refs = List(inst, Arg(inst, *base, at + 1), "control points");
        if (degree < 1) Fail(inst, "degree 0");
        if (refs.size() < degree + 1)
            Fail(inst,
                 std::to_string(refs.size()) + " control points are too few for degree " + std::to_string(degree));
        std::vector<point<double, 4>> P(refs.size());
        for (std::size_t i = 0; i < refs.size(); ++i) {
            point<double, 3> x{};
            if (!Point(inst, refs[i], x)) return false;
            P[i] = point<double, 4>{x[0], x[1], x[2], 1.0};
        }
        std::vector<double> knots =
            Knots(inst, Arg(inst, *main, kat), Arg(inst, *main, kat + 1), refs.size() + degree + 1, "");
        if (const StepTextRecord* rational = FindRecord(records, "RATIONAL_B_SPLINE_CURVE")) {
            const auto& w = List(inst, Arg(inst, *rational, 0), "weights");
            if (w.size() != P.size())
                Fail(inst, std::to_string(w.size()) + " weights for " + std::to_string(P.size()) + " control points");
            for (std::size_t i = 0; i < P.size(); ++i) {
                const double wi = Weight(inst, w[i]);
                P[i] = point<double, 4>{P[i][0] * wi, P[i][1] * wi, P[i][2] * wi, wi};
            }
        }
        model.curves.emplace_back(std::move(P), std::move(knots), degree);
        model.curveNames.push_back(name);
        return true;
    }

    bool ReadSurface(const StepTextInstance& inst, const std::vector<StepTextRecord>& records, CadModel& model) const {
        // Simple: (name, du, dv, points, form, u_closed, v_closed, self, umults, vmults, uknots,
        // vknots, spec). Complex: B_SPLINE_SURFACE(du, dv, points, form, uc, vc, self) +
        // WITH_KNOTS(umults, vmults, uknots, vknots, spec) + RATIONAL_B_SPLINE_SURFACE(weights).
        const Parts parts = Locate(inst, records, "B_SPLINE_SURFACE", "surface", 8);
        const StepTextRecord* main = parts.main;
        const StepTextRecord* base = parts.base;
        const std::size_t at = parts.at, kat = parts.knotsAt;
        const std::string& name = parts.name;
        const std::size_t du = Count(inst, Arg(inst, *base, at), "the U degree", 1000);
        const std::size_t dv = Count(inst, Arg(inst, *base, at + 1), "the V degree", 1000);
        if (du < 1 || dv < 1) Fail(inst, "degree 0");
        const auto& rows = List(inst, Arg(inst, *base, at + 2), "control points");
        const std::size_t nu = rows.size();
        const std::size_t nv = nu > 0 ? List(inst, rows[0], "a row of control points").size() : 0;
        if (nu < du + 1 || nv < dv + 1)
            Fail(inst, std::to_string(nu) + " x " + std::to_string(nv) + " control points are too few for degrees " +
                           std::to_string(du) + ", " + std::to_string(dv));
        // Every row is checked before the grid is allocated, so its size is bounded by the text.
        for (std::size_t i = 0; i < nu; ++i)
            if (List(inst, rows[i], "a row of control points").size() != nv)
                Fail(inst, "rows of control points differ in length");
        VMatrix<point<double, 4>> net(nu, nv, point<double, 4>{0, 0, 0, 1});
        for (std::size_t i = 0; i < nu; ++i) {
            const auto& row = rows[i].items;
            for (std::size_t j = 0; j < nv; ++j) {
                point<double, 3> x{};
                if (!Point(inst, row[j], x)) return false;
                net(i, j) = point<double, 4>{x[0], x[1], x[2], 1.0};
            }
        }
        std::vector<double> ku = Knots(inst, Arg(inst, *main, kat), Arg(inst, *main, kat + 2), nu + du + 1, "U ");
        std::vector<double> kv = Knots(inst, Arg(inst, *main, kat + 1), Arg(inst, *main, kat + 3), nv + dv + 1, "V ");
        if (const StepTextRecord* rational = FindRecord(records, "RATIONAL_B_SPLINE_SURFACE")) {
            const auto& w = List(inst, Arg(inst, *rational, 0), "weights");
            if (w.size() != nu) Fail(inst, "weights do not match the control points");
            for (std::size_t i = 0; i < nu; ++i) {
                const auto& wr = List(inst, w[i], "a row of weights");
                if (wr.size() != nv) Fail(inst, "weights do not match the control points");
                for (std::size_t j = 0; j < nv; ++j) {
                    const double wij = Weight(inst, wr[j]);
                    const auto& p = net(i, j);
                    net(i, j) = point<double, 4>{p[0] * wij, p[1] * wij, p[2] * wij, wij};
                }
            }
        }
        model.surfaces.emplace_back(std::move(net), std::move(ku), std::move(kv), du, dv);
        model.surfaceNames.push_back(name);
        return true;
    }

    // A length unit: SI_UNIT(prefix, .METRE.) or CONVERSION_BASED_UNIT(name, measure) whose
    // measure is in a unit that is itself read the same way (at most 8 steps).
    void ReadUnit(const StepTextInstance& inst, CadModel& model, ExchangeReport& report) const {
        double metres = 0.0;
        std::string label;
        if (!UnitInMetres(inst, metres, label, 0)) return;
        if (m_unitSeen) {
            if (metres != model.metresPerUnit)
                report.notes.push_back("several length units; the first one (" + m_unitLabel + ") is reported");
            return;
        }
        m_unitSeen = true;
        m_unitLabel = label;
        model.metresPerUnit = metres;
        model.unit = metres == 0.001 ? LengthUnit::Millimetre : metres == 1.0 ? LengthUnit::Metre : LengthUnit::Other;
    }

    bool UnitInMetres(const StepTextInstance& inst, double& metres, std::string& label, int depth) const {
        if (depth > 8) Fail(inst, "length units refer to each other in a cycle or too deep");
        std::vector<StepTextRecord> records;
        Parse(inst, records);
        if (const StepTextRecord* si = FindRecord(records, "SI_UNIT")) {
            if (si->params.size() < 2 || si->params[1].kind != StepTextValue::Enumeration ||
                si->params[1].text != "METRE")
                return false;
            static const std::pair<const char*, double> prefixes[] = {{"MILLI", 1e-3}, {"CENTI", 1e-2}, {"DECI", 1e-1},
                                                                      {"KILO", 1e3},   {"MICRO", 1e-6}, {"NANO", 1e-9}};
            metres = 1.0;
            label = "metre";
            if (si->params[0].kind == StepTextValue::Enumeration)
                for (const auto& p : prefixes)
                    if (si->params[0].text == p.first) {
                        metres = p.second;
                        label = std::string(p.first) + "METRE";
                    }
            return true;
        }
        if (const StepTextRecord* conv = FindRecord(records, "CONVERSION_BASED_UNIT")) {
            if (conv->params.size() < 2 || conv->params[1].kind != StepTextValue::Reference) return false;
            label = Name(conv->params[0]);
            const StepTextInstance* measure = m_file.Find(static_cast<std::uint64_t>(conv->params[1].integer));
            if (!measure) Fail(inst, "refers to a missing unit measure");
            std::vector<StepTextRecord> mr;
            Parse(*measure, mr);
            if (mr.size() != 1 || mr[0].params.size() < 2 || mr[0].params[1].kind != StepTextValue::Reference)
                return false;
            const double factor = Real(*measure, mr[0].params[0], "a unit factor");
            const StepTextInstance* base = m_file.Find(static_cast<std::uint64_t>(mr[0].params[1].integer));
            if (!base) Fail(*measure, "refers to a missing unit");
            double baseMetres = 0.0;
            std::string baseLabel;
            if (!UnitInMetres(*base, baseMetres, baseLabel, depth + 1)) return false;
            metres = factor * baseMetres;
            return std::isfinite(metres) && metres > 0.0;
        }
        return false;
    }

    const StepTextFile& m_file;
    mutable bool m_unitSeen = false;
    mutable std::string m_unitLabel;
};

std::string WithLine(const std::string& message, std::size_t line) {
    return "line " + std::to_string(line) + ": " + message;
}

}  // namespace

ExchangeReport ReadStep(const std::string& text, CadModel& model) {
    ExchangeReport report;
    model = CadModel();
    StepTextFile file;
    std::string error;
    std::size_t line = 0;
    if (!file.Scan(text, error, line)) {
        report.error = WithLine(error, line);
        report.line = line;
        return report;
    }
    try {
        StepModelReader(file).Read(model, report);
    } catch (const ReadError& e) {
        model = CadModel();
        report.notes.clear();
        report.error = WithLine(e.message, e.line);
        report.line = e.line;
        return report;
    }
    if (model.curves.empty() && model.surfaces.empty()) {
        report.error = WithLine("the file holds no B-spline curve or surface with knots", 1);
        report.line = 1;
        return report;
    }
    detail::MarkDone(report, model);
    return report;
}

ExchangeReport LoadStep(const std::string& path, CadModel& model) {
    return detail::LoadText(path, model, [](const std::string& text, CadModel& m) { return ReadStep(text, m); });
}

}  // namespace Exchange
}  // namespace VelSDK
