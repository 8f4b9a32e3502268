// Hostile input for the analysis and editing functions, one table: every function on curves
// that CheckCurve refuses (default-constructed, short of knots, degree 0, 65 or p >= n, NaN,
// infinite or decreasing knots, empty or infinitely long ranges, zero, negative or NaN weights,
// NaN or overflowing points) answers InvalidGeometry; on curves it accepts with extreme but
// finite data, every hostile number as parameter, length, tolerance or slack gets a documented
// status and stays within the allocation ceiling. (tests/analysis relies on this sweep for
// broken curves; it checks the refusals of broken surfaces itself.)
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using hostile::kInf;
using hostile::kNaN;

namespace {

// Every function, with the hostile number x in one argument (0.5 on refused curves).
std::vector<AnalysisStatus> Statuses(const V3dNurbsCurve& c, double x) {
    const double a = c.GetMinParam(), b = c.GetMaxParam();
    const int t = std::isfinite(x) ? 1 + static_cast<int>(std::fmod(std::fabs(x), 100.0)) : -1;
    const std::size_t count = x == 0.5 ? 3 : std::isnan(x) ? std::size_t{1} << 25 : x > 1 ? 1 : 0;
    double k = 0.0;
    const AnalysisStatus curvature = Curvatures(c, &x, 1, &k);
    EXPECT_TRUE(curvature == AnalysisStatus::Success || std::isnan(k));
    const CurveArcLength table(c);
    const ParameterResult at = table.ParameterAt(x);
    EXPECT_TRUE(at.status != AnalysisStatus::Success || (at.parameter >= a && at.parameter <= b));
    const AnalysisStatus frames = RotationMinimizingFrames(c, std::vector<double>(1, x)).status;
    const AnalysisStatus normal = RotationMinimizingFrames(c, std::vector<double>{a, b}, P3{x, x, x}).status;
    return {curvature,
            at.status,
            table.LengthAt(x).status,
            Reverse(c).status,
            Reparametrize(c, x, x + 1.0).status,
            ElevateDegree(c, t).status,
            DecomposeToBezier(c).status,
            RemoveKnot(c, x, 2, 1e-6).status,
            RemoveKnot(c, 0.5 * (a + b), 1, x).status,
            ReduceKnots(c, x).status,
            Join(c, c, x).status,
            ArcLength(c, x).status,
            ParameterAtLength(c, x).status,
            DivideBySpacing(c, x).status,
            DivideByCount(c, count).status,
            LocalProperties(c, x).status,
            FindCurvatureRange(c).status,
            frames,
            normal,
            TightBoundingBox(c, x).status};
}

TEST(HostileAnalysis, EveryFunctionOnEveryCurve) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    int index = 0;
    for (const auto& [c, wellFormed, checked] : hostile::Curves()) {
        SCOPED_TRACE(index++);
        const bool refused = !checked;
        ASSERT_EQ(CheckCurve(c), refused ? AnalysisStatus::InvalidGeometry : AnalysisStatus::Success);
        EXPECT_EQ(CountSpans(c) == 0, refused);
        // The degree-64 quadrature alone costs a second under the sanitizers: one argument there.
        const std::vector<double> xs = refused || c.GetDegree() > 7 ? std::vector<double>{0.5} : hostile::Numbers();
        for (double x : xs) {
            const std::vector<AnalysisStatus> s = Statuses(c, x);
            for (std::size_t i = 0; i < s.size(); ++i)
                EXPECT_TRUE(refused ? s[i] == AnalysisStatus::InvalidGeometry : s[i] <= AnalysisStatus::Gap)
                    << i << " at " << x;
        }
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

}  // namespace
