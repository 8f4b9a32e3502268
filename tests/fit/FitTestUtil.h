// Helpers of the approximation tests: data files, and the true distance of a point to a curve
// computed independently of the library's projection (dense sampling, then golden-section
// refinement around the nearest sample).
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>

#include "bench/GpsTracks.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace test {

using P3 = Math::point<double, 3>;

/// A data set of examples/data (x,y,z rows after a header and '#' comments).
inline std::vector<P3> ReadDataSet(const std::string& name) {
    return gps_tracks::ReadCsv(std::string(VELSDK_DATA_DIR) + "/" + name + ".csv");
}

/// Samples of the curve at `count` + 1 evenly spaced parameters of its range.
struct DenseCurve {
    DenseCurve(const V3dNurbsCurve& c, std::size_t count) : curve(c) {
        const double a = c.GetMinParam(), b = c.GetMaxParam();
        for (std::size_t i = 0; i <= count; ++i) {
            params.push_back(a + (b - a) * static_cast<double>(i) / static_cast<double>(count));
            points.push_back(c.EvaluateAt(params.back()));
            if (i > 0) step = std::max(step, Math::Distance(points[i - 1], points[i]));
        }
    }
    /// Minimum over the samples, refined by golden-section search on the two sample intervals
    /// around every local minimum of the samples that could hide a nearer foot point (several
    /// strands of a curve can pass the point; the distance is unimodal there once the samples
    /// are dense); at either end of the range the foot may lie at the other end (closed curves).
    double TrueDistance(const P3& q) const {
        std::vector<double> d;
        for (const P3& x : points) d.push_back(Math::Distance(x, q));
        const std::size_t last = points.size() - 1;
        const double best = *std::min_element(d.begin(), d.end());
        double r = best;
        for (std::size_t i = 0; i <= last; ++i) {
            if ((i > 0 && d[i] > d[i - 1]) || (i < last && d[i] > d[i + 1]) || d[i] > best + step) continue;
            r = std::min(r, Refine(q, params[i > 0 ? i - 1 : 0], params[i < last ? i + 1 : last]));
            if (i == 0) r = std::min(r, Refine(q, params[last - 1], params[last]));
            if (i == last) r = std::min(r, Refine(q, params[0], params[1]));
        }
        return r;
    }
    double Refine(const P3& q, double lo, double hi) const {
        const double g = 0.5 * (std::sqrt(5.0) - 1.0);
        for (int it = 0; it < 80; ++it) {
            const double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
            const bool left = Math::Distance(curve.EvaluateAt(x1), q) < Math::Distance(curve.EvaluateAt(x2), q);
            (left ? hi : lo) = left ? x2 : x1;
        }
        return Math::Distance(curve.EvaluateAt(0.5 * (lo + hi)), q);
    }
    const V3dNurbsCurve& curve;
    double step = 0.0;  // the longest chord between consecutive samples
    std::vector<double> params;
    std::vector<P3> points;
};

}  // namespace test
}  // namespace NURBS
}  // namespace VelSDK
