// V3dCurveNurbsPlusDocument: a fitted curve as a document of its own, in one call each way.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/VelSAX.h>

#include <string>

class V3dCurveNurbsPlus;

/// Saves a curve as a VelSAX document whose root is the "NURBS_CURVE" element, and loads
/// it back all or nothing.
class VELSDK_NURBS_API V3dCurveNurbsPlusDocument {
public:
    /// The document (XML 1.0, UTF-8) of the curve; its binary blocks go to the named stream.
    static std::string Save(const V3dCurveNurbsPlus& curve, const std::string& streamName = "NURBS_CURVE");

    /// Reads a document written by Save (or a "NURBS_CURVE" element cut out of a larger one).
    /// The document is read into a copy of the curve first; only when the whole document was
    /// read without error, and its "Knots" element ended inside "NURBS_CURVE", is the curve
    /// updated, exactly as reading it directly would have done. Otherwise the curve keeps its
    /// state and the result names the element and the problem.
    static VelSAX::VSAXReadResult Load(const std::string& document, V3dCurveNurbsPlus& curve);
};
