// The fitted curve's document element: layout, reading rules, round trips, incremental
// saving, several curves per document and refusal of bad documents.
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusSAXHelper.h>
#include <VelSDK/VSAXDocumentReader.h>
#include <VelSDK/VSAXDocumentWriter.h>
#include <VelSDK/VSAXIncrementalDocumentReader.h>
#include <VelSDK/VSAXIncrementalDocumentWriter.h>
#include <VelSDK/VelSAX.h>

#include "persistence/CurveFixtures.h"
#include "persistence/PersistenceTestUtil.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace VelSAX;
using Access = V3dCurveNurbsPlusSAXHelperTestAccess;
using test::P4;

namespace {

// A reader that plays one element at a time: the element path, its text and its block.
class ScriptReader : public ISAXReader {
public:
    std::vector<std::string> path;  // root first, current element last
    std::string text;
    VSAXStreamBinaryIn block;
    int reads = 0;

    bool ReadValue(bool& v) override {
        ++reads;
        if (text != "true" && text != "false") return false;
        v = text == "true";
        return true;
    }
    bool ReadValue(unsigned char& v) override { return Number(v, 255); }
    bool ReadValue(unsigned long& v) override { return Number(v, 0xFFFFFFFFul); }
    bool ReadValue(double&) override { return false; }
    bool ReadValue(std::string& v) override {
        ++reads;
        v = text;
        return true;
    }
    bool ReadValue(std::wstring& v) override {
        ++reads;
        v.assign(text.begin(), text.end());
        return true;
    }
    const std::string& ParentTagName(std::size_t depth) const override {
        static const std::string none;
        return depth < path.size() ? path[path.size() - 1 - depth] : none;
    }
    VSAXStreamBinaryIn& GetBinaryStream() override { return block; }
    bool CanHold(std::size_t, std::size_t) const override { return true; }
    bool ReadObject(ISAXPersistBase&) override { return false; }
    ISAXReference* FindReference(unsigned int) const override { return nullptr; }

private:
    template <typename T>
    bool Number(T& v, unsigned long max) {
        ++reads;
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 10) return false;
        const unsigned long long value = std::stoull(text);
        if (value > max) return false;
        v = static_cast<T>(value);
        return true;
    }
};

bool Tag(V3dCurveNurbsPlusSAXHelper& helper, ScriptReader& reader, std::vector<std::string> path,
         const std::string& text = "") {
    reader.path = std::move(path);
    reader.text = text;
    return helper.HandleTag(reader.path.back(), reader);
}

