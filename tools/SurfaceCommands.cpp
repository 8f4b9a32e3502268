// The surface subcommands of the nurbs program: surface fit, surface eval, surface project.
#include "Commands.h"

#include "CsvOutput.h"
#include "OptionParsing.h"
#include "CurveFile.h"
#include "ExchangeFile.h"
#include "PointReader.h"
#include "Progress.h"
#include "SurfaceFile.h"
#include "ToolError.h"

#include <memory>
#include <CLI/CLI.hpp>
#include <VelSDK/BatchProjection.h>
#include <VelSDK/Generators.h>
#include <VelSDK/V3dNurbsSurface.h>
#include <VelSDK/SurfaceLocator.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace nurbs_tool {

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;

namespace {

/// n values evenly spaced over [a, b], ends exact.
std::vector<double> Spaced(double a, double b, std::size_t n) {
    std::vector<double> v(n, a);
    for (std::size_t i = 1; i < n; ++i)
        v[i] = i + 1 == n ? b : a + (b - a) * (static_cast<double>(i) / static_cast<double>(n - 1));
    return v;
}

}  // namespace

// --- surface fit --------------------------------------------------------------------------------

int RunSurfaceFit(const SurfaceFitOptions& o) {
    if (CurveFile::Extension(o.output) != ".xml" && !ExchangeFile::IsExchange(o.output))
        throw UsageError(o.output + ": surfaces are stored as XML documents (.xml), STEP (.step) or IGES (.igs)");
    if (!o.scattered.empty()) return RunSurfaceFitScattered(o);
    if (o.grid.empty()) throw UsageError("give a GRID file, or scattered points with --scattered");
    if (o.tolerance > 0.0) return RunSurfaceFitTolerance(o);
    if (!o.report.empty() || !o.errorSvg.empty() || o.param != "uniform")
        throw UsageError("--param, --report and --error-svg go with --tolerance (or --scattered)");
    const std::size_t p = static_cast<std::size_t>(o.degree[0]);
    const std::size_t q = static_cast<std::size_t>(o.degree[1]);
    if (p > 15 || q > 15) throw UsageError("--degree: degrees from 1 to 15");
    const PointGrid grid = PointReader::ReadGrid(o.grid);
    const std::size_t m = grid.rows;
    const std::size_t n = grid.cols;
    if (m < p + 1 || n < q + 1)
        throw InputError(Where(grid.file, 0,
                               "a " + std::to_string(m) + " x " + std::to_string(n) +
                                   " grid is too small for degrees " + std::to_string(p) + "," + std::to_string(q) +
                                   " (at least " + std::to_string(p + 1) + " x " + std::to_string(q + 1) +
                                   " points needed)"));
    const auto params = VelSDK::NURBS::UniformParameterization(m, n);
    V3dNurbsSurface surface;
    bool ok;
    if (o.count.empty()) {
        ok = surface.GlobalInterpolation(grid.points, params.first, params.second,
                                         VelSDK::NURBS::KnotAveraging(params.first, p),
                                         VelSDK::NURBS::KnotAveraging(params.second, q), p, q);
    } else {
        const std::size_t nu = o.count[0];
        const std::size_t nv = o.count[1];
        if (nu < p + 1 || nu > m || nv < q + 1 || nv > n)
            throw UsageError("--count: " + std::to_string(nu) + "," + std::to_string(nv) +
                             " control points must lie between " + std::to_string(p + 1) + "," + std::to_string(q + 1) +
                             " (degree + 1) and the grid size " + std::to_string(m) + "," + std::to_string(n));
        ok = surface.LeastSquaresApproximation(grid.points, params.first, params.second,
                                               VelSDK::NURBS::UniformKnots(nu + p + 1, p),
                                               VelSDK::NURBS::UniformKnots(nv + q + 1, q), nu, nv, p, q);
    }
    if (!ok) throw InputError(Where(grid.file, 0, "the surface fit failed: its systems could not be solved"));

    double maxError = 0.0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const double e =
                VelSDK::Math::Distance(surface.EvaluateAt(params.first[i], params.second[j]), grid.points(i, j));
            if (e > maxError || std::isnan(e)) {
                maxError = e;
                at = i * n + j;
            }
        }
    if (ExchangeFile::IsExchange(o.output)) {
        VelSDK::Exchange::CadModel model;
        model.surfaces.push_back(surface);
        ExchangeFile::Save(model, o.output);
    } else {
        SurfaceFile::Save(surface, o.output);
    }
    if (!o.quiet) {
        std::cout << "grid: " << m << " x " << n << '\n'
                  << "degrees: " << p << ", " << q << '\n'
                  << "control points: " << surface.GetControlPoints().RowCount() << " x "
                  << surface.GetControlPoints().ColumnCount() << '\n'
                  << (o.count.empty() ? "max interpolation error: " : "max approximation error: ")
                  << ShortNumber(maxError) << " (row " << at / n << ", column " << at % n << ")\n"
                  << "written: " << o.output << '\n';
    }
    return kExitSuccess;
}

// --- surface eval -------------------------------------------------------------------------------

