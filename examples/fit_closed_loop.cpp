// Example host program: the typical request of a host application.
//
//   fit_closed_loop [points.csv] [tolerance-fraction]
//
// Reads a closed loop of measured points (default: the GPS hike loop shipped in
// examples/data), fits a closed cubic through them with averaged knots, cuts the curve into a
// polyline whose chords deviate from the curve by at most tolerance-fraction (default 1e-3)
// of the loop's size, projects a few points back onto the curve, and prints a summary.
#include <VelSDK/Nurbs.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using P3 = VelSDK::Math::point<double, 3>;

namespace {

// '#' lines are metadata, then the header line "x,y,z", then one point "x,y,z" per line.
bool ReadPoints(const std::string& path, std::vector<P3>& points) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == 'x') continue;
        std::stringstream ss(line);
        P3 p{};
        char comma = 0;
        if (!(ss >> p[0] >> comma >> p[1] >> comma >> p[2])) return false;
        points.push_back(p);
    }
    return true;
}

const char* Name(V3dCurve::RCode code) {
    switch (code) {
        case V3dCurve::Success:
            return "Success";
        case V3dCurve::CoincidentPoints:
            return "CoincidentPoints";
        case V3dCurve::Failure:
            return "Failure";
    }
    return "?";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : std::string(VELSDK_EXAMPLE_DATA_DIR) + "/gps_loop_3d.csv";
    const double fraction = argc > 2 ? std::atof(argv[2]) : 1e-3;

    std::vector<P3> points;
    if (!ReadPoints(path, points) || points.empty()) {
        std::fprintf(stderr, "cannot read points from %s\n", path.c_str());
        return 1;
    }
    P3 lo = points[0], hi = points[0];
    for (const P3& p : points)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    const double size = VelSDK::Math::Distance(lo, hi);
    std::printf("points            %zu from %s\n", points.size(), path.c_str());
    std::printf("bounding box      diagonal %.6g\n", size);

    // 1. Settings, then the closed fit (interpolation through every point).
    V3dCurveNurbsPlus curve;
    curve.SetOrder(4);
    curve.SetParametrization(V3dCurveNurbsPlus::ParametrizationChordLength);
    curve.SetKnotsGeneration(V3dCurveNurbsPlus::KnotsAveraging);
    std::vector<double> parameters;
    const V3dCurve::RCode fit = curve.Fit(parameters, points, true);
    std::printf("fit               %s\n", Name(fit));
    if (fit != V3dCurve::Success) return 2;
    std::printf("curve             order %d, %zu control points, %zu knots, range [%g, %g], %s\n",
                static_cast<int>(curve.GetOrder()), curve.GetNumberControlPoints(), curve.GetNumberKnots(),
                curve.GetMinParameter(), curve.GetMaxParameter(), curve.IsClosedLoop() ? "closed" : "open");

    // 2. The curve passes through the data points at their parameters.
    double worst = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        P3 c;
        curve.EvaluatePosition(c, parameters[i]);
        worst = std::max(worst, VelSDK::Math::Distance(c, points[i]));
    }
    std::printf("interpolation     largest distance at the fitted parameters %.3g\n", worst);

    // 3. Segmentation into a polyline.
    const double tolerance = fraction * size;
    std::vector<double> cuts;
    curve.Segment(cuts, tolerance, false);
    std::vector<P3> polyline;
    curve.ParametersToPoints(polyline, cuts);
    double length = 0.0, deviation = 0.0;
    for (std::size_t i = 0; i + 1 < polyline.size(); ++i) {
        length += VelSDK::Math::Distance(polyline[i], polyline[i + 1]);
        P3 m;
        curve.EvaluatePosition(m, 0.5 * (cuts[i] + cuts[i + 1]));
        const double s = std::min(1.0, std::max(0.0, VelSDK::Math::SegmentParameter(m, polyline[i], polyline[i + 1])));
        deviation = std::max(deviation, VelSDK::Math::Distance(m, VelSDK::Math::Lerp(polyline[i], polyline[i + 1], s)));
    }
    double dataLength = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i)
        dataLength += VelSDK::Math::Distance(points[i], points[(i + 1) % points.size()]);
    std::printf("segmentation      tolerance %.4g: %zu segments, polyline length %.6g (data polygon %.6g)\n", tolerance,
                cuts.size() - 1, length, dataLength);
    std::printf("                  largest midpoint deviation %.4g\n", deviation);

    // 4. Projection of a few points lifted off the curve.
    for (std::size_t i = 0; i < points.size(); i += points.size() / 4 + 1) {
        const P3 q{points[i][0] + 0.01 * size, points[i][1], points[i][2] + 0.01 * size};
        double t = 0.0;
        const double d = curve.Distance(q, 1e-9 * size, t);
        std::printf("projection        point %zu lifted by %.3g: parameter %.6f (fitted %.6f), distance %.4g\n", i,
                    0.01 * size * std::sqrt(2.0), t, parameters[i], d);
    }
    return 0;
}
