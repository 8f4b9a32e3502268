// Chord-tolerance refinement of a parameter list, shared by the generic segmentation of
// V3dCurve (positions through the virtual interface) and the fitted curve's own use of it
// (positions straight from its NURBS curve). Internal to the library.
#pragma once

#include <VelSDK/Point.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace VelSDK {
namespace Curve {
namespace detail {

using Point3 = VelSDK::Math::point<double, 3>;

// Distance from M to the chord A-B: the foot of the perpendicular is clamped to the chord's
// ends (A before it, B after it); the length is the plain Euclidean one.
inline double ChordDeviation(const Point3& A, const Point3& B, const Point3& M) {
    const double s = VelSDK::Math::SegmentParameter(M, A, B);
    Point3 foot;
    if (s < 0.0)
        foot = A;
    else if (s > 1.0)
        foot = B;
    else
        foot = VelSDK::Math::Lerp(A, B, s);
    return VelSDK::Math::Distance(M, foot);
}

// Rounding noise of positions whose largest absolute coordinate is m: 16 units in the last
// place of m (at 1e6 about 1.9e-9). Evaluation and the distance formula round every position by
// a few such units, so a deviation at or below this is not a shape the curve has, and halving
// an interval whose deviation stays there could only stop at the resolution of the parameter
// (after up to some 2^50 halvings per interval). NaN for a non-finite m.
inline double PositionNoise(double m) { return 16.0 * (std::nextafter(m, HUGE_VAL) - m); }

// Longest list a segmentation builds: 2^27 parameters (1 GiB of doubles; the chord refinement
// keeps a position and a flag beside each, about 66 bytes per entry at the end of a pass). A
// valid curve needs that many only for a tolerance near the rounding noise of its positions on a
// long, strongly curved curve; a curve evaluated far outside its knots (a range or a knot of
// 1e100 from a damaged file) extrapolates a polynomial over hundreds of orders of magnitude and
// would fill the memory. Beyond it std::length_error is thrown.
constexpr std::size_t kSegmentationLimit = std::size_t{1} << 27;

// The limit in force: kSegmentationLimit, lowered only by tests that reach the refusal quickly.
inline std::atomic<std::size_t>& SegmentationLimit() {
    static std::atomic<std::size_t> limit{kSegmentationLimit};
    return limit;
}

[[noreturn]] inline void ThrowSegmentationLimit() {
    throw std::length_error("VelSDK: segmentation would exceed " + std::to_string(SegmentationLimit().load()) +
                            " parameters");
}

inline double LargestMagnitude(const Point3& a, const Point3& b, const Point3& c) {
    double m = 0.0;
    for (const Point3* p : {&a, &b, &c})
        for (int i = 0; i < 3; ++i) m = std::fabs((*p)[i]) > m ? std::fabs((*p)[i]) : m;
    return m;
}

// Refines a non-empty parameter list pass after pass: every interval whose midpoint C(m),
// m = (t1 + t0) * 0.5, lies farther than the tolerance from the chord C(t0)-C(t1) is halved
// at (t0 + t1) * 0.5, and the two new halves are left for the next pass. Stops when a pass
// changes nothing. evaluate(t) returns C(t).
//
// Each pass is written into a second list instead of inserting in place (linear instead of
// quadratic per pass). Positions are kept with their parameters, and an interval that a pass
// found within the tolerance is not measured again: its end points and midpoint are the same,
// so it would pass again. The resulting list is the same as with in-place insertion and plain
// re-evaluation. Two guards let every input end, and neither acts where the plain halving
// could end: an interval whose midpoint equals one of its ends (or is NaN) is not halved, nor
// one whose deviation is within PositionNoise of the largest coordinate of its three positions
// (or whose positions are not finite). A refinement that would grow the list beyond
// SegmentationLimit() throws std::length_error, the list then in an unspecified state.
template <class Evaluate>
void RefineByChords(std::vector<double>& parameters, double tolerance, Evaluate&& evaluate) {
    const std::size_t count = parameters.size();
    const std::size_t limit = SegmentationLimit().load();
    std::vector<Point3> positions(count);
    for (std::size_t i = 0; i < count; ++i) positions[i] = evaluate(parameters[i]);
    if (count < 2) return;

    // open[i]: interval [i, i + 1] still has to be measured.
    std::vector<char> open(count - 1, 1);
    std::vector<double> nextParameters;
    std::vector<Point3> nextPositions;
    std::vector<char> nextOpen;

    bool changed;
    do {
        changed = false;
        const std::size_t n = parameters.size();
        nextParameters.clear();
        nextPositions.clear();
        nextOpen.clear();
        const std::size_t most = 2 * n - 1 < limit ? 2 * n - 1 : (n > limit ? n : limit);
        nextParameters.reserve(most);
        nextPositions.reserve(most);
        nextOpen.reserve(most);
        for (std::size_t i = 0; i + 1 < n; ++i) {
            const double t0 = parameters[i];
            const double t1 = parameters[i + 1];
            nextParameters.push_back(t0);
            nextPositions.push_back(positions[i]);
            if (!open[i]) {
                nextOpen.push_back(0);
                continue;
            }
            const Point3 m = evaluate((t1 + t0) * 0.5);
            const double deviation = ChordDeviation(positions[i], positions[i + 1], m);
            const double mid = (t0 + t1) * 0.5;
            if (deviation > tolerance && mid != t0 && mid != t1 && mid == mid &&
                deviation > PositionNoise(LargestMagnitude(positions[i], positions[i + 1], m))) {
                // This pass ends with at least the entries so far and one per interval left.
                if (nextParameters.size() + 1 + (n - 1 - i) > limit) ThrowSegmentationLimit();
                nextOpen.push_back(1);
                nextParameters.push_back(mid);
                nextPositions.push_back(m);
                nextOpen.push_back(1);
                changed = true;
            } else {
                nextOpen.push_back(0);
            }
        }
        nextParameters.push_back(parameters[n - 1]);
        nextPositions.push_back(positions[n - 1]);
        parameters.swap(nextParameters);
        positions.swap(nextPositions);
        open.swap(nextOpen);
    } while (changed);
}

}  // namespace detail
}  // namespace Curve
}  // namespace VelSDK