int RunSurfaceEval(const SurfaceEvalOptions& o) {
    const V3dNurbsSurface surface = SurfaceFile::Load(o.surface);
    std::vector<std::pair<double, double>> uv;
    if (!o.at.empty()) {
        for (std::size_t i = 0; i + 1 < o.at.size(); i += 2) uv.emplace_back(o.at[i], o.at[i + 1]);
    } else {
        const std::vector<double> us = Spaced(surface.GetMinParamU(), surface.GetMaxParamU(), o.samples[0]);
        const std::vector<double> vs = Spaced(surface.GetMinParamV(), surface.GetMaxParamV(), o.samples[1]);
        for (double u : us)
            for (double v : vs) uv.emplace_back(u, v);
    }
    const std::size_t d = static_cast<std::size_t>(o.derivatives);
    std::vector<std::string> header{"u", "v", "x", "y", "z"};
    for (std::size_t s = 1; s <= d; ++s)
        for (std::size_t k = s + 1; k-- > 0;)
            for (const char* c : {"x", "y", "z"}) header.push_back("d" + std::to_string(k) + std::to_string(s - k) + c);
    CsvOutput csv(o.output);
    csv.Header(header);
    Progress progress("surface eval", uv.size());
    for (std::size_t i = 0; i < uv.size(); ++i) {
        const double u = uv[i].first;
        const double v = uv[i].second;
        csv.AddNumber(u);
        csv.AddNumber(v);
        if (d == 0) {
            const point<double, 3> p = surface.EvaluateAt(u, v);
            for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(p[c]);
        } else {
            const VMatrix<point<double, 3>> D = surface.DeriveAt(u, v, d);
            for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(D(0, 0)[c]);
            for (std::size_t s = 1; s <= d; ++s)
                for (std::size_t k = s + 1; k-- > 0;)
                    for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(D(k, s - k)[c]);
        }
        csv.EndRow();
        progress.Update(i + 1);
    }
    csv.Finish();
    return kExitSuccess;
}

// --- surface project ----------------------------------------------------------------------------

int RunSurfaceProject(const SurfaceProjectOptions& o) {
    const V3dNurbsSurface surface = SurfaceFile::Load(o.surface);
    const PointList queries = PointReader::ReadPoints(o.points);
    CsvOutput csv(o.output);
    csv.Header({"index", "u", "v", "x", "y", "z", "distance"});
    Progress progress("surface project", queries.points.size());
    // Global: the nearest point over the whole surface (SurfaceLocator, built once). Local: the
    // surface's Newton iteration from the nearest knot pair, in blocks of Batch::ProjectMany (the
    // bits of Project per point, the start search computed once per block).
    const VelSDK::NURBS::SurfaceLocator locator(o.local ? V3dNurbsSurface() : surface);
    constexpr std::size_t kBlock = 4096;
    std::vector<std::pair<point<double, 3>, std::pair<double, double>>> block;
    for (std::size_t i = 0; i < queries.points.size(); ++i) {
        std::pair<point<double, 3>, std::pair<double, double>> r;
        if (o.local) {
            if (i % kBlock == 0) {
                const auto first = queries.points.begin() + static_cast<std::ptrdiff_t>(i);
                const std::size_t n = std::min(kBlock, queries.points.size() - i);
                block = VelSDK::Batch::ProjectMany(surface, std::vector<point<double, 3>>(first, first + n),
                                                   o.iterations, o.tolerance, 1);
            }
            r = block[i % kBlock];
        } else {
            const VelSDK::NURBS::SurfaceNearest g = locator.Nearest(queries.points[i]);
            r = {g.point, {g.u, g.v}};
        }
        csv.AddInteger(i);
        csv.AddNumber(r.second.first);
        csv.AddNumber(r.second.second);
        for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(r.first[c]);
        csv.AddNumber(VelSDK::Math::Distance(r.first, queries.points[i]));
        csv.EndRow();
        progress.Update(i + 1);
    }
    csv.Finish();
    return kExitSuccess;
}

// --- command-line registration ------------------------------------------------------------------

