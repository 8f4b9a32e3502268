// End-to-end tests of the exchange commands of the nurbs program: convert between curve and
// surface documents and STEP/IGES (round trips read back by the library), surface fit straight
// into STEP, mesh with its printed triangle count and measured deviation checked against the
// library's own tessellation of the same surface, and the exit codes of bad input.
#include <VelSDK/IgesExchange.h>
#include <VelSDK/StepExchange.h>
#include <VelSDK/SurfaceTessellation.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusStream.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

#ifdef NURBS_PROGRAM
const char* const kNurbs = NURBS_PROGRAM;
const char* const kData = NURBS_EXAMPLES_DIR;
#else
const char* const kNurbs = "";
const char* const kData = "";
#endif

struct Outcome {
    int code;
    std::string out, err;
};

std::string Dir() {
    static const std::string dir = [] {
        const auto d = std::filesystem::temp_directory_path() / ("nurbs_exchange_" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d.string() + "/";
    }();
    return dir;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Outcome Nurbs(const std::string& args) {
    const std::string cmd = std::string(kNurbs) + " " + args + " >" + Dir() + "out.txt 2>" + Dir() + "err.txt";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(Dir() + "out.txt"), Slurp(Dir() + "err.txt")};
}

double Field(const std::string& out, const std::string& name) {
    const std::size_t at = out.find(name + ": ");
    EXPECT_NE(at, std::string::npos) << out;
    return at == std::string::npos ? NAN : std::stod(out.substr(at + name.size() + 2));
}

class ExchangeProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(kNurbs).empty()) GTEST_SKIP() << "built without the nurbs program";
    }
};

TEST_F(ExchangeProgram, CurveThroughStepAndIgesComesBackExactly) {
    const std::string S = Dir() + "S.xml";
    ASSERT_EQ(Nurbs("fit " + std::string(kData) + "/glyph_S.csv --closed -o " + S).code, 0);
    for (const char* ext : {"step", "igs"}) {
        const std::string cad = Dir() + "S." + ext, back = Dir() + "S-back-" + ext + ".nrb";
        const Outcome to = Nurbs("convert " + S + " " + cad);
        ASSERT_EQ(to.code, 0) << to.err;
        EXPECT_NE(to.out.find("1 curve(s), 0 surface(s)"), std::string::npos) << to.out;
        ASSERT_EQ(Nurbs("convert " + cad + " " + back).code, 0);
        V3dCurveNurbsPlus a, b;
        ASSERT_TRUE(V3dCurveNurbsPlusDocument::Load(Slurp(S), a).ok);
        std::ifstream in(back, std::ios::binary);
        in >> b;
        EXPECT_EQ(a.GetKnots(), b.GetKnots()) << ext;
        ASSERT_EQ(a.GetControlPoints().size(), b.GetControlPoints().size());
        for (std::size_t i = 0; i < a.GetControlPoints().size(); ++i)
            EXPECT_EQ(a.GetControlPoints()[i], b.GetControlPoints()[i]) << ext;
    }
}

TEST_F(ExchangeProgram, SurfaceFitToStepAndMesh) {
    const std::string step = Dir() + "volcano.step", stl = Dir() + "volcano.stl";
    const Outcome fit = Nurbs("surface fit " + std::string(kData) + "/dem_volcano_61x87.csv --count 16,22 -o " + step);
    ASSERT_EQ(fit.code, 0) << fit.err;
    VelSDK::Exchange::CadModel m;
    ASSERT_TRUE(VelSDK::Exchange::LoadStep(step, m).ok);
    ASSERT_EQ(m.surfaces.size(), 1u);
    EXPECT_EQ(m.surfaces[0].GetControlPoints().RowCount(), 16u);

    const Outcome mesh = Nurbs("mesh " + step + " --tolerance 0.5 -o " + stl);
    ASSERT_EQ(mesh.code, 0) << mesh.err;
    VelSDK::Mesh::TessellationOptions o;
    o.chordTolerance = 0.5;
    VelSDK::Mesh::TriangleMesh lib;
    ASSERT_TRUE(VelSDK::Mesh::Tessellate(m.surfaces[0], o, lib).ok);
    EXPECT_EQ(Field(mesh.out, "triangles"), static_cast<double>(lib.triangles.size()));
    const double deviation = Field(mesh.out, "max deviation (centroids and edge midpoints projected)");
    EXPECT_LE(deviation, 0.5);
    EXPECT_NEAR(deviation, VelSDK::Mesh::MeasureDeviation(m.surfaces[0], lib), 1e-6);  // printed to 6 digits
    EXPECT_EQ(Slurp(stl).size(), 84 + 50 * lib.triangles.size());

    // Back to the program's surface document and on to IGES.
    ASSERT_EQ(Nurbs("convert " + step + " " + Dir() + "v.xml").code, 0);
    ASSERT_EQ(Nurbs("convert " + Dir() + "v.xml " + Dir() + "v.igs").code, 0);
    VelSDK::Exchange::CadModel iges;
    ASSERT_TRUE(VelSDK::Exchange::LoadIges(Dir() + "v.igs", iges).ok);
    EXPECT_EQ(iges.surfaces[0].GetKnotsU(), m.surfaces[0].GetKnotsU());
}

TEST_F(ExchangeProgram, BadInput) {
    std::ofstream(Dir() + "bad.step") << "ISO-10303-21;\nHEADER;\nENDSEC;\nDATA;\n#1=X(\n";
    VelSDK::Exchange::CadModel line;
    line.curves.emplace_back(std::vector<VelSDK::Math::point<double, 4>>{{0, 0, 0, 1}, {1, 1, 1, 1}},
                             std::vector<double>{0, 0, 1, 1}, 1);
    ASSERT_TRUE(VelSDK::Exchange::SaveStep(Dir() + "line.step", line).ok);
    struct Case {
        std::string args;
        int code;
        std::string needle;
    } cases[] = {
        {"convert " + Dir() + "bad.step " + Dir() + "x.xml", 1, "bad.step:5: "},
        {"mesh " + Dir() + "bad.step --tolerance 1 -o " + Dir() + "x.stl", 1, "bad.step:5: "},
        {"mesh " + Dir() + "line.step --tolerance 1 -o " + Dir() + "x.vrml", 2, ".stl, .ply or .obj"},
        {"mesh " + Dir() + "line.step --tolerance -1 -o " + Dir() + "x.stl", 2, "--tolerance"},
        {"mesh " + Dir() + "line.step --tolerance 1 -o " + Dir() + "x.stl", 1, "no surface"},
        {"convert " + Dir() + "line.step " + Dir() + "x.csv", 2, ""},
    };
    for (const auto& c : cases) {
        const Outcome r = Nurbs(c.args);
        EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.needle), std::string::npos) << c.args << "\n" << r.err;
    }
}

}  // namespace
