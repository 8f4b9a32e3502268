// Reading of data points and point grids from text files.
#include "PointReader.h"

#include "ToolError.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>

namespace nurbs_tool {
namespace {

using VelSDK::Math::point;

/// One non-blank line of a data file, split into fields.
struct Row {
    std::size_t line = 0;
    std::vector<std::string> fields;
};

std::string Trim(const std::string& s) {
    const char* ws = " \t\r\f\v";
    const std::size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return std::string();
    const std::size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

/// Parses a whole field as a double (C locale, no trailing characters). A leading '+' is allowed.
/// A number too large for a double is parsed as infinity (and refused later as not finite).
bool ParseNumber(const std::string& field, double& value) {
    const char* b = field.data();
    const char* e = b + field.size();
    if (b != e && *b == '+') ++b;
    if (b == e) return false;
    const auto r = std::from_chars(b, e, value);
    if (r.ec == std::errc::result_out_of_range && r.ptr == e) {
        // Overflow or underflow: tell them apart by the exponent's sign.
        const bool negative = *b == '-';
        const std::size_t exp = field.find_first_of("eE");
        const bool tiny = exp != std::string::npos && exp + 1 < field.size() && field[exp + 1] == '-';
        value = tiny ? (negative ? -0.0 : 0.0) : (negative ? -HUGE_VAL : HUGE_VAL);
        return true;
    }
    return r.ec == std::errc() && r.ptr == e;
}

std::string Quote(const std::string& field) {
    std::string shown = field.size() > 40 ? field.substr(0, 40) + "..." : field;
    return "'" + shown + "'";
}

/// Splits a line into fields: by commas when it has any (each field trimmed, empty fields
/// refused), otherwise by blanks.
std::vector<std::string> SplitFields(const std::string& text, const std::string& name, std::size_t line) {
    std::vector<std::string> fields;
    if (text.find(',') != std::string::npos || text.find(';') != std::string::npos) {
        std::size_t start = 0;
        while (true) {
            const std::size_t pos = text.find_first_of(",;", start);
            const std::string field =
                Trim(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
            if (field.empty()) throw InputError(Where(name, line, "empty field"));
            fields.push_back(field);
            if (pos == std::string::npos) break;
            start = pos + 1;
        }
    } else {
        std::istringstream in(text);
        std::string field;
        while (in >> field) fields.push_back(field);
    }
    return fields;
}

/// Lines without comments and blanks, split into fields. Comment lines of the form
/// "# key: value" are handed to onMeta.
template <typename MetaFn>
std::vector<Row> SplitRows(const std::string& text, const std::string& name, MetaFn onMeta) {
    std::vector<Row> rows;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    // A UTF-8 byte order mark at the start is not data.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        ++lineNo;
        pos = end + 1;
        if (line.find('\0') != std::string::npos)
            throw InputError(Where(name, lineNo, "binary data (NUL byte) in a text file"));
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) {
            onMeta(Trim(line.substr(hash + 1)), lineNo);
            line.erase(hash);
        }
        line = Trim(line);
        if (line.empty()) continue;
        rows.push_back(Row{lineNo, SplitFields(line, name, lineNo)});
    }
    return rows;
}

bool AllNonNumeric(const Row& row) {
    double v;
    for (const std::string& f : row.fields)
        if (ParseNumber(f, v)) return false;
    return true;
}

double FieldValue(const Row& row, std::size_t i, const std::string& name) {
    double v = 0.0;
    if (!ParseNumber(row.fields[i], v))
        throw InputError(Where(name, row.line, "not a number: " + Quote(row.fields[i])));
    if (!std::isfinite(v)) throw InputError(Where(name, row.line, "not a finite number: " + Quote(row.fields[i])));
    return v;
}

/// Points of rows [first, end), one per row, 2 or 3 columns as the first row has them.
void RowsToPoints(const std::vector<Row>& rows, std::size_t first, const std::string& name, PointList& out) {
    out.columns = 0;
    std::size_t columnsLine = 0;
    for (std::size_t r = first; r < rows.size(); ++r) {
        const Row& row = rows[r];
        const std::size_t n = row.fields.size();
        if (out.columns == 0) {
            if (n != 2 && n != 3)
                throw InputError(Where(name, row.line,
                                       "expected 2 or 3 numbers per line (x,y or x,y,z), found " + std::to_string(n)));
            out.columns = n;
            columnsLine = row.line;
        } else if (n != out.columns) {
            throw InputError(Where(name, row.line,
                                   "ragged row: " + std::to_string(n) + " numbers, but " + std::to_string(out.columns) +
                                       " on line " + std::to_string(columnsLine)));
        }
        point<double, 3> p{};
        for (std::size_t i = 0; i < n; ++i) p[i] = FieldValue(row, i, name);
        out.points.push_back(p);
        out.lines.push_back(row.line);
    }
}

bool ParseCount(const std::string& text, std::size_t& value) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), value);
    return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

}  // namespace

