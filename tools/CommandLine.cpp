// Argument parsing of the nurbs program.
#include "CommandLine.h"

#include "Commands.h"
#include "ToolError.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <new>
#include <string>

namespace nurbs_tool {
namespace {

/// The deepest subcommand named on the command line, as "nurbs surface fit".
std::string CommandName(CLI::App& app) {
    std::string name = "nurbs";
    const CLI::App* current = &app;
    while (true) {
        const auto subs = current->get_subcommands();
        if (subs.empty()) break;
        current = subs.front();
        name += " " + current->get_name();
    }
    return name;
}

}  // namespace

int CommandLine::Run(int argc, char** argv) {
    CLI::App app{
        "nurbs: fit, inspect, evaluate, segment, project, split, convert, plot and mesh NURBS curves and surfaces "
        "(VelSDK.Nurbs).",
        "nurbs"};
    app.require_subcommand(1);
    app.option_defaults()->always_capture_default();  // show defaults in --help
    app.set_version_flag("--version", "nurbs 1.0.0 (VelSDK.Nurbs)");
    app.footer(
        "Curves are stored as XML documents (.xml) or binary records (.nrb); surfaces as XML documents.\n"
        "Exit codes: 0 success, 1 bad input (one line on stderr: file:line: problem), 2 usage error.\n"
        "Run 'nurbs COMMAND --help' for the options and examples of a command.");

    int exitCode = 0;
    AddFitCommand(app, exitCode);
    AddInfoCommand(app, exitCode);
    AddEvalCommand(app, exitCode);
    AddSegmentCommand(app, exitCode);
    AddProjectCommand(app, exitCode);
    AddSplitCommand(app, exitCode);
    AddConvertCommand(app, exitCode);
    AddSurfaceCommand(app, exitCode);
    AddPlotCommand(app, exitCode);
    AddReduceCommand(app, exitCode);
    AddMeshCommand(app, exitCode);

    try {
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& e) {
            if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
            std::cerr << CommandName(app) << ": " << e.what() << " (see '" << CommandName(app) << " --help')\n";
            return kExitUsage;
        }
        // The chosen command ran in its callback during parse (Add…Command).
        return exitCode;
    } catch (const UsageError& e) {
        std::cerr << CommandName(app) << ": " << e.what() << " (see '" << CommandName(app) << " --help')\n";
        return kExitUsage;
    } catch (const InputError& e) {
        std::cerr << CommandName(app) << ": " << e.what() << '\n';
        return kExitBadInput;
    } catch (const std::bad_alloc&) {
        std::cerr << CommandName(app) << ": out of memory\n";
        return kExitBadInput;
    } catch (const std::exception& e) {
        std::cerr << CommandName(app) << ": " << e.what() << '\n';
        return kExitBadInput;
    }
}

}  // namespace nurbs_tool
