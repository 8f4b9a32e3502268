// STEP writer and reader: the written entities compared with literal transcriptions of
// ISO 10303-42 instances, the real numbers' text, the flags and units, the reader's tolerance
// of the exchange-structure syntax on hand-written files, and hostile files (wrong counts,
// references to nothing, to the wrong type and to themselves, numbers beyond doubles, deep
// nesting, repeated instances), each refused with an error naming the line.
#include "exchange/ExchangeFixtures.h"

#include <cctype>
#include <charconv>
#include <random>

using namespace exchange_test;
using VelSDK::Exchange::ReadStep;

namespace {

// The text with each instance on one line and every instance number replaced by '#'.
// (Hand-written scanners: GCC 12 reports maybe-uninitialized inside <regex> in the sanitizer build.)
std::string Anonymous(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, "\n  ") == 0) {
            i += 2;
        } else {
            out += text[i];
            if (text[i] == '#')
                while (i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) ++i;
        }
    }
    return out;
}

// The form of a STEP real: -?[0-9]+\.[0-9]*(E[+-][0-9]+)?
bool IsStepReal(const std::string& s) {
    const auto digits = [&](std::size_t a, std::size_t b) {
        return a <= b && std::all_of(s.begin() + a, s.begin() + b, [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::size_t sign = s.rfind('-', 0) == 0, dot = s.find('.'), e = std::min(s.find('E'), s.size());
    return dot != std::string::npos && dot > sign && digits(sign, dot) && digits(dot + 1, e) &&
           (e == s.size() || (e + 2 < s.size() && (s[e + 1] == '+' || s[e + 1] == '-') && digits(e + 2, s.size())));
}

// Random doubles of every magnitude come back bit for bit through the decimal form.
TEST(StepRoundTrip, RealTextReadsBackExactly) {
    std::mt19937_64 rng(19);
    for (int i = 0; i < 2000; ++i) {
        std::uint64_t bits = rng();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isfinite(x)) continue;
        const std::string s = VelSDK::Exchange::detail::RealText(x);
        ASSERT_TRUE(IsStepReal(s)) << s;
        double y = 0;
        std::from_chars(s.data(), s.data() + s.size(), y);
        ASSERT_TRUE(SameBits(x, y)) << s;
        ASSERT_LE(s.size(), 24u) << s;
    }
}

// The entities as ISO 10303-42 spells them, transcribed by hand for two small objects.
TEST(StepWriter, EntitiesMatchLiteralTranscriptions) {
    CadModel m;
    m.curves.push_back(V3dNurbsCurve({H(0, 0, 0), H(1, 2, 0), H(2, -1, 0.5), H(3, 1, 1), H(4, 0, 0)},
                                     {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 3));
    m.curveNames.push_back("it's");
    m.curves.push_back(V3dNurbsCurve({H(1, 0, 0), H(1, 1, 0, 0.5), H(0, 1, 0)}, {0, 0, 0, 1, 1, 1}, 2));
    m.curveNames.push_back("a \\ name \xCE\xA9 \xE2\x82\xAC");
    m.curves.push_back(AllObjects().curves[2]);  // closed
    const std::string text = kStep.Write(m);
    const std::string flat = Anonymous(text);
    EXPECT_NE(flat.find("B_SPLINE_CURVE_WITH_KNOTS('it''s',3,(#,#,#,#,#),.UNSPECIFIED.,.F.,.U.,(4,1,4),(0.,0.5,1.),"
                        ".UNSPECIFIED.);"),
              std::string::npos)
        << text;
    EXPECT_NE(
        flat.find("(BOUNDED_CURVE()B_SPLINE_CURVE(2,(#,#,#),.UNSPECIFIED.,.F.,.U.)B_SPLINE_CURVE_WITH_KNOTS((3,3),"
                  "(0.,1.),.UNSPECIFIED.)CURVE()GEOMETRIC_REPRESENTATION_ITEM()RATIONAL_B_SPLINE_CURVE((1.,0.5,1.))"
                  "REPRESENTATION_ITEM('a \\\\ name \\X\\CE\\X\\A9 \\X\\E2\\X\\82\\X\\AC'));"),
        std::string::npos)
        << text;
    EXPECT_NE(flat.find("B_SPLINE_CURVE_WITH_KNOTS('',3,(#,#,#,#,#,#,#,#),.UNSPECIFIED.,.T.,.U."), std::string::npos);
    EXPECT_NE(text.find("CARTESIAN_POINT('',(1.,1.,0.))"), std::string::npos);  // (0.5, 0.5, 0) / 0.5
    EXPECT_NE(text.find("SI_UNIT(.MILLI.,.METRE.)"), std::string::npos);
    EXPECT_NE(text.find("GEOMETRIC_CURVE_SET("), std::string::npos);
    EXPECT_EQ(text.find("GEOMETRIC_SET("), std::string::npos);
    // Long lists break their lines.
    for (const std::string& line : Lines(text)) EXPECT_LE(line.size(), 160u) << line;
    // A surface closed in U alone.
    CadModel cylinder;
    cylinder.surfaces.push_back(Cylinder(1.5, 4.0));
    const std::string surfaceText = kStep.Write(cylinder);
    EXPECT_NE(Anonymous(surfaceText).find(",.UNSPECIFIED.,.T.,.F.,.U.)"), std::string::npos);
    EXPECT_NE(surfaceText.find("GEOMETRICALLY_BOUNDED_SURFACE_SHAPE_REPRESENTATION"), std::string::npos);
}

// A hand-written file in the style of other systems: comments everywhere, lines broken inside
// lists and numbers' neighbourhoods, instances used before they are defined, `$` and `*`,
// typed parameters, lower-case exponents, other entities around, an inch unit.
const char* kTolerant = R"(ISO-10303-21;
HEADER; /* a header comment */
FILE_DESCRIPTION((''),'2;1');
FILE_NAME('x','2026-01-01T00:00:00',('a;b'),(''),'','','');
FILE_SCHEMA(('CONFIG_CONTROL_DESIGN'));
ENDSEC;
DATA;
#100 = B_SPLINE_CURVE_WITH_KNOTS ( 'arc' , 2 , ( #3 , /* middle */ #2,
  #1 ) , .UNSPECIFIED. , .F. , .F. , ( 3,
  3 ) , ( 0.0E+00 , 1.0 ) , .PIECEWISE_BEZIER_KNOTS. ) ;
#1=CARTESIAN_POINT('',(4.,0.,
0.));
#2=CARTESIAN_POINT('',(+2.e0,2.,-0.));
#3 = CARTESIAN_POINT ( 'p;q''s' , ( 0. , 0. , 0. ) ) ;
#7=DIRECTION('',(0.,0.,1.));
#8=AXIS2_PLACEMENT_3D('',#3,#7,$);
#9=(NAMED_UNIT(*)LENGTH_UNIT()CONVERSION_BASED_UNIT('INCH',#10));
#10=LENGTH_MEASURE_WITH_UNIT(LENGTH_MEASURE(25.4),#11);
#11=(SI_UNIT(.MILLI.,.METRE.)NAMED_UNIT(*)LENGTH_UNIT());
#12=(RATIONAL_B_SPLINE_SURFACE(((1.,2.),(1.,1.)))REPRESENTATION_ITEM('patch')SURFACE()
  B_SPLINE_SURFACE_WITH_KNOTS((2,2),(2,2),(0.,1.),(0.,1.),.UNSPECIFIED.)BOUNDED_SURFACE()
  GEOMETRIC_REPRESENTATION_ITEM()B_SPLINE_SURFACE(1,1,((#1,#2),(#3,#1)),.UNSPECIFIED.,.F.,.F.,.F.));
#13=B_SPLINE_CURVE_WITH_KNOTS('pcurve',1,(#14,#15),.UNSPECIFIED.,.F.,.F.,(2,2),(0.,1.),.UNSPECIFIED.);
#14=CARTESIAN_POINT('',(0.,0.));
#15=CARTESIAN_POINT('',(1.,1.));
ENDSEC;
END-ISO-10303-21;
)";

TEST(StepReader, ReadsATolerantlyWrittenFile) {
    CadModel m;
    const ExchangeReport r = ReadStep(kTolerant, m);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_TRUE(m.curves.size() == 1 && m.surfaces.size() == 1);
    EXPECT_TRUE(m.CurveName(0) == "arc" && m.SurfaceName(0) == "patch");
    EXPECT_EQ(m.curves[0].GetControlPoints(), (std::vector<P4>{{0, 0, 0, 1}, {2, 2, 0, 1}, {4, 0, 0, 1}}));
    EXPECT_EQ(m.curves[0].GetKnots(), (std::vector<double>{0, 0, 0, 1, 1, 1}));
    const auto& net = m.surfaces[0].GetControlPoints();
    EXPECT_TRUE(net(0, 1) == (P4{4, 4, 0, 2}) && net(1, 0) == (P4{0, 0, 0, 1}));  // #2 weighted by 2, #3
    EXPECT_EQ(m.unit, LengthUnit::Other);
    EXPECT_DOUBLE_EQ(m.metresPerUnit, 0.0254);
    std::string notes;
    for (const auto& n : r.notes) notes += n + "\n";
    EXPECT_NE(notes.find("1 B-spline(s) with 2-D points"), std::string::npos) << notes;
    EXPECT_NE(notes.find("AXIS2_PLACEMENT_3D x1"), std::string::npos) << notes;
    EXPECT_NE(notes.find("several length units; the first one (INCH) is reported"), std::string::npos) << notes;
}

// Names with quotes, backslashes and UTF-8 come back byte for byte; the reader decodes the
// control directives of other writers (ISO 10303-21, 6.4.3).
TEST(StepReader, NamesAndControlDirectives) {
    const std::pair<const char*, std::string> table[] = {
        {R"('\X2\03A920AC\X0\')", "\xCE\xA9\xE2\x82\xAC"},
        {R"('\X4\0001F600\X0\')", "\xF0\x9F\x98\x80"},
        {R"('caf\X\E9')", "caf\xE9"},
        {R"('\S\a\PA\b')", std::string("\xE1") + "b"},
        {R"('\\ and \X2\12\X0\ and \Q')", R"(\ and \X2\12\X0\ and \Q)"},
    };
    for (const auto& t : table) {
        const std::string text = std::string("ISO-10303-21;HEADER;ENDSEC;DATA;#1=B_SPLINE_CURVE_WITH_KNOTS(") +
                                 t.first +
                                 ",1,(#2,#3),.U.,.F.,.F.,(2,2),(0.,1.),.U.);#2=CARTESIAN_POINT('',(0.,0.,0.));"
                                 "#3=CARTESIAN_POINT('',(1.,0.,0.));ENDSEC;END-ISO-10303-21;";
        CadModel r;
        ASSERT_TRUE(ReadStep(text, r).ok) << t.first;
        EXPECT_EQ(r.CurveName(0), t.second) << t.first;
    }
}

// A file around the given instances, after two points #1 and #2 (lines 6 and 7).
const char* kHead = "ISO-10303-21;\nHEADER;\nFILE_SCHEMA(('X'));\nENDSEC;\nDATA;\n";  // 5 lines
const char* kTail = "ENDSEC;\nEND-ISO-10303-21;\n";
const char* kPoints = "#1=CARTESIAN_POINT('',(0.,0.,0.));\n#2=CARTESIAN_POINT('',(1.,0.,0.));\n";  // lines 6, 7

std::string Data(const std::string& body) { return std::string(kHead) + kPoints + body + kTail; }

TEST(StepHostile, MalformedFilesNameTheLine) {
    const std::string curve = "#3=B_SPLINE_CURVE_WITH_KNOTS('',1,(#1,#2),.UNSPECIFIED.,.F.,.F.,";
    const std::vector<Refusal> cases = {
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
    ExpectRefused(kStep, cases);

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
    ExpectRefused(kStep, {{"20000 x 20000 grid", text, 8, "rows of control points differ"}});
}

}  // namespace
