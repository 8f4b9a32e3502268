// The binary record of the fitted curve: byte layout, round trips, the reading rules and
// short or hostile records.
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusStream.h>

#include "persistence/CurveFixtures.h"
#include "persistence/PersistenceTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using test::P4;

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

}  // namespace

// The header (range, closed flag, order, count, valid flag), then the points and knots, read
// back here with an independent little-endian decoder; the open cubic's record is also golden.
TEST(CurveStreamWrite, RecordsAreLaidOutInOrder) {
    V3dCurveNurbsPlus invalid;
    invalid.SetMinParameter(-1.5);
    invalid.SetMaxParameter(2.25);
    invalid.SetOrder(5);
    invalid.SetNumberControlPoints(12);
    const struct {
        V3dCurveNurbsPlus curve;
        std::size_t size;
        double lo, hi;
        char closed, order, valid;
        std::uint64_t count;
    } cases[] = {{invalid, 27, -1.5, 2.25, 0, 5, 0, 12},
                 {test::OpenCubic(), 27 + 160 + 8 + 72, 0.0, 1.0, 0, 4, 1, 5},
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
        if (!k.valid) continue;
        for (std::size_t i = 0; i < k.count; ++i)
            for (std::size_t c = 0; c < 4; ++c) EXPECT_EQ(F64(r, 27 + 32 * i + 8 * c), k.curve.GetControlPoint(i)[c]);
        const std::size_t knots = 27 + 32 * k.count;
        ASSERT_EQ(U64(r, knots), k.curve.GetKnots().size());
        for (std::size_t i = 0; i < k.curve.GetKnots().size(); ++i)
            EXPECT_EQ(F64(r, knots + 8 + 8 * i), k.curve.GetKnots()[i]);
    }
    // The golden record: a format change must be deliberate.
    const std::string path = std::string(VELSDK_TEST_DATA_DIR) + "/persistence/open_cubic.bin";
    const std::string golden = test::ReadFileBytes(path);
    if (golden.empty()) test::WriteFileBytes(path + ".new", Record(test::OpenCubic()));
    EXPECT_EQ(Record(test::OpenCubic()), golden);
}

TEST(CurveStreamWrite, AChangedCountFieldStillWritesARecordThatReadsBack) {
    V3dCurveNurbsPlus curve = test::OpenCubic();
    curve.SetNumberControlPoints(9);  // the field no longer matches the held curve
    const std::string r = Record(curve);
    EXPECT_EQ(U64(r, 18), 5u);
    EXPECT_EQ(r.size(), 267u);
    std::istringstream in(r);
    V3dCurveNurbsPlus back;
    in >> back;
    EXPECT_TRUE(back == test::OpenCubic());
}

TEST(CurveStreamRoundTrip, OpenClosedRationalInvalidAndSpecialValues) {
    V3dCurveNurbsPlus invalid;
    invalid.SetOrder(6);
    invalid.SetMinParameter(3.0);
    const std::vector<V3dCurveNurbsPlus> curves = {test::OpenCubic(), test::ClosedQuadratic(),
                                                   test::RationalQuadratic(), test::SpecialValues(), invalid};
    std::stringstream all(std::ios::in | std::ios::out | std::ios::binary);
    for (const V3dCurveNurbsPlus& c : curves) all << c;  // records follow each other
    for (std::size_t i = 0; i < curves.size(); ++i) {
        SCOPED_TRACE(i);
        V3dCurveNurbsPlus back = test::RationalQuadratic();
        all >> back;
        EXPECT_TRUE(all.good());
        EXPECT_TRUE(test::SameBits(back, curves[i]));
        if (i != 3) {
            EXPECT_TRUE(back == curves[i]);  // NaN equals nothing
        }
    }
}

