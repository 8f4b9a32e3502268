// One-call saving and all-or-nothing loading of a fitted curve document.
#include <VelSDK/V3dCurveNurbsPlusDocument.h>

#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusSAXHelper.h>
#include <VelSDK/VSAXDocumentReader.h>
#include <VelSDK/VSAXDocumentWriter.h>

namespace {

// The curve's helper, watching whether "Knots" ended directly inside "NURBS_CURVE" (the
// moment the helper rebuilds the curve).
class CheckingHelper : public V3dCurveNurbsPlusSAXHelper {
public:
    explicit CheckingHelper(V3dCurveNurbsPlus& curve) : V3dCurveNurbsPlusSAXHelper(curve) {}

    bool HandleTag(const std::string& name, VelSAX::ISAXReader& reader) override {
        if (name == "Knots" && reader.ParentTagName(1) == "NURBS_CURVE") m_knotsOpen = true;
        return V3dCurveNurbsPlusSAXHelper::HandleTag(name, reader);
    }
    void HandleEndTag(std::string_view name) override {
        if (name == "Knots" && m_knotsOpen) {
            m_knotsOpen = false;
            m_knotsRead = true;
        }
        V3dCurveNurbsPlusSAXHelper::HandleEndTag(name);
    }
    bool KnotsRead() const { return m_knotsRead; }

private:
    bool m_knotsOpen = false;
    bool m_knotsRead = false;
};

}  // namespace

std::string V3dCurveNurbsPlusDocument::Save(const V3dCurveNurbsPlus& curve, const std::string& streamName) {
    VelSAX::VSAXDocumentWriter writer;
    V3dCurveNurbsPlusSAXHelper helper;
    helper.SetObjectForSAXWriting(curve, streamName);
    helper.Write(writer);
    return writer.GetDocument();
}

VelSAX::VSAXReadResult V3dCurveNurbsPlusDocument::Load(const std::string& document, V3dCurveNurbsPlus& curve) {
    V3dCurveNurbsPlus scratch(curve);
    CheckingHelper helper(scratch);
    VelSAX::VSAXDocumentReader reader;
    VelSAX::VSAXReadResult result = reader.Read(document, helper);
    if (result.ok && !helper.KnotsRead()) {
        result.ok = false;
        result.line = 1;
        result.column = 1;
        result.message = "element \"NURBS_CURVE\": no \"Knots\" element, the curve cannot be rebuilt";
    }
    // The copy started equal to the curve and changed only where reading changed it; the
    // copy assignment keeps the curve's own fitted-parameter list.
    if (result.ok) curve = scratch;
    return result;
}
