// Parsing of option values shared by the subcommands of the nurbs program.
#include "OptionParsing.h"

#include "ToolError.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace nurbs_tool {

std::string ShortNumber(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

std::vector<double> ParseNumbers(const std::string& text, const std::string& option, std::size_t expected) {
    std::vector<double> values;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        std::string field = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t b = field.find_first_not_of(" \t");
        const std::size_t e = field.find_last_not_of(" \t");
        field = b == std::string::npos ? std::string() : field.substr(b, e - b + 1);
        const char* first = field.data();
        if (!field.empty() && field[0] == '+') ++first;
        double v = 0.0;
        const auto r = std::from_chars(first, field.data() + field.size(), v);
        if (field.empty() || r.ec != std::errc() || r.ptr != field.data() + field.size())
            throw UsageError(option + ": not a number: '" + field + "'");
        if (!std::isfinite(v)) throw UsageError(option + ": not a finite number: '" + field + "'");
        values.push_back(v);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (expected != 0 && values.size() != expected)
        throw UsageError(option + ": expected " + std::to_string(expected) + " comma-separated numbers, got " +
                         std::to_string(values.size()));
    return values;
}

std::vector<std::size_t> ParseCounts(const std::string& text, const std::string& option, std::size_t expected) {
    std::vector<std::size_t> counts;
    for (double v : ParseNumbers(text, option, expected)) {
        if (v < 1.0 || v != std::floor(v) || v > 1e9)
            throw UsageError(option + ": expected positive integers, got '" + text + "'");
        counts.push_back(static_cast<std::size_t>(v));
    }
    return counts;
}

const char* const kPointFileHelp =
    "Point files: one point per line, 'x,y' or 'x,y,z' (commas or blanks), '#' comments, an optional header "
    "line such as 'x,y,z'.";

}  // namespace nurbs_tool