TEST(CurveRoundTrip, AFitSavedAfterSetOrderLoadsBackFromRecordAndDocument) {
    // A cubic fit (n + 4 knots) whose order is then lowered is written with the new order
    // and its longer knot vector; reading rebuilds it through Reset: valid, the points and
    // knots as written, degree order - 1, range knots[order - 1] to knots[n] (open) or
    // [0, 1] (closed). A raised order leaves the knot vector short: Reset refuses, the
    // target keeps its held curve.
    std::vector<VelSDK::Math::point<double, 3>> data;
    for (int i = 0; i < 12; ++i) data.push_back({std::cos(0.4 * i), std::sin(0.5 * i), 0.1 * i * i});
    for (bool closed : {false, true}) {
        for (unsigned char order : {2, 3, 4, 5}) {
            SCOPED_TRACE(std::to_string(order) + (closed ? " closed" : " open"));
            V3dCurveNurbsPlus fit;
            fit.SetOrder(4);
            ASSERT_EQ(fit.Fit(data, closed), V3dCurve::Success);
            fit.SetOrder(order);
            const std::size_t n = fit.GetControlPoints().size();
            std::istringstream record(Record(fit));
            V3dCurveNurbsPlus fromRecord = test::RationalQuadratic();
            record >> fromRecord;
            V3dCurveNurbsPlus fromDocument = test::RationalQuadratic();
            ASSERT_TRUE(V3dCurveNurbsPlusDocument::Load(V3dCurveNurbsPlusDocument::Save(fit, "c"), fromDocument).ok);
            for (const V3dCurveNurbsPlus* back : {&fromRecord, &fromDocument}) {
                if (order > 4) {
                    EXPECT_EQ(back->GetControlPoints(), test::RationalQuadratic().GetControlPoints());
                    continue;
                }
                EXPECT_TRUE(back->IsValid());
                EXPECT_EQ(back->GetOrder(), order);
                EXPECT_EQ(back->GetControlPoints(), fit.GetControlPoints());
                EXPECT_EQ(back->GetKnots(), fit.GetKnots());
                EXPECT_EQ(back->GetMinParameter(), closed ? 0.0 : fit.GetKnots()[order - 1u]);
                EXPECT_EQ(back->GetMaxParameter(), closed ? 1.0 : fit.GetKnots()[n]);
                EXPECT_TRUE(*back == fit);
            }
        }
    }
}

TEST(CurveStreamRead, AppliesRangeOrderAndCountBeforeTheValidFlag) {
    // A closed curve comes back on [0, 1], whatever range the record holds.
    std::string r = Record(test::ClosedQuadratic());
    PutU64(r, 0, test::Bits(7.0));
    PutU64(r, 8, test::Bits(9.0));
    V3dCurveNurbsPlus back;
    std::istringstream(r) >> back;
    EXPECT_TRUE(back.IsValid());
    EXPECT_TRUE(back.IsClosedLoop());
    EXPECT_EQ(back.GetMinParameter(), 0.0);
    EXPECT_EQ(back.GetMaxParameter(), 1.0);

    // A record of a curve that is not valid invalidates the target and leaves the stored
    // range applied; its closed-loop flag is not applied.
    std::string inv = Record(V3dCurveNurbsPlus());
    PutU64(inv, 0, test::Bits(-2.0));
    inv[16] = 1;
    V3dCurveNurbsPlus target = test::OpenCubic();
    std::istringstream(inv) >> target;
    EXPECT_FALSE(target.IsValid());
    EXPECT_EQ(target.GetMinParameter(), -2.0);
    EXPECT_FALSE(target.IsClosedLoop());
    EXPECT_EQ(target.GetNumberKnots(), 0u);

    // Order 1 with the valid flag set: Reset refuses, the old curve stays, but range, order
    // and count are those of the record.
    std::string one = Record(test::OpenCubic());
    one[17] = 1;
    PutU64(one, 0, test::Bits(0.25));
    PutU64(one, 8, test::Bits(0.75));
    V3dCurveNurbsPlus kept = test::RationalQuadratic();
    std::istringstream(one) >> kept;
    EXPECT_TRUE(kept.IsValid());
    EXPECT_EQ(kept.GetOrder(), 1);
    EXPECT_EQ(kept.GetNumberControlPoints(), 5u);
    EXPECT_EQ(kept.GetMinParameter(), 0.25);
    EXPECT_EQ(kept.GetMaxParameter(), 0.75);
    EXPECT_EQ(kept.GetControlPoints(), test::RationalQuadratic().GetControlPoints());
}

