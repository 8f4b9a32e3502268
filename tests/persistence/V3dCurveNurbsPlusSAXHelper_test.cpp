// The fitted curve's document element: the golden document, the tag rules and the rebuild
// through a scripted reader, incremental saving, and refusal of bad documents.
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusSAXHelper.h>
#include <VelSDK/VSAXDocumentWriter.h>
#include <VelSDK/VSAXIncrementalDocumentReader.h>
#include <VelSDK/VSAXIncrementalDocumentWriter.h>
#include <VelSDK/VelSAX.h>

#include "persistence/CurveFixtures.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace VelSAX;
using Access = V3dCurveNurbsPlusSAXHelperTestAccess;
using test::P4;

namespace {

// A reader that plays one element at a time: the element path, its text and its block.
struct ScriptReader : ISAXReader {
    std::vector<std::string> path;  // root first, current element last
    std::string text;
    VSAXStreamBinaryIn block;
    bool ReadValue(bool& v) override { return (v = text == "true") || text == "false"; }
    bool ReadValue(unsigned char& v) override { return Number(v, 255); }
    bool ReadValue(unsigned long& v) override { return Number(v, 0xFFFFFFFFul); }
    bool ReadValue(double&) override { return false; }
    bool ReadValue(std::string& v) override { return v = text, true; }
    bool ReadValue(std::wstring& v) override { return v.assign(text.begin(), text.end()), true; }
    const std::string& ParentTagName(std::size_t depth) const override {
        static const std::string none;
        return depth < path.size() ? path[path.size() - 1 - depth] : none;
    }
    VSAXStreamBinaryIn& GetBinaryStream() override { return block; }
    bool CanHold(std::size_t, std::size_t) const override { return true; }
    bool ReadObject(ISAXPersistBase&) override { return false; }
    ISAXReference* FindReference(unsigned int) const override { return nullptr; }
    template <typename T>
    bool Number(T& v, unsigned long max) {
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 10 ||
            std::stoull(text) > max)
            return false;
        v = static_cast<T>(std::stoull(text));
        return true;
    }
};

struct Event {
    std::vector<std::string> path;
    std::string text;
    std::vector<double> block;
    Event(std::vector<std::string> p, std::string t = "", std::vector<double> b = {})
        : path(std::move(p)), text(std::move(t)), block(std::move(b)) {}
};

bool Play(V3dCurveNurbsPlusSAXHelper& helper, const Event& e) {
    ScriptReader r;
    r.path = e.path;
    r.text = e.text;
    VSAXStreamBinaryOut out("s");
    for (const double v : e.block) out << v;
    const std::string_view bytes = out.GetBytes(0);
    r.block = VSAXStreamBinaryIn(std::vector<unsigned char>(bytes.begin(), bytes.end()));
    return helper.HandleTag(e.path.back(), r);
}

const std::vector<std::string> kCP = {"NURBS_CURVE", "ControlPoints"}, kKnots = {"NURBS_CURVE", "Knots"};
std::vector<std::string> Under(std::vector<std::string> parent, const std::string& name) {
    parent.push_back(name);
    return parent;
}

}  // namespace

TEST(CurveSAXHelperWrite, MatchesTheGoldenDocumentAndNeedsCurveAndStreamName) {
    const std::string xml = V3dCurveNurbsPlusDocument::Save(test::OpenCubic(), "curve");
    EXPECT_EQ(xml, test::Golden("open_cubic.xml"));

    V3dCurveNurbsPlusSAXHelper helper;
    VSAXDocumentWriter writer;
    EXPECT_FALSE(helper.Write(writer));
    const V3dCurveNurbsPlus curve = test::OpenCubic();
    helper.SetObjectForSAXWriting(curve, "");
    EXPECT_FALSE(helper.Write(writer));
    EXPECT_EQ(writer.GetDepth(), 0u);
}

