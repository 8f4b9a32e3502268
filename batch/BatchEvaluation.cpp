// Batch evaluation of one curve or surface at many parameters: each item is the single
// EvaluateAt / DeriveAt call, written to its own slot of the output.
#include <VelSDK/BatchEvaluation.h>

#include "math/ParallelFor.h"

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;

namespace VelSDK {
namespace Batch {

namespace {

using Point3 = point<double, 3>;

// Smallest chunk of cheap evaluations: a point costs tens of nanoseconds, so a chunk of 256
// keeps the shared chunk counter far below one percent of the work.
constexpr std::size_t kMinEvaluationGrain = 256;
// Derivatives cost a few times more per item.
constexpr std::size_t kMinDerivativeGrain = 64;

inline void Store(double* xyz, const Point3& p) {
    xyz[0] = p[0];
    xyz[1] = p[1];
    xyz[2] = p[2];
}

}  // namespace

void EvaluateMany(const V3dNurbsCurve& curve, const double* u, std::size_t count, double* xyz, std::size_t threads) {
    Math::ParallelFor(count, threads, Math::DefaultGrain(count, threads, kMinEvaluationGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i) Store(xyz + 3 * i, curve.EvaluateAt(u[i]));
                      });
}

std::vector<Point3> EvaluateMany(const V3dNurbsCurve& curve, const std::vector<double>& u, std::size_t threads) {
    std::vector<Point3> out(u.size());
    Math::ParallelFor(u.size(), threads, Math::DefaultGrain(u.size(), threads, kMinEvaluationGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i) out[i] = curve.EvaluateAt(u[i]);
                      });
    return out;
}

void DeriveMany(const V3dNurbsCurve& curve, const double* u, std::size_t count, std::size_t k, double* xyz,
                std::size_t threads) {
    Math::ParallelFor(count, threads, Math::DefaultGrain(count, threads, kMinDerivativeGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i) {
                              const std::vector<Point3> d = curve.DeriveAt(u[i], k);
                              double* o = xyz + 3 * (k + 1) * i;
                              for (std::size_t j = 0; j < d.size(); ++j) Store(o + 3 * j, d[j]);
                          }
                      });
}

std::vector<std::vector<Point3>> DeriveMany(const V3dNurbsCurve& curve, const std::vector<double>& u, std::size_t k,
                                            std::size_t threads) {
    std::vector<std::vector<Point3>> out(u.size());
    Math::ParallelFor(u.size(), threads, Math::DefaultGrain(u.size(), threads, kMinDerivativeGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i) out[i] = curve.DeriveAt(u[i], k);
                      });
    return out;
}

void EvaluateMany(const V3dNurbsSurface& surface, const double* u, const double* v, std::size_t count, double* xyz,
                  std::size_t threads) {
    Math::ParallelFor(count, threads, Math::DefaultGrain(count, threads, kMinDerivativeGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i) Store(xyz + 3 * i, surface.EvaluateAt(u[i], v[i]));
                      });
}

std::vector<Point3> EvaluateMany(const V3dNurbsSurface& surface, const std::vector<std::pair<double, double>>& uv,
                                 std::size_t threads) {
    std::vector<Point3> out(uv.size());
    Math::ParallelFor(uv.size(), threads, Math::DefaultGrain(uv.size(), threads, kMinDerivativeGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i)
                              out[i] = surface.EvaluateAt(uv[i].first, uv[i].second);
                      });
    return out;
}

void DeriveMany(const V3dNurbsSurface& surface, const double* u, const double* v, std::size_t count, std::size_t d,
                double* xyz, std::size_t threads) {
    Math::ParallelFor(count, threads, Math::DefaultGrain(count, threads, kMinDerivativeGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i) {
                              const VMatrix<Point3> m = surface.DeriveAt(u[i], v[i], d);
                              const std::vector<Point3>& e = m.Elements();
                              double* o = xyz + 3 * (d + 1) * (d + 1) * i;
                              for (std::size_t j = 0; j < e.size(); ++j) Store(o + 3 * j, e[j]);
                          }
                      });
}

std::vector<VMatrix<Point3>> DeriveMany(const V3dNurbsSurface& surface,
                                        const std::vector<std::pair<double, double>>& uv, std::size_t d,
                                        std::size_t threads) {
    std::vector<VMatrix<Point3>> out(uv.size());
    Math::ParallelFor(uv.size(), threads, Math::DefaultGrain(uv.size(), threads, kMinDerivativeGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i)
                              out[i] = surface.DeriveAt(uv[i].first, uv[i].second, d);
                      });
    return out;
}

}  // namespace Batch
}  // namespace VelSDK
