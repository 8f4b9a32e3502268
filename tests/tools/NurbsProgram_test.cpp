// End-to-end tests of the nurbs program: each subcommand runs as a separate process on small
// inputs; outputs are checked against independent computations (a reader of the binary
// record written here, Cox-de Boor evaluation, the library's curve and surface classes in
// this process), and bad input must give the documented exit codes and one-line messages.
#include <gtest/gtest.h>

#include "support/ReferenceBSpline.h"

#include <VelSDK/Generators.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using VelSDK::Math::point;

#ifdef NURBS_PROGRAM
const char* const kProgram = NURBS_PROGRAM;
const char* const kExamples = NURBS_EXAMPLES_DIR;
#else
const char* const kProgram = "";
const char* const kExamples = "";
#endif

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

/// Splits CSV text into rows of fields (no quoting in the program's output).
std::vector<std::vector<std::string>> Csv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = line.find(',', start);
            fields.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        rows.push_back(fields);
    }
    return rows;
}

double Number(const std::string& field) {
    double v = 0.0;
    const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
    EXPECT_TRUE(r.ec == std::errc() && r.ptr == field.data() + field.size()) << "not a number: " << field;
    return v;
}

std::size_t LineCount(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

/// The binary record of a fitted curve, read field by field (little-endian, as documented).
struct Record {
    double min = 0, max = 0;
    bool closed = false;
    unsigned order = 0;
    std::uint64_t n = 0;
    bool valid = false;
    std::vector<point<double, 4>> controlPoints;
    std::vector<double> knots;
    std::size_t size = 0;
};

Record ParseRecord(const std::string& bytes) {
    Record r;
    std::size_t pos = 0;
    auto take = [&](void* dst, std::size_t n) {
        if (pos + n > bytes.size()) throw std::runtime_error("short record");
        std::memcpy(dst, bytes.data() + pos, n);
        pos += n;
    };
    unsigned char flag = 0, order = 0;
    take(&r.min, 8);
    take(&r.max, 8);
    take(&flag, 1);
    r.closed = flag != 0;
    take(&order, 1);
    r.order = order;
    take(&r.n, 8);
    take(&flag, 1);
    r.valid = flag != 0;
    if (r.valid) {
        r.controlPoints.resize(r.n);
        for (auto& p : r.controlPoints) take(p.v, 32);
        std::uint64_t k = 0;
        take(&k, 8);
        r.knots.resize(k);
        if (k != 0) take(r.knots.data(), 8 * k);
    }
    r.size = pos;
    return r;
}

/// The binary record of a valid curve, written field by field here (independently of the library).
std::string MakeRecord(const std::vector<point<double, 4>>& controlPoints, const std::vector<double>& knots,
                       unsigned char order, bool closed) {
    std::string b;
    auto put = [&](const void* p, std::size_t n) { b.append(static_cast<const char*>(p), n); };
    const double range[2] = {knots[order - 1], knots[controlPoints.size()]};
    put(range, 16);
    const unsigned char flags[2] = {static_cast<unsigned char>(closed), order};
    put(flags, 2);
    const std::uint64_t n = controlPoints.size(), k = knots.size();
    put(&n, 8);
    const unsigned char valid = 1;
    put(&valid, 1);
    for (const auto& p : controlPoints) put(p.v, 32);
    put(&k, 8);
    put(knots.data(), 8 * k);
    return b;
}

VelSDK::NURBS::V3dNurbsCurve CurveOf(const Record& r) {
    return VelSDK::NURBS::V3dNurbsCurve(r.controlPoints, r.knots, r.order - 1);
}

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
    void SetUp() override {
        if (std::strlen(kProgram) == 0) GTEST_SKIP() << "the nurbs program is not built (CLI11 missing)";
        struct stat st {};
        if (::stat(kProgram, &st) != 0) GTEST_SKIP() << "the nurbs program is not built: " << kProgram;
    }

    static std::string Path(const std::string& name) { return s_dir + "/" + name; }
    static std::string Example(const std::string& name) { return std::string(kExamples) + "/" + name; }

    static std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }

    /// Runs the program with the (shell-quoted by the caller where needed) arguments.
    static Result Run(const std::string& args, const std::string& input = std::string()) {
        const std::string out = Path("stdout.txt");
        const std::string err = Path("stderr.txt");
        std::string command = Quote(kProgram) + " " + args + " >" + Quote(out) + " 2>" + Quote(err);
        if (!input.empty()) command += " <" + Quote(Write("stdin.txt", input));
        const int status = std::system(command.c_str());
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = Slurp(out);
        r.err = Slurp(err);
        return r;
    }

    /// Runs and expects success; returns stdout.
    static std::string Ok(const std::string& args) {
        const Result r = Run(args);
        EXPECT_EQ(r.code, 0) << "nurbs " << args << "\nstderr: " << r.err;
        return r.out;
    }

    /// Runs and expects exit code 1 with one line on stderr that contains every needle.
    static void BadInput(const std::string& args, const std::vector<std::string>& needles) {
        const Result r = Run(args);
        EXPECT_EQ(r.code, 1) << "nurbs " << args << "\nstderr: " << r.err;
        EXPECT_EQ(LineCount(r.err), 1u) << r.err;
        for (const std::string& n : needles) EXPECT_NE(r.err.find(n), std::string::npos) << r.err << "lacks: " << n;
    }

    static std::string s_dir;
};

