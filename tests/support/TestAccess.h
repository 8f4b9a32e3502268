// Test-only access to private members of the library's classes.
#pragma once

#include <VelSDK/V3dNurbsCurve.h>
#include "support/SurfaceTestAccess.h"

namespace VelSDK {
namespace NURBS {

struct V3dNurbsCurveTestAccess {
    static std::size_t Span(const V3dNurbsCurve& c, double u) { return c._FindKnotIntervalIndex(u); }
    static std::size_t Multiplicity(const V3dNurbsCurve& c, double u) { return c._FindKnotMultiplicity(u); }
    static std::vector<double> Basis(const V3dNurbsCurve& c, double u) { return c._EvaluateBasisFunctions(u); }
    static std::vector<double> BasisDers(const V3dNurbsCurve& c, double u, std::size_t k) {
        return c._EvaluateDerivativesBasisFunctions(u, k);
    }
    static double StartParameter(const V3dNurbsCurve& c, const Math::point<double, 3>& P) {
        return c._FindStartParameter(P);
    }
};

}  // namespace NURBS
}  // namespace VelSDK
#include "support/PersistenceTestAccess.h"
