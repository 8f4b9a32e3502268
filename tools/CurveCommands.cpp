// The curve subcommands of the nurbs program: fit, info, eval, segment, project, split, convert.
#include "Commands.h"

#include "CsvOutput.h"
#include "OptionParsing.h"
#include "CurveFile.h"
#include "ExchangeFile.h"
#include "Geometry.h"
#include "PointReader.h"
#include "Progress.h"
#include "ToolError.h"

#include <memory>
#include <CLI/CLI.hpp>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/CurveLocator.h>
#include <VelSDK/CurveArcLength.h>
#include <VelSDK/CurveProperties.h>

#include <cmath>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace nurbs_tool {

using VelSDK::Math::point;

namespace {

// Two consecutive data points closer than this (scaled length of their difference) are
// coincident: the same threshold as the fitting driver of V3dCurve.
constexpr double kCoincident = 1.4901161193847656e-08;

std::string Fmt(double v) { return CsvOutput::Format(v); }

/// The first consecutive pair closer than kCoincident, as an InputError naming both points.
[[noreturn]] void ReportCoincident(const PointList& list, const std::vector<point<double, 3>>& points) {
    for (std::size_t i = 1; i < points.size(); ++i) {
        const double d = VelSDK::Math::ScaledLength(points[i - 1] - points[i]);
        if (kCoincident > d) {
            throw InputError(Where(list.file, list.lines[i],
                                   "points " + std::to_string(i - 1) + " and " + std::to_string(i) + " (lines " +
                                       std::to_string(list.lines[i - 1]) + " and " + std::to_string(list.lines[i]) +
                                       ") coincide: distance " + ShortNumber(d) + " < 1.49e-08; remove one of them"));
        }
    }
    throw InputError(Where(list.file, 0, "two consecutive points coincide"));
}

bool HasCoincident(const std::vector<point<double, 3>>& points) {
    for (std::size_t i = 1; i < points.size(); ++i)
        if (kCoincident > VelSDK::Math::ScaledLength(points[i - 1] - points[i])) return true;
    return false;
}

point<double, 3> ToPoint(const std::vector<double>& v) { return point<double, 3>{v[0], v[1], v[2]}; }

void CheckInRange(const V3dCurveNurbsPlus& curve, double u, const std::string& option, const std::string& file) {
    const double a = curve.GetMinParameter();
    const double b = curve.GetMaxParameter();
    if (!(u >= a && u <= b))
        throw UsageError(option + ": " + Fmt(u) + " is outside the range [" + Fmt(a) + ", " + Fmt(b) + "] of " + file);
}

}  // namespace

void CheckTolerance(const V3dCurveNurbsPlus& curve, double tolerance) {
    // Below about 1e-12 of the curve's extent the polyline would need more vertices than
    // doubles can tell apart along the curve, and its halving would not end in useful time.
    const double floor = Geometry::ControlBox(curve).Diagonal() * 1e-12;
    if (tolerance < floor)
        throw UsageError("--tolerance " + ShortNumber(tolerance) + " is too small for this curve (at least " +
                         ShortNumber(floor) + ", 1e-12 of its extent)");
}

// --- fit ----------------------------------------------------------------------------------------