std::string NurbsProgram::s_dir;

/// Nine points of a helix-like 3-D curve and twelve points of an ellipse.
std::string OpenPoints() {
    std::ostringstream s;
    s << "# open test curve\nx,y,z\n";
    for (int i = 0; i < 9; ++i) {
        const double t = 0.25 * i;
        s << std::cos(t) * 2 << ',' << std::sin(t) * 2 << ',' << 0.3 * t << '\n';
    }
    return s.str();
}

std::string EllipsePoints(int n) {
    std::ostringstream s;
    s.precision(17);
    for (int i = 0; i < n; ++i) {
        const double t = 2 * M_PI * i / n;
        s << 3 * std::cos(t) << ' ' << 2 * std::sin(t) << '\n';  // blank-separated, 2 columns
    }
    return s.str();
}

// --- help and usage ----------------------------------------------------------------------------

TEST_F(NurbsProgram, HelpOfEveryCommandExitsZeroWithExamples) {
    const std::string top = Ok("--help");
    for (const char* name : {"fit", "info", "eval", "segment", "project", "split", "convert", "surface", "plot"})
        EXPECT_NE(top.find(name), std::string::npos) << name;
    for (const char* cmd : {"fit", "info", "eval", "segment", "project", "split", "convert", "surface fit",
                            "surface eval", "surface project", "plot"}) {
        const std::string help = Ok(std::string(cmd) + " --help");
        EXPECT_NE(help.find("Examples:"), std::string::npos) << cmd;
    }
}

TEST_F(NurbsProgram, UsageErrorsExitTwo) {
    const std::string pts = Write("usage.csv", OpenPoints());
    for (const std::string& args :
         std::vector<std::string>{std::string(""), std::string("frobnicate"), "fit " + pts,
                                  "fit " + pts + " -o c.xml --order 1", "fit " + pts + " -o c.xml --param sideways",
                                  "fit " + pts + " -o c.txt", "fit " + pts + " -o c.xml --start-tangent 1,0,0",
                                  "fit " + pts +
                                      " -o c.xml --start-tangent 1,0 "
                                      "--end-tangent 1,0,0",
                                  "eval c.xml", "segment c.xml", "surface", "plot c.xml -o picture.png"}) {
        const Result r = Run(args);
        EXPECT_EQ(r.code, 2) << "nurbs " << args << "\n" << r.err;
        EXPECT_EQ(LineCount(r.err), 1u) << r.err;
    }
}

// --- curves ------------------------------------------------------------------------------------

TEST_F(NurbsProgram, OpenFitWritesARecordThatEvalReadsBitForBit) {
    const std::string pts = Write("open.csv", OpenPoints());
    const std::string fitOut = Ok("fit " + pts + " -o " + Path("open.nrb"));
    EXPECT_NE(fitOut.find("control points: 9"), std::string::npos) << fitOut;
    EXPECT_NE(fitOut.find("max interpolation error"), std::string::npos);

    const Record r = ParseRecord(Slurp(Path("open.nrb")));
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.order, 4u);
    EXPECT_EQ(r.n, 9u);
    EXPECT_EQ(r.knots.size(), 13u);
    EXPECT_FALSE(r.closed);
    EXPECT_EQ(r.size, 27u + 9 * 32 + 8 + 13 * 8);
    EXPECT_EQ(r.min, 0.0);
    EXPECT_EQ(r.max, 1.0);

    // Evaluation through the program equals the library's evaluation of the same data exactly
    // (the CSV carries every bit) and Cox-de Boor summation closely.
    const auto rows = Csv(Ok("eval " + Path("open.nrb") + " --samples 7"));
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"u", "x", "y", "z"}));
    const VelSDK::NURBS::V3dNurbsCurve curve = CurveOf(r);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const double u = Number(rows[i][0]);
        EXPECT_EQ(u, i == 7 ? 1.0 : (i - 1) / 6.0);
        const point<double, 3> p = curve.EvaluateAt(u);
        const point<double, 4> h = VelSDK::NURBS::test::ReferencePointH(r.controlPoints, r.knots, 3, u);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(Number(rows[i][1 + c]), p[c]);
            EXPECT_NEAR(Number(rows[i][1 + c]), h[c] / h[3], 1e-12);
        }
    }
    // The ends of an open fit are the first and last data points.
    const auto ends = Csv(Ok("eval " + Path("open.nrb") + " --at 0,1"));
    EXPECT_NEAR(Number(ends[1][1]), 2.0, 1e-14);
    EXPECT_NEAR(Number(ends[2][3]), 0.6, 1e-14);
}

