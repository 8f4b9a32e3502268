// Storing a fitted curve as a "NURBS_CURVE" element and restoring it.
#include <VelSDK/V3dCurveNurbsPlusSAXHelper.h>

#include <VelSDK/StringConversion.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/VStreamTextOut.h>

#include "persistence/ReaderLimits.h"

#include <stdexcept>
#include <utility>

using VelSAX::Incremental::ISAXIncrementalReader;
using VelSAX::Incremental::ISAXIncrementalWriter;
using VelSAX::Incremental::TagUniqueID;

namespace {

// Element name comparison: exact, case-sensitive, by length and bytes.
bool Is(const std::string& name, const char* expected) { return name == expected; }

// One element holding the text of value, formatted by the wide text stream and converted
// to UTF-8.
template <typename T>
void WriteTextElement(VelSAX::ISAXWriter& writer, const std::string& name, const T& value) {
    VelSAX::VStreamTextOut<wchar_t> text;
    text << value;
    writer.StartTag(name);
    writer.WriteText(StringConversion::NativeToUtf8(text.str()));
    writer.EndTag(name);
}

}  // namespace

V3dCurveNurbsPlusSAXHelper::V3dCurveNurbsPlusSAXHelper()
    : m_object(nullptr), m_order(0), m_isClosedLoop(false), m_savedIncrementally(false) {}

V3dCurveNurbsPlusSAXHelper::V3dCurveNurbsPlusSAXHelper(V3dCurveNurbsPlus& curve)
    : m_object(&curve), m_order(0), m_isClosedLoop(false), m_savedIncrementally(false) {}

V3dCurveNurbsPlusSAXHelper::V3dCurveNurbsPlusSAXHelper(const V3dCurveNurbsPlusSAXHelper& other)
    : VelSAX::ISAXReference(other),
      VelSAX::ISAXPersistHelper(other),
      m_object(other.m_object),
      m_order(other.m_order),
      m_controlPoints(other.m_controlPoints),
      m_knots(other.m_knots),
      m_isClosedLoop(other.m_isClosedLoop),
      m_streamName(other.m_streamName),
      m_incrementalTag(other.m_incrementalTag),
      m_savedIncrementally(other.m_savedIncrementally) {}

V3dCurveNurbsPlusSAXHelper::V3dCurveNurbsPlusSAXHelper(V3dCurveNurbsPlusSAXHelper&& other) noexcept
    : VelSAX::ISAXReference(other),
      VelSAX::ISAXPersistHelper(other),
      m_object(other.m_object),
      m_order(other.m_order),
      m_controlPoints(std::move(other.m_controlPoints)),
      m_knots(std::move(other.m_knots)),
      m_isClosedLoop(other.m_isClosedLoop),
      m_streamName(std::move(other.m_streamName)),
      m_incrementalTag(std::move(other.m_incrementalTag)),
      m_savedIncrementally(other.m_savedIncrementally) {
    other.m_controlPoints.clear();
    other.m_knots.clear();
    other.m_streamName.clear();
}

V3dCurveNurbsPlusSAXHelper& V3dCurveNurbsPlusSAXHelper::operator=(const V3dCurveNurbsPlusSAXHelper& other) {
    if (this == &other) return *this;
    VelSAX::ISAXPersistHelper::operator=(other);
    m_object = other.m_object;
    m_order = other.m_order;
    m_controlPoints = other.m_controlPoints;
    m_knots = other.m_knots;
    m_isClosedLoop = other.m_isClosedLoop;
    m_streamName = other.m_streamName;
    m_incrementalTag = other.m_incrementalTag;
    m_savedIncrementally = other.m_savedIncrementally;
    return *this;
}

