// End-to-end tests of the nurbs program: each subcommand runs as a separate process on small
// inputs; outputs are checked against independent computations (a reader of the binary
// record written here, Cox-de Boor evaluation, closed forms, the library's classes in this
// process), and bad input must give the documented exit codes and one-line messages.
#include <VelSDK/Nurbs.h>

#include "support/ReferenceBSpline.h"
#include "support/Tolerances.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
namespace tol = VelSDK::test::tolerance;

// Running the built program: a fixture with a scratch folder per test suite, one run with the
// standard streams captured, and readers of what the program writes (CSV rows, "key: number"
// lines, curve files read back through the library).
const char* const kNurbs = NURBS_PROGRAM;  // defined by tools/CMakeLists.txt, which builds it first

struct Outcome {
    int code = -1;
    std::string out, err;
};

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

/// The fields of every line of CSV text (the program writes no quoted fields).
inline std::vector<std::vector<std::string>> Csv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line, field;
    while (std::getline(in, line)) {
        rows.emplace_back();
        std::istringstream l(line);
        while (std::getline(l, field, ',')) rows.back().push_back(field);
    }
    return rows;
}

/// A whole field as a number (a test failure when anything is left over).
inline double Number(const std::string& field) {
    double v = 0.0;
    const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
    EXPECT_TRUE(r.ec == std::errc() && r.ptr == field.data() + field.size()) << "not a number: " << field;
    return v;
}

/// The number printed right after `key` in `text` (NaN, and a test failure, when key is missing).
inline double After(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    EXPECT_NE(at, std::string::npos) << key << " missing in\n" << text;
    return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + key.size(), nullptr);
}

/// A curve file written by the program, read back through the library (record or document).
inline V3dCurveNurbsPlus Load(const std::string& path) {
    V3dCurveNurbsPlus c;
    if (path.size() > 4 && path.substr(path.size() - 4) == ".xml") {
        EXPECT_TRUE(V3dCurveNurbsPlusDocument::Load(Slurp(path), c).ok) << path;
    } else {
        std::ifstream in(path, std::ios::binary);
        in >> c;
        EXPECT_FALSE(in.fail()) << path;
    }
    return c;
}

inline VelSDK::NURBS::V3dNurbsCurve Held(const V3dCurveNurbsPlus& c) {
    return {c.GetControlPoints(), c.GetKnots(), static_cast<std::size_t>(c.GetOrder()) - 1};
}

/// A scratch folder for the suite.
class NurbsProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/nurbs-e2e-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        s_dir = dir;
    }
    static void TearDownTestSuite() {
        if (!s_dir.empty()) std::system(("rm -rf " + Quote(s_dir)).c_str());
    }

    static std::string Path(const std::string& name) { return s_dir + "/" + name; }
    static std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }
    /// Runs "nurbs ARGS" (with `input` on standard input when given).
    static Outcome Run(const std::string& args, const std::string& input = std::string()) {
        std::string command =
            Quote(kNurbs) + " " + args + " >" + Quote(Path("out.txt")) + " 2>" + Quote(Path("err.txt"));
        if (!input.empty()) command += " <" + Quote(Write("stdin.txt", input));
        const int status = std::system(command.c_str());
        return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(Path("out.txt")), Slurp(Path("err.txt"))};
    }
    /// Standard output of a run that must succeed.
    static std::string Ok(const std::string& args) {
        const Outcome r = Run(args);
        EXPECT_EQ(r.code, 0) << "nurbs " << args << "\nstderr: " << r.err;
        return r.out;
    }
    /// Expects `code` and `lines` lines on stderr (notes, then the error) holding every needle.
    static void Fails(int code, const std::string& args, const std::vector<std::string>& needles = {}, int lines = 1) {
        const Outcome r = Run(args);
        EXPECT_EQ(r.code, code) << "nurbs " << args << "\nstderr: " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), lines) << "nurbs " << args << "\n" << r.err;
        for (const std::string& n : needles) EXPECT_NE(r.err.find(n), std::string::npos) << r.err << "lacks: " << n;
    }
    static inline std::string s_dir;
};

/// Nine points of a helix-like 3-D curve.
std::string OpenPoints() {
    std::ostringstream s;
    s << "# open test curve\nx,y,z\n";
    for (int i = 0; i < 9; ++i)
        s << std::cos(0.25 * i) * 2 << ',' << std::sin(0.25 * i) * 2 << ',' << 0.075 * i << '\n';
    return s.str();
}

/// n points of the ellipse with semi-axes a and b about the origin (2-D: z = 0).
std::string EllipsePoints(int n, double a = 3, double b = 2) {
    std::ostringstream s;
    s.precision(17);
    for (int i = 0; i < n; ++i) s << a * std::cos(2 * M_PI * i / n) << ' ' << b * std::sin(2 * M_PI * i / n) << '\n';
    return s.str();
}

double Height(double x, double y) { return std::sin(0.9 * x) * std::cos(0.7 * y); }

