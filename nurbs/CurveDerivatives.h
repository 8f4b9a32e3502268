// Allocation-free point-and-derivative evaluation of a NURBS curve on raw arrays, shared
// by V3dNurbsCurve::DeriveAt and the fitted curve's speed and acceleration.
#pragma once

#include <VelSDK/Point.h>

#include <cstddef>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// Homogeneous derivatives 0..q (q <= p) of the curve (ctrl[0..n-1], knots U, degree p,
/// p < n) at u into out[0..q]: each a sum over j = 0..p from the zero point. Work buffers
/// stay on the stack up to the stack degree.
void DeriveHomogeneous(const Math::point<double, 4>* ctrl, const double* U, std::size_t n, std::size_t p, double u,
                       std::size_t q, Math::point<double, 4>* out);

/// Cartesian point and derivatives 0..k at u into out[0..k] by the quotient rule
/// (The NURBS Book, A4.2) in increasing order; orders above the degree are zero, also for
/// rational curves. Same requirements as DeriveHomogeneous.
void DeriveCartesian(const Math::point<double, 4>* ctrl, const double* U, std::size_t n, std::size_t p, double u,
                     std::size_t k, Math::point<double, 3>* out);

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK
