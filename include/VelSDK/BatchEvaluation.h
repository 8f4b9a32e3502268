// Batch evaluation: one curve or surface evaluated at many parameters on several threads.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>
#include <VelSDK/VMatrix.h>

#include <cstddef>
#include <utility>
#include <vector>

namespace VelSDK {
namespace Batch {

/// Batch calls of the library share these rules:
/// - threads: the number of threads the batch runs on; 0 = every hardware thread, 1 = the
///   calling thread only (no thread is started). Never more threads than work chunks.
/// - Determinism: item i is computed by exactly the single call named for it, so its result
///   is bit for bit the single call's, whatever the thread count and chunking.
/// - Thread safety: the batch only reads the curve or surface it is given (const members,
///   which may run concurrently on one object); the caller must not change that object, nor
///   the input arrays, nor touch the output arrays while the batch runs. Distinct batches may
///   run at the same time. Every worker has finished when the call returns.
/// - Exceptions: evaluation items cannot fail (bad input gives NaN as in the single call);
///   an exception of the single call (std::bad_alloc, std::length_error for an impossible
///   derivative order) reaches the calling thread after every worker has stopped, and the
///   output is then partly written. Nothing is ever thrown on a worker thread.

/// xyz[3 i .. 3 i + 2] = curve.EvaluateAt(u[i]) for i < count.
VELSDK_NURBS_API void EvaluateMany(const NURBS::V3dNurbsCurve& curve, const double* u, std::size_t count, double* xyz,
                                   std::size_t threads);
/// result[i] = curve.EvaluateAt(u[i]).
VELSDK_NURBS_API std::vector<Math::point<double, 3>> EvaluateMany(const NURBS::V3dNurbsCurve& curve,
                                                                  const std::vector<double>& u, std::size_t threads);

/// xyz[3 ((k + 1) i + j) ..] = curve.DeriveAt(u[i], k)[j] for i < count, j <= k: each item
/// takes 3 (k + 1) doubles.
VELSDK_NURBS_API void DeriveMany(const NURBS::V3dNurbsCurve& curve, const double* u, std::size_t count, std::size_t k,
                                 double* xyz, std::size_t threads);
/// result[i] = curve.DeriveAt(u[i], k).
VELSDK_NURBS_API std::vector<std::vector<Math::point<double, 3>>> DeriveMany(const NURBS::V3dNurbsCurve& curve,
                                                                             const std::vector<double>& u,
                                                                             std::size_t k, std::size_t threads);

/// xyz[3 i ..] = surface.EvaluateAt(u[i], v[i]) for i < count.
VELSDK_NURBS_API void EvaluateMany(const NURBS::V3dNurbsSurface& surface, const double* u, const double* v,
                                   std::size_t count, double* xyz, std::size_t threads);
/// result[i] = surface.EvaluateAt(uv[i].first, uv[i].second).
VELSDK_NURBS_API std::vector<Math::point<double, 3>> EvaluateMany(const NURBS::V3dNurbsSurface& surface,
                                                                  const std::vector<std::pair<double, double>>& uv,
                                                                  std::size_t threads);

/// Item i takes 3 (d + 1)^2 doubles: the entries of surface.DeriveAt(u[i], v[i], d) in its
/// row-major order (row k = derivative order in u, column l = order in v).
VELSDK_NURBS_API void DeriveMany(const NURBS::V3dNurbsSurface& surface, const double* u, const double* v,
                                 std::size_t count, std::size_t d, double* xyz, std::size_t threads);
/// result[i] = surface.DeriveAt(uv[i].first, uv[i].second, d).
VELSDK_NURBS_API std::vector<NURBS::VMatrix<Math::point<double, 3>>> DeriveMany(
    const NURBS::V3dNurbsSurface& surface, const std::vector<std::pair<double, double>>& uv, std::size_t d,
    std::size_t threads);

}  // namespace Batch
}  // namespace VelSDK
