// Hostile input for the STEP reader: wrong counts, references to nothing, to the wrong type
// and to themselves, numbers beyond doubles, deep nesting, repeated instances. Each gives an
// error naming the line and leaves the model empty.
#include "exchange/ExchangeFixtures.h"

#include <gtest/gtest.h>

using namespace exchange_test;
using VelSDK::Exchange::ReadStep;

namespace {

const char* kHead = "ISO-10303-21;\nHEADER;\nFILE_SCHEMA(('X'));\nENDSEC;\nDATA;\n";  // 5 lines
const char* kTail = "ENDSEC;\nEND-ISO-10303-21;\n";
const char* kPoints = "#1=CARTESIAN_POINT('',(0.,0.,0.));\n#2=CARTESIAN_POINT('',(1.,0.,0.));\n";  // lines 6, 7

std::string Data(const std::string& body) { return std::string(kHead) + kPoints + body + kTail; }

TEST(StepHostile, MalformedFilesNameTheLine) {
    const std::string curve = "#3=B_SPLINE_CURVE_WITH_KNOTS('',1,(#1,#2),.UNSPECIFIED.,.F.,.F.,";
    const struct {
        const char* what;
        std::string text;
        std::size_t line;
        const char* words;
    } cases[] = {
        {"other format", "solid x\nfacet normal 0 0 1\n", 1, "not an ISO 10303-21"},
        {"no header", "ISO-10303-21;\nDATA;\nENDSEC;\nEND-ISO-10303-21;\n", 2, "expected HEADER"},
        {"valid but empty", Data(""), 1, "no B-spline curve or surface"},
        {"string not closed", Data("#3=PRODUCT('abc,\n\n);\n"), 8, "string opened here"},
        {"comment not closed", Data("/* note\n#3=X();\n"), 8, "comment opened here"},
        {"missing parenthesis", Data("#3=X((1,2);\n"), 8, "missing ')'"},
        {"duplicate instance", Data("#1=CARTESIAN_POINT('',(5.,0.,0.));\n"), 8, "defined twice (also on line 6)"},
        {"no parameter list", Data("#3=B_SPLINE_CURVE_WITH_KNOTS;\n"), 8,
         "expected '(' after B_SPLINE_CURVE_WITH_KNOTS"},
        {"multiplicities short", Data(curve + "(2,1),(0.,1.),.UNSPECIFIED.);\n"), 8, "add up to 3, expected 4"},
        {"knots decrease", Data(curve + "(2,2),(1.,0.),.UNSPECIFIED.);\n"), 8, "knots decrease"},
        {"too few points", Data("#3=B_SPLINE_CURVE_WITH_KNOTS('',2,(#1,#2),.U.,.F.,.F.,(3,2),(0.,1.),.U.);\n"), 8,
         "too few for degree 2"},
        {"missing point", Data("#3=B_SPLINE_CURVE_WITH_KNOTS('',1,(#1,#9),.U.,.F.,.F.,(2,2),(0.,1.),.U.);\n"), 8,
         "#9, which is not defined"},
        {"self reference", Data("#3=B_SPLINE_CURVE_WITH_KNOTS('',1,(#1,#3),.U.,.F.,.F.,(2,2),(0.,1.),.U.);\n"), 8,
         "refers to #3 (line 8), which is not a CARTESIAN_POINT"},
        {"huge coordinate",
         Data(curve.substr(0, 35) + "#4,#2),.U.,.F.,.F.,(2,2),(0.,1.),.U.);\n#4=CARTESIAN_POINT('',(1.E999,0.,0.));\n"),
         9, "out of the range of doubles: 1.E999"},
        {"weights short",
         Data("#3=(BOUNDED_CURVE()B_SPLINE_CURVE(1,(#1,#2),.U.,.F.,.F.)B_SPLINE_CURVE_WITH_KNOTS((2,2),(0.,1.),.U.)"
              "RATIONAL_B_SPLINE_CURVE((1.)));\n"),
         8, "1 weights for 2 control points"},
        {"weight zero",
         Data("#3=(B_SPLINE_CURVE(1,(#1,#2),.U.,.F.,.F.)B_SPLINE_CURVE_WITH_KNOTS((2,2),(0.,1.),.U.)"
              "RATIONAL_B_SPLINE_CURVE((1.,0.)));\n"),
         8, "weights must be positive"},
        {"deep nesting in a curve",
         Data("#3=B_SPLINE_CURVE_WITH_KNOTS('',1,(#1,#2),.U.,.F.,.F.,(2,2),(0.,1.),.U.," + std::string(70, '(') +
              std::string(70, ')') + ");\n"),
         8, "nested deeper than 64"},
        {"line breaks inside",
         Data("#3=B_SPLINE_CURVE_WITH_KNOTS('',\n1,\n(#1,#2),.U.,.F.,.F.,(2,2),(0.,\n1.E),.U.);\n"), 11,
         "exponent without digits"},
    };
    for (const auto& c : cases) ExpectRefused(kStep, c.text, c.line, c.words, c.what);

    // Nesting far beyond the limit in an instance that is not needed is scanned, not parsed.
    CadModel m;
    const ExchangeReport r = ReadStep(
        Data("#4=X(" + std::string(100000, '(') + std::string(100000, ')') + ");\n" + curve + "(2,2),(0.,1.),.U.);\n"),
        m);
    EXPECT_TRUE(r.ok) << r.error;
    EXPECT_EQ(m.curves.size(), 1u);
}

// A surface whose rows claim a grid far beyond the text is refused before the grid exists.
TEST(StepHostile, GridSizeIsBoundedByTheText) {
    std::string firstRow;
    for (int i = 0; i < 20000; ++i) firstRow += i ? ",#1" : "#1";
    std::string rows = "(" + firstRow + ")";
    for (int i = 1; i < 20000; ++i) rows += ",(#1)";
    const std::string text =
        Data("#3=B_SPLINE_SURFACE_WITH_KNOTS('',1,1,(" + rows + "),.U.,.F.,.F.,.F.,(2),(2),(0.,1.),(0.,1.),.U.);\n");
    ExpectRefused(kStep, text, 8, "rows of control points differ", "20000 x 20000 grid");
}

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