int RunFit(const FitOptions& o) {
    if (o.hasTolerance || o.smooth) return RunFitTolerance(o);
    CurveFile::FormatOf(o.output);  // an unknown extension is a usage error before any work
    const bool tangents = !o.startTangent.empty();
    if (o.closed && tangents) throw UsageError("--closed cannot be combined with end tangents");
    PointList list = PointReader::ReadPoints(o.points);
    std::vector<point<double, 3>>& points = list.points;

    // A closed loop given with its first point repeated at the end: the closed fit joins the
    // last point to the first itself, so the repeat would be a coincident pair.
    if (o.closed && points.size() >= 3 && kCoincident > VelSDK::Math::ScaledLength(points.front() - points.back())) {
        points.pop_back();
        list.lines.pop_back();
        if (!o.quiet)
            std::cerr << "nurbs fit: note: " << list.file << ": the last point repeats the first; it is left out of "
                      << "the closed fit\n";
    }
    const std::size_t order = static_cast<std::size_t>(o.order);
    if (points.size() < order)
        throw InputError(Where(list.file, 0,
                               std::to_string(points.size()) + (points.size() == 1 ? " point is" : " points are") +
                                   " too few for order " + std::to_string(order) + " (at least " +
                                   std::to_string(order) + " needed)"));
    if (o.closed && o.knots == "uniform" && !o.quiet)
        std::cerr << "nurbs fit: note: uniform knots under a closed loop make a badly conditioned system (often "
                     "singular with chord parameters); --knots average is the reliable choice\n";

    V3dCurveNurbsPlus curve;
    curve.SetOrder(static_cast<unsigned char>(order));
    curve.SetParametrization(o.param == "uniform" ? V3dCurveNurbsPlus::ParametrizationUniform
                                                  : V3dCurveNurbsPlus::ParametrizationChordLength);
    curve.SetKnotsGeneration(o.knots == "uniform" ? V3dCurveNurbsPlus::KnotsUniform
                                                  : V3dCurveNurbsPlus::KnotsAveraging);
    std::vector<double> parameters;
    V3dCurve::RCode rc;
    if (tangents) {
        // The fit with end derivatives does not test for coincident points itself.
        if (HasCoincident(points)) ReportCoincident(list, points);
        point<double, 3> d0 = ToPoint(o.startTangent);
        point<double, 3> d1 = ToPoint(o.endTangent);
        if (!o.rawTangents) {
            // Directions: scaled to the length of the point polygon, which is about the speed of
            // a curve parameterised over [0, 1] by chord length.
            double polygon = 0.0;
            for (std::size_t i = 1; i < points.size(); ++i) polygon += VelSDK::Math::Distance(points[i - 1], points[i]);
            const double l0 = VelSDK::Math::ScaledLength(d0);
            const double l1 = VelSDK::Math::ScaledLength(d1);
            if (!(l0 > 0.0) || !(l1 > 0.0)) throw UsageError("a tangent direction must not be zero");
            d0 = (polygon / l0) * d0;
            d1 = (polygon / l1) * d1;
        }
        rc = curve.FitWithEndDerivatives(parameters, points, std::make_pair(d0, d1));
    } else {
        rc = curve.Fit(parameters, points, o.closed);
    }
    if (rc == V3dCurve::CoincidentPoints) ReportCoincident(list, points);
    if (rc != V3dCurve::Success || !curve.IsValid())
        throw InputError(Where(list.file, 0,
                               "the fit failed: the interpolation system of these " + std::to_string(points.size()) +
                                   " points could not be solved" +
                                   (o.closed && o.knots == "uniform" ? " (try --knots average)" : "")));

    // How closely the curve meets the points at their own parameters.
    double maxError = 0.0;
    std::size_t maxAt = 0;
    for (std::size_t i = 0; i < points.size() && i < parameters.size(); ++i) {
        point<double, 3> c{};
        curve.EvaluatePosition(c, parameters[i]);
        const double e = VelSDK::Math::Distance(c, points[i]);
        if (e > maxError || std::isnan(e)) {
            maxError = e;
            maxAt = i;
        }
    }
    CurveFile::Save(curve, o.output);
    if (!o.quiet) {
        std::cout << "points: " << points.size() << '\n'
                  << "kind: "
                  << (o.closed   ? "closed"
                      : tangents ? "open, end tangents"
                                 : "open")
                  << '\n'
                  << "order: " << order << '\n'
                  << "control points: " << curve.GetNumberControlPoints() << '\n'
                  << "knots: " << curve.GetNumberKnots() << '\n'
                  << "max interpolation error: " << ShortNumber(maxError) << " (point " << maxAt << ")\n"
                  << "written: " << o.output << '\n';
    }
    return kExitSuccess;
}