// Fit, eval (every bit of the library's evaluation, Cox-de Boor closely), derivatives,
// convert round trips, split, standard input.
TEST_F(NurbsProgram, OpenCurveCommandsAgreeWithTheLibrary) {
    const std::string pts = Write("open.csv", OpenPoints());
    EXPECT_NE(Ok("fit " + pts + " -o " + Path("open.nrb")).find("control points: 9"), std::string::npos);
    const V3dCurveNurbsPlus r = Load(Path("open.nrb"));
    ASSERT_TRUE(r.IsValid());
    EXPECT_EQ(r.GetOrder(), 4);
    EXPECT_EQ(Slurp(Path("open.nrb")).size(), 27u + 9 * 32 + 8 + 13 * 8);
    const V3dNurbsCurve curve = Held(r);
    const auto rows = Csv(Ok("eval " + Path("open.nrb") + " --samples 7 --derivatives 2"));
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0].size(), 10u);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const double u = Number(rows[i][0]);
        EXPECT_EQ(u, i == 7 ? 1.0 : (i - 1) / 6.0);
        const auto d = curve.DeriveAt(u, 2);
        const point<double, 4> h = VelSDK::NURBS::test::ReferencePointH(r.GetControlPoints(), r.GetKnots(), 3, u);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(Number(rows[i][1 + c]), h[c] / h[3], tol::kEvaluation);
            for (int j = 0; j <= 2; ++j) EXPECT_EQ(Number(rows[i][1 + 3 * j + c]), d[j][c]);
        }
    }
    Ok("convert " + Path("open.nrb") + " " + Path("a.xml"));
    Ok("convert " + Path("a.xml") + " " + Path("b.nrb"));
    EXPECT_EQ(Slurp(Path("open.nrb")), Slurp(Path("b.nrb")));

    Ok("split " + Path("open.nrb") + " --at 0.4 -o " + Path("left.nrb") + " " + Path("right.nrb"));
    const V3dCurveNurbsPlus left = Load(Path("left.nrb")), right = Load(Path("right.nrb"));
    EXPECT_EQ(left.GetKnots().back(), 1.0);
    EXPECT_EQ(right.GetKnots().front(), 0.0);
    EXPECT_LT(VelSDK::Math::Distance(Held(left).EvaluateAt(1.0), curve.EvaluateAt(0.4)), tol::kEvaluation);
    EXPECT_LT(VelSDK::Math::Distance(Held(right).EvaluateAt(0.0), curve.EvaluateAt(0.4)), tol::kEvaluation);

    EXPECT_EQ(Run("fit - -q -o " + Path("stdin.nrb"), OpenPoints()).code, 0);
    EXPECT_EQ(Slurp(Path("stdin.nrb")), Slurp(Path("open.nrb")));
    // Tangent options add two control points and set the start direction.
    Ok("fit " + pts + " -q --start-tangent 0,1,0 --end-tangent -1,0,0 -o " + Path("tan.nrb"));
    const V3dCurveNurbsPlus tan = Load(Path("tan.nrb"));
    EXPECT_EQ(tan.GetNumberControlPoints(), 11u);
    const auto d = Held(tan).DeriveAt(0.0, 1);
    EXPECT_NEAR(d[1][0] / VelSDK::Math::ScaledLength(d[1]), 0.0, tol::kEvaluation);
}

TEST_F(NurbsProgram, ClosedCurveInfoSegmentAndProject) {
    Ok("fit " + Write("ellipse.txt", EllipsePoints(12)) + " --closed -q -o " + Path("ellipse.xml"));
    // A curve shrunk to a point is measured with an absolute tolerance.
    V3dCurveNurbsPlus dot;
    ASSERT_EQ(dot.Reset(std::vector<point<double, 4>>(4, {1, 2, 3, 1}), {0, 0, 0, 0, 1, 1, 1, 1}, 4, false),
              V3dCurve::Success);
    const std::string dotInfo = Ok("info " + Write("dot.xml", V3dCurveNurbsPlusDocument::Save(dot, "dot")));
    for (const char* line : {"bounding box: x [1, 1], y [2, 2], z [3, 3]", "length: 0 (polyline of 2 points"})
        EXPECT_NE(dotInfo.find(line), std::string::npos) << line << "\n" << dotInfo;

    const V3dNurbsCurve curve = Held(Load(Path("ellipse.xml")));
    const auto seg = Csv(Ok("segment " + Path("ellipse.xml") + " --tolerance 0.01"));
    ASSERT_GT(seg.size(), 20u);
    for (std::size_t i = 1; i < seg.size(); ++i) {
        const double u = Number(seg[i][0]);
        const point<double, 3> p = curve.EvaluateAt(u);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Number(seg[i][1 + c]), p[c]);
        if (i == 1) continue;
        EXPECT_GT(u, Number(seg[i - 1][0]));
        const point<double, 3> a{Number(seg[i - 1][1]), Number(seg[i - 1][2]), Number(seg[i - 1][3])};
        EXPECT_LE(
            VelSDK::Math::Distance(curve.EvaluateAt(0.5 * (u + Number(seg[i - 1][0]))), VelSDK::Math::Lerp(a, p, 0.5)),
            0.0101);
    }
    EXPECT_EQ(Number(seg.back()[0]), 1.0);

    const auto proj = Csv(Ok("project " + Path("ellipse.xml") + " " + Write("q.csv", EllipsePoints(12) + "0 5\n")));
    ASSERT_EQ(proj.size(), 14u);
    for (std::size_t i = 1; i <= 12; ++i) EXPECT_LT(Number(proj[i][5]), 1e-9) << i;
    EXPECT_NEAR(Number(proj[13][5]), 3.0, 1e-6);  // (0, 5) lies 3 above the top of the ellipse
}

