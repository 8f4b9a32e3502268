// nurbs fit --tolerance T: approximation within a distance of every point, with the report of
// the distances (largest, rms, worst point) and whether the tolerance was met.
#include "Commands.h"

#include "CurveFile.h"
#include "OptionParsing.h"
#include "PointReader.h"
#include "ToolError.h"

#include <VelSDK/ApproximateToTolerance.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <cmath>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace nurbs_tool {

int RunFitTolerance(const FitOptions& o) {
    using namespace VelSDK::NURBS;
    CurveFile::FormatOf(o.output);
    if (!(o.tolerance > 0.0) || !std::isfinite(o.tolerance))
        throw UsageError("--tolerance must be a positive number (" + ShortNumber(o.tolerance) + " given)");
    if (o.order < 2 || o.order > 6) throw UsageError("--tolerance fits orders 2 to 6 (degrees 1 to 5)");
    const bool tangents = !o.startTangent.empty();
    if (o.closed && tangents) throw UsageError("--closed cannot be combined with end tangents");
    if (o.param != "chord" || o.knots != "average" || o.rawTangents)
        throw UsageError(
            "--tolerance chooses its own parameters and knots (--param, --knots and --raw-tangents "
            "do not apply)");
    PointList list = PointReader::ReadPoints(o.points);
    std::vector<VelSDK::Math::point<double, 3>>& points = list.points;
    if (o.closed && points.size() >= 3 && points.front() == points.back()) {
        points.pop_back();
        list.lines.pop_back();
        if (!o.quiet)
            std::cerr << "nurbs fit: note: " << list.file << ": the last point repeats the first; it is left out of "
                      << "the closed fit\n";
    }
    ApproximationOptions a;
    a.degree = static_cast<std::size_t>(o.order - 1);
    a.closed = o.closed;
    if (tangents) {
        a.useStartTangent = a.useEndTangent = true;
        a.startTangent = {o.startTangent[0], o.startTangent[1], o.startTangent[2]};
        a.endTangent = {o.endTangent[0], o.endTangent[1], o.endTangent[2]};
    }
    if (o.smooth) {
        a.method = ApproximationMethod::Smoothing;
        a.smoothing = o.lambda;
    }
    const ApproximationResult r = ApproximateToTolerance(points, o.tolerance, a);
    const ApproximationReport& rep = r.report;
    if (rep.status == ApproximationStatus::InvalidInput) throw InputError(Where(list.file, 0, rep.message));

    V3dCurveNurbsPlus curve;
    if (curve.Reset(r.curve.GetControlPoints(), r.curve.GetKnots(), static_cast<unsigned char>(o.order), o.closed) !=
        V3dCurve::Success)
        throw InputError(Where(list.file, 0, "the approximating curve cannot be stored"));
    CurveFile::Save(curve, o.output);
    if (!o.quiet) {
        const std::size_t worstLine = rep.worstIndex < list.lines.size() ? list.lines[rep.worstIndex] : 0;
        std::ostringstream s;
        s << "points: " << points.size() << '\n'
          << "kind: "
          << (o.closed   ? "closed (periodic)"
              : tangents ? "open, end tangents"
                         : "open")
          << '\n'
          << "order: " << o.order << '\n'
          << "method: "
          << (o.smooth ? "smoothing, lambda " + ShortNumber(rep.smoothing) : std::string("knot placement")) << '\n'
          << "control points: " << rep.controlPoints << " distinct"
          << (o.closed ? " (" + std::to_string(curve.GetNumberControlPoints()) + " stored)" : std::string()) << '\n'
          << "tolerance: " << ShortNumber(o.tolerance) << " - "
          << (rep.status == ApproximationStatus::ToleranceMet ? "met" : "NOT met") << '\n'
          << "max distance: " << ShortNumber(rep.maxError) << " (" << ShortNumber(rep.maxError / o.tolerance)
          << " x tolerance), point " << rep.worstIndex << " (line " << worstLine << ")\n"
          << "rms distance: " << ShortNumber(rep.rms) << '\n'
          << "least-squares fits: " << rep.fits << '\n'
          << "written: " << o.output << '\n';
        if (rep.status != ApproximationStatus::ToleranceMet) s << "note: " << rep.message << '\n';
        std::cout << s.str();
    }
    return kExitSuccess;
}

}  // namespace nurbs_tool
