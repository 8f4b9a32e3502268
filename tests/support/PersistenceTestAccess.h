// Test-only access to the buffers of the fitted curve's persistence helper.
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/V3dCurveNurbsPlusSAXHelper.h>

#include <vector>

struct V3dCurveNurbsPlusSAXHelperTestAccess {
    using Helper = V3dCurveNurbsPlusSAXHelper;
    static const std::vector<VelSDK::Math::point<double, 4>>& ControlPoints(const Helper& h) {
        return h.m_controlPoints;
    }
    static const std::vector<double>& Knots(const Helper& h) { return h.m_knots; }
    static unsigned char Order(const Helper& h) { return h.m_order; }
    static const V3dCurveNurbsPlus* Object(const Helper& h) { return h.m_object; }
    static const std::string& StreamName(const Helper& h) { return h.m_streamName; }
};
