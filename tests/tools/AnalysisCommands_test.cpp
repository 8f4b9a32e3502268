// End-to-end tests of the analysis parts of the nurbs program: info's arc length and curvature
// range, eval --curvature --frames, reduce, and plot --curvature, on a circle fitted from
// points (closed forms: length 2 pi r, curvature 1 / r), with the documented exit codes for
// bad input.
#include <gtest/gtest.h>

#include <VelSDK/Nurbs.h>

#include "ProgramRun.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace program_test;

class AnalysisCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/nurbs-analysis-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        s_dir = dir;
        // 200 points of a circle of radius 2, fitted as a closed cubic.
        std::ofstream pts(s_dir + "/circle.csv");
        pts.precision(17);
        for (int i = 0; i < 200; ++i)
            pts << 2 * std::cos(2 * M_PI * i / 200) << ',' << 2 * std::sin(2 * M_PI * i / 200) << ",0\n";
        pts.close();
        if (std::strlen(kNurbs) != 0) Exec("fit " + s_dir + "/circle.csv --closed -o " + s_dir + "/circle.xml");
    }
    static void TearDownTestSuite() { std::system(("rm -rf '" + s_dir + "'").c_str()); }
    void SetUp() override {
        if (ProgramMissing()) GTEST_SKIP() << "the nurbs program is not built";
    }
    static Outcome Exec(const std::string& args) { return RunNurbs(s_dir, args); }
    static std::string s_dir;
};
std::string AnalysisCommands::s_dir;

std::vector<std::vector<double>> Rows(const std::string& csv) {
    std::vector<std::vector<double>> rows;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<double> r;
        std::istringstream l(line);
        std::string f;
        while (std::getline(l, f, ',')) r.push_back(std::strtod(f.c_str(), nullptr));
        rows.push_back(r);
    }
    return rows;
}

TEST_F(AnalysisCommands, InfoReportsArcLengthAndCurvatureRange) {
    const Outcome r = Exec("info " + s_dir + "/circle.xml");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NEAR(After(r.out, "arc length: "), 4 * M_PI, 1e-6);
    EXPECT_NEAR(After(r.out, "curvature: "), 0.5, 1e-4);
    EXPECT_NEAR(After(r.out, " to "), 0.5, 1e-4);
}

TEST_F(AnalysisCommands, EvalCurvatureAndFrames) {
    const Outcome r = Exec("eval " + s_dir + "/circle.xml --samples 9 --curvature --frames");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "u,x,y,z,curvature,torsion,tx,ty,tz,nx,ny,nz,bx,by,bz");
    const auto rows = Rows(r.out);
    ASSERT_EQ(rows.size(), 9u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 15u);
        EXPECT_NEAR(row[4], 0.5, 1e-4);
        EXPECT_NEAR(row[5], 0.0, 1e-9);
        // Planar curve: the rotation-minimising normal stays the plane normal (+-z) or in-plane,
        // and the frame is orthonormal.
        const double tn = row[6] * row[9] + row[7] * row[10] + row[8] * row[11];
        EXPECT_NEAR(tn, 0.0, 1e-12);
        EXPECT_NEAR(row[9] * row[9] + row[10] * row[10] + row[11] * row[11], 1.0, 1e-12);
    }
    // The first normal is the principal normal (towards the centre); in the plane it stays so.
    EXPECT_NEAR(rows[4][9] * -rows[4][1] / 2 + rows[4][10] * -rows[4][2] / 2, 1.0, 1e-4);
    EXPECT_EQ(Exec("eval " + s_dir + "/circle.xml --at 0.5,0.2 --frames").code, 2);
}

TEST_F(AnalysisCommands, ReduceKeepsTheCurveWithinTheTolerance) {
    const Outcome r = Exec("reduce " + s_dir + "/circle.xml -t 1e-3 -o " + s_dir + "/small.nrb");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string counts = r.out.substr(r.out.find("control points: "));
    EXPECT_GE(After(counts, "control points: "), 200.0);  // the closed fit wraps 3 more
    EXPECT_LT(After(counts, "-> "), 40.0);
    EXPECT_LE(After(r.out, "deviation: at most "), 1e-3);
    V3dCurveNurbsPlus small;
    std::ifstream in(s_dir + "/small.nrb", std::ios::binary);
    in >> small;
    ASSERT_FALSE(in.fail());
    // Every point of the reduced curve lies within the tolerance of the circle's fit (radius 2
    // to the fit's own accuracy, far below 1e-3).
    const VelSDK::NURBS::V3dNurbsCurve c(small.GetControlPoints(), small.GetKnots(), small.GetOrder() - 1u);
    for (int i = 0; i <= 1000; ++i) {
        const auto p = c.EvaluateAt(c.GetMinParam() + (c.GetMaxParam() - c.GetMinParam()) * i / 1000.0);
        EXPECT_NEAR(std::hypot(p[0], p[1]), 2.0, 1e-3 + 1e-6);
    }
    EXPECT_EQ(Exec("reduce " + s_dir + "/circle.xml -t 0 -o " + s_dir + "/x.xml").code, 2);
    EXPECT_EQ(Exec("reduce " + s_dir + "/missing.xml -t 1 -o " + s_dir + "/x.xml").code, 1);
}

TEST_F(AnalysisCommands, PlotDrawsTheCurvatureComb) {
    const Outcome r = Exec("plot " + s_dir + "/circle.xml --curvature -o " + s_dir + "/comb.svg");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string svg = Slurp(s_dir + "/comb.svg");
    EXPECT_NE(svg.find("id=\"curvature-comb\""), std::string::npos);
    EXPECT_EQ(Slurp(s_dir + "/comb.svg").find("NaN"), std::string::npos);
}

}  // namespace