V3dCurveNurbsPlusSAXHelper& V3dCurveNurbsPlusSAXHelper::operator=(V3dCurveNurbsPlusSAXHelper&& other) noexcept {
    if (this == &other) return *this;
    VelSAX::ISAXPersistHelper::operator=(other);
    m_object = other.m_object;
    m_order = other.m_order;
    m_controlPoints = std::move(other.m_controlPoints);
    m_knots = std::move(other.m_knots);
    m_isClosedLoop = other.m_isClosedLoop;
    m_streamName = std::move(other.m_streamName);
    m_incrementalTag = std::move(other.m_incrementalTag);
    m_savedIncrementally = other.m_savedIncrementally;
    other.m_controlPoints.clear();
    other.m_knots.clear();
    other.m_streamName.clear();
    return *this;
}

V3dCurveNurbsPlusSAXHelper::~V3dCurveNurbsPlusSAXHelper() = default;

void V3dCurveNurbsPlusSAXHelper::SetDefaults() {
    m_order = 0;
    m_controlPoints.clear();
    m_knots.clear();
    m_isClosedLoop = false;
}

void V3dCurveNurbsPlusSAXHelper::SetObjectForSAXReading(V3dCurveNurbsPlus& curve) { m_object = &curve; }

void V3dCurveNurbsPlusSAXHelper::SetObjectForSAXWriting(const V3dCurveNurbsPlus& curve, const std::string& name) {
    // Reading and writing share one pointer; Write never modifies the curve.
    m_object = const_cast<V3dCurveNurbsPlus*>(&curve);
    m_streamName = name;
}

const std::shared_ptr<TagUniqueID>& V3dCurveNurbsPlusSAXHelper::GetIncrementalTag() const { return m_incrementalTag; }

void V3dCurveNurbsPlusSAXHelper::SetIncrementalTag(const std::shared_ptr<TagUniqueID>& tag) { m_incrementalTag = tag; }

bool V3dCurveNurbsPlusSAXHelper::IsSavedIncrementally() const { return m_savedIncrementally; }

// Reading: the tests below run in this order and the first that matches decides. A name
// that matches but sits under the wrong parent or grandparent falls through to false.
bool V3dCurveNurbsPlusSAXHelper::HandleTag(const std::string& name, VelSAX::ISAXReader& reader) {
    if (!m_object) return false;

    if (Is(name, "NURBS_CURVE")) {
        if (auto* incremental = dynamic_cast<ISAXIncrementalReader*>(&reader)) {
            m_incrementalTag = std::make_shared<TagUniqueID>(incremental->GetTag(name, 0));
        }
        return true;
    }
    const std::string& parent = reader.ParentTagName(1);
    if (Is(name, "IsClosedLoop") && Is(parent, "NURBS_CURVE")) {
        reader.ReadValue(m_isClosedLoop);
        return true;
    }
    if (Is(name, "Order") && Is(parent, "NURBS_CURVE")) {
        reader.ReadValue(m_order);
        return true;
    }
    if (Is(name, "ControlPoints") && Is(parent, "NURBS_CURVE")) return true;

    const bool underControlPoints = Is(parent, "ControlPoints") && Is(reader.ParentTagName(2), "NURBS_CURVE");
    if (Is(name, "Dim") && underControlPoints) {
        unsigned long dim = 0;
        reader.ReadValue(dim);
        return dim == 4;
    }
    if (Is(name, "DataType") && underControlPoints) {
        std::string type;
        reader.ReadValue(type);
        return type == "double";
    }
    if (Is(name, "Count") && underControlPoints) {
        unsigned long count = 0;
        reader.ReadValue(count);
        // Added points are all-zero, up to kZeroFillPoints whatever the document holds; a larger
        // count that the document cannot hold is refused before anything is allocated for it.
        if (count > VelSDK::PersistenceDetail::kZeroFillPoints &&
            !reader.CanHold(count, sizeof(VelSDK::Math::point<double, 4>)))
            throw std::length_error("ControlPoints Count " + std::to_string(count) + " exceeds the document");
        m_controlPoints.resize(count);
        return true;
    }
    if (Is(name, "Data") && underControlPoints) {
        VelSAX::VSAXStreamBinaryIn& in = reader.GetBinaryStream();
        for (VelSDK::Math::point<double, 4>& P : m_controlPoints) in >> P[0] >> P[1] >> P[2] >> P[3];
        return true;
    }
    if (Is(name, "Knots") && Is(parent, "NURBS_CURVE")) return true;

    const bool underKnots = Is(parent, "Knots") && Is(reader.ParentTagName(2), "NURBS_CURVE");
    if (Is(name, "DataType") && underKnots) {
        std::wstring type;
        reader.ReadValue(type);
        return type == L"double";
    }
    if (Is(name, "Count") && underKnots) {
        unsigned long count = 0;
        reader.ReadValue(count);
        if (count > VelSDK::PersistenceDetail::kZeroFillKnots && !reader.CanHold(count, sizeof(double)))
            throw std::length_error("Knots Count " + std::to_string(count) + " exceeds the document");
        m_knots.resize(count);
        return true;
    }
    if (Is(name, "Data") && underKnots) {
        VelSAX::VSAXStreamBinaryIn& in = reader.GetBinaryStream();
        for (double& knot : m_knots) in >> knot;
        return true;
    }
    return false;
}