TEST_F(NurbsProgram, SurfaceFitEvalAndProject) {
    const std::size_t m = 6, n = 7;
    std::ostringstream header, meta;
    header.precision(17);
    meta.precision(17);
    header << m << ',' << n << "\nx,y,z\n";
    meta << "# rows: " << m << "\n# cols: " << n << "\n";
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            header << j << ',' << i << ',' << Height(j, i) << '\n';
            meta << j << ' ' << i << ' ' << Height(j, i) << '\n';
        }
    Ok("surface fit " + Write("meta.csv", meta.str()) + " -q -o " + Path("meta.xml"));
    EXPECT_NE(
        Ok("surface fit " + Write("grid.csv", header.str()) + " -o " + Path("s.xml")).find("control points: 6 x 7"),
        std::string::npos);
    EXPECT_EQ(Slurp(Path("s.xml")), Slurp(Path("meta.xml")));
    const auto params = VelSDK::NURBS::UniformParameterization(m, n);
    const auto ev = Csv(Ok("surface eval " + Path("s.xml") + " --samples 6,7"));
    ASSERT_EQ(ev.size(), 1 + m * n);
    for (std::size_t k = 0; k < m * n; ++k) {
        EXPECT_EQ(Number(ev[1 + k][0]), params.first[k / n]);
        EXPECT_NEAR(Number(ev[1 + k][4]), Height(double(k % n), double(k / n)), tol::kEvaluation);
    }
    const auto at = Csv(Ok("surface eval " + Path("s.xml") + " --at 0.3,0.6 --derivatives 1"));
    EXPECT_EQ(at[0].size(), 11u);
    const auto pr = Csv(Ok("surface project " + Path("s.xml") + " " +
                           Write("pq.csv", at[1][2] + "," + at[1][3] + "," + at[1][4] + "\n")));
    EXPECT_NEAR(Number(pr[1][1]), 0.3, 1e-6);
    EXPECT_NEAR(Number(pr[1][2]), 0.6, 1e-6);
    // Beyond the corner (0, 0, 0) of the grid (x, y >= 0), the global answer is the corner,
    // whatever the local iteration does.
    const auto corner = Csv(Ok("surface project --global " + Path("s.xml") + " " + Write("c.csv", "-3,-4,0\n")));
    ASSERT_EQ(corner.size(), 2u);
    EXPECT_NEAR(Number(corner[1][6]), 5.0, 1e-9);
    EXPECT_NEAR(Number(corner[1][3]), 0.0, 1e-9);
    EXPECT_NEAR(Number(corner[1][4]), 0.0, 1e-9);
    Ok("surface project --local " + Path("s.xml") + " " + Path("c.csv"));
    Ok("surface fit " + Path("grid.csv") + " -q --degree 2,2 --count 4,5 -o " + Path("ls.xml"));
    EXPECT_NE(Slurp(Path("ls.xml")).find("<Rows>4</Rows>"), std::string::npos);
}

// Plots: the named groups of every kind of picture, escaped text, well-formed for xmllint.
TEST_F(NurbsProgram, PlotsAreWellFormedSvg) {
    const std::string pts = Write("plot.txt", EllipsePoints(16)), glyph = std::string(VELSDK_DATA_DIR) + "/glyph_S.csv";
    Ok("fit " + pts + " --closed -q -o " + Path("plot.xml"));
    Ok("fit " + glyph + " --closed -t 5 -q -o " + Path("S.xml"));
    Ok("fit " + glyph + " --closed -q -o " + Path("S-all.xml"));
    Ok("surface fit " +
       Write("sg.csv",
             "4,4\n0 0 0\n1 0 0\n2 0 0\n3 0 0\n0 1 0\n1 1 1\n2 1 2\n3 1 0\n"
             "0 2 0\n1 2 2\n2 2 1\n3 2 0\n0 3 0\n1 3 0\n2 3 0\n3 3 0\n") +
       " -q -o " + Path("surf.xml"));
    const struct {
        std::string args, svg;
        std::vector<std::string> parts;
    } plots[] = {
        {Path("plot.xml") + " --points " + pts + " --title 'Ellipse <16> & co'",
         "curve.svg",
         {"id=\"curve\"", "id=\"control-polygon\"", "id=\"knots\"", "id=\"data-points\"",
          "Ellipse &lt;16&gt; &amp; co"}},
        {Path("surf.xml") + " --lines 6 --view oblique", "surf.svg", {"id=\"surface\""}},
        {Path("plot.xml") + " --curvature", "comb.svg", {"id=\"curvature-comb\""}},
        // The colour scale runs through the viridis stops, from deep blue (0) to yellow (largest).
        {Path("S.xml") + " --points " + glyph + " --error",
         "error.svg",
         {"id=\"data-errors\"", "id=\"error-scale\"", "fill=\"#440154\"", "fill=\"#fde725\""}},
        {Path("S.xml") + " --overlay " + Path("S-all.xml"),
         "both.svg",
         {"id=\"overlay\"", "S-all.xml (163 control points)"}},
    };
    const bool lint = std::system("xmllint --version >/dev/null 2>&1") == 0;
    for (const auto& p : plots) {
        Ok("plot " + p.args + " -o " + Path(p.svg));
        const std::string svg = Slurp(Path(p.svg));
        for (const std::string& part : p.parts) EXPECT_NE(svg.find(part), std::string::npos) << part;
        EXPECT_EQ(svg.find("NaN"), std::string::npos) << p.svg;
        const std::string background = svg.substr(svg.find("<rect x=\"0\" y=\"0\" "));  // covers the picture
        EXPECT_EQ(After(background, "width=\""), After(svg, "width=\"")) << p.svg;
        EXPECT_EQ(After(background, "height=\""), After(svg, "height=\"")) << p.svg;
        EXPECT_TRUE(!lint || std::system(("xmllint --noout " + Quote(Path(p.svg))).c_str()) == 0) << p.svg;
    }
    // Equal scales: the data points drawn span 6 by 4 like the ellipse (coordinates to 0.01).
    const std::string svg = Slurp(Path("curve.svg")), group = svg.substr(svg.find("id=\"data-points\""));
    double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
    for (std::size_t at = group.find("<circle"); at < group.find("</g>"); at = group.find("<circle", at + 1)) {
        const double c[2] = {After(group.substr(at), "cx=\""), After(group.substr(at), "cy=\"")};
        for (int k = 0; k < 2; ++k) lo[k] = std::min(lo[k], c[k]), hi[k] = std::max(hi[k], c[k]);
    }
    EXPECT_NEAR((hi[0] - lo[0]) / (hi[1] - lo[1]), 1.5, 1e-3);
}

