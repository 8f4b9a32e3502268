// Errors of the nurbs program and the exit codes they map to.
#pragma once

#include <stdexcept>
#include <string>

namespace nurbs_tool {

/// Exit codes: 0 success, 1 bad input (a file that cannot be read or used), 2 usage error.
enum ExitCode : int { kExitSuccess = 0, kExitBadInput = 1, kExitUsage = 2 };

/// A problem with an input file or its contents. The message is one line that names the
/// file (and the line, where there is one) and the problem, e.g. "pts.csv:7: not a number: 'x1'".
class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

/// A problem with the command line itself (an option value out of range, a wrong extension).
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

/// "file:line: problem" (or "file: problem" when line is 0).
inline std::string Where(const std::string& file, std::size_t line, const std::string& problem) {
    if (line == 0) return file + ": " + problem;
    return file + ":" + std::to_string(line) + ": " + problem;
}

}  // namespace nurbs_tool
