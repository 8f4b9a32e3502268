// Hostile input for the two readers of the fitted curve: binary records cut at every byte,
// with counts far beyond the data, odd flags and orders and non-finite numbers; and documents
// with absurd counts, wrong types, misplaced or repeated elements, deep nesting, entity
// declarations, broken base64 and non-finite data. A reader either rebuilds the curve through
// Reset or leaves it as the documented failure leaves it; it never reads outside its buffers,
// never allocates more than the input justifies (beyond that: std::length_error), and ends.
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"
#include "support/CurveTestAccess.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>

using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using hostile::kInf;
using hostile::kNaN;

namespace {

V3dCurveNurbsPlus OpenCubic() {
    V3dCurveNurbsPlus c;
    EXPECT_EQ(c.Reset({P4{0, 0, 0, 1}, P4{1, 2, 0, 1}, P4{2, -1, 0.5, 1}, P4{3, 1, 1, 1}, P4{4, 0, 0, 1}},
                      {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 4, false),
              V3dCurve::Success);
    return c;
}

std::string Record(const V3dCurveNurbsPlus& c) {
    std::ostringstream out(std::ios::binary);
    out << c;
    return out.str();
}

void PutU64(std::string& s, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}
void PutDouble(std::string& s, std::size_t at, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    PutU64(s, at, bits);
}

// Reads one record into a curve; a length error (a count beyond the data) is the documented
// refusal. Returns whether the read completed without it.
bool ReadRecord(const std::string& bytes, V3dCurveNurbsPlus& c) {
    std::istringstream in(bytes, std::ios::binary);
    try {
        in >> c;
        return true;
    } catch (const std::length_error&) {
        return false;
    }
}

// Reading leaves a valid curve only through Reset, or keeps the previous one: either way the
// held curve has more control points than its degree and at least control points + degree + 1
// knots.
// (The record reader applies the order and count fields before Reset, which may refuse them;
// the fields then describe the record, not the held curve.)
void ExpectConsistent(const V3dCurveNurbsPlus& c) {
    if (!c.IsValid()) return;
    const VelSDK::NURBS::V3dNurbsCurve& held = V3dCurveNurbsPlusTestAccess::Held(c);
    EXPECT_GE(held.GetDegree(), 1u);
    EXPECT_GT(held.GetControlPoints().size(), held.GetDegree());
    EXPECT_GE(held.GetKnots().size(), held.GetControlPoints().size() + held.GetDegree() + 1);
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    const std::size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

}  // namespace

TEST(HostileReaders, RecordsCutShortOrWithHostileFields) {
    const std::string full = Record(OpenCubic());  // 27 + 5 * 32 + 8 + 9 * 8 bytes
    const std::size_t knotCountAt = 27 + 5 * 32;
    std::vector<std::string> records;
    for (std::size_t cut = 0; cut < full.size(); ++cut) records.push_back(full.substr(0, cut));
    for (std::uint64_t n : {std::uint64_t{0}, std::uint64_t{4}, std::uint64_t{6}, std::uint64_t{1} << 32,
                            std::uint64_t{1} << 60, ~std::uint64_t{0}}) {
        for (std::size_t at : {std::size_t{18}, knotCountAt}) {  // the control-point and the knot count
            records.push_back(full);
            PutU64(records.back(), at, n);
        }
    }
    for (unsigned char byte : {0, 1, 2, 5, 0x80, 0xff}) {
        for (std::size_t at : {16, 17, 26}) {  // the closed flag, the order, the valid flag
            records.push_back(full);
            records.back()[at] = static_cast<char>(byte);
        }
    }
    for (double x : hostile::Numbers()) {
        std::string r = full;
        PutDouble(r, 0, x);                        // minimum
        PutDouble(r, 8, -x);                       // maximum
        PutDouble(r, 27 + 8, x);                   // a coordinate
        PutDouble(r, 27 + 3 * 8, x);               // a weight
        PutDouble(r, knotCountAt + 8 + 4 * 8, x);  // an interior knot
        records.push_back(r);
    }
    records.push_back(full + full);
    records.push_back(std::string(27, '\xff'));
    records.push_back(std::string(1000, '\0'));

    // A knot far outside the range sends the segmentation's samples there: it then refines an
    // extrapolated polynomial, up to its (here lowered) limit of 2^20 parameters.
    hostile::Ceiling ceiling(hostile::kSegmentationCeiling);
    for (const std::string& r : records) {
        V3dCurveNurbsPlus c = OpenCubic();
        (void)ReadRecord(r, c);
        ExpectConsistent(c);
        // Whatever was read, the curve is usable.
        P3 p{};
        (void)c.EvaluatePosition(p, 0.5);
        std::vector<double> list;
        try {
            (void)c.Segment(list, 1e-3, false);
        } catch (const std::length_error&) {
            EXPECT_TRUE(list.empty());
        }
        double t = 0.5;
        (void)c.ProjectPoint(t, P3{1, 1, 1}, 1e-9, true);
        // And a valid result whose order field describes its curve writes and reads back.
        if (c.IsValid() && c.GetOrder() == V3dCurveNurbsPlusTestAccess::Held(c).GetOrder()) {
            V3dCurveNurbsPlus back;
            ASSERT_TRUE(ReadRecord(Record(c), back));
            EXPECT_EQ(back.GetControlPoints().size(), c.GetControlPoints().size());
            EXPECT_EQ(back.GetKnots().size(), c.GetKnots().size());
        }
    }
    V3dCurveNurbsPlus whole;
    ASSERT_TRUE(ReadRecord(full, whole));
    EXPECT_TRUE(whole == OpenCubic());
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileReaders, DocumentsWithHostileContent) {
    const V3dCurveNurbsPlus original = OpenCubic();
    const std::string doc = V3dCurveNurbsPlusDocument::Save(original, "curve");
    std::vector<std::string> docs = {"",
                                     "<",
                                     "<NURBS_CURVE/>",
                                     "<NURBS_CURVE></NURBS_CURVE>",
                                     std::string(1000, '<'),
                                     "\xef\xbb\xbf<NURBS_CURVE>",
                                     std::string("<NURBS_CURVE>\0</NURBS_CURVE>", 27)};
    for (const char* count : {"4294967295", "18446744073709551615", "99999999999999999999999", "-1", "1e9", " 5",
                              "0x10", "", "5 5", "NaN"}) {
        docs.push_back(Replace(doc, "<Count>5</Count>", std::string("<Count>") + count + "</Count>"));
        docs.push_back(Replace(doc, "<Count>9</Count>", std::string("<Count>") + count + "</Count>"));
    }
    for (const char* order : {"0", "1", "255", "256", "-4", "four", "", "4.5"}) {
        docs.push_back(Replace(doc, "<Order>4</Order>", std::string("<Order>") + order + "</Order>"));
    }
    docs.push_back(Replace(doc, "<Dim>4</Dim>", "<Dim>3</Dim>"));
    docs.push_back(Replace(doc, "<Dim>4</Dim>", "<Dim>4294967300</Dim>"));
    docs.push_back(Replace(doc, "<DataType>double</DataType>", "<DataType>float</DataType>"));
    docs.push_back(Replace(doc, "<IsClosedLoop>false</IsClosedLoop>", "<IsClosedLoop>maybe</IsClosedLoop>"));
    docs.push_back(Replace(doc, "<Knots>", "<Knots><Knots>"));
    docs.push_back(Replace(doc, "</NURBS_CURVE>", "<NURBS_CURVE></NURBS_CURVE></NURBS_CURVE>"));
    docs.push_back(Replace(doc, "<Order>4</Order>", "<Order>4</Order><Order>3</Order>"));
    docs.push_back(Replace(doc, "<ControlPoints>", "<ControlPoints><Data>AAAA</Data>"));
    docs.push_back(Replace(doc, "VelSAX.size=\"160\"", "VelSAX.size=\"18446744073709551615\""));
    docs.push_back(Replace(doc, "VelSAX.size=\"160\"", "VelSAX.size=\"-160\""));
    docs.push_back(Replace(doc, "VelSAX.offset=\"160\"", "VelSAX.offset=\"99999999999\""));
    docs.push_back(Replace(doc, "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA8D8", "!!!!"));
    docs.push_back(Replace(doc, "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA8D8", "AAAA====AAAA"));
    // Control points and knots that are NaN, infinite or subnormal (Reset takes them).
    {
        V3dCurveNurbsPlus odd;
        EXPECT_EQ(odd.Reset({P4{kNaN, 0, 0, 1}, P4{1, kInf, 0, 0}, P4{5e-324, 0, -kInf, 1}}, {0, kNaN, 0, 1, 1, -kInf},
                            3, true),
                  V3dCurve::Success);
        docs.push_back(V3dCurveNurbsPlusDocument::Save(odd, "odd"));
    }
    // Entities: a document type is refused outright, so nothing expands.
    docs.push_back(
        "<?xml version=\"1.0\"?><!DOCTYPE lol [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><NURBS_CURVE><Order>&c;</Order></NURBS_CURVE>");
    docs.push_back("<!DOCTYPE x SYSTEM \"file:///etc/passwd\"><NURBS_CURVE/>");
    // Deep nesting and long text.
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<a>";
    docs.push_back("<NURBS_CURVE>" + deep);
    docs.push_back(Replace(doc, "<Order>4</Order>", "<Order>" + std::string(1 << 20, '4') + "</Order>"));
    docs.push_back(doc + doc);
    for (std::size_t cut = 0; cut < doc.size(); cut += 7) docs.push_back(doc.substr(0, cut));

    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    for (const std::string& d : docs) {
        V3dCurveNurbsPlus c = OpenCubic();
        V3dCurveNurbsPlus before(c);
        VelSAX::VSAXReadResult result;
        try {
            result = V3dCurveNurbsPlusDocument::Load(d, c);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "exception " << e.what() << " for\n" << d.substr(0, 200);
            continue;
        }
        ExpectConsistent(c);
        if (!result.ok) {
            EXPECT_TRUE(c == before) << d.substr(0, 200);  // all or nothing
            EXPECT_FALSE(result.message.empty());
        }
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileReaders, TextConversionOfBrokenText) {
    // Unpaired surrogates, values beyond U+10FFFF and broken UTF-8 become U+FFFD; whatever comes
    // in, the UTF-8 that goes out converts back without a replacement of its own.
    const std::wstring wide = {L'a',
                               static_cast<wchar_t>(0xD800),
                               static_cast<wchar_t>(0xDFFF),
                               static_cast<wchar_t>(0x10FFFF),
                               static_cast<wchar_t>(0x110000),
                               static_cast<wchar_t>(-1),
                               L'\0',
                               static_cast<wchar_t>(0xFFFD)};
    const std::string utf8 = StringConversion::NativeToUtf8(wide);
    const std::wstring back = StringConversion::Utf8ToNative(utf8);
    EXPECT_EQ(StringConversion::NativeToUtf8(back), utf8);
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    for (const std::string& s : {bytes, std::string("\xf4\x90\x80\x80"), std::string("\xc0\xaf"),
                                 std::string("\xed\xa0\x80"), std::string("\xe2\x82"), std::string(100000, '\xff')}) {
        const std::wstring w = StringConversion::Utf8ToNative(s);
        const std::string again = StringConversion::NativeToUtf8(w);
        EXPECT_EQ(StringConversion::Utf8ToNative(again), w);
        EXPECT_LE(w.size(), s.size());
    }
}
