// Argument parsing of the nurbs program (CLI11) and the mapping of errors to exit codes.
#pragma once

namespace nurbs_tool {

/// Parses the command line, runs the chosen subcommand and returns the exit code:
/// 0 on success (also for --help), 1 on bad input, 2 on usage errors. Error messages are one
/// line on stderr beginning with "nurbs".
class CommandLine {
public:
    static int Run(int argc, char** argv);
};

}  // namespace nurbs_tool
