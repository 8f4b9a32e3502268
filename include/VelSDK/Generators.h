// Knot-vector and parameter generators for curve and surface fitting.
//
// Pure functions: no state, no error reporting. Arguments below the sizes a result
// can be built from give an empty vector (see each function).
#pragma once

#include <VelSDK/Export.h>

#include <cstddef>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// count values i / (count - 1), i = 0..count-1; count 1 gives {0.0}, count 0 an empty vector.
VELSDK_NURBS_API std::vector<double> UniformParameterization(std::size_t count);

/// The one-count parameterization for each of two counts (for example the U and V
/// directions of a surface grid), in argument order.
VELSDK_NURBS_API std::pair<std::vector<double>, std::vector<double>> UniformParameterization(std::size_t countU,
                                                                                             std::size_t countV);

/// Clamped uniform knot vector of knotCount knots for degree p: p + 1 zeros, interior
/// knots i * (1 / d) with d = knotCount - 2p - 1 spans, p + 1 ones.
/// Empty when knotCount < 2p + 1.
VELSDK_NURBS_API std::vector<double> UniformKnots(std::size_t knotCount, std::size_t p);

/// Periodic uniform knot vector: knot i = (i - p) * (1 / d), d = knotCount - 2p - 1, so the
/// range [knot p, knot (knotCount - p - 1)] is [0, 1]. Empty when knotCount <= 2p + 1.
VELSDK_NURBS_API std::vector<double> UniformKnotsClosed(std::size_t knotCount, std::size_t p);

/// Clamped knot vector by averaging p consecutive parameters (n + p + 1 knots for n
/// parameters). Empty when p = 0 or n < p.
VELSDK_NURBS_API std::vector<double> KnotAveraging(const std::vector<double>& u, std::size_t p);

/// Periodic knot vector by averaging p consecutive parameters (n + p + 1 knots), for
/// closed interpolation where the last p points repeat the first p. Empty when p = 0 or n < p.
VELSDK_NURBS_API std::vector<double> KnotAveragingClosed(const std::vector<double>& u, std::size_t p);

/// Clamped averaged knot vector with two extra control points for prescribed end
/// derivatives (n + p + 3 knots). Empty when p = 0 or n + 1 < p.
VELSDK_NURBS_API std::vector<double> KnotAveragingWithEndDerivatives(const std::vector<double>& u, std::size_t p);

}  // namespace NURBS
}  // namespace VelSDK
