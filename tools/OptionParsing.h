// Parsing of option values shared by the subcommands of the nurbs program.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace nurbs_tool {

/// v with six significant digits ("%.6g"), for reports and summaries.
std::string ShortNumber(double v);

/// "1,2.5,-3" -> {1, 2.5, -3}; every value finite. expected = 0 accepts any positive count.
/// Throws UsageError naming `option` for a field that is not a finite number or a wrong count.
std::vector<double> ParseNumbers(const std::string& text, const std::string& option, std::size_t expected);

/// Like ParseNumbers, for positive integers up to 10^9.
std::vector<std::size_t> ParseCounts(const std::string& text, const std::string& option, std::size_t expected);

/// The help paragraph on point files, shared by every command that reads points.
extern const char* const kPointFileHelp;

}  // namespace nurbs_tool
