// End-to-end tests of nurbs fit --tolerance and plot --error: the report printed agrees with the
// curve written (its distance to every point, measured again by the library), the closed curve
// reloads through the fitted-curve object, bad values give the documented exit codes.
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

using P3 = VelSDK::Math::point<double, 3>;

class FitToleranceCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/nurbs-fittol-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        s_dir = dir;
    }
    static void TearDownTestSuite() { std::system(("rm -rf '" + s_dir + "'").c_str()); }
    void SetUp() override {
        if (ProgramMissing()) GTEST_SKIP() << "the nurbs program is not built";
    }
    static Outcome Exec(const std::string& args) { return RunNurbs(s_dir, args); }
    static std::string s_dir;
};
std::string FitToleranceCommand::s_dir;

std::vector<P3> Points(const std::string& file) {
    std::ifstream in(file);
    std::vector<P3> v;
    std::string line;
    bool header = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (!header) {
            header = true;
            continue;
        }
        for (char& c : line)
            if (c == ',') c = ' ';
        std::istringstream s(line);
        P3 p{0, 0, 0};
        s >> p[0] >> p[1] >> p[2];
        v.push_back(p);
    }
    return v;
}

TEST_F(FitToleranceCommand, ReportMatchesTheCurveWritten) {
    for (bool closed : {true, false}) {
        const std::string data = std::string(VELSDK_DATA_DIR) + (closed ? "/gps_loop_3d.csv" : "/gps_open_3d.csv");
        const std::string curveFile = s_dir + (closed ? "/loop.nrb" : "/walk.nrb");
        const Outcome r = Exec("fit " + data + (closed ? " --closed" : "") + " --tolerance 20 -o " + curveFile);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("tolerance: 20 - met"), std::string::npos) << r.out;
        const double reported = After(r.out, "max distance: ");
        const double count = After(r.out, "control points: ");
        EXPECT_LE(reported, 20.0);
        // The curve as stored: reloaded through the fitted-curve object, every point within the
        // reported distance (library projection from the nearest of dense samples).
        V3dCurveNurbsPlus curve;
        {
            std::ifstream in(curveFile, std::ios::binary);
            in >> curve;
        }
        ASSERT_TRUE(curve.IsValid());
        EXPECT_EQ(curve.IsClosedLoop(), closed);
        EXPECT_EQ(curve.GetNumberControlPoints(), static_cast<std::size_t>(count) + (closed ? 3 : 0));
        const VelSDK::NURBS::V3dNurbsCurve held(curve.GetControlPoints(), curve.GetKnots(), curve.GetOrder() - 1);
        const std::vector<P3> Q = Points(data);
        std::vector<double> u(Q.size()), d;
        for (std::size_t k = 0; k < Q.size(); ++k) {
            double best = HUGE_VAL;
            for (int i = 0; i <= 20000; ++i) {
                const double e = VelSDK::Math::Distance(held.EvaluateAt(i / 20000.0), Q[k]);
                if (e < best) best = e, u[k] = i / 20000.0;
            }
        }
        const double worst = VelSDK::NURBS::CorrectParameters(held, Q, u, d, closed);
        EXPECT_LE(worst, reported * (1 + 1e-6));
    }
}

TEST_F(FitToleranceCommand, PlotErrorColoursThePoints) {
    const std::string data = std::string(VELSDK_DATA_DIR) + "/glyph_S.csv";
    ASSERT_EQ(Exec("fit " + data + " --closed -t 5 -q -o " + s_dir + "/S.xml").code, 0);
    const Outcome r = Exec("plot " + s_dir + "/S.xml --points " + data + " --error -o " + s_dir + "/S.svg");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string svg = Slurp(s_dir + "/S.svg");
    EXPECT_NE(svg.find("id=\"data-errors\""), std::string::npos);
    EXPECT_NE(svg.find("id=\"error-scale\""), std::string::npos);
    EXPECT_EQ(Exec("plot " + s_dir + "/S.xml --error -o " + s_dir + "/x.svg").code, 2);  // --error needs --points
    // The interpolant under the approximation.
    ASSERT_EQ(Exec("fit " + data + " --closed -q -o " + s_dir + "/S-all.xml").code, 0);
    ASSERT_EQ(Exec("plot " + s_dir + "/S.xml --overlay " + s_dir + "/S-all.xml -o " + s_dir + "/both.svg").code, 0);
    const std::string both = Slurp(s_dir + "/both.svg");
    EXPECT_NE(both.find("id=\"overlay\""), std::string::npos);
    EXPECT_NE(both.find("S-all.xml (163 control points)"), std::string::npos);
}

TEST_F(FitToleranceCommand, BadValuesAndUnreachableTolerance) {
    const std::string data = std::string(VELSDK_DATA_DIR) + "/glyph_S.csv";
    for (const char* t : {"0", "-1", "nan", "inf"})
        EXPECT_EQ(Exec("fit " + data + " --closed -t " + t + " -o " + s_dir + "/b.xml").code, 2) << t;
    EXPECT_EQ(Exec("fit " + data + " --closed -t 1 --order 8 -o " + s_dir + "/b.xml").code, 2);
    EXPECT_EQ(Exec("fit " + data + " -t 1 --param uniform -o " + s_dir + "/b.xml").code, 2);
    const Outcome r = Exec("fit " + data + " --closed -t 1e-300 -o " + s_dir + "/b.xml");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("NOT met"), std::string::npos) << r.out;
    EXPECT_EQ(After(r.out, "control points: "), 160.0);
}

}  // namespace
