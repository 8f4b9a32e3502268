// V3dCurveNurbsPlusSAXHelper: stores a V3dCurveNurbsPlus as a "NURBS_CURVE" element of a
// VelSAX document and restores it.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/VelSAX.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class V3dCurveNurbsPlus;

/// Persistence helper of the fitted curve.
///
/// Element layout, in this order:
///   NURBS_CURVE
///     IsClosedLoop   "true" / "false"
///     Order          unsigned decimal
///     ControlPoints
///       Dim          "4"
///       DataType     "double"
///       Count        number of control points
///       Data         binary block: w*x, w*y, w*z, w of every control point
///     Knots
///       DataType     "double"
///       Count        number of knots
///       Data         binary block: every knot
///
/// Reading gathers the values in the helper's buffers and rebuilds the curve with Reset when
/// "Knots" ends, so a document that breaks off earlier leaves the curve as it was. A "Count"
/// resizes its buffer, added values all zero, up to 2^24 control points (2^24 + 256 knots)
/// whatever the document holds; a larger count that the document cannot hold throws
/// std::length_error before anything is allocated. Writing
/// needs a stream name; with an incremental writer an element stored unchanged is carried
/// over instead of written (IsSavedIncrementally).
///
/// The helper refers to the curve without owning it.
class VELSDK_NURBS_API V3dCurveNurbsPlusSAXHelper : public VelSAX::ISAXPersistHelper {
public:
    V3dCurveNurbsPlusSAXHelper();
    explicit V3dCurveNurbsPlusSAXHelper(V3dCurveNurbsPlus& curve);
    /// Copies every field; the incremental tag is shared.
    V3dCurveNurbsPlusSAXHelper(const V3dCurveNurbsPlusSAXHelper& other);
    /// Takes the buffers, the stream name and the tag; the source keeps empty ones.
    V3dCurveNurbsPlusSAXHelper(V3dCurveNurbsPlusSAXHelper&& other) noexcept;
    V3dCurveNurbsPlusSAXHelper& operator=(const V3dCurveNurbsPlusSAXHelper& other);
    V3dCurveNurbsPlusSAXHelper& operator=(V3dCurveNurbsPlusSAXHelper&& other) noexcept;
    ~V3dCurveNurbsPlusSAXHelper() override;

    /// Order 0, empty buffers (capacity kept), not closed; curve, stream name and tag stay.
    void SetDefaults() override;
    bool HandleTag(const std::string& name, VelSAX::ISAXReader& reader) override;
    /// Rebuilds the curve through Reset when "Knots" ends; ignores every other end tag.
    void HandleEndTag(std::string_view name) override;
    /// False (nothing written) without a curve or with an empty stream name.
    bool Write(VelSAX::ISAXWriter& writer) const override;

    void SetObjectForSAXReading(V3dCurveNurbsPlus& curve);
    void SetObjectForSAXWriting(const V3dCurveNurbsPlus& curve, const std::string& streamName);

    const std::shared_ptr<VelSAX::Incremental::TagUniqueID>& GetIncrementalTag() const;
    void SetIncrementalTag(const std::shared_ptr<VelSAX::Incremental::TagUniqueID>& tag);
    /// True when the last Write found the element stored unchanged and wrote nothing.
    bool IsSavedIncrementally() const;

private:
    friend struct V3dCurveNurbsPlusSAXHelperTestAccess;

    // One pointer serves reading and writing; Write does not modify the curve.
    V3dCurveNurbsPlus* m_object;
    unsigned char m_order;
    std::vector<VelSDK::Math::point<double, 4>> m_controlPoints;
    std::vector<double> m_knots;
    bool m_isClosedLoop;
    std::string m_streamName;
    mutable std::shared_ptr<VelSAX::Incremental::TagUniqueID> m_incrementalTag;
    mutable bool m_savedIncrementally;
};