TEST_F(NurbsProgram, DerivativeColumnsMatchTheCurve) {
    const std::string pts = Write("deriv.csv", OpenPoints());
    Ok("fit " + pts + " -q -o " + Path("deriv.nrb"));
    const Record r = ParseRecord(Slurp(Path("deriv.nrb")));
    const VelSDK::NURBS::V3dNurbsCurve curve = CurveOf(r);
    for (int k : {1, 2, 3}) {
        const auto rows = Csv(Ok("eval " + Path("deriv.nrb") + " --at 0.3,0.7 --derivatives " + std::to_string(k)));
        ASSERT_EQ(rows[0].size(), 4u + 3u * k);
        EXPECT_EQ(rows[0].back(), "d" + std::to_string(k) + "z");
        for (std::size_t i = 1; i < rows.size(); ++i) {
            const auto d = curve.DeriveAt(Number(rows[i][0]), k);
            for (int j = 1; j <= k; ++j)
                for (int c = 0; c < 3; ++c) EXPECT_EQ(Number(rows[i][1 + 3 * j + c]), d[j][c]) << k << ' ' << j;
        }
    }
}

TEST_F(NurbsProgram, ClosedFitInfoSegmentAndProject) {
    const std::string pts = Write("ellipse.txt", EllipsePoints(12));
    Ok("fit " + pts + " --closed -q -o " + Path("ellipse.xml"));
    const std::string info = Ok("info " + Path("ellipse.xml"));
    for (const char* line : {"order: 4", "control points: 15", "knots: 19", "range: [0, 1]", "closed: yes",
                             "rational: no", "bounding box:", "length:"})
        EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
    // Length of the ellipse with semi-axes 3 and 2 (Ramanujan): 15.8654...
    const std::size_t at = info.find("length: ");
    EXPECT_NEAR(std::atof(info.c_str() + at + 8), 15.8654, 0.02);

    // Every polyline vertex lies on the curve and the chords stay within the tolerance.
    Ok("convert " + Path("ellipse.xml") + " " + Path("ellipse.nrb"));
    const VelSDK::NURBS::V3dNurbsCurve curve = CurveOf(ParseRecord(Slurp(Path("ellipse.nrb"))));
    const auto seg = Csv(Ok("segment " + Path("ellipse.xml") + " --tolerance 0.01"));
    ASSERT_GT(seg.size(), 20u);
    for (std::size_t i = 1; i < seg.size(); ++i) {
        const double u = Number(seg[i][0]);
        const point<double, 3> p = curve.EvaluateAt(u);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Number(seg[i][1 + c]), p[c]);
        if (i > 1) {
            EXPECT_GT(u, Number(seg[i - 1][0]));
            const point<double, 3> mid = curve.EvaluateAt(0.5 * (u + Number(seg[i - 1][0])));
            const point<double, 3> a{Number(seg[i - 1][1]), Number(seg[i - 1][2]), Number(seg[i - 1][3])};
            EXPECT_LE(VelSDK::Math::Distance(mid, VelSDK::Math::Lerp(a, p, 0.5)), 0.0101);
        }
    }
    EXPECT_EQ(Number(seg[1][0]), 0.0);
    EXPECT_EQ(Number(seg.back()[0]), 1.0);

    // The data points project onto the curve at distance ~0; a far point converges elsewhere.
    const std::string queries = Write("queries.csv", EllipsePoints(12) + "0 5\n");
    const auto proj = Csv(Ok("project " + Path("ellipse.xml") + " " + queries));
    ASSERT_EQ(proj.size(), 14u);
    EXPECT_EQ(proj[0], (std::vector<std::string>{"index", "u", "x", "y", "z", "distance", "converged"}));
    for (std::size_t i = 1; i <= 12; ++i) {
        EXPECT_EQ(proj[i][6], "1");
        EXPECT_LT(Number(proj[i][5]), 1e-9) << i;
    }
    EXPECT_NEAR(Number(proj[13][5]), 3.0, 1e-6);  // (0, 5) lies 3 above the top of the ellipse
}

