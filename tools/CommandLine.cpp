// Argument parsing of the nurbs program.
#include "CommandLine.h"

#include "Commands.h"
#include "ToolError.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <iostream>
#include <new>
#include <string>
#include <vector>

namespace nurbs_tool {
namespace {

/// "1,2.5,-3" -> {1, 2.5, -3}; every value finite. expected = 0 accepts any positive count.
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

const char* kInputHelp =
    "Point files: one point per line, 'x,y' or 'x,y,z' (commas or blanks), '#' comments, an optional header "
    "line such as 'x,y,z'.";

}  // namespace

int CommandLine::Run(int argc, char** argv) {
    CLI::App app{
        "nurbs: fit, inspect, evaluate, segment, project, split, convert and plot NURBS curves and surfaces "
        "(VelSDK.Nurbs).",
        "nurbs"};
    app.require_subcommand(1);
    app.option_defaults()->always_capture_default();  // show defaults in --help
    app.set_version_flag("--version", "nurbs 1.0.0 (VelSDK.Nurbs)");
    app.footer(
        "Curves are stored as XML documents (.xml) or binary records (.nrb); surfaces as XML documents.\n"
        "Exit codes: 0 success, 1 bad input (one line on stderr: file:line: problem), 2 usage error.\n"
        "Run 'nurbs COMMAND --help' for the options and examples of a command.");

    // --- fit ---------------------------------------------------------------------------------
    FitOptions fit;
    std::string startTangent, endTangent;
    CLI::App* fitCmd = app.add_subcommand("fit", "Fit a curve through data points and save it");
    fitCmd->add_option("POINTS", fit.points, "data points (CSV or blank-separated; '-' = stdin)")->required();
    fitCmd->add_option("-o,--output", fit.output, "curve file to write (.xml or .nrb)")->required();
    fitCmd->add_flag("--closed", fit.closed, "fit a closed loop (the last point joins the first)");
    fitCmd->add_option("--order", fit.order, "order = degree + 1 (2 = polyline, 4 = cubic)")->check(CLI::Range(2, 16));
    fitCmd->add_option("--param", fit.param, "parameters: chord (chord length) or uniform")
        ->check(CLI::IsMember({"chord", "uniform"}));
    fitCmd->add_option("--knots", fit.knots, "knot vector: average (averaged parameters) or uniform")
        ->check(CLI::IsMember({"average", "uniform"}));
    CLI::Option* st = fitCmd->add_option("--start-tangent", startTangent, "direction at the first point, X,Y,Z");
    CLI::Option* et = fitCmd->add_option("--end-tangent", endTangent, "direction at the last point, X,Y,Z");
    st->needs(et);
    et->needs(st);
    fitCmd->add_flag("--raw-tangents", fit.rawTangents,
                     "use the tangents as first derivatives as given, instead of scaling the directions to the "
                     "length of the point polygon");
    fitCmd->add_flag("-q,--quiet", fit.quiet, "print no summary");
    fitCmd->footer(std::string(kInputHelp) +
                   "\nOpen fits interpolate the points (as many control points as points); closed fits interpolate "
                   "the loop; with both tangents the fit interpolates with prescribed end directions.\n"
                   "Prefer --knots average for closed fits: uniform knots under a closed loop give a badly "
                   "conditioned (with chord parameters often singular) system.\n"
                   "Examples:\n"
                   "  nurbs fit examples/data/glyph_S.csv --closed -o S.xml\n"
                   "  nurbs fit examples/data/gps_open_3d.csv --order 3 --param uniform -o walk.nrb\n"
                   "  nurbs fit upper.csv --start-tangent 0,1,0 --end-tangent 1,-0.1,0 -o upper.xml");

    // --- info --------------------------------------------------------------------------------
    InfoOptions info;
    CLI::App* infoCmd = app.add_subcommand("info", "Describe a curve: order, control points, knots, range, ...");
    infoCmd->add_option("CURVE", info.curve, "curve file (.xml or .nrb)")->required();
    infoCmd->footer("Examples:\n  nurbs info S.xml");

    // --- eval --------------------------------------------------------------------------------
    EvalOptions eval;
    std::string evalAt;
    CLI::App* evalCmd = app.add_subcommand("eval", "Evaluate points (and derivatives) of a curve as CSV");
    evalCmd->add_option("CURVE", eval.curve, "curve file (.xml or .nrb)")->required();
    CLI::Option* atOpt = evalCmd->add_option("--at", evalAt, "parameters, U[,U...]");
    CLI::Option* samplesOpt =
        evalCmd->add_option("--samples", eval.samples, "N parameters evenly spaced over the range (ends included)")
            ->check(CLI::Range(std::size_t{1}, std::size_t{100000000}));
    atOpt->excludes(samplesOpt);
    evalCmd->add_option("--derivatives", eval.derivatives, "also the derivatives of order 1..K")
        ->check(CLI::Range(0, 16));
    evalCmd->add_option("-o,--output", eval.output, "CSV file to write (default: standard output)");
    evalCmd->footer(
        "Columns: u,x,y,z then d1x,d1y,d1z, d2x,... for each derivative order.\n"
        "Examples:\n  nurbs eval S.xml --samples 11\n  nurbs eval S.xml --at 0,0.25,0.5 --derivatives 2");

    // --- segment -----------------------------------------------------------------------------
    SegmentOptions seg;
    std::string keep;
    CLI::App* segCmd = app.add_subcommand("segment", "Cut a curve into a polyline within a chord tolerance (CSV)");
    segCmd->add_option("CURVE", seg.curve, "curve file (.xml or .nrb)")->required();
    segCmd->add_option("--tolerance", seg.tolerance, "largest distance of the curve from a chord (> 0)")->required();
    segCmd->add_option("--keep", keep, "parameters that must be break points, U[,U...] (ascending)");
    segCmd->add_option("-o,--output", seg.output, "CSV file to write (default: standard output)");
    segCmd->footer(
        "Columns: u,x,y,z, one row per polyline vertex.\n"
        "Examples:\n  nurbs segment S.xml --tolerance 0.5\n  nurbs segment walk.xml --tolerance 1 --keep 0.5");

    // --- project -----------------------------------------------------------------------------
    ProjectOptions proj;
    CLI::App* projCmd = app.add_subcommand("project", "Project points onto a curve (CSV)");
    projCmd->add_option("CURVE", proj.curve, "curve file (.xml or .nrb)")->required();
    projCmd->add_option("POINTS", proj.points, "query points (CSV or blank-separated; '-' = stdin)")->required();
    projCmd->add_option("--tolerance", proj.tolerance, "convergence tolerance of the Newton iteration")
        ->check(CLI::PositiveNumber);
    projCmd->add_option("-o,--output", proj.output, "CSV file to write (default: standard output)");
    projCmd->footer(
        "Columns: index,u,x,y,z,distance,converged (u = parameter of the foot point (x,y,z)).\n"
        "Examples:\n  nurbs project loop.xml examples/data/proj_gps_loop_3d.csv");

    // --- split -------------------------------------------------------------------------------
    SplitOptions split;
    CLI::App* splitCmd = app.add_subcommand("split", "Cut a curve in two at a parameter");
    splitCmd->add_option("CURVE", split.curve, "curve file (.xml or .nrb)")->required();
    splitCmd->add_option("--at", split.at, "parameter inside the range")->required();
    splitCmd->add_option("-o,--output", split.outputs, "the two curve files to write: LEFT RIGHT")
        ->required()
        ->expected(2);
    splitCmd->footer(
        "Both pieces are open curves with knots rescaled to [0, 1].\n"
        "Examples:\n  nurbs split walk.xml --at 0.5 -o first.xml second.xml");

    // --- convert -----------------------------------------------------------------------------
    ConvertOptions conv;
    CLI::App* convCmd = app.add_subcommand("convert", "Convert a curve between XML document and binary record");
    convCmd->add_option("IN", conv.input, "curve file to read (.xml or .nrb)")->required();
    convCmd->add_option("OUT", conv.output, "curve file to write (.xml or .nrb)")->required();
    convCmd->footer(
        "The format follows the extension: .xml = XML document, .nrb = binary record.\n"
        "Examples:\n  nurbs convert S.xml S.nrb\n  nurbs convert S.nrb S-copy.xml");

    // --- surface -----------------------------------------------------------------------------
    CLI::App* surfCmd = app.add_subcommand("surface", "Fit, evaluate and project NURBS surfaces");
    surfCmd->require_subcommand(1);
    SurfaceFitOptions sfit;
    std::string sdegree = "3,3", scount;
    CLI::App* sfitCmd = surfCmd->add_subcommand("fit", "Fit a surface through a grid of points and save it");
    sfitCmd->add_option("GRID", sfit.grid, "grid of points ('-' = stdin)")->required();
    sfitCmd->add_option("-o,--output", sfit.output, "surface file to write (.xml)")->required();
    sfitCmd->add_option("--degree", sdegree, "degrees P,Q along rows (U) and columns (V)");
    sfitCmd->add_option("--count", scount, "least squares with NU,NV control points (default: interpolate)");
    sfitCmd->add_flag("-q,--quiet", sfit.quiet, "print no summary");
    sfitCmd->footer(
        "Grid files: 'rows,cols' on the first line (or '# rows: R' and '# cols: C' comments), then rows*cols "
        "points one per line, row-major; or one grid row per line as x,y,z triples.\n"
        "Parameters are uniform in both directions.\n"
        "Examples:\n  nurbs surface fit examples/data/dem_volcano_61x87.csv -o volcano.xml\n"
        "  nurbs surface fit examples/data/dem_volcano_61x87.csv --count 20,28 -o volcano-ls.xml");

    SurfaceEvalOptions seval;
    std::string sevalAt, ssamples;
    CLI::App* sevalCmd = surfCmd->add_subcommand("eval", "Evaluate points (and derivatives) of a surface as CSV");
    sevalCmd->add_option("SURFACE", seval.surface, "surface file (.xml)")->required();
    CLI::Option* satOpt = sevalCmd->add_option("--at", sevalAt, "parameter pairs, U,V[,U,V...]");
    CLI::Option* ssamplesOpt =
        sevalCmd->add_option("--samples", ssamples, "an NU,NV grid of parameters over the range");
    satOpt->excludes(ssamplesOpt);
    sevalCmd->add_option("--derivatives", seval.derivatives, "also the mixed derivatives up to total order K")
        ->check(CLI::Range(0, 8));
    sevalCmd->add_option("-o,--output", seval.output, "CSV file to write (default: standard output)");
    sevalCmd->footer(
        "Columns: u,v,x,y,z then, for every k+l <= K in order of k+l, d<k><l>x,d<k><l>y,d<k><l>z "
        "(k derivatives along u, l along v).\n"
        "Examples:\n  nurbs surface eval volcano.xml --samples 5,5\n"
        "  nurbs surface eval volcano.xml --at 0.5,0.5 --derivatives 1");

    SurfaceProjectOptions sproj;
    CLI::App* sprojCmd = surfCmd->add_subcommand("project", "Project points onto a surface (CSV)");
    sprojCmd->add_option("SURFACE", sproj.surface, "surface file (.xml)")->required();
    sprojCmd->add_option("POINTS", sproj.points, "query points ('-' = stdin)")->required();
    sprojCmd->add_option("--tolerance", sproj.tolerance, "tolerance of the stopping tests")->check(CLI::PositiveNumber);
    sprojCmd->add_option("--iterations", sproj.iterations, "largest number of Newton iterations")
        ->check(CLI::Range(std::size_t{1}, std::size_t{100000}));
    sprojCmd->add_option("-o,--output", sproj.output, "CSV file to write (default: standard output)");
    sprojCmd->footer(
        "Columns: index,u,v,x,y,z,distance.\n"
        "Examples:\n  nurbs surface project volcano.xml queries.csv");

    // --- plot --------------------------------------------------------------------------------
    PlotOptions plot;
    CLI::App* plotCmd = app.add_subcommand("plot", "Draw a curve or a surface as an SVG picture");
    plotCmd->add_option("FILE", plot.input, "curve (.xml, .nrb) or surface (.xml) file")->required();
    CLI::Option* plotPoints = plotCmd->add_option("--points", plot.points, "data points to draw as well");
    plotCmd
        ->add_option("--tolerance", plot.tolerance,
                     "chord tolerance of the drawn polyline (default: 1/2000 of "
                     "the drawing's extent)")
        ->check(CLI::NonNegativeNumber);
    plotCmd->add_option("--view", plot.view, "curves: top (x,y), front (x,z), side (y,z) or oblique")
        ->check(CLI::IsMember({"top", "front", "side", "oblique"}));
    plotCmd
        ->add_flag("--project", plot.project,
                   "curves: connect every data point (--points) with its nearest point on the curve")
        ->needs(plotPoints);
    plotCmd->add_option("--title", plot.title, "title (default: the file name)");
    plotCmd->add_option("--lines", plot.lines, "surfaces: iso-curves per direction")
        ->check(CLI::Range(std::size_t{2}, std::size_t{200}));
    plotCmd->add_option("-o,--output", plot.output, "SVG file to write")->required();
    plotCmd->footer(
        "Curves: data points, control polygon, the segmented curve with its knots marked, axes and a "
        "legend. Surfaces: a wire-frame of iso-curves in an oblique view, shaded by height.\n"
        "Examples:\n  nurbs plot S.xml --points examples/data/glyph_S.csv -o S.svg\n"
        "  nurbs plot loop.xml --points fixes.csv --project -o loop.svg\n"
        "  nurbs plot volcano.xml -o volcano.svg");

    try {
        try {
            app.parse(argc, argv);
        } catch (const CLI::ParseError& e) {
            if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
            std::cerr << CommandName(app) << ": " << e.what() << " (see '" << CommandName(app) << " --help')\n";
            return kExitUsage;
        }
        if (fitCmd->parsed()) {
            if (!startTangent.empty()) fit.startTangent = ParseNumbers(startTangent, "--start-tangent", 3);
            if (!endTangent.empty()) fit.endTangent = ParseNumbers(endTangent, "--end-tangent", 3);
            return RunFit(fit);
        }
        if (infoCmd->parsed()) return RunInfo(info);
        if (evalCmd->parsed()) {
            if (!evalAt.empty()) eval.at = ParseNumbers(evalAt, "--at", 0);
            if (evalAt.empty() && eval.samples == 0) throw UsageError("give --at U[,U...] or --samples N");
            return RunEval(eval);
        }
        if (segCmd->parsed()) {
            if (!keep.empty()) seg.keep = ParseNumbers(keep, "--keep", 0);
            return RunSegment(seg);
        }
        if (projCmd->parsed()) return RunProject(proj);
        if (splitCmd->parsed()) return RunSplit(split);
        if (convCmd->parsed()) return RunConvert(conv);
        if (sfitCmd->parsed()) {
            std::vector<std::size_t> d = ParseCounts(sdegree, "--degree", 2);
            sfit.degree = {static_cast<int>(d[0]), static_cast<int>(d[1])};
            if (!scount.empty()) sfit.count = ParseCounts(scount, "--count", 2);
            return RunSurfaceFit(sfit);
        }
        if (sevalCmd->parsed()) {
            if (!sevalAt.empty()) {
                seval.at = ParseNumbers(sevalAt, "--at", 0);
                if (seval.at.size() % 2 != 0) throw UsageError("--at: expected pairs U,V[,U,V...]");
            }
            if (!ssamples.empty()) {
                seval.samples = ParseCounts(ssamples, "--samples", 2);
                if (seval.samples[0] * seval.samples[1] > 100000000)
                    throw UsageError("--samples: at most 100000000 points in all");
            }
            if (sevalAt.empty() && ssamples.empty()) throw UsageError("give --at U,V[,U,V...] or --samples NU,NV");
            return RunSurfaceEval(seval);
        }
        if (sprojCmd->parsed()) return RunSurfaceProject(sproj);
        if (plotCmd->parsed()) return RunPlot(plot);
        throw UsageError("no command given");
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
