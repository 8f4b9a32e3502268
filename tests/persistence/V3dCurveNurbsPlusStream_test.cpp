// The binary record of the fitted curve: byte layout (decoded by hand, and one golden record),
// the round trip through record and document, the reading rules, short and hostile records.
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusStream.h>

#include "persistence/CurveFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string Record(const V3dCurveNurbsPlus& curve) {
    std::ostringstream out(std::ios::binary);
    out << curve;
    return out.str();
}

// Independent little-endian decoding of the record's fields.
std::uint64_t U64(const std::string& s, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}
double F64(const std::string& s, std::size_t at) { return test::FromBits(U64(s, at)); }

void PutU64(std::string& s, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

V3dCurveNurbsPlus Read(const std::string& record, V3dCurveNurbsPlus target, bool* failed = nullptr) {
    std::istringstream in(record);
    in >> target;
    if (failed) *failed = in.fail();
    return target;
}

}  // namespace

// The header (range, closed flag, order, count, valid flag), then the points and knots. The
// count written is that of the held curve, not the count field.
TEST(CurveStreamWrite, RecordsAreLaidOutInOrderAndTheOpenCubicIsGolden) {
    V3dCurveNurbsPlus invalid;
    invalid.SetMinParameter(-1.5);
    invalid.SetMaxParameter(2.25);
    invalid.SetOrder(5);
    invalid.SetNumberControlPoints(12);
    V3dCurveNurbsPlus miscounted = test::OpenCubic();
    miscounted.SetNumberControlPoints(9);
    const struct {
        V3dCurveNurbsPlus curve;
        std::size_t size;
        double lo, hi;
        char closed, order, valid;
        std::uint64_t count;
    } cases[] = {{invalid, 27, -1.5, 2.25, 0, 5, 0, 12},
                 {miscounted, 27 + 160 + 8 + 72, 0.0, 1.0, 0, 4, 1, 5},
                 {test::ClosedQuadratic(), 27 + 192 + 8 + 72, 0.0, 1.0, 1, 3, 1, 6}};
    for (const auto& k : cases) {
        const std::string r = Record(k.curve);
        ASSERT_EQ(r.size(), k.size);
        EXPECT_EQ(F64(r, 0), k.lo);
        EXPECT_EQ(F64(r, 8), k.hi);
        EXPECT_EQ(r[16], k.closed);
        EXPECT_EQ(r[17], k.order);
        EXPECT_EQ(U64(r, 18), k.count);
        EXPECT_EQ(r[26], k.valid);
        if (k.valid) {
            EXPECT_EQ(U64(r, 27 + 32 * k.count), k.curve.GetKnots().size());
        }
    }
    EXPECT_EQ(Record(test::OpenCubic()), test::Golden("open_cubic.bin"));
}

// Every curve comes back bit for bit through consecutive records and through its document: a
// cubic fit whose order was lowered afterwards comes back with its longer knot vector and the
// range knots[order - 1] to knots[n]; an invalid curve is written with no points, which Reset
// refuses, so the target keeps its state.
TEST(CurveRoundTrip, RecordsAndDocumentsGiveBackEveryCurveBitForBit) {
    V3dCurveNurbsPlus invalid;
    invalid.SetOrder(6);
    invalid.SetMinParameter(3.0);
    std::vector<VelSDK::Math::point<double, 3>> data;
    for (int i = 0; i < 12; ++i) data.push_back({std::cos(0.4 * i), std::sin(0.5 * i), 0.1 * i * i});
    V3dCurveNurbsPlus lowered;
    lowered.SetOrder(4);
    ASSERT_EQ(lowered.Fit(data, false), V3dCurve::Success);
    lowered.SetOrder(2);
    const std::vector<V3dCurveNurbsPlus> curves = {
        test::OpenCubic(), test::ClosedQuadratic(), test::RationalQuadratic(), test::SpecialValues(), invalid, lowered};
    std::stringstream all(std::ios::in | std::ios::out | std::ios::binary);
    for (const V3dCurveNurbsPlus& c : curves) all << c;
    for (std::size_t i = 0; i < curves.size(); ++i) {
        SCOPED_TRACE(i);
        V3dCurveNurbsPlus fromRecord = test::RationalQuadratic();
        all >> fromRecord;
        EXPECT_TRUE(all.good());
        EXPECT_TRUE(test::SameBits(fromRecord, curves[i]));
        V3dCurveNurbsPlus fromDocument = curves[i].IsValid() ? V3dCurveNurbsPlus() : invalid;
        ASSERT_TRUE(V3dCurveNurbsPlusDocument::Load(V3dCurveNurbsPlusDocument::Save(curves[i], "c"), fromDocument));
        EXPECT_TRUE(test::SameBits(fromDocument, curves[i]));
    }
    EXPECT_EQ(lowered.GetMinParameter(), lowered.GetKnots()[1]);
    EXPECT_EQ(lowered.GetMaxParameter(), lowered.GetKnots()[lowered.GetControlPoints().size()]);
}