TEST_F(NurbsProgram, ConvertRoundTripsBothFormatsExactly) {
    const std::string pts = Write("conv.csv", OpenPoints());
    Ok("fit " + pts + " -q --order 3 -o " + Path("a.xml"));
    Ok("convert " + Path("a.xml") + " " + Path("b.nrb"));
    Ok("convert " + Path("b.nrb") + " " + Path("c.xml"));
    Ok("convert " + Path("c.xml") + " " + Path("d.nrb"));
    EXPECT_EQ(Slurp(Path("a.xml")), Slurp(Path("c.xml")));
    EXPECT_EQ(Slurp(Path("b.nrb")), Slurp(Path("d.nrb")));
    const std::string xml = Slurp(Path("a.xml"));
    for (const char* tag : {"<NURBS_CURVE>", "<IsClosedLoop>", "<Order>3</Order>", "<ControlPoints>", "<Knots>"})
        EXPECT_NE(xml.find(tag), std::string::npos) << tag;
    EXPECT_EQ(ParseRecord(Slurp(Path("b.nrb"))).order, 3u);
}

TEST_F(NurbsProgram, SplitGivesTwoOpenPiecesThatMeetAtTheCut) {
    const std::string pts = Write("split.csv", OpenPoints());
    Ok("fit " + pts + " -q -o " + Path("whole.nrb"));
    Ok("split " + Path("whole.nrb") + " --at 0.4 -o " + Path("left.nrb") + " " + Path("right.xml"));
    Ok("convert " + Path("right.xml") + " " + Path("right.nrb"));
    const Record whole = ParseRecord(Slurp(Path("whole.nrb")));
    const Record left = ParseRecord(Slurp(Path("left.nrb")));
    const Record right = ParseRecord(Slurp(Path("right.nrb")));
    ASSERT_TRUE(left.valid && right.valid);
    EXPECT_EQ(left.knots.front(), 0.0);
    EXPECT_EQ(left.knots.back(), 1.0);
    EXPECT_EQ(right.knots.front(), 0.0);
    EXPECT_EQ(right.knots.back(), 1.0);
    const point<double, 3> cut = CurveOf(whole).EvaluateAt(0.4);
    EXPECT_LT(VelSDK::Math::Distance(CurveOf(left).EvaluateAt(1.0), cut), 1e-12);
    EXPECT_LT(VelSDK::Math::Distance(CurveOf(right).EvaluateAt(0.0), cut), 1e-12);
    EXPECT_EQ(Run("split " + Path("whole.nrb") + " --at 1 -o " + Path("l.nrb") + " " + Path("r.nrb")).code, 2);
}

TEST_F(NurbsProgram, FitOptionsReachTheLibrary) {
    const std::string pts = Write("opts.csv", OpenPoints());
    // Tangent directions: the first derivative at the start points along the given direction.
    Ok("fit " + pts + " -q --start-tangent 0,1,0 --end-tangent -1,0,0 -o " + Path("tan.nrb"));
    const Record tan = ParseRecord(Slurp(Path("tan.nrb")));
    EXPECT_EQ(tan.n, 11u);  // two more control points than data points
    const auto d = CurveOf(tan).DeriveAt(0.0, 1);
    EXPECT_NEAR(d[1][0] / VelSDK::Math::ScaledLength(d[1]), 0.0, 1e-12);
    EXPECT_NEAR(d[1][1] / VelSDK::Math::ScaledLength(d[1]), 1.0, 1e-12);
    // Uniform parameters and knots: interior knots equally spaced.
    Ok("fit " + pts + " -q --order 2 --param uniform --knots uniform -o " + Path("uni.nrb"));
    const Record uni = ParseRecord(Slurp(Path("uni.nrb")));
    ASSERT_EQ(uni.knots.size(), 11u);
    for (std::size_t i = 1; i + 1 < uni.knots.size(); ++i) EXPECT_NEAR(uni.knots[i], (i - 1) / 8.0, 1e-15);
    // A closed list that repeats its first point at the end is fitted without the repeat.
    const Result r = Run("fit " + Write("rep.txt", EllipsePoints(8) + "3 0\n") + " --closed -o " + Path("rep.nrb"));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("repeats the first"), std::string::npos);
    EXPECT_EQ(ParseRecord(Slurp(Path("rep.nrb"))).n, 11u);
}

TEST_F(NurbsProgram, PointsFromStandardInput) {
    const Result r = Run("fit - -q -o " + Path("stdin.nrb"), OpenPoints());
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ParseRecord(Slurp(Path("stdin.nrb"))).n, 9u);
}

