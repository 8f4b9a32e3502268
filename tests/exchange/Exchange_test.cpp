// What both file formats promise: every fixture comes back with the same numbers (Cartesian
// coordinates and weights bit for bit) and writes the same text again; every truncation of a
// valid file is refused with an error that names a line (random bytes: the fuzz corpora).
#include "exchange/ExchangeFixtures.h"

#include <algorithm>

using namespace exchange_test;

namespace {

class EveryFormat : public ::testing::TestWithParam<Format> {};

// Control points compared as the files hold them: Cartesian coordinates and weights bit for
// bit; the homogeneous coordinates to one rounding of x * w.
void ExpectSamePoints(const std::vector<P4>& a, const std::vector<P4>& b, const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_TRUE(SameBits(a[i][3], b[i][3])) << what << " weight " << i;
        for (int k = 0; k < 3; ++k) {
            const double x = VelSDK::Exchange::detail::CartesianCoordinate(a[i][k], a[i][3]);
            EXPECT_TRUE(SameBits(x, b[i][k] / b[i][3]) || SameBits(x * a[i][3], b[i][k])) << what << " point " << i;
        }
    }
}

TEST_P(EveryFormat, EveryObjectComesBackWithTheSameNumbers) {
    const Format& f = GetParam();
    const CadModel m = AllObjects();
    for (LengthUnit unit : {LengthUnit::Millimetre, LengthUnit::Metre}) {
        const std::string text = f.Write(m, unit);
        CadModel back;
        const ExchangeReport r = f.read(text, back);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(r.curves == m.curves.size() && r.surfaces == m.surfaces.size());
        EXPECT_TRUE(back.unit == unit && back.metresPerUnit == (unit == LengthUnit::Metre ? 1.0 : 0.001));
        ASSERT_TRUE(back.curves.size() == m.curves.size() && back.surfaces.size() == m.surfaces.size());
        for (std::size_t i = 0; i < m.curves.size(); ++i) {
            const std::string& name = m.CurveName(i);
            EXPECT_TRUE(f.read != kStep.read || back.CurveName(i) == name) << name;  // IGES: QuarterCircleLiteral
            EXPECT_TRUE(back.curves[i].GetDegree() == m.curves[i].GetDegree() &&
                        back.curves[i].GetKnots() == m.curves[i].GetKnots())
                << name;
            ExpectSamePoints(m.curves[i].GetControlPoints(), back.curves[i].GetControlPoints(), name);
        }
        for (std::size_t i = 0; i < m.surfaces.size(); ++i) {
            const auto &a = m.surfaces[i], &b = back.surfaces[i];
            EXPECT_TRUE(f.read != kStep.read || back.SurfaceName(i) == m.SurfaceName(i)) << m.SurfaceName(i);
            EXPECT_TRUE(b.GetDegreeU() == a.GetDegreeU() && b.GetDegreeV() == a.GetDegreeV() &&
                        b.GetKnotsU() == a.GetKnotsU() && b.GetKnotsV() == a.GetKnotsV() &&
                        b.GetControlPoints().RowCount() == a.GetControlPoints().RowCount());
            ExpectSamePoints(a.GetControlPoints().Elements(), b.GetControlPoints().Elements(), m.SurfaceName(i));
        }
        // What was read writes the same text again: the file is a fixed point.
        EXPECT_EQ(f.Write(back, unit), text);
    }
}

// Every prefix of a valid file is refused (naming a line within the prefix), never accepted
// with fewer objects.
TEST_P(EveryFormat, TruncationsAndGarbageAreRefused) {
    const Format& f = GetParam();
    CadModel m;
    m.curves = {AllObjects().curves[1], AllObjects().curves[0]};  // rational and not
    m.surfaces = {AllObjects().surfaces.back()};
    const std::string text = f.Write(m, LengthUnit::Millimetre);
    // Up to the last 8 characters: IGES reads its terminate record without the sequence number.
    const std::size_t complete = text.size() - 8;
    for (std::size_t n = 0; n < complete; n += (n < 400 || complete - n < 200) ? 1 : 7) {
        const std::string prefix = text.substr(0, n);
        const ExchangeReport r = f.read(prefix, m);
        ASSERT_FALSE(r.ok) << n;
        ASSERT_GE(r.line, 1u);
        ASSERT_LE(r.line, static_cast<std::size_t>(std::count(prefix.begin(), prefix.end(), '\n')) + 1) << n;
        ASSERT_TRUE(m.curves.empty()) << n;
    }
}

// A bad object among good ones: nothing is written, and the error names the object and why.
TEST_P(EveryFormat, RefusesWhatCannotBeWritten) {
    const Format& f = GetParam();
    const V3dNurbsCurve good = AllObjects().curves[0];
    const double nan = std::nan("");
    const struct {
        const char* what;
        V3dNurbsCurve curve;
        const char* message;
    } cases[] = {
        {"invalid", V3dNurbsCurve({H(0, 0, 0), H(1, 1, 1)}, {0, 0, 1}, 1), "not valid"},
        {"degree 0", V3dNurbsCurve({H(0, 0, 0), H(1, 1, 1)}, {0, 1, 2}, 0), "degree 0"},
        {"NaN point", V3dNurbsCurve({H(0, nan, 0), H(1, 1, 1)}, {0, 0, 1, 1}, 1), "not finite"},
        {"zero weight", V3dNurbsCurve({P4{0, 0, 0, 0}, H(1, 1, 1)}, {0, 0, 1, 1}, 1), "weight"},
        {"empty range", V3dNurbsCurve({H(0, 0, 0), H(1, 1, 1)}, {1, 1, 1, 1}, 1), "empty range"},
    };
    for (const auto& c : cases) {
        CadModel m;
        m.curves = {good, c.curve};
        std::ostringstream out;
        const ExchangeReport r = f.writeTo(out, m, LengthUnit::Millimetre);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_NE(r.error.find("curve 1"), std::string::npos) << r.error;
        EXPECT_NE(r.error.find(c.message), std::string::npos) << c.what << ": " << r.error;
        EXPECT_TRUE(out.str().empty()) << c.what;
    }
    std::ostringstream out;
    EXPECT_FALSE(f.writeTo(out, CadModel(), LengthUnit::Millimetre).ok);  // nothing to write
    EXPECT_FALSE(f.writeTo(out, AllObjects(), LengthUnit::Other).ok);
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat, ::testing::Values(kIges, kStep),
                         [](const ::testing::TestParamInfo<Format>& i) { return std::string(i.param.name); });

TEST(ExchangeFiles, MissingFolderIsAnError) {
    const CadModel m = AllObjects();
    CadModel back;
    EXPECT_FALSE(VelSDK::Exchange::SaveStep("/nonexistent-dir/x.step", m).ok ||
                 VelSDK::Exchange::SaveIges("/nonexistent-dir/x.igs", m).ok);
    for (const ExchangeReport& r : {VelSDK::Exchange::LoadStep("/nonexistent-dir/x.step", back),
                                    VelSDK::Exchange::LoadIges("/nonexistent-dir/x.igs", back)})
        EXPECT_NE(r.error.find("cannot open"), std::string::npos) << r.error;
}

}  // namespace