// --- point files shared with the tests of velsdk_nurbs.read_points (tests/data/points) ---------

std::vector<std::string> SharedPointFiles(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(VELSDK_TEST_DATA_DIR) + "/points/" + folder))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST_F(NurbsProgram, SharedPointFilesGiveTheirPoints) {
    // Every file of xyz/ (xy/) writes the same five points in another convention. An order-2 open
    // fit has one control point per point, on the point (up to the rounding of the solve), so the
    // record gives back what the program read; all files of a folder must give the same curve.
    const double xyz[5][3] = {{0, 0, 0}, {1.5, 2, -0.25}, {3, 3.75, 1}, {4.5, 1, 0.002}, {6, -0.5, 1}};
    for (const std::string folder : {"xyz", "xy"}) {
        const std::vector<std::string> files = SharedPointFiles(folder);
        ASSERT_GE(files.size(), 4u) << folder;
        std::vector<V3dCurveNurbsPlus> curves;
        for (const std::string& file : files) {
            const std::string summary = Ok("fit " + Quote(file) + " --order 2 -o " + Path("shared.nrb"));
            EXPECT_NE(summary.find("points: 5\n"), std::string::npos) << file << "\n" << summary;
            curves.push_back(Load(Path("shared.nrb")));
            EXPECT_TRUE(curves.back() == curves[0]) << file << " vs " << files[0];
        }
        const auto& cps = curves[0].GetControlPoints();
        ASSERT_EQ(cps.size(), 5u) << folder;
        for (std::size_t i = 0; i < 5; ++i) {
            EXPECT_EQ(cps[i][3], 1.0);
            for (std::size_t c = 0; c < 3; ++c)
                EXPECT_NEAR(cps[i][c], folder == "xy" && c == 2 ? 0.0 : xyz[i][c], tol::kRoundOff)
                    << folder << " " << i;
        }
    }
}