TEST_F(NurbsProgram, HandMadeRationalRecordIsReadAndEvaluated) {
    // A quarter circle as a rational quadratic: weights 1, sqrt(1/2), 1 (pre-multiplied points).
    const double w = std::sqrt(0.5);
    const std::vector<point<double, 4>> cps{{1, 0, 0, 1}, {w, w, 0, w}, {0, 1, 0, 1}};
    const std::vector<double> knots{0, 0, 0, 1, 1, 1};
    const std::string rec = Write("arc.nrb", MakeRecord(cps, knots, 3, false));
    const std::string info = Ok("info " + rec);
    for (const char* line : {"order: 3", "control points: 3", "rational: yes", "clamped: yes", "closed: no"})
        EXPECT_NE(info.find(line), std::string::npos) << line << "\n" << info;
    const std::size_t at = info.find("length: ");
    EXPECT_NEAR(std::atof(info.c_str() + at + 8), M_PI / 2, 1e-5);
    const VelSDK::NURBS::V3dNurbsCurve curve(cps, knots, 2);
    for (const auto& row : Csv(Ok("eval " + rec + " --samples 9 --derivatives 1"))) {
        if (row[0] == "u") continue;
        const double u = Number(row[0]);
        const point<double, 3> p{Number(row[1]), Number(row[2]), Number(row[3])};
        EXPECT_NEAR(VelSDK::Math::ScaledLength(p), 1.0, 1e-15) << u;  // on the unit circle
        const auto d = curve.DeriveAt(u, 1);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Number(row[4 + c]), d[1][c]);
    }
    // The rational curve takes the generic segmentation: every vertex on the circle, and the
    // chords within the tolerance (sagitta of the chord angle).
    const auto seg = Csv(Ok("segment " + rec + " --tolerance 0.001"));
    for (std::size_t i = 2; i < seg.size(); ++i) {
        const double a0 = std::atan2(Number(seg[i - 1][2]), Number(seg[i - 1][1]));
        const double a1 = std::atan2(Number(seg[i][2]), Number(seg[i][1]));
        EXPECT_LE(1.0 - std::cos(0.5 * (a1 - a0)), 0.001 + 1e-12);
    }
    // A control point that is not finite is refused when the record is read.
    std::vector<point<double, 4>> bad = cps;
    bad[1][0] = std::nan("");
    BadInput("info " + Write("nan.nrb", MakeRecord(bad, knots, 3, false)), {"nan.nrb", "control point 1"});
}

TEST_F(NurbsProgram, SegmentKeepAndEvalOptions) {
    Ok("fit " + Write("keep.csv", OpenPoints()) + " -q -o " + Path("keep.xml"));
    const auto seg = Csv(Ok("segment " + Path("keep.xml") + " --tolerance 0.5 --keep 0.123,0.5"));
    std::vector<double> us;
    for (std::size_t i = 1; i < seg.size(); ++i) us.push_back(Number(seg[i][0]));
    EXPECT_NE(std::find(us.begin(), us.end(), 0.123), us.end());
    EXPECT_NE(std::find(us.begin(), us.end(), 0.5), us.end());
    EXPECT_TRUE(std::is_sorted(us.begin(), us.end()));
    EXPECT_EQ(us.front(), 0.0);
    EXPECT_EQ(us.back(), 1.0);
    EXPECT_EQ(Run("segment " + Path("keep.xml") + " --tolerance 0.5 --keep 0.5,0.2").code, 2);
    EXPECT_EQ(Run("segment " + Path("keep.xml") + " --tolerance 0.5 --keep 1.5").code, 2);
    EXPECT_EQ(Run("segment " + Path("keep.xml") + " --tolerance 1e-30").code, 2);
    // One sample is the start of the range; parameters outside the range extrapolate.
    const auto one = Csv(Ok("eval " + Path("keep.xml") + " --samples 1"));
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(Number(one[1][0]), 0.0);
    EXPECT_EQ(Csv(Ok("eval " + Path("keep.xml") + " --at -0.25,1.25")).size(), 3u);
    // Output to a file; a folder that does not exist cannot be written.
    Ok("eval " + Path("keep.xml") + " --samples 3 -o " + Path("three.csv"));
    EXPECT_EQ(Csv(Slurp(Path("three.csv"))).size(), 4u);
    BadInput("eval " + Path("keep.xml") + " --samples 3 -o " + Path("no/such/dir.csv"),
             {"no/such/dir.csv", "cannot write"});
    BadInput("convert " + Path("keep.xml") + " " + Path("no/such/dir.nrb"), {"cannot write"});
    EXPECT_EQ(Run("convert " + Path("keep.xml") + " " + Path("keep.json")).code, 2);
}

