// Test-only access to private members of V3dCurve and V3dCurveNurbsPlus.
#pragma once

#include <VelSDK/V3dCurve.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <cstddef>
#include <utility>
#include <vector>

struct V3dCurveTestAccess {
    using Point3 = VelSDK::Math::point<double, 3>;
    static V3dCurve::RCode ProjectOnce(const V3dCurve& c, double& distance, double& t, const Point3& P, double tol) {
        return c._ProjectPoint(distance, t, P, tol);
    }
    static void ClosePoints(const V3dCurve& c, double* out, const Point3& P, std::size_t k) {
        c._GetClosePoint(out, P, k);
    }
    static void SegmentMinimal(const V3dCurve& c, std::vector<double>& s) { c._SegmentMinimal(s); }
};

struct V3dCurveNurbsPlusTestAccess {
    using Point3 = VelSDK::Math::point<double, 3>;
    static const VelSDK::NURBS::V3dNurbsCurve& Held(const V3dCurveNurbsPlus& c) { return c._Curve(); }
    static std::vector<double>& FittedParameters(V3dCurveNurbsPlus& c) { return c.m_parameters; }
    static void SetClosedLoop(V3dCurveNurbsPlus& c, bool closed) { c._SetClosedLoop(closed); }
};
