// The typical request of a host application, end to end through the public headers, on
// real measured loops and outlines: fit, check interpolation at the returned parameters,
// segment, check every chord against dense samples of the curve, project the data back.
#include <VelSDK/Nurbs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using P3 = VelSDK::Math::point<double, 3>;

std::vector<P3> ReadPoints(const std::string& name) {
    std::ifstream in(std::string(VELSDK_DATA_DIR) + "/" + name);
    std::vector<P3> pts;
    for (std::string line; std::getline(in, line);) {
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream ss(line);
        P3 p{};
        if (ss >> p[0] >> p[1] >> p[2]) pts.push_back(p);  // comment and header lines do not parse
    }
    return pts;
}

// Diagonal of the bounding box.
double Size(const std::vector<P3>& pts) {
    P3 lo = pts[0], hi = pts[0];
    for (const P3& p : pts)
        for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
    return VelSDK::Math::Distance(lo, hi);
}

// Largest distance of the curve between consecutive parameters from the chord joining them,
// over 64 samples per segment, relative to the tolerance.
double WorstChordRatio(const V3dCurve& c, const std::vector<double>& t, double tol) {
    double worst = 0.0;
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
        P3 a, b;
        c.EvaluatePosition(a, t[i]);
        c.EvaluatePosition(b, t[i + 1]);
        for (int k = 1; k < 64; ++k) {
            P3 m;
            c.EvaluatePosition(m, t[i] + (t[i + 1] - t[i]) * k / 64.0);
            const double s = std::min(1.0, std::max(0.0, VelSDK::Math::SegmentParameter(m, a, b)));
            worst = std::max(worst, VelSDK::Math::Distance(m, VelSDK::Math::Lerp(a, b, s)) / tol);
        }
    }
    return worst;
}

// One request per data set: fit, check interpolation at the returned parameters and the smooth
// closure of loops, segment (generic refinement at chord midpoints for loops, Bezier flatness for
// the open cubic, whose knots are all break points), check every chord against dense samples of
// the curve, project the data back.
void FitSegmentProject(const std::vector<P3>& pts, int order, bool closed) {
    ASSERT_GT(pts.size(), 100u);
    const double size = Size(pts);
    V3dCurveNurbsPlus c;
    c.SetOrder(static_cast<unsigned char>(order));
    std::vector<double> u;
    ASSERT_EQ(c.Fit(u, pts, closed), V3dCurve::Success);
    ASSERT_EQ(u.size(), pts.size());
    for (std::size_t k = 0; k < pts.size(); ++k) {
        ASSERT_TRUE(k == 0 || u[k - 1] < u[k]);
        P3 p;
        c.EvaluatePosition(p, u[k]);
        EXPECT_LT(VelSDK::Math::Distance(p, pts[k]), (closed ? 1e-9 : 1e-8) * size) << k;
    }
    // Loops are measured at chord midpoints; dense samples stay within the tolerance up to the
    // difference between the midpoint and the farthest point of a nearly parabolic arc.
    const double tol = 1e-3 * size;
    std::vector<double> t;
    ASSERT_EQ(c.Segment(t, tol, false), V3dCurve::Success);
    EXPECT_TRUE(t.front() == 0.0 && t.back() == 1.0);
    EXPECT_EQ(std::adjacent_find(t.begin(), t.end(), std::greater_equal<double>()), t.end());  // increasing
    EXPECT_LE(WorstChordRatio(c, t, tol), 1.0);
    std::vector<P3> poly;
    ASSERT_EQ(c.Segment(poly, tol), V3dCurve::Success);
    ASSERT_EQ(poly.size(), t.size());
    for (std::size_t k = 0; k < pts.size(); k += 7) {
        double s = 0.0;
        ASSERT_EQ(c.ProjectPoint(s, pts[k], 1e-9 * size, false), V3dCurve::Success) << k;
        P3 p;
        c.EvaluatePosition(p, s);
        EXPECT_LT(VelSDK::Math::Distance(p, pts[k]), 1e-6 * size) << k;
    }
}

TEST(V3dCurveNurbsPlusEndToEnd, MeasuredLoopsOutlinesAndWalk) {
    for (const char* name : {"glyph_S.csv", "glyph_g.csv", "glyph_ampersand.csv"}) {
        SCOPED_TRACE(name);
        FitSegmentProject(ReadPoints(name), 3, true);
        FitSegmentProject(ReadPoints(name), 4, true);
    }
    FitSegmentProject(ReadPoints("gps_loop_3d.csv"), 4, true);
    FitSegmentProject(ReadPoints("gps_open_3d.csv"), 4, false);
}

}  // namespace
