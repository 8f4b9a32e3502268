// IGES writer and reader: exact round trips, the record layout checked column by column, a
// literal transcription of one entity 126, and hostile files (every prefix, wrong counts,
// pointers outside the file, numbers beyond doubles, garbage) that give errors naming the line.
#include <VelSDK/IgesExchange.h>

#include "exchange/ExchangeFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

using namespace exchange_test;
using VelSDK::Exchange::ExchangeReport;
using VelSDK::Exchange::IgesWriteOptions;
using VelSDK::Exchange::LengthUnit;
using VelSDK::Exchange::ReadIges;
using VelSDK::Exchange::WriteIges;

namespace {

std::string Write(const CadModel& m, LengthUnit unit = LengthUnit::Millimetre) {
    std::ostringstream out;
    IgesWriteOptions o;
    o.unit = unit;
    o.timeStamp = "20260101.000000";
    const ExchangeReport r = WriteIges(out, m, o);
    EXPECT_TRUE(r.ok) << r.error;
    return out.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST(IgesRoundTrip, EveryObjectComesBackWithTheSameNumbers) {
    const CadModel m = AllObjects();
    for (LengthUnit unit : {LengthUnit::Millimetre, LengthUnit::Metre}) {
        const std::string text = Write(m, unit);
        CadModel back;
        const ExchangeReport r = ReadIges(text, back);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(r.notes.empty());
        EXPECT_EQ(back.unit, unit);
        ASSERT_EQ(back.curves.size(), m.curves.size());
        ASSERT_EQ(back.surfaces.size(), m.surfaces.size());
        for (std::size_t i = 0; i < m.curves.size(); ++i) {
            std::string label = m.CurveName(i).substr(0, 8);  // the entity label: 8 columns, no blanks
            std::replace(label.begin(), label.end(), ' ', '_');
            EXPECT_EQ(back.CurveName(i), label);
            EXPECT_EQ(back.curves[i].GetDegree(), m.curves[i].GetDegree());
            EXPECT_EQ(back.curves[i].GetKnots(), m.curves[i].GetKnots());
            const auto& a = m.curves[i].GetControlPoints();
            const auto& b = back.curves[i].GetControlPoints();
            ASSERT_EQ(a.size(), b.size());
            for (std::size_t k = 0; k < a.size(); ++k)
                for (int c = 0; c < 4; ++c) EXPECT_LE(std::fabs(a[k][c] - b[k][c]), std::fabs(a[k][c]) * 2.3e-16);
        }
        for (std::size_t i = 0; i < m.surfaces.size(); ++i) {
            const auto& a = m.surfaces[i];
            const auto& b = back.surfaces[i];
            EXPECT_EQ(b.GetKnotsU(), a.GetKnotsU());
            EXPECT_EQ(b.GetKnotsV(), a.GetKnotsV());
            EXPECT_EQ(b.GetDegreeU(), a.GetDegreeU());
            EXPECT_EQ(b.GetDegreeV(), a.GetDegreeV());
            ASSERT_EQ(b.GetControlPoints().RowCount(), a.GetControlPoints().RowCount());
            for (std::size_t k = 0; k < a.GetControlPoints().Elements().size(); ++k)
                for (int c = 0; c < 4; ++c)
                    EXPECT_LE(std::fabs(a.GetControlPoints().Elements()[k][c] - b.GetControlPoints().Elements()[k][c]),
                              std::fabs(a.GetControlPoints().Elements()[k][c]) * 2.3e-16);
        }
        EXPECT_EQ(Write(back, unit), text);
    }
}

// Every record has 80 columns, its section letter and a sequence number counting from 1 in
// its section; parameter records point back to their directory entry; the terminate record
// counts the sections.
TEST(IgesWriter, RecordLayout) {
    const std::string text = Write(AllObjects());
    std::map<char, int> count;
    for (const std::string& line : Lines(text)) {
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
    const std::vector<std::string> lines = Lines(text);
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
    std::string params;
    std::string directory;
    for (const std::string& line : Lines(Write(m))) {
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
    const std::string good = Write(one);
    const std::vector<std::string> lines = Lines(good);
    auto join = [](const std::vector<std::string>& ls) {
        std::string s;
        for (const auto& l : ls) s += l + "\n";
        return s;
    };
    auto replaceIn = [&](std::size_t lineIndex, std::size_t col, const std::string& with) {
        std::vector<std::string> ls = lines;
        ls[lineIndex].replace(col, with.size(), with);
        return join(ls);
    };
    std::size_t firstP = 0, firstD = 0;
    while (lines[firstP][72] != 'P') ++firstP;
    while (lines[firstD][72] != 'D') ++firstD;
    struct Case {
        const char* what;
        std::string text;
        std::size_t line;
        const char* words;
    };
    std::vector<std::string> noTerminate(lines.begin(), lines.end() - 1);
    std::vector<std::string> swapped = lines;
    std::swap(swapped[firstD], swapped[firstP]);
    const Case cases[] = {
        {"empty", "", 1, "not an IGES file"},
        {"short first line", "hello\n", 1, "not an IGES file"},
        {"compressed", std::string(72, ' ') + "C0000001\n", 1, "compressed"},
        {"no terminate", join(noTerminate), noTerminate.size(), "truncated"},
        {"sections swapped", join(swapped), firstD + 2, "after section"},
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
    for (const auto& c : cases) {
        CadModel m;
        m.curves.push_back(Curves()[0].curve);
        const ExchangeReport r = ReadIges(c.text, m);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.line, c.line) << c.what << ": " << r.error;
        EXPECT_NE(r.error.find(c.words), std::string::npos) << c.what << ": " << r.error;
        EXPECT_TRUE(m.curves.empty()) << c.what;
    }

    // Every prefix is refused; 10 MB of garbage with long lines is refused on its first line.
    for (std::size_t n = 0; n + 1 < good.size(); n += 3) {
        CadModel m;
        const ExchangeReport r = ReadIges(good.substr(0, n), m);
        ASSERT_FALSE(r.ok) << n;
        ASSERT_GE(r.line, 1u);
    }
    std::mt19937 rng(7);
    std::string garbage(10u << 20, ' ');
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = i % 81 == 80 ? '\n' : static_cast<char>(rng());
    CadModel m;
    const ExchangeReport r = ReadIges(garbage, m);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind("line ", 0), 0u) << r.error;
}

TEST(IgesReader, SkipsOtherEntitiesAndParametricCurves) {
    CadModel m;
    m.curves.push_back(Curves()[0].curve);
    m.curves.push_back(Curves()[1].curve);
    std::vector<std::string> lines = Lines(Write(m));
    std::size_t firstD = 0;
    while (lines[firstD][72] != 'D') ++firstD;
    lines[firstD].replace(64, 8, "00000500");  // first curve: entity use flag 05 (parameter space)
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    CadModel back;
    const ExchangeReport r = ReadIges(text, back);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(back.curves.size(), 1u);
    EXPECT_EQ(back.curves[0].GetKnots(), Curves()[1].curve.GetKnots());
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_NE(r.notes[0].find("parameter space"), std::string::npos);
}

}  // namespace