TEST_F(NurbsProgram, SharedBadPointFilesNameFileLineAndProblem) {
    // bad/expected.txt: FILE|LINE|TEXT for every other file of bad/ (also read by the Python tests).
    const std::string dir = std::string(VELSDK_TEST_DATA_DIR) + "/points/bad/";
    std::istringstream table(Slurp(dir + "expected.txt"));
    std::vector<std::string> listed;
    std::string line;
    while (std::getline(table, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t a = line.find('|'), b = line.find('|', a + 1);
        ASSERT_NE(b, std::string::npos) << line;
        const std::string name = line.substr(0, a), number = line.substr(a + 1, b - a - 1), text = line.substr(b + 1);
        const std::string where = dir + name + (number == "0" ? ": " : ":" + number + ": ");
        Fails(1, "fit " + Quote(dir + name) + " -o " + Path("shared-bad.xml"), {where, text});
        listed.push_back(dir + name);
    }
    std::vector<std::string> files = SharedPointFiles("bad");
    files.erase(std::remove(files.begin(), files.end(), dir + "expected.txt"), files.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, files);  // every bad file has its expected message
}

// Every command has help with examples; bad command lines exit with 2, bad files and failed work
// with 1, each with one line on stderr that names the file, the line and the problem, and nothing
// is written.
TEST_F(NurbsProgram, BadInputGivesItsExitCodeAndOneLine) {
    for (const char* cmd : {"fit", "info", "eval", "segment", "project", "split", "convert", "surface fit",
                            "surface eval", "surface project", "plot", "reduce", "mesh"})
        EXPECT_NE(Ok(std::string(cmd) + " --help").find("Examples:"), std::string::npos) << cmd;
    const std::string pts = Write("ok.csv", OpenPoints()), out = " -o " + Path("bad.xml");
    Ok("fit " + pts + " -q -o " + Path("ok.xml"));
    Ok("convert " + Path("ok.xml") + " " + Path("ok.nrb"));
    const std::string xml = Slurp(Path("ok.xml")), rec = Slurp(Path("ok.nrb")), ok = Path("ok.xml");
    Ok("surface fit " + Write("g.csv", "3,3\n0 0 0\n1 0 0\n2 0 0\n0 1 0\n1 1 0\n2 1 0\n0 2 0\n1 2 0\n2 2 0\n") +
       " --degree 2,2 -q -o " + Path("g.xml"));
    const std::string badStep = Write("bad.step", "ISO-10303-21;\nHEADER;\nENDSEC;\nDATA;\n#1=X(\n");
    Ok("convert " + ok + " " + Path("curve.step"));  // a STEP file with a curve and no surface
    const std::string curveStep = Path("curve.step"), glyph = std::string(VELSDK_DATA_DIR) + "/glyph_S.csv";
    // Bad command lines: exit 2, the usage error on one line.
    std::vector<std::string> usage = {"", "frobnicate", "surface", "eval c.xml", "plot c.xml -o picture.png"};
    for (const char* e : {"", " -o c.txt"}) usage.push_back("fit " + pts + e);
    for (const char* e : {" --order 1", " --param sideways", " --start-tangent 1,0,0", " --jobs 2",
                          " --start-tangent 1,0,0 --end-tangent 0,0,0", " --start-tangent 1,0,0x --end-tangent 1,0,0"})
        usage.push_back("fit " + pts + out + e);
    for (const char* e : {" --closed -t 0", " --closed -t -1", " --closed -t nan", " --closed -t inf",
                          " --closed -t 1 --order 8", " -t 1 --param uniform"})
        usage.push_back("fit " + glyph + out + e);
    usage.insert(usage.end(),
                 {"fit" + out, "fit --batch " + Path("."), "fit " + pts + " --batch " + Path(".") + " -o x",
                  "eval " + ok + " --at 0.5,0.2 --frames",
                  "split " + Path("ok.nrb") + " --at 1 -o " + Path("l.nrb") + " " + Path("r.nrb"),
                  "segment " + ok + " --tolerance 1e-30", "project --global --local " + ok + " " + pts,
                  "plot " + ok + " --error -o " + Path("x.svg"), "reduce " + ok + " -t 0 -o " + Path("x.xml")});
    for (const std::string& args : usage) Fails(2, args);
    const struct {
        int code;
        std::string args;
        std::vector<std::string> needles;
        int lines = 1;  // a STEP file written by the library adds a note on what was skipped
    } cases[] = {
        {2, "convert " + curveStep + " " + Path("x.csv"), {"a surface is stored as"}, 2},
        {2, "mesh " + curveStep + " --tolerance 1 -o " + Path("x.vrml"), {".stl, .ply or .obj"}},
        {2, "mesh " + curveStep + " --tolerance -1 -o " + Path("x.stl"), {"--tolerance"}},
        {1, "fit " + Path("none.csv") + out, {"none.csv", "cannot open"}},
        {1, "fit " + Write("one.csv", "1,2,3\n") + out, {"1 point is too few for order 4"}},
        {1,
         "fit " + Write("dup.csv", "0,0,0\n1,0,0\n1,0,0\n2,1,0\n3,0,0\n") + out,
         {"points 1 and 2", "lines 2 and 3"}},
        {1, "fit --batch " + Path("no-such-folder") + " -o " + Path("o"), {"not a folder"}},
        {1, "info " + Write("broken.xml", xml.substr(0, xml.size() / 2)), {"broken.xml:"}},
        {1,
         "eval " + Write("noknots.xml", xml.substr(0, xml.find("<Knots>")) + "</NURBS_CURVE>\n") + " --at 0",
         {"Knots"}},
        {1, "info " + Write("short.nrb", rec.substr(0, rec.size() - 5)), {"short.nrb", "truncated"}},
        {1, "info " + Path("g.xml"), {"not a curve"}},
        {1, "surface eval " + ok + " --at 0,0", {"not a surface"}},
        {1,
         "surface fit " + Write("small.csv", "2,2\n0 0 0\n1 0 0\n0 1 0\n1 1 1\n") + out,
         {"too small for degrees 3,3"}},
        {1, "surface fit " + Write("shape.csv", "3,3\n0 0 0\n1 0 0\n") + out, {"shape.csv:1:", "does not match"}},
        {1, "eval " + ok + " --samples 3 -o " + Path("no/such/dir.csv"), {"cannot write"}},
        {1, "reduce " + Path("missing.xml") + " -t 1" + out, {"missing.xml"}},
        {1, "convert " + badStep + " " + Path("bad.xml"), {"bad.step:5: "}},
        {1, "mesh " + badStep + " --tolerance 1 -o " + Path("x.stl"), {"bad.step:5: "}},
        {1, "mesh " + curveStep + " --tolerance 1 -o " + Path("x.stl"), {"no surface"}, 2},
    };
    for (const auto& c : cases) Fails(c.code, c.args, c.needles, c.lines);
    for (const char* name : {"bad.xml", "x.stl", "x.svg", "x.xml"})
        EXPECT_FALSE(std::ifstream(Path(name)).good()) << name;
}

// fit --batch: one document per point file, each the library's own fit of that file, the same
// bytes for any --jobs; bad files named on stderr and in summary.csv, exit 1.
TEST_F(NurbsProgram, FitBatchFitsEveryFileOfAFolder) {
    const std::string dir = Path("batch-in");
    std::filesystem::create_directories(dir);
    std::vector<std::vector<point<double, 3>>> good(3);
    for (int f = 0; f < 3; ++f) {
        std::ostringstream s;
        s.precision(17);
        s << "# kind: " << (f == 1 ? "closed (a loop)" : "open") << "\nx,y,z\n";
        for (int i = 0; i < 30 + 5 * f; ++i) {
            const double a = 0.19 * i + f;
            good[f].push_back({std::cos(a) * (3 + f), std::sin(a) * 2, 0.1 * i * (f != 1)});
            s << good[f].back()[0] << ',' << good[f].back()[1] << ',' << good[f].back()[2] << '\n';
        }
        std::ofstream(dir + "/good" + std::to_string(f) + ".csv") << s.str();
    }
    std::ofstream(dir + "/few.txt") << "0 0 0\n1 1 1\n";
    std::ofstream(dir + "/same.csv") << "x,y,z\n0,0,0\n1,0,0\n1,0,0\n2,1,0\n3,3,0\n";
    std::ofstream(dir + "/notes.md") << "not a point file\n";

    for (const char* jobs : {"1", "2"}) {
        const std::string out = Path(std::string("batch-out-") + jobs);
        const Outcome r = Run("fit --batch " + dir + " -o " + out + " --jobs " + jobs);
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_NE(r.err.find("few.txt: the fit failed: 2 points are fewer than the order 4"), std::string::npos);
        EXPECT_NE(r.err.find("same.csv:4: this point coincides with the one on line 3"), std::string::npos);
        const auto rows = Csv(Slurp(out + "/summary.csv"));
        ASSERT_EQ(rows.size(), 6u) << Slurp(out + "/summary.csv");
        EXPECT_EQ(rows[0], (std::vector<std::string>{"file", "closed", "points", "control_points", "max_error",
                                                     "status", "error"}));
        EXPECT_EQ(rows[1][0], "few.txt");
        EXPECT_EQ(rows[1][5], "failed");
        EXPECT_EQ(rows[5][0], "same.csv");
        for (int f = 0; f < 3; ++f) {
            const auto& row = rows[2 + f];
            ASSERT_EQ(row.size(), 6u);  // the empty error field ends the line
            EXPECT_EQ(row[0], "good" + std::to_string(f) + ".csv");
            EXPECT_EQ(row[1], f == 1 ? "1" : "0");
            EXPECT_EQ(row[5], "ok");
            // The document holds the library's fit of the file's points, bit for bit.
            V3dCurveNurbsPlus single;
            single.SetOrder(4);
            std::vector<double> params;
            ASSERT_EQ(single.Fit(params, good[f], f == 1), V3dCurve::Success);
            const V3dCurveNurbsPlus written = Load(out + "/good" + std::to_string(f) + ".xml");
            EXPECT_TRUE(written == single);
            EXPECT_EQ(Number(row[2]), static_cast<double>(good[f].size()));
            EXPECT_EQ(Number(row[3]), static_cast<double>(single.GetNumberControlPoints()));
            double worst = 0.0;
            const V3dNurbsCurve held = Held(single);
            for (std::size_t i = 0; i < good[f].size(); ++i)
                worst = std::max(worst, VelSDK::Math::Distance(held.EvaluateAt(params[i]), good[f][i]));
            EXPECT_EQ(Number(row[4]), worst);
            EXPECT_LT(worst, 1e-9);
        }
        EXPECT_FALSE(std::ifstream(out + "/few.xml").good());
        EXPECT_FALSE(std::ifstream(out + "/notes.xml").good());
    }
    for (const char* name : {"good0.xml", "good1.xml", "good2.xml", "summary.csv"})
        EXPECT_EQ(Slurp(Path("batch-out-1/") + name), Slurp(Path("batch-out-2/") + name)) << name;
}

// project: the global nearest point by default, the fitted curve's Newton iteration with
// --local. On the GPS loop the global distance is never larger than the local one and is
// smaller for at least one noisy fix (a fix where the loop passes near itself).
TEST_F(NurbsProgram, ProjectGlobalByDefaultLocalOnRequest) {
    const std::string data = std::string(VELSDK_DATA_DIR);
    Ok("fit " + data + "/gps_loop_3d.csv --closed -q -o " + Path("gps.xml"));
    const std::string fixes = data + "/proj_gps_loop_3d.csv";
    const auto global = Csv(Ok("project " + Path("gps.xml") + " " + fixes));
    const auto explicitGlobal = Csv(Ok("project --global " + Path("gps.xml") + " " + fixes));
    const auto local = Csv(Ok("project --local " + Path("gps.xml") + " " + fixes));
    ASSERT_EQ(global.size(), 207u);
    ASSERT_EQ(local.size(), global.size());
    EXPECT_EQ(global, explicitGlobal);
    int nearer = 0;
    for (std::size_t i = 1; i < global.size(); ++i) {
        EXPECT_EQ(global[i][6], "1");
        EXPECT_LE(Number(global[i][5]), Number(local[i][5]) * (1 + 1e-12)) << i;
        nearer += Number(global[i][5]) < Number(local[i][5]) * (1 - 1e-9);
    }
    EXPECT_GE(nearer, 1);
}

// info, eval --curvature --frames and reduce on a circle of radius 2 fitted from 200 points
// (closed forms: length 2 pi r, curvature 1 / r, no torsion).
TEST_F(NurbsProgram, AnalysisOfAFittedCircle) {
    Ok("fit " + Write("circle.txt", EllipsePoints(200, 2, 2)) + " --closed -q -o " + Path("circle.xml"));
    const std::string info = Ok("info " + Path("circle.xml"));
    for (const char* line : {"order: 4", "control points: 203", "knots: 207", "closed: yes", "rational: no"})
        EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
    EXPECT_NEAR(After(info, "length: "), 4 * M_PI, 1e-4);  // the polyline's
    EXPECT_NEAR(After(info, "arc length: "), 4 * M_PI, 1e-6);
    EXPECT_NEAR(After(info, "curvature: "), 0.5, 1e-4);
    EXPECT_NEAR(After(info, " to "), 0.5, 1e-4);

    const std::string eval = Ok("eval " + Path("circle.xml") + " --samples 9 --curvature --frames");
    EXPECT_EQ(eval.substr(0, eval.find('\n')), "u,x,y,z,curvature,torsion,tx,ty,tz,nx,ny,nz,bx,by,bz");
    const auto rows = Csv(eval);
    ASSERT_EQ(rows.size(), 10u);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        std::vector<double> r;
        for (const std::string& f : rows[i]) r.push_back(Number(f));
        ASSERT_EQ(r.size(), 15u);
        EXPECT_NEAR(r[4], 0.5, 1e-4);
        EXPECT_NEAR(r[5], 0.0, 1e-9);
        EXPECT_NEAR(r[6] * r[9] + r[7] * r[10] + r[8] * r[11], 0.0, 1e-12);  // orthonormal frame
        EXPECT_NEAR(r[9] * r[9] + r[10] * r[10] + r[11] * r[11], 1.0, 1e-12);
        EXPECT_NEAR(r[9] * -r[1] / 2 + r[10] * -r[2] / 2, 1.0, 1e-4);  // in the plane, towards the centre
    }

    const std::string reduce = Ok("reduce " + Path("circle.xml") + " -t 1e-3 -o " + Path("small.nrb"));
    const std::string counts = reduce.substr(reduce.find("control points: "));
    EXPECT_GE(After(counts, "control points: "), 200.0);  // the closed fit wraps 3 more
    EXPECT_LT(After(counts, "-> "), 40.0);
    EXPECT_LE(After(reduce, "deviation: at most "), 1e-3);
    // Every point of the reduced curve lies within the tolerance of the circle (the fit's own
    // error is far below 1e-3).
    const V3dNurbsCurve c = Held(Load(Path("small.nrb")));
    for (int i = 0; i <= 1000; ++i) {
        const auto p = c.EvaluateAt(c.GetMinParam() + (c.GetMaxParam() - c.GetMinParam()) * i / 1000.0);
        EXPECT_NEAR(std::hypot(p[0], p[1]), 2.0, 1e-3 + 1e-6);
    }
}