// A name is read only under its parent (and grandparent), case-sensitive; Dim must be 4 and
// DataType "double"; a helper without a curve refuses everything. Each row: events played
// in order, the earlier ones accepted, the last one accepted or refused.
TEST(CurveSAXHelperRead, TagRulesAsEventSequences) {
    const struct {
        std::vector<Event> events;
        bool accepted;
    } rows[] = {
        {{{{"Host", "NURBS_CURVE"}, ""}}, true},
        {{{{"NURBS_CURVE", "Order"}, "4"}}, true},
        {{{Under(kKnots, "Order"), "7"}}, false},
        {{{{"Other", "Order"}, "7"}}, false},
        {{{{"NURBS_CURVE", "order"}, "7"}}, false},
        {{{{"Other", "ControlPoints", "Count"}, "3"}}, false},
        {{{Under(kKnots, "Dim"), "4"}}, false},
        {{{{"NURBS_CURVE", "Unknown"}, ""}}, false},
        {{{{"NURBS_CURVE", "IsClosedLoop"}, "true"}}, true},
        {{{Under(kCP, "Dim"), "4"}}, true},
        {{{Under(kCP, "Dim"), "3"}}, false},
        {{{Under(kCP, "DataType"), "double"}, {Under(kKnots, "DataType"), "double"}}, true},
        {{{Under(kCP, "DataType"), "float"}}, false},
        {{{Under(kCP, "Count"), "bad"}}, true},  // nothing read: 0
        {{{Under(kCP, "Count"), "2"}, {Under(kCP, "Data"), "", {1, 2, 3, 4, 5, 6, 7, 8, 9}}}, true},
    };
    for (const auto& row : rows) {
        V3dCurveNurbsPlus curve;
        V3dCurveNurbsPlusSAXHelper helper(curve);
        for (std::size_t i = 0; i + 1 < row.events.size(); ++i) ASSERT_TRUE(Play(helper, row.events[i]));
        const Event& last = row.events.back();
        EXPECT_EQ(Play(helper, last), row.accepted) << last.path.back() << " " << last.text;
    }
    V3dCurveNurbsPlusSAXHelper empty;
    EXPECT_FALSE(Play(empty, {{"NURBS_CURVE"}, ""}));
}

// Counts resize the buffers (zero-filled), blocks fill them as far as they go, and the curve
// is rebuilt through Reset only when Knots ends; SetDefaults clears what was gathered.
TEST(CurveSAXHelperRead, BuffersFillAndTheCurveChangesOnlyWhenKnotsEnds) {
    V3dCurveNurbsPlus curve = test::RationalQuadratic();
    const V3dCurveNurbsPlus before = curve;
    V3dCurveNurbsPlusSAXHelper helper(curve);
    for (const Event& e : std::vector<Event>{{{"NURBS_CURVE", "Order"}, "4"},
                                             {Under(kCP, "Count"), "6"},
                                             {Under(kCP, "Data"), "", {1, 2, 3, 4, 5, 6, 7, 8}},
                                             {Under(kCP, "Count"), "5"},
                                             {Under(kKnots, "Count"), "9"},
                                             {Under(kKnots, "Data"), "", {0, 0, 0, 0, 0.5, 1, 1, 1, 1, 99}}})
        ASSERT_TRUE(Play(helper, e));
    helper.HandleEndTag("Data");
    helper.HandleEndTag("ControlPoints");
    EXPECT_TRUE(test::SameBits(curve, before));
    helper.HandleEndTag("Knots");
    EXPECT_TRUE(curve.IsValid());
    EXPECT_EQ(curve.GetOrder(), 4);
    EXPECT_EQ(curve.GetControlPoints(), (std::vector<P4>{{1, 2, 3, 4}, {5, 6, 7, 8}, {}, {}, {}}));
    EXPECT_EQ(curve.GetKnots(), test::OpenCubic().GetKnots());

    // An order of 1 is refused by Reset: the curve stays as it was.
    const V3dCurveNurbsPlus rebuilt = curve;
    ASSERT_TRUE(Play(helper, {{"NURBS_CURVE", "Order"}, "1"}));
    helper.HandleEndTag("Knots");
    EXPECT_TRUE(test::SameBits(curve, rebuilt));

    helper.SetObjectForSAXWriting(curve, "s");
    helper.SetDefaults();
    EXPECT_EQ(Access::Order(helper), 0);
    EXPECT_TRUE(Access::Knots(helper).empty() && Access::ControlPoints(helper).empty());
    EXPECT_EQ(Access::Object(helper), &curve);
    EXPECT_EQ(Access::StreamName(helper), "s");
}