void V3dCurveNurbsPlusSAXHelper::HandleEndTag(std::string_view name) {
    // The curve changes only here, from everything gathered; Reset's verdict is not needed:
    // a refused Reset leaves the curve as it was.
    if (name == "Knots" && m_object) m_object->Reset(m_controlPoints, m_knots, m_order, m_isClosedLoop);
}

bool V3dCurveNurbsPlusSAXHelper::Write(VelSAX::ISAXWriter& writer) const {
    if (!m_object || m_streamName.empty()) return false;
    m_savedIncrementally = false;

    auto* incremental = dynamic_cast<ISAXIncrementalWriter*>(&writer);
    if (incremental) {
        if (!m_incrementalTag) m_incrementalTag = std::make_shared<TagUniqueID>();
        if (m_incrementalTag->IsInitialized() && incremental->IsUpToDate(*m_incrementalTag)) {
            m_savedIncrementally = true;
            return true;
        }
    }

    const V3dCurveNurbsPlus& curve = *m_object;
    VelSAX::VSAXTagWriter curveTag(writer, "NURBS_CURVE");
    if (incremental) *m_incrementalTag = incremental->GetCurrentTag();
    WriteTextElement(writer, "IsClosedLoop", curve.IsClosedLoop());
    WriteTextElement(writer, "Order", static_cast<unsigned int>(curve.GetOrder()));
    {
        VelSAX::VSAXTagWriter pointsTag(writer, "ControlPoints");
        const std::vector<VelSDK::Math::point<double, 4>>& points = curve.GetControlPoints();
        VelSAX::VSAXBinaryBlockOut block = writer.GetBinaryStream(m_streamName);
        VelSAX::VSAXStreamBinaryOut& out = block.Stream();
        for (const VelSDK::Math::point<double, 4>& P : points) out << P[0] << P[1] << P[2] << P[3];
        WriteTextElement(writer, "Dim", 4u);
        WriteTextElement(writer, "DataType", L"double");
        WriteTextElement(writer, "Count", points.size());
        writer.WriteBinaryData("Data", block);
    }
    {
        VelSAX::VSAXTagWriter knotsTag(writer, "Knots");
        const std::vector<double>& knots = curve.GetKnots();
        VelSAX::VSAXBinaryBlockOut block = writer.GetBinaryStream(m_streamName);
        VelSAX::VSAXStreamBinaryOut& out = block.Stream();
        for (const double knot : knots) out << knot;
        WriteTextElement(writer, "DataType", L"double");
        WriteTextElement(writer, "Count", knots.size());
        writer.WriteBinaryData("Data", block);
    }
    return true;
}