TEST_F(NurbsProgram, ProgressOnlyOnATerminal) {
    Ok("fit " + Write("prog.csv", OpenPoints()) + " -q -o " + Path("prog.nrb"));
    const std::string args = " eval " + Path("prog.nrb") + " --samples 3000000 -o /dev/null";
    const Result quiet = Run(args);  // stderr is a file: no progress
    EXPECT_EQ(quiet.code, 0);
    EXPECT_EQ(quiet.err, "");
    if (std::system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (a pseudo-terminal) missing";
    const std::string log = Path("tty.txt");
    const std::string command =
        "script -qc " + Quote(Quote(kProgram) + args) + " /dev/null >" + Quote(log) + " 2>&1 </dev/null";
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(std::system(command.c_str()), 0);
    // Progress starts after half a second of work; a machine that finishes sooner shows none.
    if (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) GTEST_SKIP() << "finished too fast";
    EXPECT_NE(Slurp(log).find("eval: "), std::string::npos) << Slurp(log);
}

TEST_F(NurbsProgram, PointFileConventions) {
    // Trailing comments, CRLF line ends, a byte order mark, blanks around commas, '+' signs,
    // semicolons: all read as the plain file does.
    const std::string plain = "0,0,0\n1,2,0\n3,3,1\n4,1,2\n6,0,1\n";
    const std::string fancy =
        "\xEF\xBB\xBF# heading\r\nX ; Y ; Z\r\n0 , 0 , 0  # first\r\n+1;2;0\r\n\r\n3,3,1\r\n4,1,2\r\n6,0,+1\r\n";
    Ok("fit " + Write("plain.csv", plain) + " -q -o " + Path("plain.nrb"));
    Ok("fit " + Write("fancy.csv", fancy) + " -q -o " + Path("fancy.nrb"));
    EXPECT_EQ(Slurp(Path("plain.nrb")), Slurp(Path("fancy.nrb")));
    // A header is only allowed as the first line.
    BadInput("fit " + Write("late.csv", "0,0\n1,1\nx,y\n2,0\n3,1\n") + " -o " + Path("late.xml"),
             {"late.csv:3:", "not a number"});
    BadInput("fit " + Write("bin.csv", std::string("0,0\n1,\0001\n", 9)) + " -o " + Path("bin.xml"), {"bin.csv:2:"});
}

TEST_F(NurbsProgram, RealDataClosedLoopMeetsItsPoints) {
    // The GPS hike loop of examples/data: 358 fixes, closed cubic fit; every fix lies on the curve.
    const std::string loop = Example("gps_loop_3d.csv");
    const std::string summary = Ok("fit " + loop + " --closed -o " + Path("loop.nrb"));
    EXPECT_NE(summary.find("points: 358"), std::string::npos);
    EXPECT_NE(summary.find("control points: 361"), std::string::npos);
    const auto proj = Csv(Ok("project " + Path("loop.nrb") + " " + loop));
    ASSERT_EQ(proj.size(), 359u);
    // The projection refines the two samples nearest to a point: where the hike passes within
    // 10 m of an earlier part of itself, both can lie on that other part, and the foot found
    // there is a local one. Everywhere else the fix is found on the curve itself.
    std::size_t onCurve = 0;
    for (std::size_t i = 1; i < proj.size(); ++i) {
        EXPECT_EQ(proj[i][6], "1");
        EXPECT_LT(Number(proj[i][5]), 10.0) << "fix " << i - 1;
        onCurve += Number(proj[i][5]) < 1e-6;
    }
    EXPECT_GE(onCurve, 350u);
    // The noisy fixes (sigma 15 m) converge near the loop; the six far-field points do not.
    const auto noisy = Csv(Ok("project " + Path("loop.nrb") + " " + Example("proj_gps_loop_3d.csv")));
    ASSERT_EQ(noisy.size(), 207u);
    for (std::size_t i = 1; i <= 200; ++i) EXPECT_LT(Number(noisy[i][5]), 100.0) << i;
    for (std::size_t i = 201; i <= 206; ++i) EXPECT_GT(Number(noisy[i][5]), 100.0) << i;
    // Uniform knots under this closed loop give a singular system: refused with advice.
    const Result r = Run("fit " + loop + " --closed --knots uniform -o " + Path("u.nrb"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("--knots average"), std::string::npos) << r.err;
}

// --- surfaces ----------------------------------------------------------------------------------

double Height(double x, double y) { return std::sin(0.9 * x) * std::cos(0.7 * y); }

TEST_F(NurbsProgram, SurfaceFitInterpolatesEveryGridLayout) {
    const std::size_t m = 6, n = 7;
    std::ostringstream header, meta, rows;
    header.precision(17);
    meta.precision(17);
    rows.precision(17);
    header << m << ',' << n << "\nx,y,z\n";
    meta << "# rows: " << m << "\n# cols: " << n << "\n";
    for (std::size_t i = 0; i < m; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const double x = static_cast<double>(j), y = static_cast<double>(i);
            header << x << ',' << y << ',' << Height(x, y) << '\n';
            meta << x << ' ' << y << ' ' << Height(x, y) << '\n';
            rows << (j ? "," : "") << x << ',' << y << ',' << Height(x, y);
        }
        rows << '\n';
    }
    const auto params = VelSDK::NURBS::UniformParameterization(m, n);
    std::string first;
    for (const std::string& text : {header.str(), meta.str(), rows.str()}) {
        const std::string grid = Write("grid.csv", text);
        const std::string summary = Ok("surface fit " + grid + " -o " + Path("s.xml"));
        EXPECT_NE(summary.find("control points: 6 x 7"), std::string::npos) << summary;
        const std::string doc = Slurp(Path("s.xml"));
        if (first.empty()) first = doc;
        EXPECT_EQ(doc, first);  // the three layouts describe the same grid
        std::string at;
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = 0; j < n; ++j)
                at +=
                    (at.empty() ? "" : ",") + std::to_string(params.first[i]) + "," + std::to_string(params.second[j]);
        const auto ev = Csv(Ok("surface eval " + Path("s.xml") + " --samples 6,7"));
        ASSERT_EQ(ev.size(), 1 + m * n);
        for (std::size_t k = 0; k < m * n; ++k) {
            const std::size_t i = k / n, j = k % n;
            EXPECT_EQ(Number(ev[1 + k][0]), params.first[i]);
            EXPECT_EQ(Number(ev[1 + k][1]), params.second[j]);
            EXPECT_NEAR(Number(ev[1 + k][4]), Height(double(j), double(i)), 1e-12) << i << ' ' << j;
        }
    }
    // Least squares with fewer control points, and derivative columns.
    Ok("surface fit " + Path("grid.csv") + " -q --degree 2,2 --count 4,5 -o " + Path("ls.xml"));
    EXPECT_NE(Slurp(Path("ls.xml")).find("<Rows>4</Rows>"), std::string::npos);
    const auto d = Csv(Ok("surface eval " + Path("ls.xml") + " --at 0.5,0.5 --derivatives 2"));
    EXPECT_EQ(d[0].size(), 5u + 15u);
    EXPECT_EQ(d[0][5], "d10x");
    EXPECT_EQ(d[0][8], "d01x");
    EXPECT_EQ(d[0][11], "d20x");
}