// --- info ---------------------------------------------------------------------------------------

int RunInfo(const InfoOptions& o) {
    const V3dCurveNurbsPlus curve = CurveFile::Load(o.curve);
    const Box control = Geometry::ControlBox(curve);
    const double extent = control.Diagonal();
    const double tolerance = extent > 0.0 ? extent * 1e-6 : 1e-9;
    const Polyline line = Geometry::Segment(curve, tolerance);
    Box box;
    double length = 0.0;
    for (std::size_t i = 0; i < line.points.size(); ++i) {
        box.Add(line.points[i]);
        if (i > 0) length += VelSDK::Math::Distance(line.points[i - 1], line.points[i]);
    }
    const std::vector<double>& knots = curve.GetKnots();
    const std::vector<double> distinct = Geometry::DistinctKnotsInRange(curve);
    std::ostringstream out;
    out << "file: " << o.curve << '\n'
        << "order: " << static_cast<unsigned>(curve.GetOrder()) << " (degree " << (curve.GetOrder() - 1) << ")\n"
        << "control points: " << curve.GetNumberControlPoints() << '\n'
        << "knots: " << knots.size() << " (" << distinct.size() << " distinct values in the range)\n";
    if (knots.size() <= 24) {
        out << "knot vector:";
        for (double k : knots) out << ' ' << Fmt(k);
        out << '\n';
    }
    out << "range: [" << Fmt(curve.GetMinParameter()) << ", " << Fmt(curve.GetMaxParameter()) << "]\n"
        << "closed: " << (curve.IsClosedLoop() ? "yes" : "no") << '\n'
        << "clamped: " << (curve.IsClamped() ? "yes" : "no") << '\n'
        << "rational: " << (Geometry::IsRational(curve) ? "yes" : "no") << '\n';
    if (!box.empty) {
        out << "bounding box: x [" << ShortNumber(box.min[0]) << ", " << ShortNumber(box.max[0]) << "], y ["
            << ShortNumber(box.min[1]) << ", " << ShortNumber(box.max[1]) << "], z [" << ShortNumber(box.min[2]) << ", "
            << ShortNumber(box.max[2]) << "]\n";
    }
    out << "length: " << ShortNumber(length) << " (polyline of " << line.points.size() << " points within "
        << ShortNumber(tolerance) << ")\n";
    // Exact length (adaptive Gauss-Legendre) and the curvature range of the held NURBS curve.
    const VelSDK::NURBS::V3dNurbsCurve held(curve.GetControlPoints(), knots,
                                            static_cast<std::size_t>(curve.GetOrder()) - 1);
    const VelSDK::NURBS::ArcLengthResult arc = VelSDK::NURBS::ArcLength(held);
    if (arc.status == VelSDK::NURBS::AnalysisStatus::Success ||
        arc.status == VelSDK::NURBS::AnalysisStatus::NotConverged)
        out << "arc length: " << Fmt(arc.length) << " (error estimate " << ShortNumber(arc.errorEstimate) << ")\n";
    const VelSDK::NURBS::CurvatureRange kr = VelSDK::NURBS::FindCurvatureRange(held);
    if (kr.status == VelSDK::NURBS::AnalysisStatus::Success)
        out << "curvature: " << ShortNumber(kr.minimum) << " at u = " << ShortNumber(kr.minimumAt) << " to "
            << ShortNumber(kr.maximum) << " at u = " << ShortNumber(kr.maximumAt) << '\n';
    std::cout << out.str();
    return kExitSuccess;
}

// --- eval ---------------------------------------------------------------------------------------