TEST(CurveStreamRead, ShortRecordsLeaveZerosAndSetFailbit) {
    const std::string full = Record(test::OpenCubic());
    for (std::size_t n = 0; n < full.size(); ++n) {
        SCOPED_TRACE(n);
        std::istringstream in(full.substr(0, n));
        V3dCurveNurbsPlus back = test::RationalQuadratic();
        in >> back;
        EXPECT_TRUE(in.fail());
        if (n < 27) {
            EXPECT_FALSE(back.IsValid());  // the valid flag reads as 0
        } else if (n < 188) {
            // Points cut short, then K reads as 0: the knot count is wrong, Reset refuses.
            EXPECT_EQ(back.GetControlPoints(), test::RationalQuadratic().GetControlPoints());
            EXPECT_EQ(back.GetOrder(), 4);
        } else {
            // K's low byte (9) arrived: the missing knots are zero and Reset takes them.
            EXPECT_TRUE(back.IsValid());
            EXPECT_EQ(back.GetControlPoints(), test::OpenCubic().GetControlPoints());
            const std::size_t whole = n >= 195 ? (n - 195) / 8 : 0;
            for (std::size_t i = whole + 1; i < 9; ++i) EXPECT_EQ(back.GetKnots()[i], 0.0);
            for (std::size_t i = 0; i < whole; ++i) EXPECT_EQ(back.GetKnots()[i], test::OpenCubic().GetKnots()[i]);
        }
    }
}

TEST(CurveStreamRead, ShortCountsAreZeroFilledUpTo2To24AndRefusedBeyond) {
    // Beyond 2^24 points (2^24 + 256 knots) a count is believed only as far as the data go.
    for (const std::uint64_t n : {(std::uint64_t{1} << 24) + 1, std::uint64_t{1} << 40, ~std::uint64_t{0}}) {
        std::string r = Record(test::OpenCubic());
        PutU64(r, 18, n);
        std::istringstream in(r);
        V3dCurveNurbsPlus back = test::RationalQuadratic();
        EXPECT_THROW(in >> back, std::length_error);
        EXPECT_TRUE(in.fail());
        EXPECT_EQ(back.GetControlPoints(), test::RationalQuadratic().GetControlPoints());
    }
    std::string r = Record(test::OpenCubic());
    PutU64(r, 187, (std::uint64_t{1} << 24) + 257);
    std::istringstream in(r);
    V3dCurveNurbsPlus back;
    EXPECT_THROW(in >> back, std::length_error);
    EXPECT_TRUE(in.fail());

    // Below the bound, whatever the bytes present, the missing values are zero as the format
    // says: 5000 points announced, none present (the knot count then reads 0: Reset refuses);
    // 5000 knots announced after the five points: Reset takes the zeros.
    std::string small = Record(test::OpenCubic()).substr(0, 27);
    PutU64(small, 18, 5000);
    small[17] = 2;
    std::istringstream sin(small);
    V3dCurveNurbsPlus zero;
    sin >> zero;
    EXPECT_TRUE(sin.fail());
    EXPECT_EQ(zero.GetNumberControlPoints(), 5000u);
    EXPECT_FALSE(zero.IsValid());
    std::string knots = Record(test::OpenCubic()).substr(0, 195);
    PutU64(knots, 187, 5000);
    std::istringstream kin(knots);
    kin >> zero;
    EXPECT_TRUE(kin.fail());
    ASSERT_EQ(zero.GetKnots().size(), 5000u);
    EXPECT_EQ(zero.GetKnots(), std::vector<double>(5000, 0.0));
    EXPECT_EQ(zero.GetControlPoints(), test::OpenCubic().GetControlPoints());
}