// fit --tolerance: the report printed agrees with the curve written (its distance to every point
// measured again: nearest of dense samples, then the library's Newton correction).
TEST_F(NurbsProgram, FitToleranceReportMatchesTheCurveWritten) {
    for (bool closed : {true, false}) {
        const std::string data = std::string(VELSDK_DATA_DIR) + (closed ? "/gps_loop_3d.csv" : "/gps_open_3d.csv");
        const std::string out = Ok("fit " + data + (closed ? " --closed" : "") + " --tolerance 20 -o " + Path("t.nrb"));
        EXPECT_NE(out.find("tolerance: 20 - met"), std::string::npos) << out;
        const double reported = After(out, "max distance: ");
        EXPECT_LE(reported, 20.0);
        const V3dCurveNurbsPlus curve = Load(Path("t.nrb"));
        ASSERT_TRUE(curve.IsValid());
        EXPECT_EQ(curve.IsClosedLoop(), closed);
        EXPECT_EQ(curve.GetNumberControlPoints(),
                  static_cast<std::size_t>(After(out, "control points: ")) + 3 * closed);
        const V3dNurbsCurve held = Held(curve);
        std::vector<point<double, 3>> q;
        for (const auto& row : Csv(Slurp(data)))
            if (row.size() == 3 && row[0][0] != '#' && row[0] != "x")
                q.push_back({Number(row[0]), Number(row[1]), Number(row[2])});
        std::vector<double> u(q.size()), d;
        for (std::size_t k = 0; k < q.size(); ++k) {
            double best = HUGE_VAL;
            for (int i = 0; i <= 20000; ++i) {
                const double e = VelSDK::Math::Distance(held.EvaluateAt(i / 20000.0), q[k]);
                if (e < best) best = e, u[k] = i / 20000.0;
            }
        }
        EXPECT_LE(VelSDK::NURBS::CorrectParameters(held, q, u, d, closed), reported * (1 + 1e-6));
    }
    const std::string out =
        Ok("fit " + std::string(VELSDK_DATA_DIR) + "/glyph_S.csv --closed -t 1e-300 -o " + Path("b.xml"));
    EXPECT_NE(out.find("NOT met"), std::string::npos) << out;
    EXPECT_EQ(After(out, "control points: "), 160.0);
}

