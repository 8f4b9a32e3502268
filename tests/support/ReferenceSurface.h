// Independent reference computations for surface tests: points and mixed derivatives of
// the homogeneous surface by direct summation of Cox-de Boor basis functions over the whole
// control grid, random surfaces, and a plain transcription of the nearest-knot-pair search.
#pragma once

#include <VelSDK/V3dNurbsSurface.h>

#include <cstddef>
#include <random>
#include <utility>

namespace VelSDK {
namespace NURBS {
namespace test {

/// d^k/du^k d^l/dv^l of sum_ij N(i,p)(u) N(j,q)(v) P(i,j), all four components, summed over
/// every control point with the recursive basis functions.
Math::point<double, 4> ReferenceSurfaceDerivativeH(const V3dNurbsSurface& s, double u, double v, std::size_t k,
                                                   std::size_t l);

/// Cartesian point of the reference homogeneous point.
Math::point<double, 3> ReferenceSurfacePoint(const V3dNurbsSurface& s, double u, double v);

/// A valid nU x nV surface with random knots (clamped or strictly increasing) and random
/// control points (weights in [0.5, 2] when rational).
V3dNurbsSurface RandomSurface(std::mt19937_64& rng, std::size_t nU, std::size_t nV, std::size_t p, std::size_t q,
                              bool clamped, bool rational);

/// The nearest knot pair found by evaluating EvaluateAtH at every (U knot, V knot) pair in
/// order and keeping the first strictly smaller distance.
std::pair<double, double> PlainStartSearch(const V3dNurbsSurface& s, const Math::point<double, 3>& P);

}  // namespace test
}  // namespace NURBS
}  // namespace VelSDK