VSAXStreamBinaryIn Block(const std::vector<double>& values) {
    VSAXStreamBinaryOut out("s");
    for (const double v : values) out << v;
    const std::string_view bytes = out.GetBytes(0);
    return VSAXStreamBinaryIn(std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

// Writes curve with one helper and returns the document.
std::string WriteDocument(const V3dCurveNurbsPlus& curve, const std::string& stream = "curve") {
    VSAXDocumentWriter writer;
    V3dCurveNurbsPlusSAXHelper helper;
    helper.SetObjectForSAXWriting(curve, stream);
    EXPECT_TRUE(helper.Write(writer));
    return writer.GetDocument();
}

// Reads a document whose root is "NURBS_CURVE" into curve through a plain helper.
VSAXReadResult ReadDocument(const std::string& xml, V3dCurveNurbsPlus& curve) {
    V3dCurveNurbsPlusSAXHelper helper(curve);
    VSAXDocumentReader reader;
    return reader.Read(xml, helper);
}

// What a reader sees of a document: every start tag with its text, every end tag.
struct Recorder : ISAXPersist {
    std::vector<std::string> events;
    std::vector<std::size_t> blockSizes;
    void SetDefaults() override {}
    bool HandleTag(const std::string& name, ISAXReader& reader) override {
        std::string text;
        reader.ReadValue(text);
        if (text.find_first_not_of(" \n") == std::string::npos) text.clear();
        if (name == "Data") {
            VSAXStreamBinaryIn& in = reader.GetBinaryStream();
            blockSizes.push_back(in.GetSize());
            std::vector<unsigned char> bytes(in.GetSize());
            in.Read(bytes.data(), bytes.size());
            text.clear();
        }
        events.push_back(reader.ParentTagName(1) + "/" + name + (text.empty() ? "" : "=" + text));
        return true;
    }
    void HandleEndTag(std::string_view) override {}
    bool Write(ISAXWriter&) const override { return false; }
    ISAXReference* GetObjectReference() override { return this; }
};

}  // namespace

// --- Writing ------------------------------------------------------------------------------------

TEST(CurveSAXHelperWrite, WithoutCurveOrStreamNameWritesNothing) {
    V3dCurveNurbsPlusSAXHelper helper;
    VSAXDocumentWriter writer;
    EXPECT_FALSE(helper.Write(writer));
    const V3dCurveNurbsPlus curve = test::OpenCubic();
    helper.SetObjectForSAXWriting(curve, "");
    EXPECT_FALSE(helper.Write(writer));
    EXPECT_EQ(writer.GetDepth(), 0u);
    EXPECT_THROW(writer.GetDocument(), std::logic_error);  // not even a root element
}

TEST(CurveSAXHelperWrite, ElementsComeInTheFixedOrderWithCountsMatchingTheBlocks) {
    const std::string xml = WriteDocument(test::OpenCubic());
    EXPECT_TRUE(test::XmlLintAccepts(xml));
    Recorder recorder;
    VSAXDocumentReader reader;
    ASSERT_TRUE(reader.Read(xml, recorder));
    const std::vector<std::string> expected = {
        "/NURBS_CURVE",        "NURBS_CURVE/IsClosedLoop=false", "NURBS_CURVE/Order=4",   "NURBS_CURVE/ControlPoints",
        "ControlPoints/Dim=4", "ControlPoints/DataType=double",  "ControlPoints/Count=5", "ControlPoints/Data",
        "NURBS_CURVE/Knots",   "Knots/DataType=double",          "Knots/Count=9",         "Knots/Data"};
    EXPECT_EQ(recorder.events, expected);
    EXPECT_EQ(recorder.blockSizes, (std::vector<std::size_t>{20 * 8, 9 * 8}));
}

TEST(CurveSAXHelperWrite, MatchesTheGoldenDocument) {
    // A format change must be deliberate: the golden file is the reference.
    const std::string xml = WriteDocument(test::OpenCubic());
    const std::string path = std::string(VELSDK_TEST_DATA_DIR) + "/persistence/open_cubic.xml";
    const std::string golden = test::ReadFileBytes(path);
    if (golden.empty()) test::WriteFileBytes(path + ".new", xml);
    EXPECT_EQ(xml, golden) << "written document kept in " << path << ".new when the golden file is missing";

    V3dCurveNurbsPlus curve;
    ASSERT_TRUE(V3dCurveNurbsPlusDocument::Load(golden, curve));
    EXPECT_TRUE(curve == test::OpenCubic());
}

// --- Reading rules ------------------------------------------------------------------------------

// A name is read only under its parent (and grandparent), case-sensitive; Dim must be 4 and
// DataType "double"; a helper without a curve refuses everything.
TEST(CurveSAXHelperRead, TestsNamesWithTheirParentsAndGrandparents) {
    V3dCurveNurbsPlus curve;
    V3dCurveNurbsPlusSAXHelper helper(curve);
    ScriptReader r;
    const struct {
        std::vector<std::string> path;
        std::string text;
        bool accepted;
    } tags[] = {
        {{"Host", "NURBS_CURVE"}, "", true},
        {{"NURBS_CURVE", "Order"}, "4", true},
        {{"NURBS_CURVE", "Knots", "Order"}, "7", false},
        {{"Other", "Order"}, "7", false},
        {{"NURBS_CURVE", "order"}, "7", false},
        {{"Other", "ControlPoints", "Count"}, "3", false},
        {{"Other", "Knots", "Count"}, "3", false},
        {{"NURBS_CURVE", "Knots", "Dim"}, "4", false},  // Knots has no Dim
        {{"NURBS_CURVE", "Unknown"}, "", false},
        {{"NURBS_CURVE", "IsClosedLoop"}, "true", true},
        {{"NURBS_CURVE", "ControlPoints", "Dim"}, "4", true},
        {{"NURBS_CURVE", "ControlPoints", "Dim"}, "3", false},
        {{"NURBS_CURVE", "ControlPoints", "Dim"}, "x", false},  // nothing read: 0
        {{"NURBS_CURVE", "ControlPoints", "DataType"}, "double", true},
        {{"NURBS_CURVE", "ControlPoints", "DataType"}, "float", false},
        {{"NURBS_CURVE", "Knots", "DataType"}, "double", true},
        {{"NURBS_CURVE", "Knots", "DataType"}, "Double", false},
    };
    for (const auto& t : tags) EXPECT_EQ(Tag(helper, r, t.path, t.text), t.accepted) << t.path.back() << " " << t.text;
    EXPECT_EQ(Access::Order(helper), 4);
    EXPECT_TRUE(Access::ControlPoints(helper).empty());
    EXPECT_TRUE(Access::IsClosedLoop(helper));
    V3dCurveNurbsPlusSAXHelper empty;
    EXPECT_FALSE(Tag(empty, r, {"NURBS_CURVE"}));
}

TEST(CurveSAXHelperRead, CountsResizeTheBuffersAndDataFillsThem) {
    V3dCurveNurbsPlus curve;
    V3dCurveNurbsPlusSAXHelper helper(curve);
    ScriptReader r;
    EXPECT_TRUE(Tag(helper, r, {"NURBS_CURVE", "ControlPoints", "Count"}, "6"));
    ASSERT_EQ(Access::ControlPoints(helper).size(), 6u);
    r.block = Block({1, 2, 3, 4, 5, 6, 7, 8});  // two points' worth: the rest stay zero
    EXPECT_TRUE(Tag(helper, r, {"NURBS_CURVE", "ControlPoints", "Data"}));
    EXPECT_EQ(Access::ControlPoints(helper)[1], (P4{5, 6, 7, 8}));
    EXPECT_EQ(Access::ControlPoints(helper)[5], (P4{0, 0, 0, 0}));
    EXPECT_TRUE(Tag(helper, r, {"NURBS_CURVE", "ControlPoints", "Count"}, "4"));  // shrinks
    EXPECT_EQ(Access::ControlPoints(helper).size(), 4u);
    EXPECT_EQ(Access::ControlPoints(helper)[0], (P4{1, 2, 3, 4}));
    EXPECT_TRUE(Tag(helper, r, {"NURBS_CURVE", "ControlPoints", "Count"}, "bad"));  // nothing read: 0
    EXPECT_TRUE(Access::ControlPoints(helper).empty());

    EXPECT_TRUE(Tag(helper, r, {"NURBS_CURVE", "Knots", "Count"}, "3"));
    r.block = Block({0.5, 0.25, 0.125, 99});  // one more than the buffer: not read
    EXPECT_TRUE(Tag(helper, r, {"NURBS_CURVE", "Knots", "Data"}));
    EXPECT_EQ(Access::Knots(helper), (std::vector<double>{0.5, 0.25, 0.125}));
    EXPECT_EQ(r.block.GetRemaining(), 8u);

    // SetDefaults clears what was gathered but keeps curve and stream name.
    helper.SetObjectForSAXWriting(curve, "s");
    helper.SetDefaults();
    EXPECT_EQ(Access::Order(helper), 0);
    EXPECT_TRUE(Access::Knots(helper).empty());
    EXPECT_FALSE(Access::IsClosedLoop(helper));
    EXPECT_EQ(Access::Object(helper), &curve);
    EXPECT_EQ(Access::StreamName(helper), "s");
}

TEST(CurveSAXHelperRead, TheCurveChangesOnlyWhenKnotsEnds) {
    V3dCurveNurbsPlus curve = test::RationalQuadratic();
    const V3dCurveNurbsPlus before = curve;
    V3dCurveNurbsPlusSAXHelper helper(curve);
    ScriptReader r;
    Tag(helper, r, {"NURBS_CURVE", "Order"}, "4");
    Tag(helper, r, {"NURBS_CURVE", "ControlPoints", "Count"}, "5");
    Tag(helper, r, {"NURBS_CURVE", "Knots", "Count"}, "9");
    r.block = Block({0, 0, 0, 0, 0.5, 1, 1, 1, 1});
    Tag(helper, r, {"NURBS_CURVE", "Knots", "Data"});
    helper.HandleEndTag("Data");
    helper.HandleEndTag("ControlPoints");
    EXPECT_TRUE(test::SameBits(curve, before));
    helper.HandleEndTag("Knots");
    EXPECT_TRUE(curve.IsValid());
    EXPECT_EQ(curve.GetOrder(), 4);
    EXPECT_EQ(curve.GetNumberControlPoints(), 5u);
    EXPECT_EQ(curve.GetControlPoint(3), (P4{0, 0, 0, 0}));
    EXPECT_EQ(curve.GetMaxParameter(), 1.0);
    // The buffers keep their contents after the rebuild.
    EXPECT_EQ(Access::Knots(helper).size(), 9u);

    // An order of 1 is refused by Reset: the curve stays as it was.
    const V3dCurveNurbsPlus rebuilt = curve;
    Tag(helper, r, {"NURBS_CURVE", "Order"}, "1");
    helper.HandleEndTag("Knots");
    EXPECT_TRUE(test::SameBits(curve, rebuilt));
}

// --- Round trips --------------------------------------------------------------------------------

TEST(CurveSAXHelperRoundTrip, OpenClosedRationalInvalidAndSpecialValuesComeBackBitForBit) {
    V3dCurveNurbsPlus invalid;
    invalid.SetOrder(5);
    invalid.SetNumberControlPoints(7);
    const std::vector<V3dCurveNurbsPlus> curves = {test::OpenCubic(), test::ClosedQuadratic(),
                                                   test::RationalQuadratic(), test::SpecialValues(), invalid};
    for (std::size_t i = 0; i < curves.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string xml = WriteDocument(curves[i]);
        EXPECT_TRUE(test::XmlLintAccepts(xml));
        V3dCurveNurbsPlus back;
        if (!curves[i].IsValid()) {
            back.SetOrder(5);
            back.SetNumberControlPoints(7);
        }
        const VSAXReadResult r = ReadDocument(xml, back);
        ASSERT_TRUE(r) << r.message;
        if (curves[i].IsValid()) {
            EXPECT_TRUE(test::SameBits(back, curves[i]));
            if (i != 3) {
                EXPECT_TRUE(back == curves[i]);  // NaN equals nothing
            }
        } else {
            // An invalid curve is stored with no points and no knots; Reset refuses that, so
            // the target keeps its state.
            EXPECT_FALSE(back.IsValid());
            EXPECT_TRUE(back == curves[i]);
        }
    }
    // The closed curve comes back with the range [0, 1], not its knots' range.
    V3dCurveNurbsPlus closed;
    ASSERT_TRUE(ReadDocument(WriteDocument(test::ClosedQuadratic()), closed));
    EXPECT_TRUE(closed.IsClosedLoop());
    EXPECT_EQ(closed.GetMinParameter(), 0.0);
    EXPECT_EQ(closed.GetMaxParameter(), 1.0);
}

// --- Incremental saving -------------------------------------------------------------------------

// Two curves in a host document, each through a helper of its own: an unchanged one is carried
// over from the previous document, not written again.
TEST(CurveSAXHelperIncremental, AnUnchangedElementIsCarriedOverAndNotWritten) {
    V3dCurveNurbsPlus a = test::OpenCubic();
    V3dCurveNurbsPlus b = test::RationalQuadratic();
    V3dCurveNurbsPlusSAXHelper ha, hb;
    ha.SetObjectForSAXWriting(a, "a");
    hb.SetObjectForSAXWriting(b, "b");
    auto save = [&](VSAXIncrementalDocumentWriter& writer) {
        VSAXTagWriter root(writer, "Drawing");
        EXPECT_TRUE(ha.Write(writer));
        EXPECT_TRUE(hb.Write(writer));
    };
    VSAXIncrementalDocumentWriter first;
    save(first);
    EXPECT_FALSE(ha.IsSavedIncrementally());
    ASSERT_TRUE(ha.GetIncrementalTag());
    const VelSAX::Incremental::TagUniqueID tagA = *ha.GetIncrementalTag();
    EXPECT_TRUE(tagA.IsInitialized());

    // b changes; a does not.
    b = test::ClosedQuadratic();
    VSAXIncrementalDocumentWriter second;
    ASSERT_TRUE(second.LoadPrevious(first.GetDocument()));
    second.SetUnchanged(tagA);
    save(second);
    EXPECT_TRUE(ha.IsSavedIncrementally());
    EXPECT_FALSE(hb.IsSavedIncrementally());
    EXPECT_EQ(*ha.GetIncrementalTag(), tagA);
    const std::string doc = second.GetDocument();
    EXPECT_TRUE(test::XmlLintAccepts(doc));
    EXPECT_NE(doc.find("VelSAX.stream=\"b\" VelSAX.offset=\"0\""), std::string::npos);  // a stream per helper

    // Both curves read back; the incremental reader hands the identities to the helpers.
    V3dCurveNurbsPlus ra, rb;
    V3dCurveNurbsPlusSAXHelper la(ra), lb(rb);
    struct Host : ISAXPersist {
        V3dCurveNurbsPlusSAXHelper* helpers[2];
        int next = 0;
        void SetDefaults() override {}
        bool HandleTag(const std::string& name, ISAXReader& reader) override {
            if (name == "NURBS_CURVE") return reader.ReadObject(*helpers[next++]);
            return true;
        }
        void HandleEndTag(std::string_view) override {}
        bool Write(ISAXWriter&) const override { return false; }
        ISAXReference* GetObjectReference() override { return this; }
    } host;
    host.helpers[0] = &la;
    host.helpers[1] = &lb;
    VSAXIncrementalDocumentReader reader;
    ASSERT_TRUE(reader.Read(doc, host));
    EXPECT_TRUE(ra == a);
    EXPECT_TRUE(rb == b);
    ASSERT_TRUE(la.GetIncrementalTag());
    EXPECT_EQ(*la.GetIncrementalTag(), tagA);
    EXPECT_EQ(*lb.GetIncrementalTag(), *hb.GetIncrementalTag());

    // A plain writer never saves incrementally.
    VSAXDocumentWriter plain;
    EXPECT_TRUE(ha.Write(plain));
    EXPECT_FALSE(ha.IsSavedIncrementally());
}

TEST(CurveSAXHelperCopy, CopiesShareTheTagAndMovesEmptyTheSource) {
    V3dCurveNurbsPlus curve;
    V3dCurveNurbsPlusSAXHelper helper(curve);
    ScriptReader r;
    Tag(helper, r, {"NURBS_CURVE", "Knots", "Count"}, "3");
    helper.SetObjectForSAXWriting(curve, "name");
    helper.SetIncrementalTag(std::make_shared<VelSAX::Incremental::TagUniqueID>(9));
    const V3dCurveNurbsPlusSAXHelper copy(helper);
    EXPECT_EQ(copy.GetIncrementalTag().get(), helper.GetIncrementalTag().get());
    EXPECT_EQ(Access::Knots(copy).size(), 3u);
    V3dCurveNurbsPlusSAXHelper moved(std::move(helper));
    EXPECT_EQ(Access::Knots(moved).size(), 3u);
    EXPECT_EQ(Access::StreamName(moved), "name");
    EXPECT_TRUE(Access::Knots(helper).empty());
    EXPECT_TRUE(Access::StreamName(helper).empty());
    EXPECT_FALSE(helper.GetIncrementalTag());
    EXPECT_EQ(Access::Object(moved), &curve);
}

// --- Bad documents ------------------------------------------------------------------------------

TEST(CurveSAXHelperBadInput, BadDocumentsAreRefusedAndTheCurveKeepsItsState) {
    const std::string good = WriteDocument(test::OpenCubic());
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        const std::size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? s : s.replace(at, from.size(), to);
    };
    auto cut = [&](const std::string& from, const std::string& to) {
        const std::size_t a = good.find(from), b = good.find(to, a);
        return good.substr(0, a) + good.substr(b + to.size());
    };
    std::string deep = "<NURBS_CURVE>";
    for (int i = 0; i < 1000; ++i) deep += "<x>";
    struct Case {
        std::string xml;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {good.substr(0, good.size() / 2), "XML:"},
        {replace("<Count>5</Count>", "<Count>6</Count>"),
         "element \"Data\" in \"ControlPoints\": binary block holds 160"},
        {replace("<Count>5</Count>", "<Count>4294967295</Count>"), "element \"Count\" in \"ControlPoints\""},
        {replace("<Count>5</Count>", "<Count>5000</Count>"),  // zero-filled, then more than the block
         "element \"Data\" in \"ControlPoints\": binary block holds 160"},
        {replace("<Count>9</Count>", "<Count>4000000000</Count>"), "Knots Count 4000000000 exceeds the document"},
        {cut("  <Knots>", "</Knots>\n"), "no \"Knots\" element"},
        {replace("<Dim>4</Dim>", "<Dim>3</Dim>"),
         "element \"Dim\" in \"ControlPoints\": refused by its handler (text \"3\")"},
        {replace("<DataType>double</DataType>", "<DataType>float</DataType>"), "element \"DataType\""},
        {replace("VelSAX.size=\"72\">\n", "VelSAX.size=\"72\">\n@"), "not valid base64"},
        {replace("<Order>4</Order>", "<Order>four</Order>"), "element \"Order\" in \"NURBS_CURVE\": text \"four\""},
        {replace("<Order>4</Order>", "<Order>4</Order><Extra/>"), "element \"Extra\" in \"NURBS_CURVE\": refused"},
        {deep, "element \"x\" in \"NURBS_CURVE\": refused by its handler"},  // long before the depth limit
        {"<!DOCTYPE NURBS_CURVE [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;\">]><NURBS_CURVE>&b;"
         "</NURBS_CURVE>",
         "document type declarations are not accepted"},
        {"<Other/>", "element \"Other\": refused by its handler"},
    };
    for (const Case& c : cases) {
        V3dCurveNurbsPlus curve = test::RationalQuadratic();
        curve.SetMinParameter(-5.0);
        const V3dCurveNurbsPlus before = curve;
        const VSAXReadResult r = V3dCurveNurbsPlusDocument::Load(c.xml, curve);
        EXPECT_FALSE(r.ok) << c.expected;
        EXPECT_NE(r.message.find(c.expected), std::string::npos) << r.message;
        EXPECT_TRUE(test::SameBits(curve, before)) << c.expected;
    }
    // The good document loads.
    V3dCurveNurbsPlus curve;
    ASSERT_TRUE(V3dCurveNurbsPlusDocument::Load(good, curve));
    EXPECT_TRUE(curve == test::OpenCubic());
}