TEST(CurveStreamRead, AppliesRangeOrderAndCountBeforeTheValidFlag) {
    // A closed curve comes back on [0, 1], whatever range the record holds.
    std::string r = Record(test::ClosedQuadratic());
    PutU64(r, 0, test::Bits(7.0));
    const V3dCurveNurbsPlus closed = Read(r, V3dCurveNurbsPlus());
    EXPECT_TRUE(closed.IsValid() && closed.IsClosedLoop());
    EXPECT_TRUE(closed.GetMinParameter() == 0.0 && closed.GetMaxParameter() == 1.0);

    // An invalid record invalidates the target with its range; its closed flag is not applied.
    std::string inv = Record(V3dCurveNurbsPlus());
    PutU64(inv, 0, test::Bits(-2.0));
    inv[16] = 1;
    const V3dCurveNurbsPlus target = Read(inv, test::OpenCubic());
    EXPECT_FALSE(target.IsValid() || target.IsClosedLoop());
    EXPECT_EQ(target.GetMinParameter(), -2.0);
    EXPECT_EQ(target.GetNumberKnots(), 0u);

    // Order 1 with the valid flag: Reset refuses, the old points stay, range and order are read.
    std::string one = Record(test::OpenCubic());
    one[17] = 1;
    PutU64(one, 8, test::Bits(0.75));
    const V3dCurveNurbsPlus kept = Read(one, test::RationalQuadratic());
    EXPECT_TRUE(kept.IsValid() && kept.GetOrder() == 1 && kept.GetNumberControlPoints() == 5u);
    EXPECT_EQ(kept.GetMaxParameter(), 0.75);
    EXPECT_EQ(kept.GetControlPoints(), test::RationalQuadratic().GetControlPoints());
}

// A record cut short sets failbit; what is missing reads as zero: a cut header reads as not
// valid, cut points leave the knot count 0 (Reset refuses), cut knots are taken as zeros.
TEST(CurveStreamRead, ShortRecordsLeaveZerosAndSetFailbit) {
    const std::string full = Record(test::OpenCubic());
    for (const std::size_t n : {std::size_t{20}, std::size_t{100}, std::size_t{203}}) {
        SCOPED_TRACE(n);
        bool failed = false;
        const V3dCurveNurbsPlus back = Read(full.substr(0, n), test::RationalQuadratic(), &failed);
        EXPECT_TRUE(failed);
        EXPECT_EQ(back.IsValid(), n > 27);
        const V3dCurveNurbsPlus& points = n < 188 ? test::RationalQuadratic() : test::OpenCubic();
        if (n > 27) {
            EXPECT_EQ(back.GetControlPoints(), points.GetControlPoints());
        }
        if (n > 188) {
            EXPECT_EQ(back.GetKnots(), std::vector<double>(9, 0.0));
        }
    }
}

// Up to 2^24 points (2^24 + 256 knots) missing values are zero-filled; beyond, length_error.
TEST(CurveStreamRead, CountsBeyondTheBoundAreRefused) {
    for (const std::size_t at : {std::size_t{18}, std::size_t{187}}) {
        for (const std::uint64_t n : {(std::uint64_t{1} << 24) + 257, ~std::uint64_t{0}}) {
            std::string r = Record(test::OpenCubic());
            PutU64(r, at, n);
            std::istringstream in(r);
            V3dCurveNurbsPlus back = test::RationalQuadratic();
            EXPECT_THROW(in >> back, std::length_error);
            EXPECT_TRUE(in.fail());
        }
    }
}
