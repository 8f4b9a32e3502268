// nurbs surface fit --tolerance: the summary, the per-point CSV and the colour map agree with
// each other and with the tolerance; refusals of options that do not go together.
#include "ProgramRun.h"

namespace program_test {
namespace {

class SurfaceFitTolerance : public ProgramTest {};

TEST_F(SurfaceFitTolerance, ReportCsvAndErrorMapAgreeWithTheSummary) {
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
        EXPECT_EQ(Run("surface fit " + grid + bad + " -o " + Path("x.xml")).code, 2) << bad;
}

}  // namespace
}  // namespace program_test
