// Test-only access to the private members of V3dNurbsSurface.
#pragma once

#include <VelSDK/V3dNurbsSurface.h>

#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

struct V3dNurbsSurfaceTestAccess {
    static std::size_t SpanU(const V3dNurbsSurface& s, double u) { return s._FindKnotIntervalIndexU(u); }
    static std::size_t SpanV(const V3dNurbsSurface& s, double v) { return s._FindKnotIntervalIndexV(v); }
    static std::vector<double> BasisU(const V3dNurbsSurface& s, double u) { return s._EvaluateBasisFunctionsU(u); }
    static std::vector<double> BasisV(const V3dNurbsSurface& s, double v) { return s._EvaluateBasisFunctionsV(v); }
    static VMatrix<double> BasisDersU(const V3dNurbsSurface& s, double u, std::size_t n) {
        return s._EvaluateDerivativesBasisFunctionsU(u, n);
    }
    static VMatrix<double> BasisDersV(const V3dNurbsSurface& s, double v, std::size_t n) {
        return s._EvaluateDerivativesBasisFunctionsV(v, n);
    }
    static std::pair<double, double> StartParameter(const V3dNurbsSurface& s, const Math::point<double, 3>& P) {
        return s._FindStartParameter(P);
    }
};

}  // namespace NURBS
}  // namespace VelSDK