// An unchanged curve is carried over from the previous document once, not written again; the
// incremental reader hands the identity back to the helper; repeated identities are refused.
TEST(CurveSAXHelperIncremental, AnUnchangedElementIsCarriedOverAndNotWritten) {
    V3dCurveNurbsPlus a = test::OpenCubic();
    V3dCurveNurbsPlusSAXHelper helper;
    helper.SetObjectForSAXWriting(a, "a");
    VSAXIncrementalDocumentWriter first;
    ASSERT_TRUE(helper.Write(first));
    EXPECT_FALSE(helper.IsSavedIncrementally());
    ASSERT_TRUE(helper.GetIncrementalTag());
    const VelSAX::Incremental::TagUniqueID tag = *helper.GetIncrementalTag();

    a = test::ClosedQuadratic();  // not written: the element is declared unchanged
    VSAXIncrementalDocumentWriter second;
    ASSERT_TRUE(second.LoadPrevious(first.GetDocument()));
    second.SetUnchanged(tag);
    ASSERT_TRUE(helper.Write(second));
    EXPECT_TRUE(helper.IsSavedIncrementally());
    EXPECT_EQ(second.GetDocument(), first.GetDocument());
    EXPECT_FALSE(second.IsUpToDate(tag));

    V3dCurveNurbsPlus back;
    V3dCurveNurbsPlusSAXHelper reading(back);
    VSAXIncrementalDocumentReader reader;
    ASSERT_TRUE(reader.Read(second.GetDocument(), reading));
    EXPECT_TRUE(back == test::OpenCubic());
    ASSERT_TRUE(reading.GetIncrementalTag());
    EXPECT_EQ(*reading.GetIncrementalTag(), tag);
    VSAXDocumentWriter plain;  // a plain writer never saves incrementally
    EXPECT_TRUE(helper.Write(plain));
    EXPECT_FALSE(helper.IsSavedIncrementally());
    const VSAXReadResult r = second.LoadPrevious("<R><A VelSAX.uid=\"5\"/><B VelSAX.uid=\"5\"/></R>");
    EXPECT_NE(r.message.find("identity 5 appears twice"), std::string::npos) << r.message;
}

TEST(CurveSAXHelperBadInput, BadDocumentsAreRefusedAndTheCurveKeepsItsState) {
    const std::string good = V3dCurveNurbsPlusDocument::Save(test::OpenCubic(), "curve");
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        return s.replace(s.find(from), from.size(), to);  // throws if from is missing
    };
    const std::size_t knots = good.find("  <Knots>");
    std::string deep = "<NURBS_CURVE>";
    for (int i = 0; i < 1000; ++i) deep += "<x>";
    const struct {
        std::string xml;
        const char* expected;
    } cases[] = {
        {good.substr(0, good.size() / 2), "XML:"},
        {replace("<Count>5</Count>", "<Count>6</Count>"),
         "element \"Data\" in \"ControlPoints\": binary block holds 160"},
        {replace("<Count>5</Count>", "<Count>4294967295</Count>"), "element \"Count\" in \"ControlPoints\""},
        {replace("<Count>9</Count>", "<Count>4000000000</Count>"), "Knots Count 4000000000 exceeds the document"},
        {good.substr(0, knots) + good.substr(good.find("</Knots>\n") + 9), "no \"Knots\" element"},
        {deep, "element \"x\" in \"NURBS_CURVE\": refused by its handler"},  // long before the depth limit
        {"<Other/>", "element \"Other\": refused by its handler"},
    };
    for (const auto& c : cases) {
        V3dCurveNurbsPlus curve = test::RationalQuadratic();
        curve.SetMinParameter(-5.0);
        const V3dCurveNurbsPlus before = curve;
        const VSAXReadResult r = V3dCurveNurbsPlusDocument::Load(c.xml, curve);
        EXPECT_FALSE(r.ok) << c.expected;
        EXPECT_NE(r.message.find(c.expected), std::string::npos) << r.message;
        EXPECT_TRUE(test::SameBits(curve, before)) << c.expected;
    }
}
