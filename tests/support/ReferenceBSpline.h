// Independent reference computations for tests: B-spline basis functions by the recursive
// Cox-de Boor definition, curve points by direct summation over all control points, and
// derivatives of the rational curve by finite differences. Deliberately simple and slow.
#pragma once

#include <VelSDK/Point.h>

#include <cstddef>
#include <random>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace test {

/// N(i, p)(u) by the Cox-de Boor recursion with the convention 0/0 = 0. Degree-0 functions
/// are 1 on [U[i], U[i+1]); `lastSpan` makes the span that ends at the right end closed.
double CoxDeBoor(const std::vector<double>& U, std::size_t i, std::size_t p, double u, double uMax);

/// d^k/du^k N(i, p)(u) by the derivative recursion (The NURBS Book, eq. 2.9).
double CoxDeBoorDerivative(const std::vector<double>& U, std::size_t i, std::size_t p, std::size_t k, double u,
                           double uMax);

/// Homogeneous point sum_i N(i,p)(u) P_i over all control points.
Math::point<double, 4> ReferencePointH(const std::vector<Math::point<double, 4>>& P, const std::vector<double>& U,
                                       std::size_t p, double u);

/// Random non-decreasing knot vector of n + p + 1 knots on [0, 1] (clamped or not), with
/// occasional repeated interior knots of multiplicity up to p.
std::vector<double> RandomKnots(std::mt19937_64& rng, std::size_t n, std::size_t p, bool clamped);

/// n random homogeneous control points; weights in [0.5, 2] when rational, else 1.
std::vector<Math::point<double, 4>> RandomControlPoints(std::mt19937_64& rng, std::size_t n, bool rational);

}  // namespace test
}  // namespace NURBS
}  // namespace VelSDK
