// nurbs surface fit --scattered POINTS: a height field (or, with --cloud, a surface through a 3-D
// cloud) fitted to scattered points, with the report of the distances, a CSV of every point's
// distance, and a colour map of the distances (tools/ErrorMap).
#include "Commands.h"

#include "CsvOutput.h"
#include "CurveFile.h"
#include "ErrorMap.h"
#include "ExchangeFile.h"
#include "OptionParsing.h"
#include "PointReader.h"
#include "Progress.h"
#include "SurfaceFile.h"
#include "ToolError.h"

#include <CLI/CLI.hpp>
#include <VelSDK/ScatteredFit.h>

#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace nurbs_tool {

void AddSurfaceScatteredOptions(CLI::App& cmd, SurfaceFitOptions& o) {
    cmd.add_option("--scattered", o.scattered,
                   "fit scattered points (x,y,z per line) instead of a grid: a height field z = f(x, y)");
    cmd.add_flag("--cloud", o.cloud, "with --scattered: a surface through a 3-D cloud (not a height field)");
    cmd.add_option("--smoothing", o.smoothing,
                   "with --scattered: weight of the thin-plate energy (default: chosen by cross-validation, or "
                   "the largest that meets --tolerance)")
        ->check(CLI::NonNegativeNumber);
}

int RunSurfaceFitScattered(const SurfaceFitOptions& o) {
    using namespace VelSDK::NURBS;
    if (!o.grid.empty()) throw UsageError("--scattered reads its points from its own file: give no GRID");
    if (o.degree[0] < 1 || o.degree[0] > 5 || o.degree[1] < 1 || o.degree[1] > 5)
        throw UsageError("--degree: with --scattered, degrees from 1 to 5");
    const PointList pts = PointReader::ReadPoints(o.scattered);
    ScatteredFitOptions s;
    s.degreeU = static_cast<std::size_t>(o.degree[0]);
    s.degreeV = static_cast<std::size_t>(o.degree[1]);
    if (!o.count.empty()) {
        s.controlPointsU = o.count[0];
        s.controlPointsV = o.count[1];
    }
    s.tolerance = o.tolerance;
    if (o.smoothing >= 0.0) s.smoothing = o.smoothing;
    std::unique_ptr<Progress> bar;
    const bool big = pts.points.size() >= 20000;
    s.progress = [&](std::size_t done, std::size_t planned) {
        if (!bar) bar.reset(new Progress("surface fit", planned, big ? 1 : std::numeric_limits<std::size_t>::max()));
        bar->Update(done);
    };
    const SurfaceFitResult r = o.cloud ? FitPointCloud(pts.points, {}, s) : FitHeightField(pts.points, s);
    bar.reset();
    const SurfaceFitReport& rep = r.report;
    if (rep.status == SurfaceFitStatus::InvalidInput) throw InputError(Where(pts.file, 0, rep.message));
    if (ExchangeFile::IsExchange(o.output)) {
        VelSDK::Exchange::CadModel model;
        model.surfaces.push_back(r.surface);
        ExchangeFile::Save(model, o.output);
    } else {
        SurfaceFile::Save(r.surface, o.output);
    }
    const auto& Q = pts.points;
    if (!o.report.empty()) {
        CsvOutput csv(o.report);
        csv.Header({"index", "x", "y", "z", "u", "v", "distance"});
        for (std::size_t k = 0; k < Q.size(); ++k) {
            csv.AddInteger(k);
            for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(Q[k][c]);
            csv.AddNumber(rep.u[k]);
            csv.AddNumber(rep.v[k]);
            csv.AddNumber(rep.errors[k]);
            csv.EndRow();
        }
        csv.Finish();
    }
    const char* distance = o.cloud ? "distance" : "vertical distance";
    if (!o.errorSvg.empty()) {
        std::vector<double> x(Q.size()), y(Q.size());
        for (std::size_t k = 0; k < Q.size(); ++k) {
            x[k] = o.cloud ? rep.u[k] : Q[k][0];
            y[k] = o.cloud ? rep.v[k] : Q[k][1];
        }
        ErrorMapOptions m;
        m.title = std::string(o.cloud ? "Distance" : "Vertical distance") + " of the scattered points to the surface";
        m.tolerance = o.tolerance;
        if (o.cloud) {
            m.xName = "u";
            m.yName = "v";
        }
        m.subtitle = pts.file + ": " + std::to_string(Q.size()) + " points, " + std::to_string(rep.controlPointsU) +
                     " x " + std::to_string(rep.controlPointsV) + " control points, max " + ShortNumber(rep.maxError) +
                     ", rms " + ShortNumber(rep.rms);
        std::ofstream out(o.errorSvg, std::ios::binary);
        out << ErrorMapSvg(x, y, rep.errors, m);
        if (!out.flush()) throw InputError(o.errorSvg + ": cannot be written");
    }
    if (!o.quiet) {
        std::ostringstream t;
        t << "points: " << Q.size() << (o.cloud ? " (cloud)" : " (height field)") << '\n'
          << "degrees: " << s.degreeU << ", " << s.degreeV << '\n'
          << "control points: " << rep.controlPointsU << " x " << rep.controlPointsV << " ("
          << ShortNumber(100.0 * static_cast<double>(rep.controlPointsU * rep.controlPointsV) /
                         static_cast<double>(Q.size()))
          << " % of the points)\n"
          << "smoothing: " << ShortNumber(rep.smoothing)
          << (o.smoothing >= 0.0  ? ""
              : o.tolerance > 0.0 ? " (largest meeting the tolerance)"
                                  : " (cross-validation)")
          << '\n';
        if (o.tolerance > 0.0)
            t << "tolerance: " << ShortNumber(o.tolerance) << " - "
              << (rep.status == SurfaceFitStatus::ToleranceMet ? "met" : "NOT met") << '\n';
        t << "max " << distance << ": " << ShortNumber(rep.maxError) << " (point " << rep.worstIndex << ")\n"
          << "rms " << distance << ": " << ShortNumber(rep.rms) << '\n';
        for (std::size_t i = 0; o.cloud && i < rep.maxErrorPerRound.size(); ++i)
            t << "correction round " << i << ": max " << ShortNumber(rep.maxErrorPerRound[i]) << ", rms "
              << ShortNumber(rep.rmsPerRound[i]) << '\n';
        t << "least-squares fits: " << rep.fits << '\n' << "written: " << o.output << '\n';
        if (!o.errorSvg.empty()) t << "error map: " << o.errorSvg << '\n';
        if (rep.status != SurfaceFitStatus::ToleranceMet) t << "note: " << rep.message << '\n';
        std::cout << t.str();
    }
    return kExitSuccess;
}

}  // namespace nurbs_tool
