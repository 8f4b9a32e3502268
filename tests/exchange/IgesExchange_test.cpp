// IGES writer and reader: a literal transcription of a whole file, hostile files that give
// errors naming the line, and entities skipped.
#include "exchange/ExchangeFixtures.h"

using namespace exchange_test;

namespace {

// The file of a rational quarter circle, transcribed by hand after IGES 5.3: start, global
// (delimiters, precision, unit MM, resolution, the largest coordinate 1, version 11), the two
// directory records and entity 126 (4.23: K, M, PROP1-4 planar, open, rational, not periodic;
// knots, weights, points, range, normal), and the terminate record counting the sections;
// every record 80 columns with its section letter and sequence number.
TEST(IgesWriter, QuarterCircleLiteral) {
    CadModel m;
    m.curves.push_back(V3dNurbsCurve({H(1, 0, 0), H(1, 1, 0, 0.5), H(0, 1, 0)}, {0, 0, 0, 1, 1, 1}, 2));
    m.curveNames.push_back("quarter circle");
    const std::vector<std::string> expected = {
        "VelSDK.Nurbs: 1 curve(s), 0 surface(s) as entities 126 and 128          S0000001",
        "1H,,1H;,12HVelSDK.Nurbs,9Hnurbs.igs,12HVelSDK.Nurbs,3H1.0,32,38,6,308,  G0000001",
        "15,12HVelSDK.Nurbs,1.,2,2HMM,1,0.,15H20260101.000000,1.E-07,1.,0H,0H,11,G0000002",
        "0,15H20260101.000000;                                                   G0000003",
        "     126       1       0       1       0       0       0       000000000D0000001",
        "     126       0       0       2       0                quarter_       0D0000002",
        "126,2,2,1,0,0,0,0.,0.,0.,1.,1.,1.,1.,0.5,1.,1.,0.,0.,1.,1.,0.,         1P0000001",
        "0.,1.,0.,0.,1.,0.,0.,1.;                                               1P0000002",
        "S0000001G0000003D0000002P0000002                                        T0000001"};
    EXPECT_EQ(Lines(kIges.Write(m)), expected);
}

TEST(IgesReader, HostileFilesNameTheLine) {
    CadModel one;
    one.curves.push_back(AllObjects().curves[0]);
    const std::vector<std::string> lines = Lines(kIges.Write(one));
    auto replaceIn = [&](std::size_t lineIndex, std::size_t col, const std::string& with) {
        std::vector<std::string> ls = lines;
        ls[lineIndex].replace(col, with.size(), with);
        return Join(ls);
    };
    std::size_t firstP = 0, firstD = 0;
    while (lines[firstP][72] != 'P') ++firstP;
    while (lines[firstD][72] != 'D') ++firstD;
    std::vector<std::string> swapped = lines;
    std::swap(swapped[firstD], swapped[firstP]);
    const std::vector<Refusal> cases = {
        {"empty", "", 1, "not an IGES file"},
        {"sections swapped", Join(swapped), firstD + 2, "after section"},
        {"sequence gap", replaceIn(firstP + 1, 73, "0000009"), firstP + 2, "out of order"},
        {"K too large", replaceIn(firstP, 0, "126,99999,3"), firstP + 1, "K = 99999 does not fit"},
        {"K below degree", replaceIn(firstP, 0, "126,1,3,"), firstP + 1, "below the degree"},
        {"pointer outside", replaceIn(firstD, 8, "      99"), firstD + 1, "outside the parameter section"},
        {"type mismatch", replaceIn(firstP, 0, "128"), firstP + 1, "do not start with the entity type 126"},
        {"huge number", replaceIn(firstP, 16, "1.D999,"), firstP + 1, "finite number, found '1.D999'"},
        {"no terminator", replaceIn(firstP + 1, 0, std::string(64, ' ')), firstP + 1, "record delimiter"},
        {"negative weight", replaceIn(firstP, 44, "-1,"), firstP + 1, "weights must be positive"},
        {"decreasing knots", replaceIn(firstP, 16, "5.,"), firstP + 1, "knots decrease"},
    };
    ExpectRefused(kIges, cases);
}

TEST(IgesReader, SkipsOtherEntitiesAndParametricCurves) {
    CadModel m;
    m.curves = {AllObjects().curves[0], AllObjects().curves[1]};
    m.curveNames = {"cubic", "circle"};
    std::vector<std::string> lines = Lines(kIges.Write(m));
    std::size_t firstD = 0;
    while (lines[firstD][72] != 'D') ++firstD;
    lines[firstD].replace(64, 8, "00000500");  // first curve: entity use flag 05 (parameter space)
    CadModel back;
    const ExchangeReport r = VelSDK::Exchange::ReadIges(Join(lines, "\r\n"), back);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(back.curves.size(), 1u);
    EXPECT_EQ(back.curves[0].GetKnots(), AllObjects().curves[1].GetKnots());
    EXPECT_EQ(back.CurveName(0), "circle");
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_NE(r.notes[0].find("parameter space"), std::string::npos);
}

}  // namespace
