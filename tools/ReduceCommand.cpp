// nurbs reduce: data reduction of a curve by knot removal within a tolerance.
#include "Commands.h"

#include "CurveFile.h"
#include "OptionParsing.h"
#include "ToolError.h"

#include <CLI/CLI.hpp>
#include <VelSDK/CurveArcLength.h>
#include <VelSDK/KnotRemoval.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace nurbs_tool {

namespace {

int RunReduce(const ReduceOptions& o) {
    if (!(o.tolerance > 0.0) || !std::isfinite(o.tolerance))
        throw UsageError("-t/--tolerance must be a positive number");
    CurveFile::FormatOf(o.output);
    const V3dCurveNurbsPlus curve = CurveFile::Load(o.input);
    const VelSDK::NURBS::V3dNurbsCurve held(curve.GetControlPoints(), curve.GetKnots(),
                                            static_cast<std::size_t>(curve.GetOrder()) - 1);
    const VelSDK::NURBS::KnotRemovalResult r = VelSDK::NURBS::ReduceKnots(held, o.tolerance);
    if (r.status != VelSDK::NURBS::AnalysisStatus::Success)
        throw InputError(
            Where(o.input, 0, std::string("cannot reduce: ") + VelSDK::NURBS::AnalysisStatusText(r.status)));
    V3dCurveNurbsPlus out;
    if (out.Reset(r.curve.GetControlPoints(), r.curve.GetKnots(), curve.GetOrder(), false) != V3dCurve::Success)
        throw InputError(Where(o.input, 0, "the reduced curve cannot be stored"));
    CurveFile::Save(out, o.output);
    if (!o.quiet) {
        std::ostringstream s;
        s << "knots: " << held.GetKnots().size() << " -> " << r.curve.GetKnots().size() << " (" << r.removed
          << " removed)\n"
          << "control points: " << held.GetControlPoints().size() << " -> " << r.curve.GetControlPoints().size() << '\n'
          << "deviation: at most " << ShortNumber(r.deviationBound) << " (sampled " << ShortNumber(r.sampledDeviation)
          << ", tolerance " << ShortNumber(o.tolerance) << ")\n"
          << "written: " << o.output << '\n';
        std::cout << s.str();
    }
    return kExitSuccess;
}

}  // namespace

void AddReduceCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<ReduceOptions>();
    CLI::App* cmd =
        app.add_subcommand("reduce", "Remove every knot that can go while the curve stays within a tolerance");
    cmd->add_option("IN", o->input, "curve file to read (.xml or .nrb)")->required();
    cmd->add_option("-t,--tolerance", o->tolerance, "largest distance from the input curve (> 0)")->required();
    cmd->add_option("-o,--output", o->output, "curve file to write (.xml or .nrb)")->required();
    cmd->add_flag("-q,--quiet", o->quiet, "print nothing");
    cmd->footer(
        "Knot removal (The NURBS Book A5.8) with the distance to the input checked for every removal; the "
        "result is clamped and never farther than the tolerance from the input.\n"
        "Examples:\n  nurbs reduce walk.xml -t 0.5 -o walk-small.xml");
    cmd->callback([o, &exitCode] { exitCode = RunReduce(*o); });
}

}  // namespace nurbs_tool
