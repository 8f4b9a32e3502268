// IGES writer and reader: the record layout checked column by column, a literal transcription
// of one entity 126, hostile files that give errors naming the line, and entities skipped.
#include "exchange/ExchangeFixtures.h"

#include <gtest/gtest.h>

#include <map>

using namespace exchange_test;

namespace {

// Every record has 80 columns, its section letter and a sequence number counting from 1 in
// its section; parameter records point back to their directory entry; the terminate record
// counts the sections.
TEST(IgesWriter, RecordLayout) {
    const std::vector<std::string> lines = Lines(kIges.Write(AllObjects()));
    std::map<char, int> count;
    for (const std::string& line : lines) {
        ASSERT_EQ(line.size(), 80u) << line;
        const char s = line[72];
        ASSERT_NE(std::string("SGDPT").find(s), std::string::npos) << line;
        EXPECT_EQ(std::stoi(line.substr(73)), ++count[s]) << line;
        if (s == 'P') {
            const int de = std::stoi(line.substr(65, 7));
            EXPECT_EQ(de % 2, 1) << line;
            EXPECT_LE(de, count['D']) << line;
        }
    }
    char expected[40];
    std::snprintf(expected, sizeof expected, "S%07dG%07dD%07dP%07d", count['S'], count['G'], count['D'], count['P']);
    EXPECT_EQ(lines.back().substr(0, 32), expected);
    EXPECT_EQ(count['D'], 2 * 9);
    EXPECT_EQ(lines[1].substr(0, 8), "1H,,1H;,");
}

// Entity 126 of a rational quarter circle, transcribed by hand after IGES 5.3, 4.23:
// type, K, M, PROP1-4 (planar, open, rational, not periodic), knots, weights, points, range,
// normal.
TEST(IgesWriter, QuarterCircleLiteral) {
    CadModel m;
    m.curves.push_back(V3dNurbsCurve({H(1, 0, 0), H(1, 1, 0, 0.5), H(0, 1, 0)}, {0, 0, 0, 1, 1, 1}, 2));
    m.curveNames.push_back("quarter circle");
    std::string params, directory;
    for (const std::string& line : Lines(kIges.Write(m))) {
        if (line[72] == 'P') params += line.substr(0, line.find_last_not_of(' ', 63) + 1);
        if (line[72] == 'D') directory += line.substr(0, 72) + "|";
    }
    EXPECT_EQ(params, "126,2,2,1,0,0,0,0.,0.,0.,1.,1.,1.,1.,0.5,1.,1.,0.,0.,1.,1.,0.,0.,1.,0.,0.,1.,0.,0.,1.;");
    EXPECT_EQ(directory,
              "     126       1       0       1       0       0       0       000000000|"
              "     126       0       0       2       0                quarter_       0|");
}

TEST(IgesReader, HostileFilesNameTheLine) {
    CadModel one;
    one.curves.push_back(Curves()[0].curve);
    const std::vector<std::string> lines = Lines(kIges.Write(one));
    auto replaceIn = [&](std::size_t lineIndex, std::size_t col, const std::string& with) {
        std::vector<std::string> ls = lines;
        ls[lineIndex].replace(col, with.size(), with);
        return Join(ls);
    };
    std::size_t firstP = 0, firstD = 0;
    while (lines[firstP][72] != 'P') ++firstP;
    while (lines[firstD][72] != 'D') ++firstD;
    const std::vector<std::string> noTerminate(lines.begin(), lines.end() - 1);
    std::vector<std::string> swapped = lines;
    std::swap(swapped[firstD], swapped[firstP]);
    const struct {
        const char* what;
        std::string text;
        std::size_t line;
        const char* words;
    } cases[] = {
        {"empty", "", 1, "not an IGES file"},
        {"short first line", "hello\n", 1, "not an IGES file"},
        {"compressed", std::string(72, ' ') + "C0000001\n", 1, "compressed"},
        {"no terminate", Join(noTerminate), noTerminate.size(), "truncated"},
        {"sections swapped", Join(swapped), firstD + 2, "after section"},
        {"sequence gap", replaceIn(firstP + 1, 73, "0000009"), firstP + 2, "out of order"},
        {"K too large", replaceIn(firstP, 0, "126,99999,3"), firstP + 1, "K = 99999 does not fit"},
        {"K below degree", replaceIn(firstP, 0, "126,1,3,"), firstP + 1, "below the degree"},
        {"pointer outside", replaceIn(firstD, 8, "      99"), firstD + 1, "outside the parameter section"},
        {"line count outside", replaceIn(firstD + 1, 24, "      99"), firstD + 1, "outside the parameter section"},
        {"type mismatch", replaceIn(firstP, 0, "128"), firstP + 1, "do not start with the entity type 126"},
        {"directory not integer", replaceIn(firstD, 8, "     1x1"), firstD + 1, "not an integer"},
        {"huge number", replaceIn(firstP, 16, "1.D999,"), firstP + 1, "finite number, found '1.D999'"},
        {"no terminator", replaceIn(firstP + 1, 0, std::string(64, ' ')), firstP + 1, "record delimiter"},
        {"negative weight", replaceIn(firstP, 44, "-1,"), firstP + 1, "weights must be positive"},
        {"decreasing knots", replaceIn(firstP, 16, "5.,"), firstP + 1, "knots decrease"},
    };
    for (const auto& c : cases) ExpectRefused(kIges, c.text, c.line, c.words, c.what);
}

TEST(IgesReader, SkipsOtherEntitiesAndParametricCurves) {
    CadModel m;
    m.curves = {Curves()[0].curve, Curves()[1].curve};
    std::vector<std::string> lines = Lines(kIges.Write(m));
    std::size_t firstD = 0;
    while (lines[firstD][72] != 'D') ++firstD;
    lines[firstD].replace(64, 8, "00000500");  // first curve: entity use flag 05 (parameter space)
    CadModel back;
    const ExchangeReport r = VelSDK::Exchange::ReadIges(Join(lines, "\r\n"), back);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(back.curves.size(), 1u);
    EXPECT_EQ(back.curves[0].GetKnots(), Curves()[1].curve.GetKnots());
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_NE(r.notes[0].find("parameter space"), std::string::npos);
}

}  // namespace
