// IGES 5.3 reader of rational B-spline curves (entity 126) and surfaces (entity 128) in the
// fixed 80-column ASCII form ("Initial Graphics Exchange Specification 5.3", 2.2 file
// structure, 2.2.2 free-format parameters with Hollerith strings, 4.23 and 4.24). The text is
// split into records once; the parameters of one entity at a time are parsed.
#include <VelSDK/IgesExchange.h>

#include "exchange/ExchangeGeometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

namespace VelSDK {
namespace Exchange {

using Math::point;
using NURBS::V3dNurbsCurve;
using NURBS::V3dNurbsSurface;
using NURBS::VMatrix;

namespace {

struct ReadError {
    std::string message;
    std::size_t line;
};

[[noreturn]] void Fail(const std::string& message, std::size_t line) { throw ReadError{message, line}; }

// One record: its 1-based line in the file and where its text lies.
struct Record {
    std::size_t line;
    std::size_t begin;
    std::size_t length;  // without the line break and a CR before it
};

// A free-format parameter: its text (trimmed; Hollerith strings decoded) and the line it
// starts on.
struct Parameter {
    std::string text;
    bool isString = false;
    std::size_t line = 0;
};

std::string Trim(const std::string& s) {
    const std::size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') + 1 - a);
}

// Splits free-format text (IGES 5.3, 2.2.3) into parameters up to the record delimiter.
// `lineOf(offset)` gives the file line of a character.
template <typename LineOf>
std::vector<Parameter> SplitParameters(const std::string& text, char delimiter, char terminator, LineOf lineOf,
                                       std::size_t startLine) {
    std::vector<Parameter> out;
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && text[i] == ' ') ++i;
        Parameter p;
        p.line = lineOf(i);
        // Hollerith string: digits, 'H', then that many characters.
        std::size_t d = i;
        while (d < text.size() && text[d] >= '0' && text[d] <= '9') ++d;
        if (d > i && d < text.size() && (text[d] == 'H' || text[d] == 'h')) {
            std::size_t n = 0;
            const auto r = std::from_chars(text.data() + i, text.data() + d, n);
            if (r.ec != std::errc() || n > text.size() - d - 1)
                Fail("Hollerith string longer than the parameters that hold it", p.line);
            p.text = text.substr(d + 1, n);
            p.isString = true;
            i = d + 1 + n;
            while (i < text.size() && text[i] == ' ') ++i;
        } else {
            const std::size_t e = text.find_first_of(std::string(1, delimiter) + terminator, i);
            if (e == std::string::npos) {
                Fail("parameters end without the record delimiter '" + std::string(1, terminator) + "'", startLine);
            }
            p.text = Trim(text.substr(i, e - i));
            i = e;
        }
        out.push_back(std::move(p));
        if (i >= text.size()) Fail("parameters end without the record delimiter", startLine);
        if (text[i] == terminator) return out;
        if (text[i] != delimiter) Fail("expected a delimiter after a string parameter", lineOf(i));
        ++i;
    }
}

class IgesModelReader {
public:
    explicit IgesModelReader(const std::string& text) : m_text(text) {}

    void Read(CadModel& model, ExchangeReport& report) {
        SplitRecords();
        ReadGlobal(model);
        if (m_directory.size() % 2 != 0) Fail("the directory has an odd number of records", m_directory.back().line);
        std::map<std::string, std::size_t> skipped;
        std::size_t parametric = 0;
        for (std::size_t e = 0; e + 1 < m_directory.size(); e += 2) {
            const Record& d1 = m_directory[e];
            const Record& d2 = m_directory[e + 1];
            const long type = Field(d1, 0);
            if (Field(d2, 0) != type) Fail("the two records of a directory entry name different entity types", d2.line);
            if (type != 126 && type != 128) {
                ++skipped["entity " + std::to_string(type)];
                continue;
            }
            const std::string status = Column(d1, 64, 8);
            if (status.size() == 8 && status.compare(4, 2, "05") == 0) {
                ++parametric;
                continue;
            }
            const long first = Field(d1, 1);
            const long count = Field(d2, 3);
            if (first < 1 || count < 1 || static_cast<unsigned long>(first) > m_parameters.size() ||
                static_cast<unsigned long>(count) > m_parameters.size() - static_cast<unsigned long>(first) + 1)
                Fail("directory entry points outside the parameter section (lines " + std::to_string(first) + " + " +
                         std::to_string(count) + " of " + std::to_string(m_parameters.size()) + ")",
                     d1.line);
            const std::string label = Trim(Column(d2, 56, 8));
            const std::vector<Parameter> params =
                EntityParameters(static_cast<std::size_t>(first) - 1, static_cast<std::size_t>(count));
            if (params.empty() || Integer(params[0]) != type)
                Fail("parameter data do not start with the entity type " + std::to_string(type),
                     params.empty() ? d1.line : params[0].line);
            if (type == 126) {
                model.curves.push_back(Curve(params, report));
                model.curveNames.push_back(label);
            } else {
                model.surfaces.push_back(Surface(params));
                model.surfaceNames.push_back(label);
            }
        }
        if (parametric > 0)
            report.notes.push_back("skipped " + std::to_string(parametric) +
                                   " curve(s) in parameter space (entity use flag 05)");
        if (!skipped.empty()) {
            std::size_t total = 0;
            std::string list;
            for (const auto& kv : skipped) {
                total += kv.second;
                list += " " + kv.first + " x" + std::to_string(kv.second);
            }
            report.notes.push_back("skipped " + std::to_string(total) + " other entities:" + list);
        }
    }

private:
    char Section(const Record& r) const { return m_text[r.begin + 72]; }
    std::string Column(const Record& r, std::size_t from, std::size_t width) const {
        if (from >= r.length) return {};
        return m_text.substr(r.begin + from, std::min(width, r.length - from));
    }