TEST_F(NurbsProgram, SurfaceProjectFindsPointsOnTheSurface) {
    std::ostringstream g;
    g.precision(17);
    g << "5,5\n";
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) g << j << ',' << i << ',' << Height(j, i) << '\n';
    Ok("surface fit " + Write("pg.csv", g.str()) + " -q -o " + Path("ps.xml"));
    const auto ev = Csv(Ok("surface eval " + Path("ps.xml") + " --at 0.3,0.6,0.8,0.2"));
    std::string queries;
    for (std::size_t i = 1; i < ev.size(); ++i) queries += ev[i][2] + "," + ev[i][3] + "," + ev[i][4] + "\n";
    const auto pr = Csv(Ok("surface project " + Path("ps.xml") + " " + Write("pq.csv", queries)));
    ASSERT_EQ(pr.size(), 3u);
    EXPECT_NEAR(Number(pr[1][1]), 0.3, 1e-6);
    EXPECT_NEAR(Number(pr[1][2]), 0.6, 1e-6);
    EXPECT_LT(Number(pr[2][6]), 1e-6);
}

// --- plots -------------------------------------------------------------------------------------

bool HaveXmllint() { return std::system("xmllint --version >/dev/null 2>&1") == 0; }

TEST_F(NurbsProgram, PlotsAreWellFormedSvg) {
    const std::string pts = Write("plot.txt", EllipsePoints(16));
    Ok("fit " + pts + " --closed -q -o " + Path("plot.xml"));
    Ok("plot " + Path("plot.xml") + " --points " + pts + " --title 'Ellipse <16> & co' -o " + Path("curve.svg"));
    Ok("plot " + Path("plot.xml") + " --view oblique -o " + Path("oblique.svg"));
    std::ostringstream g;
    g << "4,4\n";
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) g << j << ' ' << i << ' ' << (i * j % 3) << '\n';
    Ok("surface fit " + Write("sg.csv", g.str()) + " -q -o " + Path("surf.xml"));
    Ok("plot " + Path("surf.xml") + " --lines 6 -o " + Path("surf.svg"));
    const std::string svg = Slurp(Path("curve.svg"));
    for (const char* part : {"<svg", "id=\"curve\"", "id=\"control-polygon\"", "id=\"knots\"", "id=\"data-points\"",
                             "id=\"axes\"", "id=\"legend\"", "Ellipse &lt;16&gt; &amp; co"})
        EXPECT_NE(svg.find(part), std::string::npos) << part;
    EXPECT_NE(Slurp(Path("surf.svg")).find("id=\"surface\""), std::string::npos);
    if (!HaveXmllint()) GTEST_SKIP() << "xmllint not installed";
    for (const char* f : {"curve.svg", "oblique.svg", "surf.svg", "plot.xml", "surf.xml"})
        EXPECT_EQ(std::system(("xmllint --noout " + Quote(Path(f))).c_str()), 0) << f;
}

// --- bad input ---------------------------------------------------------------------------------