std::string PointReader::ReadFile(const std::string& path) {
    if (path == "-") {
        std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
        return text;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw InputError(Where(path, 0, std::string("cannot open: ") + std::strerror(errno)));
    if (S_ISDIR(st.st_mode)) throw InputError(Where(path, 0, "cannot open: is a directory"));
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(Where(path, 0, std::string("cannot open: ") + std::strerror(errno)));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw InputError(Where(path, 0, "read error"));
    return text;
}

PointList PointReader::ParsePoints(const std::string& text, const std::string& name) {
    PointList out;
    out.file = name;
    const std::vector<Row> rows = SplitRows(text, name, [](const std::string&, std::size_t) {});
    std::size_t first = 0;
    if (!rows.empty() && AllNonNumeric(rows[0])) first = 1;  // header row such as "x,y,z"
    RowsToPoints(rows, first, name, out);
    if (out.points.empty()) throw InputError(Where(name, 0, "no points"));
    return out;
}

PointList PointReader::ReadPoints(const std::string& path) { return ParsePoints(ReadFile(path), path); }

PointGrid PointReader::ParseGrid(const std::string& text, const std::string& name) {
    PointGrid out;
    out.file = name;
    std::size_t metaRows = 0, metaCols = 0;
    std::size_t metaLine = 0;
    const std::vector<Row> rows = SplitRows(text, name, [&](const std::string& comment, std::size_t line) {
        // "# rows: R" and "# cols: C" give the shape.
        const std::size_t colon = comment.find(':');
        if (colon == std::string::npos) return;
        const std::string key = Trim(comment.substr(0, colon));
        std::size_t value = 0;
        if (key != "rows" && key != "cols") return;
        if (!ParseCount(comment.substr(colon + 1), value) || value == 0)
            throw InputError(Where(name, line, "'" + key + "' must be a positive integer"));
        (key == "rows" ? metaRows : metaCols) = value;
        metaLine = line;
    });
    std::size_t first = 0;
    std::size_t shapeRows = 0, shapeCols = 0, shapeLine = 0;
    if (metaRows != 0 || metaCols != 0) {
        if (metaRows == 0 || metaCols == 0)
            throw InputError(Where(name, metaLine, "a grid shape needs both '# rows:' and '# cols:'"));
        shapeRows = metaRows;
        shapeCols = metaCols;
        shapeLine = metaLine;
    } else if (!rows.empty() && rows[0].fields.size() == 2 && ParseCount(rows[0].fields[0], shapeRows) &&
               ParseCount(rows[0].fields[1], shapeCols)) {
        if (shapeRows == 0 || shapeCols == 0)
            throw InputError(Where(name, rows[0].line, "the grid shape 'rows,cols' must be positive"));
        shapeLine = rows[0].line;
        first = 1;
    }
    if (first < rows.size() && AllNonNumeric(rows[first])) ++first;  // header row such as "x,y,z"

    if (shapeRows != 0) {
        // Shape given: one point per line, row-major.
        PointList list;
        RowsToPoints(rows, first, name, list);
        // Compare without forming rows * cols, which could overflow for a hostile shape.
        if (list.points.size() % shapeCols != 0 || list.points.size() / shapeCols != shapeRows)
            throw InputError(Where(name, shapeLine,
                                   "the shape " + std::to_string(shapeRows) + " x " + std::to_string(shapeCols) +
                                       " does not match the " + std::to_string(list.points.size()) +
                                       " points that follow"));
        out.rows = shapeRows;
        out.cols = shapeCols;
        out.points = VelSDK::NURBS::VMatrix<point<double, 3>>(shapeRows, shapeCols, point<double, 3>{});
        for (std::size_t k = 0; k < list.points.size(); ++k) out.points.Elements()[k] = list.points[k];
        return out;
    }

    // No shape: one grid row per line, x,y,z triples.
    if (first >= rows.size()) throw InputError(Where(name, 0, "no points"));
    const std::size_t n = rows[first].fields.size();
    if (n % 3 != 0)
        throw InputError(Where(name, rows[first].line,
                               "no grid shape given: expected x,y,z triples (one grid row per line), found " +
                                   std::to_string(n) + " numbers; or give 'rows,cols' first"));
    if (n == 3)
        throw InputError(Where(name, rows[first].line,
                               "no grid shape given: a line with one point is a grid of one column; give 'rows,cols' "
                               "first or put one grid row per line"));
    out.cols = n / 3;
    out.rows = rows.size() - first;
    out.points = VelSDK::NURBS::VMatrix<point<double, 3>>(out.rows, out.cols, point<double, 3>{});
    for (std::size_t r = first; r < rows.size(); ++r) {
        const Row& row = rows[r];
        if (row.fields.size() != n)
            throw InputError(Where(name, row.line,
                                   "ragged row: " + std::to_string(row.fields.size()) + " numbers, but " +
                                       std::to_string(n) + " on line " + std::to_string(rows[first].line)));
        for (std::size_t j = 0; j < out.cols; ++j)
            for (std::size_t c = 0; c < 3; ++c) out.points(r - first, j)[c] = FieldValue(row, 3 * j + c, name);
    }
    return out;
}

PointGrid PointReader::ReadGrid(const std::string& path) { return ParseGrid(ReadFile(path), path); }

}  // namespace nurbs_tool
