// nurbs surface fit --tolerance T: a grid approximated within a distance of every point
// (ApproximateSurface), the report of the distances, a CSV of every point's distance and
// foot, and a colour map of the distances.
#include "Commands.h"

#include "CsvOutput.h"
#include "CurveFile.h"
#include "ErrorMap.h"
#include "ExchangeFile.h"
#include "OptionParsing.h"
#include "PointReader.h"
#include "SurfaceFile.h"
#include "ToolError.h"

#include <CLI/CLI.hpp>
#include <VelSDK/Generators.h>
#include <VelSDK/SurfaceApproximation.h>

#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace nurbs_tool {

void AddSurfaceToleranceOptions(CLI::App& cmd, SurfaceFitOptions& o) {
    cmd.add_option("--tolerance", o.tolerance,
                   "approximate within this distance of every point, with as few control points as found")
        ->check(CLI::Validator(
            [](std::string& s) {
                const double t = std::strtod(s.c_str(), nullptr);
                return t > 0.0 && std::isfinite(t) ? std::string() : "--tolerance must be a positive number";
            },
            "T > 0"));
    cmd.add_option("--param", o.param, "with --tolerance: parameters 'uniform' (default) or 'chord' (averaged)")
        ->check(CLI::IsMember({"uniform", "chord"}));
    cmd.add_option("--report", o.report,
                   "with --tolerance or --scattered: CSV of every point's distance and foot parameters");
    cmd.add_option("--error-svg", o.errorSvg,
                   "with --tolerance or --scattered: SVG colour map of the distances over x, y");
}

int RunSurfaceFitTolerance(const SurfaceFitOptions& o) {
    using namespace VelSDK::NURBS;
    if (CurveFile::Extension(o.output) != ".xml" && !ExchangeFile::IsExchange(o.output))
        throw UsageError(o.output + ": surfaces are stored as XML documents (.xml), STEP (.step) or IGES (.igs)");
    if (!o.count.empty()) throw UsageError("--tolerance chooses the control-point counts (--count does not apply)");
    if (o.degree[0] < 1 || o.degree[0] > 9 || o.degree[1] < 1 || o.degree[1] > 9)
        throw UsageError("--degree: with --tolerance, degrees from 1 to 9");
    const PointGrid grid = PointReader::ReadGrid(o.grid);
    SurfaceApproximationOptions a;
    a.degreeU = static_cast<std::size_t>(o.degree[0]);
    a.degreeV = static_cast<std::size_t>(o.degree[1]);
    if (o.param == "uniform" && grid.rows > 1 && grid.cols > 1) {
        a.paramsU = UniformParameterization(grid.rows);
        a.paramsV = UniformParameterization(grid.cols);
    }
    const SurfaceFitResult r = ApproximateSurface(grid.points, o.tolerance, a);
    const SurfaceFitReport& rep = r.report;
    if (rep.status == SurfaceFitStatus::InvalidInput) throw InputError(Where(grid.file, 0, rep.message));
    if (ExchangeFile::IsExchange(o.output)) {
        VelSDK::Exchange::CadModel model;
        model.surfaces.push_back(r.surface);
        ExchangeFile::Save(model, o.output);
    } else {
        SurfaceFile::Save(r.surface, o.output);
    }
    const std::vector<VelSDK::Math::point<double, 3>>& Q = grid.points.Elements();
    if (!o.report.empty()) {
        CsvOutput csv(o.report);
        csv.Header({"row", "col", "x", "y", "z", "u", "v", "distance"});
        for (std::size_t k = 0; k < Q.size(); ++k) {
            csv.AddInteger(k / grid.cols);
            csv.AddInteger(k % grid.cols);
            for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(Q[k][c]);
            csv.AddNumber(rep.u[k]);
            csv.AddNumber(rep.v[k]);
            csv.AddNumber(rep.errors[k]);
            csv.EndRow();
        }
        csv.Finish();
    }
    if (!o.errorSvg.empty()) {
        std::vector<double> x(Q.size()), y(Q.size());
        for (std::size_t k = 0; k < Q.size(); ++k) {
            x[k] = Q[k][0];
            y[k] = Q[k][1];
        }
        ErrorMapOptions m;
        m.tolerance = o.tolerance;
        m.subtitle = grid.file + ": " + std::to_string(grid.rows) + " x " + std::to_string(grid.cols) + " points, " +
                     std::to_string(rep.controlPointsU) + " x " + std::to_string(rep.controlPointsV) +
                     " control points, max " + ShortNumber(rep.maxError) + ", rms " + ShortNumber(rep.rms);
        std::ofstream out(o.errorSvg, std::ios::binary);
        out << ErrorMapSvg(x, y, rep.errors, m);
        if (!out.flush()) throw InputError(o.errorSvg + ": cannot be written");
    }
    if (!o.quiet) {
        std::ostringstream s;
        s << "grid: " << grid.rows << " x " << grid.cols << '\n'
          << "degrees: " << a.degreeU << ", " << a.degreeV << '\n'
          << "parameters: " << (a.paramsU.empty() ? "averaged chord length" : "uniform") << '\n'
          << "control points: " << rep.controlPointsU << " x " << rep.controlPointsV << " ("
          << ShortNumber(100.0 * static_cast<double>(rep.controlPointsU * rep.controlPointsV) /
                         static_cast<double>(Q.size()))
          << " % of the points)\n"
          << "tolerance: " << ShortNumber(o.tolerance) << " - "
          << (rep.status == SurfaceFitStatus::ToleranceMet ? "met" : "NOT met") << '\n'
          << "max distance: " << ShortNumber(rep.maxError) << " (" << ShortNumber(rep.maxError / o.tolerance)
          << " x tolerance), row " << rep.worstIndex / grid.cols << ", column " << rep.worstIndex % grid.cols << '\n'
          << "rms distance: " << ShortNumber(rep.rms) << '\n'
          << "least-squares fits: " << rep.fits << '\n'
          << "written: " << o.output << '\n';
        if (!o.errorSvg.empty()) s << "error map: " << o.errorSvg << '\n';
        if (rep.status != SurfaceFitStatus::ToleranceMet) s << "note: " << rep.message << '\n';
        std::cout << s.str();
    }
    return kExitSuccess;
}

}  // namespace nurbs_tool