int RunEval(const EvalOptions& o) {
    const V3dCurveNurbsPlus curve = CurveFile::Load(o.curve);
    std::vector<double> us = o.at;
    if (us.empty()) {
        const double a = curve.GetMinParameter();
        const double b = curve.GetMaxParameter();
        us.resize(o.samples);
        for (std::size_t i = 0; i < o.samples; ++i)
            us[i] = o.samples == 1       ? a
                    : i + 1 == o.samples ? b
                                         : a + (b - a) * (static_cast<double>(i) / static_cast<double>(o.samples - 1));
    }
    const std::size_t k = static_cast<std::size_t>(o.derivatives);
    // Orders above 2 come from the NURBS curve itself; up to 2 from the fitted curve's members.
    const VelSDK::NURBS::V3dNurbsCurve nurbs(curve.GetControlPoints(), curve.GetKnots(),
                                             static_cast<std::size_t>(curve.GetOrder()) - 1);
    std::vector<std::string> header{"u", "x", "y", "z"};
    for (std::size_t d = 1; d <= k; ++d)
        for (const char* c : {"x", "y", "z"}) header.push_back("d" + std::to_string(d) + c);
    if (o.curvature) header.insert(header.end(), {"curvature", "torsion"});
    std::vector<VelSDK::NURBS::Frame> frames;
    if (o.frames) {
        for (std::size_t i = 1; i < us.size(); ++i)
            if (!(us[i - 1] < us[i])) throw UsageError("--frames: the parameters must increase");
        for (double u : us)
            if (!(u >= nurbs.GetMinParam() && u <= nurbs.GetMaxParam()))
                throw UsageError("--frames: " + Fmt(u) + " is outside the range of " + o.curve);
        const VelSDK::NURBS::FrameResult fr = VelSDK::NURBS::RotationMinimizingFrames(nurbs, us);
        if (fr.status != VelSDK::NURBS::AnalysisStatus::Success &&
            fr.status != VelSDK::NURBS::AnalysisStatus::Degenerate)
            throw InputError(
                Where(o.curve, 0, "no frames: " + std::string(VelSDK::NURBS::AnalysisStatusText(fr.status))));
        frames = fr.frames;
        for (const char* c : {"tx", "ty", "tz", "nx", "ny", "nz", "bx", "by", "bz"}) header.push_back(c);
    }
    CsvOutput csv(o.output);
    csv.Header(header);
    Progress progress("eval", us.size());
    std::vector<point<double, 3>> values(k + 1, point<double, 3>{});
    for (std::size_t i = 0; i < us.size(); ++i) {
        const double u = us[i];
        if (k == 0) {
            curve.EvaluatePosition(values[0], u);
        } else if (k == 1) {
            curve.EvaluateSpeed(values[0], values[1], u);
        } else if (k == 2) {
            curve.EvaluateAcceleration(values[0], values[1], values[2], u);
        } else {
            values = nurbs.DeriveAt(u, k);
        }
        csv.AddNumber(u);
        for (std::size_t d = 0; d <= k; ++d)
            for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(values[d][c]);
        if (o.curvature) {
            const VelSDK::NURBS::CurveLocalProperties lp = VelSDK::NURBS::LocalProperties(nurbs, u);
            csv.AddNumber(lp.curvature);
            csv.AddNumber(lp.torsion);
        }
        if (o.frames)
            for (const auto* v : {&frames[i].tangent, &frames[i].normal, &frames[i].binormal})
                for (std::size_t c = 0; c < 3; ++c) csv.AddNumber((*v)[c]);
        csv.EndRow();
        progress.Update(i + 1);
    }
    csv.Finish();
    return kExitSuccess;
}

// --- segment ------------------------------------------------------------------------------------

