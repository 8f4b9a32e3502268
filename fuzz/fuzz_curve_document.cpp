// Reads arbitrary bytes as a fitted-curve document: through the all-or-nothing loader and,
// with a host that hands "NURBS_CURVE" elements to helpers, through the plain reader. Every
// call must stay inside its buffers, allocate in proportion to its input and terminate; a
// document that loads must save and load again to the same bits, and every member of the
// curve it gives must work on it (UseCurve).
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusSAXHelper.h>
#include <VelSDK/VSAXIncrementalDocumentReader.h>

#include "UseCurve.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

bool SameBits(const V3dCurveNurbsPlus& a, const V3dCurveNurbsPlus& b) {
    if (a.IsValid() != b.IsValid() || a.GetOrder() != b.GetOrder() ||
        a.GetNumberControlPoints() != b.GetNumberControlPoints())
        return false;
    const auto& pa = a.GetControlPoints();
    const auto& pb = b.GetControlPoints();
    return pa.size() == pb.size() && a.GetKnots().size() == b.GetKnots().size() &&
           std::memcmp(pa.data(), pb.data(), pa.size() * sizeof(pa[0])) == 0 &&
           std::memcmp(a.GetKnots().data(), b.GetKnots().data(), a.GetKnots().size() * sizeof(double)) == 0;
}

struct Host : VelSAX::ISAXPersist {
    std::vector<std::unique_ptr<V3dCurveNurbsPlus>> curves;
    std::vector<std::unique_ptr<V3dCurveNurbsPlusSAXHelper>> helpers;
    void SetDefaults() override {}
    bool HandleTag(const std::string& name, VelSAX::ISAXReader& reader) override {
        if (name == "NURBS_CURVE" && curves.size() < 64) {
            curves.push_back(std::make_unique<V3dCurveNurbsPlus>());
            helpers.push_back(std::make_unique<V3dCurveNurbsPlusSAXHelper>(*curves.back()));
            return reader.ReadObject(*helpers.back());
        }
        std::string text;
        reader.ReadValue(text);
        return true;
    }
    void HandleEndTag(std::string_view) override {}
    bool Write(VelSAX::ISAXWriter&) const override { return false; }
    VelSAX::ISAXReference* GetObjectReference() override { return this; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string document(reinterpret_cast<const char*>(data), size);

    V3dCurveNurbsPlus curve;
    if (V3dCurveNurbsPlusDocument::Load(document, curve).ok && curve.IsValid()) {
        V3dCurveNurbsPlus again;
        if (!V3dCurveNurbsPlusDocument::Load(V3dCurveNurbsPlusDocument::Save(curve), again).ok) std::abort();
        if (!SameBits(curve, again)) std::abort();
    }
    fuzz::UseCurve(curve);

    Host host;
    VelSAX::VSAXIncrementalDocumentReader reader;
    reader.Read(document, host);
    for (const auto& c : host.curves) fuzz::UseCurve(*c);
    return 0;
}