    void SplitRecords() {
        std::size_t line = 0, at = 0;
        const std::string order = "SGDPT";
        std::size_t stage = 0;
        std::size_t expectedSequence = 1;
        while (at < m_text.size()) {
            ++line;
            std::size_t end = m_text.find('\n', at);
            if (end == std::string::npos) end = m_text.size();
            std::size_t length = end - at;
            if (length > 0 && m_text[at + length - 1] == '\r') --length;
            const Record r{line, at, length};
            at = end + 1;
            if (length == 0 && at >= m_text.size()) break;  // final line break
            if (length < 73)
                Fail(line == 1 ? "not an IGES file (records have 80 columns, the section letter in column 73)"
                               : "record shorter than 73 columns",
                     line);
            const char section = Section(r);
            if (line == 1 && section == 'C') Fail("compressed IGES is not supported", line);
            if (line == 1 && section == 'B') Fail("binary IGES is not supported", line);
            const std::size_t k = order.find(section);
            if (k == std::string::npos)
                Fail(line == 1 ? "not an IGES file (no section letter in column 73)"
                               : std::string("unknown section letter '") + section + "' in column 73",
                     line);
            if (k < stage) Fail(std::string("section ") + section + " after section " + order[stage], line);
            if (k > stage) {
                if (stage == 0 && m_start == 0 && k > 0) Fail("the file has no start section", line);
                stage = k;
                expectedSequence = 1;
            }
            // Sequence number in columns 74-80 (optional when a record is cut at 73 columns).
            const std::string digits = Trim(Column(r, 73, 7));
            if (!digits.empty()) {
                std::size_t n = 0;
                const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), n);
                if (res.ec != std::errc() || res.ptr != digits.data() + digits.size() || n != expectedSequence)
                    Fail(std::string("sequence number ") + section + digits + " out of order (expected " +
                             std::to_string(expectedSequence) + ")",
                         line);
            }
            ++expectedSequence;
            switch (section) {
                case 'S':
                    ++m_start;
                    break;
                case 'G':
                    m_global.push_back(r);
                    break;
                case 'D':
                    m_directory.push_back(r);
                    break;
                case 'P':
                    m_parameters.push_back(r);
                    break;
                default:
                    m_sawTerminate = true;
                    break;
            }
        }
        if (line == 0) Fail("not an IGES file (empty)", 1);
        if (!m_sawTerminate) Fail("no terminate section (truncated file?)", line);
        if (m_global.empty()) Fail("no global section", line);
    }

    void ReadGlobal(CadModel& model) {
        std::string text;
        for (const Record& r : m_global) text += Column(r, 0, 72);
        char delimiter = ',', terminator = ';';
        // Fields 1 and 2 name the delimiters themselves ("1H," or empty for the default).
        std::size_t i = 0;
        auto readDelimiter = [&](char& d, char next) {
            if (text.compare(i, 2, "1H") == 0 && i + 2 < text.size()) {
                d = text[i + 2];
                i += 3;
            }
            if (i < text.size() && (text[i] == delimiter || text[i] == next)) ++i;
        };
        readDelimiter(delimiter, terminator);
        readDelimiter(terminator, terminator);
        const std::size_t first = m_global.front().line;
        auto lineOf = [&](std::size_t offset) { return first + offset / 72; };
        std::vector<Parameter> g = SplitParameters(
            text.substr(i), delimiter, terminator, [&](std::size_t o) { return lineOf(o + i); }, first);
        // g[k] is field k + 3. Field 13: model space scale, 14: units flag, 15: unit name.
        static const std::pair<int, double> units[] = {{1, 0.0254}, {2, 0.001},   {4, 0.3048},  {5, 1609.344},
                                                       {6, 1.0},    {7, 1000.0},  {8, 2.54e-5}, {9, 1e-6},
                                                       {10, 0.01},  {11, 2.54e-8}};
        model.unit = LengthUnit::Millimetre;
        model.metresPerUnit = 0.001;
        if (g.size() > 11 && !g[11].text.empty()) {
            const long flag = Integer(g[11]);
            for (const auto& u : units)
                if (u.first == flag) {
                    model.metresPerUnit = u.second;
                    model.unit = flag == 2 ? LengthUnit::Millimetre : flag == 6 ? LengthUnit::Metre : LengthUnit::Other;
                }
            if (flag == 3 && g.size() > 12) {
                const std::string name = g[12].text;
                if (name == "MM")
                    model.metresPerUnit = 0.001;
                else if (name == "M")
                    model.metresPerUnit = 1.0, model.unit = LengthUnit::Metre;
                else
                    model.unit = LengthUnit::Other;
            }
        }
    }

    // Integer fields of a directory record: field k holds columns 8k+1 .. 8k+8.
    long Field(const Record& r, std::size_t k) const {
        const std::string s = Trim(Column(r, 8 * k, 8));
        if (s.empty()) return 0;
        long v = 0;
        const char* b = s.data();
        if (*b == '+') ++b;
        const auto res = std::from_chars(b, s.data() + s.size(), v);
        if (res.ec != std::errc() || res.ptr != s.data() + s.size())
            Fail("directory field " + std::to_string(k + 1) + " is not an integer: '" + s + "'", r.line);
        return v;
    }

    std::vector<Parameter> EntityParameters(std::size_t first, std::size_t count) const {
        std::string text;
        for (std::size_t k = 0; k < count; ++k) text += Column(m_parameters[first + k], 0, 64);
        const std::size_t line0 = m_parameters[first].line;
        auto lineOf = [&](std::size_t o) { return m_parameters[first + std::min(o / 64, count - 1)].line; };
        return SplitParameters(text, ',', ';', lineOf, line0);
    }

    static long Integer(const Parameter& p) {
        if (p.isString) Fail("expected an integer, found a string", p.line);
        if (p.text.empty()) return 0;
        long v = 0;
        const char* b = p.text.data();
        if (*b == '+') ++b;
        const auto res = std::from_chars(b, p.text.data() + p.text.size(), v);
        if (res.ec != std::errc() || res.ptr != p.text.data() + p.text.size())
            Fail("expected an integer, found '" + Short(p.text) + "'", p.line);
        return v;
    }

    static double Real(const Parameter& p) {
        if (p.isString) Fail("expected a number, found a string", p.line);
        if (p.text.empty()) return 0.0;
        std::string t = p.text;
        for (char& c : t)
            if (c == 'D' || c == 'd') c = 'E';
        const char* b = t.data();
        if (*b == '+') ++b;
        double v = 0;
        const auto res = std::from_chars(b, t.data() + t.size(), v);
        if (res.ec != std::errc() || res.ptr != t.data() + t.size() || !std::isfinite(v))
            Fail("expected a finite number, found '" + Short(p.text) + "'", p.line);
        return v;
    }

    static std::string Short(const std::string& s) { return s.size() <= 40 ? s : s.substr(0, 37) + "..."; }

    // Count field c (K or M) checked against the parameters present, so that nothing larger
    // than the text is ever allocated.
    static std::size_t Count(const std::vector<Parameter>& p, std::size_t at, long minimum, const char* what) {
        const long v = Integer(p[at]);
        if (v < minimum || static_cast<unsigned long>(v) > p.size())
            Fail(std::string(what) + " = " + std::to_string(v) + " does not fit the " + std::to_string(p.size()) +
                     " parameters of the entity",
                 p[at].line);
        return static_cast<std::size_t>(v);
    }

    static void Need(const std::vector<Parameter>& p, std::size_t n, const char* what) {
        if (p.size() < n)
            Fail(std::string(what) + ": " + std::to_string(p.size()) + " parameters, expected at least " +
                     std::to_string(n),
                 p.back().line);
    }

    static std::vector<double> Knots(const std::vector<Parameter>& p, std::size_t at, std::size_t n) {
        std::vector<double> k(n);
        for (std::size_t i = 0; i < n; ++i) {
            k[i] = Real(p[at + i]);
            if (i > 0 && k[i] < k[i - 1]) Fail("knots decrease", p[at + i].line);
        }
        if (k.front() == k.back()) Fail("knots span an empty range", p[at].line);
        return k;
    }

    static double Weight(const Parameter& p) {
        const double w = Real(p);
        if (!(w > 0.0)) Fail("weights must be positive", p.line);
        return w;
    }

    V3dNurbsCurve Curve(const std::vector<Parameter>& p, ExchangeReport& report) const {
        Need(p, 7, "entity 126");
        const std::size_t K = Count(p, 1, 1, "K");
        const std::size_t M = Count(p, 2, 1, "M (degree)");
        if (K < M) Fail("K = " + std::to_string(K) + " is below the degree " + std::to_string(M), p[1].line);
        const std::size_t n = K + 1, knots = K + M + 2;
        const std::size_t at = 7, wAt = at + knots, xAt = wAt + n, rAt = xAt + 3 * n;
        Need(p, rAt + 2, "entity 126");
        std::vector<double> U = Knots(p, at, knots);
        std::vector<point<double, 4>> P(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double w = Weight(p[wAt + i]);
            P[i] = point<double, 4>{Real(p[xAt + 3 * i]) * w, Real(p[xAt + 3 * i + 1]) * w,
                                    Real(p[xAt + 3 * i + 2]) * w, w};
        }
        const double v0 = Real(p[rAt]), v1 = Real(p[rAt + 1]);
        if (v0 != U[M] || v1 != U[n])
            report.notes.push_back("a curve's parameter range [" + std::to_string(v0) + ", " + std::to_string(v1) +
                                   "] differs from its knot domain; the whole domain is kept");
        return V3dNurbsCurve(std::move(P), std::move(U), M);
    }

    V3dNurbsSurface Surface(const std::vector<Parameter>& p) const {
        Need(p, 10, "entity 128");
        const std::size_t K1 = Count(p, 1, 1, "K1"), K2 = Count(p, 2, 1, "K2");
        const std::size_t M1 = Count(p, 3, 1, "M1 (U degree)"), M2 = Count(p, 4, 1, "M2 (V degree)");
        if (K1 < M1 || K2 < M2) Fail("K1 or K2 is below its degree", p[1].line);
        const std::size_t nu = K1 + 1, nv = K2 + 1;
        if (nu > p.size() / nv) Fail("K1, K2 do not fit the parameters of the entity", p[1].line);
        const std::size_t at = 10, tAt = at + K1 + M1 + 2, wAt = tAt + K2 + M2 + 2, xAt = wAt + nu * nv;
        Need(p, xAt + 3 * nu * nv, "entity 128");
        std::vector<double> S = Knots(p, at, K1 + M1 + 2);
        std::vector<double> T = Knots(p, tAt, K2 + M2 + 2);
        VMatrix<point<double, 4>> net(nu, nv, point<double, 4>{0, 0, 0, 1});
        for (std::size_t j = 0; j < nv; ++j)
            for (std::size_t i = 0; i < nu; ++i) {
                const std::size_t k = j * nu + i;
                const double w = Weight(p[wAt + k]);
                net(i, j) = point<double, 4>{Real(p[xAt + 3 * k]) * w, Real(p[xAt + 3 * k + 1]) * w,
                                             Real(p[xAt + 3 * k + 2]) * w, w};
            }
        return V3dNurbsSurface(std::move(net), std::move(S), std::move(T), M1, M2);
    }

    const std::string& m_text;
    std::size_t m_start = 0;
    bool m_sawTerminate = false;
    std::vector<Record> m_global, m_directory, m_parameters;
};

}  // namespace

ExchangeReport ReadIges(const std::string& text, CadModel& model) {
    ExchangeReport report;
    model = CadModel();
    try {
        IgesModelReader(text).Read(model, report);
    } catch (const ReadError& e) {
        model = CadModel();
        report.notes.clear();
        report.error = "line " + std::to_string(e.line) + ": " + e.message;
        report.line = e.line;
        return report;
    }
    if (model.curves.empty() && model.surfaces.empty()) {
        report.error = "line 1: the file holds no B-spline curve (126) or surface (128)";
        report.line = 1;
        return report;
    }
    detail::MarkDone(report, model);
    return report;
}

ExchangeReport LoadIges(const std::string& path, CadModel& model) {
    return detail::LoadText(path, model, [](const std::string& text, CadModel& m) { return ReadIges(text, m); });
}

}  // namespace Exchange
}  // namespace VelSDK