int RunSegment(const SegmentOptions& o) {
    if (!(o.tolerance > 0.0) || !std::isfinite(o.tolerance)) throw UsageError("--tolerance must be a positive number");
    const V3dCurveNurbsPlus curve = CurveFile::Load(o.curve);
    for (std::size_t i = 0; i < o.keep.size(); ++i) {
        CheckInRange(curve, o.keep[i], "--keep", o.curve);
        if (i > 0 && o.keep[i - 1] > o.keep[i]) throw UsageError("--keep: the parameters must be in ascending order");
    }
    CheckTolerance(curve, o.tolerance);
    std::vector<double> parameters = o.keep;
    if (curve.Segment(parameters, o.tolerance, !o.keep.empty()) != V3dCurve::Success)
        throw InputError(Where(o.curve, 0, "segmentation failed"));
    CsvOutput csv(o.output);
    csv.Header({"u", "x", "y", "z"});
    for (double u : parameters) {
        point<double, 3> p{};
        curve.EvaluatePosition(p, u);
        csv.AddNumber(u);
        for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(p[c]);
        csv.EndRow();
    }
    csv.Finish();
    return kExitSuccess;
}

// --- project ------------------------------------------------------------------------------------

int RunProject(const ProjectOptions& o) {
    const V3dCurveNurbsPlus curve = CurveFile::Load(o.curve);
    const PointList queries = PointReader::ReadPoints(o.points);
    CsvOutput csv(o.output);
    csv.Header({"index", "u", "x", "y", "z", "distance", "converged"});
    Progress progress("project", queries.points.size());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Global: the nearest point over the whole curve (CurveLocator, built once). Local: the
    // fitted curve's Newton iteration from its own start value, which can stop on a branch
    // of the curve that passes near the point without being the nearest.
    const VelSDK::NURBS::CurveLocator locator(
        o.local ? VelSDK::NURBS::V3dNurbsCurve()
                : VelSDK::NURBS::V3dNurbsCurve(curve.GetControlPoints(), curve.GetKnots(), curve.GetOrder() - 1u));
    for (std::size_t i = 0; i < queries.points.size(); ++i) {
        const point<double, 3>& q = queries.points[i];
        double t = nan;
        point<double, 3> foot{nan, nan, nan};
        bool ok = false;
        if (o.local) {
            t = curve.GetMinParameter();
            ok = curve.ProjectPoint(t, q, o.tolerance, false) == V3dCurve::Success;
            if (ok) curve.EvaluatePosition(foot, t);
        } else {
            const VelSDK::NURBS::CurveNearest r = locator.Nearest(q);
            ok = r.status == VelSDK::NURBS::NearestStatus::Found;
            t = r.parameter;
            foot = r.point;
        }
        csv.AddInteger(i);
        csv.AddNumber(ok ? t : nan);
        for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(foot[c]);
        csv.AddNumber(ok ? VelSDK::Math::Distance(foot, q) : nan);
        csv.AddInteger(ok ? 1 : 0);
        csv.EndRow();
        progress.Update(i + 1);
    }
    csv.Finish();
    return kExitSuccess;
}

// --- split --------------------------------------------------------------------------------------

int RunSplit(const SplitOptions& o) {
    CurveFile::FormatOf(o.outputs.at(0));
    CurveFile::FormatOf(o.outputs.at(1));
    const V3dCurveNurbsPlus curve = CurveFile::Load(o.curve);
    const double a = curve.GetMinParameter();
    const double b = curve.GetMaxParameter();
    if (!(o.at > a && o.at < b))
        throw UsageError("--at: " + Fmt(o.at) + " is not strictly inside the range [" + Fmt(a) + ", " + Fmt(b) +
                         "] of " + o.curve);
    V3dCurveNurbsPlus left, right;
    if (curve.Split(left, right, o.at) != V3dCurve::Success)
        throw InputError(Where(o.curve, 0, "the curve cannot be split at " + Fmt(o.at)));
    CurveFile::Save(left, o.outputs[0]);
    CurveFile::Save(right, o.outputs[1]);
    std::cout << o.outputs[0] << ": " << left.GetNumberControlPoints() << " control points\n"
              << o.outputs[1] << ": " << right.GetNumberControlPoints() << " control points\n";
    return kExitSuccess;
}

// --- convert ------------------------------------------------------------------------------------

