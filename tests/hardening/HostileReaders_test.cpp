// The documented answers of the two readers of the fitted curve on hostile input (arbitrary
// bytes are the fuzz targets' fuzz_curve_stream and fuzz_curve_document): a binary record whose
// count the data cannot hold throws std::length_error with the held curve unchanged; a document
// that is refused (absurd counts or orders, a document type, a cut) leaves the curve as it was
// and names the problem. (Broken text in the conversions: tests/persistence.)
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

using P4 = VelSDK::Math::point<double, 4>;

namespace {

V3dCurveNurbsPlus OpenCubic() {
    V3dCurveNurbsPlus c;
    EXPECT_EQ(c.Reset({P4{0, 0, 0, 1}, P4{1, 2, 0, 1}, P4{2, -1, 0.5, 1}, P4{3, 1, 1, 1}, P4{4, 0, 0, 1}},
                      {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 4, false),
              V3dCurve::Success);
    return c;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    const std::size_t at = s.find(from);  // a document left whole would load and fail the test
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

}  // namespace

TEST(HostileReaders, RecordCountsBeyondTheDataThrowLengthError) {
    std::ostringstream out(std::ios::binary);
    out << OpenCubic();
    const std::string full = out.str();  // 27 + 5 * 32 + 8 + 9 * 8 bytes
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    for (std::size_t at : {std::size_t{18}, std::size_t{27 + 5 * 32}})  // the control-point and the knot count
        for (std::uint64_t n : {(std::uint64_t{1} << 24) + 300, std::uint64_t{1} << 60, ~std::uint64_t{0}}) {
            std::string r = full;
            for (int i = 0; i < 8; ++i) r[at + static_cast<std::size_t>(i)] = static_cast<char>(n >> (8 * i));
            V3dCurveNurbsPlus c = OpenCubic();
            std::istringstream in(r, std::ios::binary);
            EXPECT_THROW(in >> c, std::length_error) << at << " " << n;
            EXPECT_TRUE(in.fail());
            EXPECT_TRUE(hostile::Same(c.GetControlPoints(), OpenCubic().GetControlPoints()) &&
                        hostile::Same(c.GetKnots(), OpenCubic().GetKnots()));
        }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileReaders, RefusedDocumentsLeaveTheCurveAndNameTheProblem) {
    const std::string doc = V3dCurveNurbsPlusDocument::Save(OpenCubic(), "curve");
    std::vector<std::string> docs = {"", "<NURBS_CURVE/>", doc.substr(0, doc.find("</Knots>")),
                                     "<!DOCTYPE x SYSTEM \"file:///etc/passwd\"><NURBS_CURVE/>",
                                     "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"aaaa\">]>"
                                     "<NURBS_CURVE><Order>&a;</Order></NURBS_CURVE>"};
    for (const char* count : {"4294967295", "18446744073709551615", "99999999999999999999999", "-1", "NaN"}) {
        docs.push_back(Replace(doc, "<Count>5</Count>", std::string("<Count>") + count + "</Count>"));
        docs.push_back(Replace(doc, "<Count>9</Count>", std::string("<Count>") + count + "</Count>"));
    }
    for (const char* order : {"256", "-4", "four"})
        docs.push_back(Replace(doc, "<Order>4</Order>", std::string("<Order>") + order + "</Order>"));
    docs.push_back(Replace(doc, "VelSAX.size=\"160\"", "VelSAX.size=\"18446744073709551615\""));
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    for (const std::string& d : docs) {
        V3dCurveNurbsPlus c = OpenCubic();
        c.SetOrder(3);  // a field Reset would overwrite
        const V3dCurveNurbsPlus before(c);
        const VelSAX::VSAXReadResult result = V3dCurveNurbsPlusDocument::Load(d, c);
        EXPECT_FALSE(result.ok) << d.substr(0, 200);
        EXPECT_FALSE(result.message.empty());
        EXPECT_TRUE(c == before && c.GetOrder() == 3) << d.substr(0, 200);
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}