// convert to and from STEP and IGES gives the curve back bit for bit; surface fit straight into
// STEP; mesh prints the triangle count and deviation of the library's own tessellation.
TEST_F(NurbsProgram, ExchangeRoundTripsAndMesh) {
    const std::string data = VELSDK_DATA_DIR;
    Ok("fit " + data + "/glyph_S.csv --closed -q -o " + Path("S.xml"));
    const V3dCurveNurbsPlus S = Load(Path("S.xml"));
    for (const std::string ext : {"step", "igs"}) {
        EXPECT_NE(Ok("convert " + Path("S.xml") + " " + Path("S." + ext)).find("1 curve(s), 0 surface(s)"),
                  std::string::npos);
        Ok("convert " + Path("S." + ext) + " " + Path("back.nrb"));
        const V3dCurveNurbsPlus back = Load(Path("back.nrb"));
        EXPECT_EQ(back.GetKnots(), S.GetKnots()) << ext;
        EXPECT_EQ(back.GetControlPoints(), S.GetControlPoints()) << ext;
    }
    const std::string step = Path("volcano.step");
    Ok("surface fit " + data + "/dem_volcano_61x87.csv --count 16,22 -q -o " + step);
    VelSDK::Exchange::CadModel m, iges;
    ASSERT_TRUE(VelSDK::Exchange::LoadStep(step, m).ok);
    ASSERT_EQ(m.surfaces.size(), 1u);
    EXPECT_EQ(m.surfaces[0].GetControlPoints().RowCount(), 16u);
    const std::string mesh = Ok("mesh " + step + " --tolerance 0.5 -o " + Path("v.stl"));
    VelSDK::Mesh::TessellationOptions o;
    o.chordTolerance = 0.5;
    VelSDK::Mesh::TriangleMesh lib;
    ASSERT_TRUE(VelSDK::Mesh::Tessellate(m.surfaces[0], o, lib).ok);
    EXPECT_EQ(After(mesh, "triangles: "), static_cast<double>(lib.triangles.size()));
    const double deviation = After(mesh, "max deviation (centroids and edge midpoints projected): ");
    EXPECT_LE(deviation, 0.5);
    EXPECT_NEAR(deviation, VelSDK::Mesh::MeasureDeviation(m.surfaces[0], lib), 1e-6);  // printed to 6 digits
    EXPECT_EQ(Slurp(Path("v.stl")).size(), 84 + 50 * lib.triangles.size());
    Ok("convert " + step + " " + Path("v.xml"));
    Ok("convert " + Path("v.xml") + " " + Path("v.igs"));
    ASSERT_TRUE(VelSDK::Exchange::LoadIges(Path("v.igs"), iges).ok);
    EXPECT_EQ(iges.surfaces[0].GetKnotsU(), m.surfaces[0].GetKnotsU());
}