TEST_F(NurbsProgram, BadPointFilesNameFileLineAndProblem) {
    const std::string out = " -o " + Path("bad.xml");
    BadInput("fit " + Path("does-not-exist.csv") + out, {"does-not-exist.csv", "cannot open"});
    BadInput("fit " + s_dir + out, {"is a directory"});
    const std::string ragged = Write("ragged.csv", "x,y,z\n1,2,3\n4,5,6\n7,8\n");
    BadInput("fit " + ragged + out, {"ragged.csv:4:", "ragged row"});
    BadInput("fit " + Write("word.csv", "1 2 3\n4 five 6\n") + out, {"word.csv:2:", "not a number", "five"});
    BadInput("fit " + Write("nan.csv", "# c\n1,2,3\n4,nan,6\n") + out, {"nan.csv:3:", "not a finite number"});
    BadInput("fit " + Write("inf.csv", "1,2,3\n4,1e999,6\n") + out, {"inf.csv:2:", "not a finite number"});
    BadInput("fit " + Write("one.csv", "1,2,3\n") + out, {"one.csv", "1 point is too few for order 4"});
    BadInput("fit " + Write("empty.csv", "# nothing\n\n") + out, {"empty.csv", "no points"});
    BadInput("fit " + Write("four.csv", "1 2 3 4\n") + out, {"four.csv:1:", "2 or 3 numbers"});
    BadInput("fit " + Write("blank.csv", "1,,3\n") + out, {"blank.csv:1:", "empty field"});
    // Coincident points: the library refuses them and the program names both points.
    BadInput("fit " + Write("dup.csv", "0,0,0\n1,0,0\n1,0,0\n2,1,0\n3,0,0\n") + out,
             {"dup.csv:3:", "points 1 and 2", "lines 2 and 3", "coincide"});
    BadInput(
        "fit " + Write("dup2.csv", "0,0\n1,0\n1,1e-9\n2,1\n3,0\n") + " --start-tangent 1,0,0 --end-tangent 1,0,0" + out,
        {"points 1 and 2", "coincide"});
    EXPECT_FALSE(std::ifstream(Path("bad.xml")).good());  // nothing written on failure
}

TEST_F(NurbsProgram, BadCurveAndSurfaceDocumentsAreRefused) {
    const std::string pts = Write("ok.csv", OpenPoints());
    Ok("fit " + pts + " -q -o " + Path("ok.xml"));
    Ok("convert " + Path("ok.xml") + " " + Path("ok.nrb"));
    const std::string xml = Slurp(Path("ok.xml"));

    BadInput("info " + Path("missing.xml"), {"missing.xml", "cannot open"});
    BadInput("info " + Write("broken.xml", xml.substr(0, xml.size() / 2)), {"broken.xml:"});
    BadInput("info " + Write("junk.xml", "<NURBS_CURVE><Order>4</Order><Knots>\n"), {"junk.xml:"});
    BadInput("info " + Write("csv.xml", OpenPoints()), {"csv.xml", "not an XML document"});
    std::string dim3 = xml;
    dim3.replace(dim3.find("<Dim>4</Dim>"), 12, "<Dim>3</Dim>");
    BadInput("info " + Write("dim3.xml", dim3), {"dim3.xml:"});
    std::string noKnots = xml.substr(0, xml.find("<Knots>")) + "</NURBS_CURVE>\n";
    BadInput("eval " + Write("noknots.xml", noKnots) + " --at 0", {"noknots.xml", "Knots"});
    const std::string rec = Slurp(Path("ok.nrb"));
    BadInput("info " + Write("short.nrb", rec.substr(0, rec.size() - 5)), {"short.nrb", "truncated"});
    BadInput("info " + Write("long.nrb", rec + "xx"), {"long.nrb", "trailing bytes"});
    BadInput("info " + Write("empty.nrb", ""), {"empty.nrb"});
    // A surface document where a curve is expected, and the other way round.
    std::ostringstream g;
    g << "3,3\n";
    for (int i = 0; i < 9; ++i) g << i % 3 << ' ' << i / 3 << " 0\n";
    Ok("surface fit " + Write("g.csv", g.str()) + " --degree 2,2 -q -o " + Path("g.xml"));
    BadInput("info " + Path("g.xml"), {"g.xml", "not a curve"});
    BadInput("surface eval " + Path("ok.xml") + " --at 0,0", {"ok.xml", "not a surface"});
    BadInput("surface fit " + Write("small.csv", "2,2\n0 0 0\n1 0 0\n0 1 0\n1 1 1\n") + " -o " + Path("t.xml"),
             {"small.csv", "too small for degrees 3,3"});
    BadInput("surface fit " + Write("shape.csv", "3,3\n0 0 0\n1 0 0\n") + " -o " + Path("t.xml"),
             {"shape.csv:1:", "does not match"});
}

}  // namespace