namespace {

void AddSurfaceFitCommand(CLI::App& surface, int& exitCode) {
    auto o = std::make_shared<SurfaceFitOptions>();
    auto degree = std::make_shared<std::string>("3,3");
    auto count = std::make_shared<std::string>();
    CLI::App* cmd = surface.add_subcommand("fit", "Fit a surface through a grid of points and save it");
    cmd->add_option("GRID", o->grid, "grid of points ('-' = stdin); not with --scattered");
    cmd->add_option("-o,--output", o->output, "surface file to write (.xml, .step/.stp, .igs/.iges)")->required();
    cmd->add_option("--degree", *degree, "degrees P,Q along rows (U) and columns (V)");
    cmd->add_option("--count", *count, "least squares with NU,NV control points (default: interpolate)");
    cmd->add_flag("-q,--quiet", o->quiet, "print no summary");
    AddSurfaceToleranceOptions(*cmd, *o);
    AddSurfaceScatteredOptions(*cmd, *o);
    cmd->footer(
        "Grid files: 'rows,cols' on the first line (or '# rows: R' and '# cols: C' comments), then rows*cols "
        "points one per line, row-major; or one grid row per line as x,y,z triples.\n"
        "Parameters are uniform in both directions (with --tolerance also averaged chord lengths: --param chord).\n"
        "Examples:\n  nurbs surface fit examples/data/dem_volcano_61x87.csv -o volcano.xml\n"
        "  nurbs surface fit examples/data/dem_volcano_61x87.csv --count 20,28 -o volcano-ls.xml\n"
        "  nurbs surface fit examples/data/dem_volcano_61x87.csv --tolerance 2 --error-svg err.svg -o volcano-2m.xml\n"
        "  nurbs surface fit --scattered examples/data/dem_volcano_scattered30.csv --error-svg err.svg -o v30.xml");
    cmd->callback([o, degree, count, &exitCode] {
        const std::vector<std::size_t> d = ParseCounts(*degree, "--degree", 2);
        o->degree = {static_cast<int>(d[0]), static_cast<int>(d[1])};
        if (!count->empty()) o->count = ParseCounts(*count, "--count", 2);
        exitCode = RunSurfaceFit(*o);
    });
}

void AddSurfaceEvalCommand(CLI::App& surface, int& exitCode) {
    auto o = std::make_shared<SurfaceEvalOptions>();
    auto at = std::make_shared<std::string>();
    auto samples = std::make_shared<std::string>();
    CLI::App* cmd = surface.add_subcommand("eval", "Evaluate points (and derivatives) of a surface as CSV");
    cmd->add_option("SURFACE", o->surface, "surface file (.xml)")->required();
    CLI::Option* atOpt = cmd->add_option("--at", *at, "parameter pairs, U,V[,U,V...]");
    CLI::Option* samplesOpt = cmd->add_option("--samples", *samples, "an NU,NV grid of parameters over the range");
    atOpt->excludes(samplesOpt);
    cmd->add_option("--derivatives", o->derivatives, "also the mixed derivatives up to total order K")
        ->check(CLI::Range(0, 8));
    cmd->add_option("-o,--output", o->output, "CSV file to write (default: standard output)");
    cmd->footer(
        "Columns: u,v,x,y,z then, for every k+l <= K in order of k+l, d<k><l>x,d<k><l>y,d<k><l>z "
        "(k derivatives along u, l along v).\n"
        "Examples:\n  nurbs surface eval volcano.xml --samples 5,5\n"
        "  nurbs surface eval volcano.xml --at 0.5,0.5 --derivatives 1");
    cmd->callback([o, at, samples, &exitCode] {
        if (!at->empty()) {
            o->at = ParseNumbers(*at, "--at", 0);
            if (o->at.size() % 2 != 0) throw UsageError("--at: expected pairs U,V[,U,V...]");
        }
        if (!samples->empty()) {
            o->samples = ParseCounts(*samples, "--samples", 2);
            if (o->samples[0] * o->samples[1] > 100000000)
                throw UsageError("--samples: at most 100000000 points in all");
        }
        if (at->empty() && samples->empty()) throw UsageError("give --at U,V[,U,V...] or --samples NU,NV");
        exitCode = RunSurfaceEval(*o);
    });
}

void AddSurfaceProjectCommand(CLI::App& surface, int& exitCode) {
    auto o = std::make_shared<SurfaceProjectOptions>();
    CLI::App* cmd = surface.add_subcommand("project", "Project points onto a surface (CSV)");
    cmd->add_option("SURFACE", o->surface, "surface file (.xml)")->required();
    cmd->add_option("POINTS", o->points, "query points ('-' = stdin)")->required();
    auto* global = cmd->add_flag("--global", "nearest point over the whole surface (the default)");
    cmd->add_flag("--local", o->local, "Newton iteration from the nearest knot pair (can stop at a local minimum)")
        ->excludes(global);
    cmd->add_option("--tolerance", o->tolerance, "tolerance of the stopping tests (--local)")
        ->check(CLI::PositiveNumber);
    cmd->add_option("--iterations", o->iterations, "largest number of Newton iterations (--local)")
        ->check(CLI::Range(std::size_t{1}, std::size_t{100000}));
    cmd->add_option("-o,--output", o->output, "CSV file to write (default: standard output)");
    cmd->footer(
        "Columns: index,u,v,x,y,z,distance.\n"
        "Examples:\n  nurbs surface project volcano.xml queries.csv\n"
        "  nurbs surface project volcano.xml queries.csv --local");
    cmd->callback([o, &exitCode] { exitCode = RunSurfaceProject(*o); });
}

}  // namespace

void AddSurfaceCommand(CLI::App& app, int& exitCode) {
    CLI::App* surface = app.add_subcommand("surface", "Fit, evaluate and project NURBS surfaces");
    surface->require_subcommand(1);
    AddSurfaceFitCommand(*surface, exitCode);
    AddSurfaceEvalCommand(*surface, exitCode);
    AddSurfaceProjectCommand(*surface, exitCode);
}

}  // namespace nurbs_tool