int RunConvert(const ConvertOptions& o) {
    if (ExchangeFile::IsExchange(o.input) || ExchangeFile::IsExchange(o.output)) return RunExchangeConvert(o);
    CurveFile::FormatOf(o.output);
    const V3dCurveNurbsPlus curve = CurveFile::Load(o.input);
    CurveFile::Save(curve, o.output);
    return kExitSuccess;
}

// --- command-line registration ------------------------------------------------------------------
// Each Add…Command declares one subcommand with its options, help and examples; its callback runs
// the command after CLI11 has parsed the whole line and stores the exit code.

void AddFitCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<FitOptions>();
    auto startTangent = std::make_shared<std::string>();
    auto endTangent = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("fit", "Fit a curve through data points and save it");
    auto batch = std::make_shared<FitBatchOptions>();
    cmd->add_option("POINTS", o->points, "data points (CSV or blank-separated; '-' = stdin)");
    cmd->add_option("-o,--output", o->output, "curve file to write (.xml or .nrb); with --batch the output folder")
        ->required();
    CLI::Option* batchOpt = cmd->add_option("--batch", batch->folder,
                                            "fit every point file (.csv .txt .xyz .pts .dat) of this folder: one "
                                            "curve per file in the output folder, and summary.csv");
    CLI::Option* jobsOpt =
        cmd->add_option("--jobs", batch->jobs, "with --batch: threads (default 0 = every hardware thread)")
            ->check(CLI::Range(std::size_t{0}, std::size_t{1024}));
    CLI::Option* formatOpt =
        cmd->add_option("--format", batch->format, "with --batch: curve files as xml (default) or nrb")
            ->check(CLI::IsMember({"xml", "nrb"}));
    jobsOpt->needs(batchOpt);
    formatOpt->needs(batchOpt);
    cmd->add_flag("--closed", o->closed, "fit a closed loop (the last point joins the first)");
    cmd->add_option("--order", o->order, "order = degree + 1 (2 = polyline, 4 = cubic)")->check(CLI::Range(2, 16));
    cmd->add_option("--param", o->param, "parameters: chord (chord length) or uniform")
        ->check(CLI::IsMember({"chord", "uniform"}));
    cmd->add_option("--knots", o->knots, "knot vector: average (averaged parameters) or uniform")
        ->check(CLI::IsMember({"average", "uniform"}));
    CLI::Option* st = cmd->add_option("--start-tangent", *startTangent, "direction at the first point, X,Y,Z");
    CLI::Option* et = cmd->add_option("--end-tangent", *endTangent, "direction at the last point, X,Y,Z");
    st->needs(et);
    et->needs(st);
    cmd->add_flag("--raw-tangents", o->rawTangents,
                  "use the tangents as first derivatives as given, instead of scaling the directions to the "
                  "length of the point polygon");
    cmd->add_flag("-q,--quiet", o->quiet, "print no summary");
    CLI::Option* tolOpt =
        cmd->add_option("-t,--tolerance", o->tolerance,
                        "approximate instead of interpolating: the fewest control points found that keep every point "
                        "within this distance; prints the distance report");
    cmd->add_flag("--smooth", o->smooth, "with --tolerance: a smoothing fit (curvature penalty) instead");
    cmd->add_option("--lambda", o->lambda, "with --smooth: the penalty weight (default: chosen from the tolerance)");
    cmd->footer(std::string(kPointFileHelp) +
                "\nOpen fits interpolate the points (as many control points as points); closed fits interpolate "
                "the loop; with both tangents the fit interpolates with prescribed end directions.\n"
                "Prefer --knots average for closed fits: uniform knots under a closed loop give a badly "
                "conditioned (with chord parameters often singular) system.\n"
                "Examples:\n"
                "  nurbs fit examples/data/glyph_S.csv --closed -o S.xml\n"
                "  nurbs fit examples/data/gps_open_3d.csv --order 3 --param uniform -o walk.nrb\n"
                "  nurbs fit upper.csv --start-tangent 0,1,0 --end-tangent 1,-0.1,0 -o upper.xml\n"
                "  nurbs fit --batch tracks/ -o curves/ --jobs 2\n"
                "  nurbs fit examples/data/gps_loop_3d.csv --closed --tolerance 5 -o loop.xml\n"
                "Batch mode: a file whose header has a line '# kind: closed' (or '# kind: open') is fitted "
                "so, the others as --closed says; summary.csv lists per file: closed, points, control points, "
                "max interpolation error, status and error. Exit 1 when any file failed (each is named).");
    cmd->callback([o, batch, startTangent, endTangent, tolOpt, &exitCode] {
        o->hasTolerance = tolOpt->count() > 0;
        if (!batch->folder.empty()) {
            if (!o->points.empty()) throw UsageError("give POINTS or --batch FOLDER, not both");
            if (!startTangent->empty()) throw UsageError("--batch cannot be combined with end tangents");
            if (tolOpt->count() > 0 || o->smooth) throw UsageError("--batch cannot be combined with --tolerance");
            batch->output = o->output;
            batch->closed = o->closed;
            batch->order = o->order;
            batch->param = o->param;
            batch->knots = o->knots;
            batch->quiet = o->quiet;
            exitCode = RunFitBatch(*batch);
            return;
        }
        if (o->points.empty()) throw UsageError("POINTS is required (or --batch FOLDER)");
        if (!startTangent->empty()) o->startTangent = ParseNumbers(*startTangent, "--start-tangent", 3);
        if (!endTangent->empty()) o->endTangent = ParseNumbers(*endTangent, "--end-tangent", 3);
        exitCode = RunFit(*o);
    });
}

void AddInfoCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Describe a curve: order, control points, knots, range, ...");
    cmd->add_option("CURVE", o->curve, "curve file (.xml or .nrb)")->required();
    cmd->footer("Examples:\n  nurbs info S.xml");
    cmd->callback([o, &exitCode] { exitCode = RunInfo(*o); });
}

void AddEvalCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<EvalOptions>();
    auto at = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("eval", "Evaluate points (and derivatives) of a curve as CSV");
    cmd->add_option("CURVE", o->curve, "curve file (.xml or .nrb)")->required();
    CLI::Option* atOpt = cmd->add_option("--at", *at, "parameters, U[,U...]");
    CLI::Option* samplesOpt =
        cmd->add_option("--samples", o->samples, "N parameters evenly spaced over the range (ends included)")
            ->check(CLI::Range(std::size_t{1}, std::size_t{100000000}));
    atOpt->excludes(samplesOpt);
    cmd->add_option("--derivatives", o->derivatives, "also the derivatives of order 1..K")->check(CLI::Range(0, 16));
    cmd->add_flag("--curvature", o->curvature, "also curvature and torsion (NaN where they do not exist)");
    cmd->add_flag("--frames", o->frames,
                  "also rotation-minimising frames: unit tangent, normal and binormal (parameters increasing)");
    cmd->add_option("-o,--output", o->output, "CSV file to write (default: standard output)");
    cmd->footer(
        "Columns: u,x,y,z then d1x,d1y,d1z, d2x,... for each derivative order, then curvature,torsion "
        "(--curvature) and tx..tz,nx..nz,bx..bz (--frames).\n"
        "Examples:\n  nurbs eval S.xml --samples 11\n  nurbs eval S.xml --at 0,0.25,0.5 --derivatives 2");
    cmd->callback([o, at, &exitCode] {
        if (!at->empty()) o->at = ParseNumbers(*at, "--at", 0);
        if (at->empty() && o->samples == 0) throw UsageError("give --at U[,U...] or --samples N");
        exitCode = RunEval(*o);
    });
}

void AddSegmentCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<SegmentOptions>();
    auto keep = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("segment", "Cut a curve into a polyline within a chord tolerance (CSV)");
    cmd->add_option("CURVE", o->curve, "curve file (.xml or .nrb)")->required();
    cmd->add_option("--tolerance", o->tolerance, "largest distance of the curve from a chord (> 0)")->required();
    cmd->add_option("--keep", *keep, "parameters that must be break points, U[,U...] (ascending)");
    cmd->add_option("-o,--output", o->output, "CSV file to write (default: standard output)");
    cmd->footer(
        "Columns: u,x,y,z, one row per polyline vertex.\n"
        "Examples:\n  nurbs segment S.xml --tolerance 0.5\n  nurbs segment walk.xml --tolerance 1 --keep 0.5");
    cmd->callback([o, keep, &exitCode] {
        if (!keep->empty()) o->keep = ParseNumbers(*keep, "--keep", 0);
        exitCode = RunSegment(*o);
    });
}

void AddProjectCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<ProjectOptions>();
    CLI::App* cmd = app.add_subcommand("project", "Project points onto a curve (CSV)");
    cmd->add_option("CURVE", o->curve, "curve file (.xml or .nrb)")->required();
    cmd->add_option("POINTS", o->points, "query points (CSV or blank-separated; '-' = stdin)")->required();
    auto* global = cmd->add_flag("--global", "nearest point over the whole curve (the default)");
    cmd->add_flag("--local", o->local,
                  "Newton iteration from the curve's own start value (fast, but can stop on the wrong branch "
                  "where the curve passes near itself)")
        ->excludes(global);
    cmd->add_option("--tolerance", o->tolerance, "convergence tolerance of the Newton iteration (--local)")
        ->check(CLI::PositiveNumber);
    cmd->add_option("-o,--output", o->output, "CSV file to write (default: standard output)");
    cmd->footer(
        "Columns: index,u,x,y,z,distance,converged (u = parameter of the foot point (x,y,z); converged = 1 when "
        "a point was found).\n"
        "Examples:\n  nurbs project loop.xml examples/data/proj_gps_loop_3d.csv\n"
        "  nurbs project loop.xml fixes.csv --local");
    cmd->callback([o, &exitCode] { exitCode = RunProject(*o); });
}

void AddSplitCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<SplitOptions>();
    CLI::App* cmd = app.add_subcommand("split", "Cut a curve in two at a parameter");
    cmd->add_option("CURVE", o->curve, "curve file (.xml or .nrb)")->required();
    cmd->add_option("--at", o->at, "parameter inside the range")->required();
    cmd->add_option("-o,--output", o->outputs, "the two curve files to write: LEFT RIGHT")->required()->expected(2);
    cmd->footer(
        "Both pieces are open curves with knots rescaled to [0, 1].\n"
        "Examples:\n  nurbs split walk.xml --at 0.5 -o first.xml second.xml");
    cmd->callback([o, &exitCode] { exitCode = RunSplit(*o); });
}

void AddConvertCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<ConvertOptions>();
    CLI::App* cmd =
        app.add_subcommand("convert", "Convert curves and surfaces between documents, records, STEP and IGES");
    cmd->add_option("IN", o->input, "file to read (.xml, .nrb, .step/.stp, .igs/.iges)")->required();
    cmd->add_option("OUT", o->output, "file to write (.xml, .nrb, .step/.stp, .igs/.iges)")->required();
    cmd->footer(
        "The format follows the extension: .xml = XML document (curve or surface), .nrb = binary record "
        "(curve), .step/.stp = STEP (ISO 10303-21, AP214, millimetres), .igs/.iges = IGES 5.3 (entities 126, "
        "128). From STEP or IGES to a document the first curve (else the first surface) is converted.\n"
        "Examples:\n  nurbs convert S.xml S.nrb\n  nurbs convert S.nrb S-copy.xml\n  nurbs convert S.xml "
        "S.step\n  nurbs convert volcano.xml volcano.igs\n  nurbs convert part.step part-surface.xml");
    cmd->callback([o, &exitCode] { exitCode = RunConvert(*o); });
}

}  // namespace nurbs_tool