// surface fit --tolerance: the summary, the per-point CSV and the colour map agree with each
// other and with the tolerance; refusals of options that do not go together.
TEST_F(NurbsProgram, SurfaceFitToleranceReportCsvAndErrorMapAgree) {
    std::ostringstream g;
    g << "20,25\n";
    for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 25; ++j)
            g << 10 * j << ' ' << 10 * i << ' ' << 30 * std::sin(0.3 * i) * std::cos(0.2 * j) << '\n';
    const std::string grid = Write("wave.csv", g.str());
    const std::string out = Ok("surface fit " + grid + " --tolerance 0.05 --param chord --report " + Path("r.csv") +
                               " --error-svg " + Path("e.svg") + " -o " + Path("w.xml"));
    EXPECT_NE(out.find("tolerance: 0.05 - met"), std::string::npos) << out;
    const auto rows = Csv(Slurp(Path("r.csv")));
    ASSERT_EQ(rows.size(), 501u);
    double top = 0;
    for (std::size_t k = 1; k < rows.size(); ++k) top = std::max(top, Number(rows[k][7]));
    EXPECT_LE(top, 0.05);
    EXPECT_NEAR(After(out, "max distance: "), top, 1e-5 * top);
    const std::string svg = Slurp(Path("e.svg"));
    std::size_t cells = 0;
    for (std::size_t at = svg.find("<rect"); at != std::string::npos; at = svg.find("<rect", at + 1)) ++cells;
    EXPECT_GE(cells, 500u);
    EXPECT_EQ(svg.find("#d62728"), std::string::npos);  // nothing beyond the tolerance
    for (const char* bad :
         {" --tolerance 0", " --tolerance 1 --count 5,5", " --tolerance 1 --param arc", " --tolerance 1 --degree 10,3"})
        Fails(2, "surface fit " + grid + bad + " -o " + Path("x.xml"));
}

}  // namespace
