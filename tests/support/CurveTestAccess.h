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
    static bool RangeAdjust(const V3dCurve& c, double& t) { return c._ParameterRangeAdjust(t); }
    static bool Sanity(V3dCurve& c) { return c.Sanity(); }
    static void SegmentMinimal(const V3dCurve& c, std::vector<double>& s) { c._SegmentMinimal(s); }
};

struct V3dCurveNurbsPlusTestAccess {
    using Point3 = VelSDK::Math::point<double, 3>;
    static bool HoldsCurve(const V3dCurveNurbsPlus& c) { return c.m_curve != nullptr; }
    static const VelSDK::NURBS::V3dNurbsCurve& Held(const V3dCurveNurbsPlus& c) { return c._Curve(); }
    static std::vector<double>& FittedParameters(V3dCurveNurbsPlus& c) { return c.m_parameters; }
    static void NormalizeKnotVector(V3dCurveNurbsPlus& c) { c._NormalizeKnotVector(); }
    static void SetClosedLoop(V3dCurveNurbsPlus& c, bool closed) { c._SetClosedLoop(closed); }
    static V3dCurveNurbsPlus::EParametrization Parametrization(const V3dCurveNurbsPlus& c) {
        return c.m_parametrization;
    }
    static V3dCurveNurbsPlus::EKnotsGeneration KnotsGeneration(const V3dCurveNurbsPlus& c) {
        return c.m_knotsGeneration;
    }
    static void SetRawSettings(V3dCurveNurbsPlus& c, int parametrization, int knotsGeneration) {
        c.m_parametrization = static_cast<V3dCurveNurbsPlus::EParametrization>(parametrization);
        c.m_knotsGeneration = static_cast<V3dCurveNurbsPlus::EKnotsGeneration>(knotsGeneration);
    }
};
