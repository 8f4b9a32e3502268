// Cross-check of the STEP and IGES exchange with OpenCASCADE, an independent CAD kernel:
// every file we write is read by STEPControl_Reader / IGESControl_Reader and each curve and
// surface it yields is compared with ours at 1,000 points (relative 1e-12); curves and surfaces
// built in OCCT (rational, periodic, with multiple knots) are written by STEPControl_Writer /
// IGESControl_Writer, read by us and compared the same way. The deviations are printed.
#include <VelSDK/IgesExchange.h>
#include <VelSDK/StepExchange.h>

#include "exchange/ExchangeFixtures.h"

#include <gtest/gtest.h>

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRep_Tool.hxx>
#include <GC_MakeCircle.hxx>
#include <GeomConvert.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Reader.hxx>
#include <IGESControl_Writer.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Reader.hxx>
#include <STEPControl_Writer.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <Geom_Circle.hxx>
#include <gp_Ax2.hxx>
#include <gp_Circ.hxx>

#include <cstdio>
#include <functional>
#include <unistd.h>

using namespace exchange_test;
using VelSDK::Exchange::ExchangeReport;

namespace {

std::string TempPath(const std::string& name) {
    return (::testing::TempDir().empty() ? std::string("/tmp/") : ::testing::TempDir()) + "velsdk_occt_" +
           std::to_string(::getpid()) + "_" + name;
}

struct OcctShapes {
    std::vector<Handle(Geom_BSplineCurve)> curves;
    std::vector<Handle(Geom_BSplineSurface)> surfaces;
};

// B-spline curves of the edges and surfaces of the faces of a shape.
OcctShapes Collect(const TopoDS_Shape& shape) {
    OcctShapes out;
    for (TopExp_Explorer e(shape, TopAbs_EDGE, TopAbs_FACE); e.More(); e.Next()) {
        Standard_Real a, b;
        Handle(Geom_Curve) c = BRep_Tool::Curve(TopoDS::Edge(e.Current()), a, b);
        if (auto t = Handle(Geom_TrimmedCurve)::DownCast(c)) c = t->BasisCurve();
        if (auto bs = Handle(Geom_BSplineCurve)::DownCast(c)) out.curves.push_back(bs);
    }
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next()) {
        Handle(Geom_Surface) s = BRep_Tool::Surface(TopoDS::Face(f.Current()));
        if (auto bs = Handle(Geom_BSplineSurface)::DownCast(s)) out.surfaces.push_back(bs);
    }
    return out;
}

double Scale(const std::vector<P4>& P) {
    double s = 1.0;
    for (const auto& p : P)
        for (int k = 0; k < 3; ++k) s = std::max(s, std::fabs(p[k] / p[3]));
    return s;
}

double Gap(const P3& a, const gp_Pnt& b) {
    return std::sqrt((a[0] - b.X()) * (a[0] - b.X()) + (a[1] - b.Y()) * (a[1] - b.Y()) +
                     (a[2] - b.Z()) * (a[2] - b.Z()));
}

// Largest distance over 1,000 parameters of our range, relative to the net size; infinity when
// the ranges differ by more than `rangeTolerance` (relative).
double Deviation(const V3dNurbsCurve& ours, const Handle(Geom_BSplineCurve) & occt, double rangeTolerance = 1e-12) {
    const double a = ours.GetMinParam(), b = ours.GetMaxParam();
    const double scale = Scale(ours.GetControlPoints());
    if (std::fabs(occt->FirstParameter() - a) > rangeTolerance * (1 + std::fabs(a)) ||
        std::fabs(occt->LastParameter() - b) > rangeTolerance * (1 + std::fabs(b)))
        return INFINITY;
    double worst = 0.0;
    for (int i = 0; i < 1000; ++i) {
        const double t = a + (b - a) * i / 999.0;
        worst = std::max(worst, Gap(ours.EvaluateAt(t), occt->Value(t)) / scale);
    }
    return worst;
}

double Deviation(const V3dNurbsSurface& ours, const Handle(Geom_BSplineSurface) & occt, double rangeTolerance = 1e-12) {
    Standard_Real u0, u1, v0, v1;
    occt->Bounds(u0, u1, v0, v1);
    const double a = ours.GetMinParamU(), b = ours.GetMaxParamU(), c = ours.GetMinParamV(), d = ours.GetMaxParamV();
    const double t = rangeTolerance;
    if (std::fabs(u0 - a) > t * (1 + std::fabs(a)) || std::fabs(u1 - b) > t * (1 + std::fabs(b)) ||
        std::fabs(v0 - c) > t * (1 + std::fabs(c)) || std::fabs(v1 - d) > t * (1 + std::fabs(d)))
        return INFINITY;
    const double scale = Scale(ours.GetControlPoints().Elements());
    double worst = 0.0;
    for (int i = 0; i < 40; ++i)
        for (int j = 0; j < 25; ++j) {
            const double u = a + (b - a) * i / 39.0, v = c + (d - c) * j / 24.0;
            worst = std::max(worst, Gap(ours.EvaluateAt(u, v), occt->Value(u, v)) / scale);
        }
    return worst;
}

// The smallest deviation of `ours` from any of the candidates.
template <typename Ours, typename Candidates>
double Best(const Ours& ours, const Candidates& candidates) {
    double best = INFINITY;
    for (const auto& c : candidates) best = std::min(best, Deviation(ours, c));
    return best;
}

void Print(const char* direction, const std::string& what, double deviation) {
    std::printf("  %-14s %-32s max relative deviation %.3g\n", direction, what.c_str(), deviation);
}

CadModel Fixtures() {
    // The fixtures without the line whose end points lie at 1e300 (beyond OCCT's precision).
    CadModel m;
    for (auto& c : Curves()) {
        if (std::string(c.name) == "line") continue;
        m.curves.push_back(c.curve);
        m.curveNames.push_back(c.name);
    }
    for (auto& s : Surfaces()) {
        m.surfaces.push_back(s.surface);
        m.surfaceNames.push_back(s.name);
    }
    return m;
}

void ExpectOcctReadsOurs(const CadModel& m, const OcctShapes& read, const char* direction) {
    EXPECT_EQ(read.curves.size(), m.curves.size());
    EXPECT_EQ(read.surfaces.size(), m.surfaces.size());
    for (std::size_t i = 0; i < m.curves.size(); ++i) {
        const double d = Best(m.curves[i], read.curves);
        Print(direction, m.CurveName(i).empty() ? "curve " + std::to_string(i) : m.CurveName(i), d);
        EXPECT_LE(d, 1e-12) << m.CurveName(i);
    }
    for (std::size_t i = 0; i < m.surfaces.size(); ++i) {
        const double d = Best(m.surfaces[i], read.surfaces);
        Print(direction, m.SurfaceName(i).empty() ? "surface " + std::to_string(i) : m.SurfaceName(i), d);
        EXPECT_LE(d, 1e-12) << m.SurfaceName(i);
    }
}

TEST(OcctCrossCheck, OcctReadsOurStep) {
    const CadModel m = Fixtures();
    for (auto unit : {VelSDK::Exchange::LengthUnit::Millimetre, VelSDK::Exchange::LengthUnit::Metre}) {
        const std::string path = TempPath("ours.step");
        VelSDK::Exchange::StepWriteOptions o;
        o.unit = unit;
        ASSERT_TRUE(VelSDK::Exchange::SaveStep(path, m, o).ok);
        STEPControl_Reader reader;
        // Coordinates stay in the file's unit so that they compare with ours one to one.
        Interface_Static::SetCVal("xstep.cascade.unit", unit == VelSDK::Exchange::LengthUnit::Metre ? "M" : "MM");
        ASSERT_EQ(reader.ReadFile(path.c_str()), IFSelect_RetDone);
        ASSERT_GT(reader.TransferRoots(), 0);
        ExpectOcctReadsOurs(m, Collect(reader.OneShape()), "STEP ours->OCCT");
        std::remove(path.c_str());
    }
    Interface_Static::SetCVal("xstep.cascade.unit", "MM");
}

TEST(OcctCrossCheck, OcctReadsOurIges) {
    IGESControl_Controller::Init();
    const CadModel m = Fixtures();
    const std::string path = TempPath("ours.igs");
    ASSERT_TRUE(VelSDK::Exchange::SaveIges(path, m).ok);
    IGESControl_Reader reader;
    // Curves as they are: OCCT's IGES reader otherwise cuts B-splines at their C0 knots.
    Interface_Static::SetIVal("read.iges.bspline.continuity", 0);
    ASSERT_EQ(reader.ReadFile(path.c_str()), IFSelect_RetDone);
    ASSERT_GT(reader.TransferRoots(), 0);
    ExpectOcctReadsOurs(m, Collect(reader.OneShape()), "IGES ours->OCCT");
    std::remove(path.c_str());
}

// Curves and surfaces built in OCCT: a circle (rational, periodic), a periodic cubic, a cubic
// with a double and a triple interior knot, a sphere (rational, periodic in U), a torus
// (rational, periodic both ways) and a bicubic patch with a double knot.
struct OcctObjects {
    std::vector<std::pair<std::string, Handle(Geom_BSplineCurve)>> curves;
    std::vector<std::pair<std::string, Handle(Geom_BSplineSurface)>> surfaces;
};

OcctObjects BuildInOcct() {
    OcctObjects o;
    Handle(Geom_Curve) circle =
        (Handle(Geom_Circle))GC_MakeCircle(gp_Circ(gp_Ax2(gp_Pnt(1, 2, 3), gp_Dir(0, 0.6, 0.8)), 2.5)).Value();
    o.curves.push_back({"circle (rational, periodic)", GeomConvert::CurveToBSplineCurve(circle)});
    {
        TColgp_Array1OfPnt poles(1, 6);
        for (int i = 1; i <= 6; ++i) poles(i) = gp_Pnt(std::cos(i), std::sin(2.0 * i), 0.3 * i);
        TColStd_Array1OfReal knots(1, 7);
        TColStd_Array1OfInteger mults(1, 7);
        for (int i = 1; i <= 7; ++i) {
            knots(i) = 0.5 * (i - 1) + 0.01 * i * i;
            mults(i) = 1;
        }
        o.curves.push_back({"periodic cubic", new Geom_BSplineCurve(poles, knots, mults, 3, Standard_True)});
    }
    {
        TColgp_Array1OfPnt poles(1, 9);
        TColStd_Array1OfReal weights(1, 9);
        for (int i = 1; i <= 9; ++i) {
            poles(i) = gp_Pnt(i, std::sin(0.8 * i), 0.1 * i * i);
            weights(i) = 1.0 + 0.125 * (i % 3);
        }
        const double kv[] = {0, 1, 2, 3.5};
        const int mv[] = {4, 2, 3, 4};
        const TColStd_Array1OfReal knots(kv[0], 1, 4);
        const TColStd_Array1OfInteger mults(mv[0], 1, 4);
        o.curves.push_back({"rational cubic, multiple knots", new Geom_BSplineCurve(poles, weights, knots, mults, 3)});
    }
    o.surfaces.push_back({"sphere (rational, U periodic)",
                          GeomConvert::SurfaceToBSplineSurface(new Geom_SphericalSurface(gp_Ax3(gp::XOY()), 3.0))});
    o.surfaces.push_back({"torus (rational, periodic)",
                          GeomConvert::SurfaceToBSplineSurface(new Geom_ToroidalSurface(gp_Ax3(gp::XOY()), 5.0, 1.5))});
    {
        TColgp_Array2OfPnt poles(1, 6, 1, 5);
        for (int i = 1; i <= 6; ++i)
            for (int j = 1; j <= 5; ++j) poles(i, j) = gp_Pnt(i, j, std::sin(0.7 * i) * std::cos(0.5 * j));
        const double ukv[] = {0, 0.4, 1}, vkv[] = {-1, 2};
        const int umv[] = {4, 2, 4}, vmv[] = {5, 5};
        const TColStd_Array1OfReal uk(ukv[0], 1, 3), vk(vkv[0], 1, 2);
        const TColStd_Array1OfInteger um(umv[0], 1, 3), vm(vmv[0], 1, 2);
        o.surfaces.push_back({"bicubic x quartic, double knot", new Geom_BSplineSurface(poles, uk, vk, um, vm, 3, 4)});
    }
    return o;
}

void ExpectWeReadOcct(const OcctObjects& o, const CadModel& m, const char* direction, double tolerance) {
    for (const auto& c : o.curves) {
        double d = INFINITY;
        for (const auto& ours : m.curves) d = std::min(d, Deviation(ours, c.second, tolerance));
        Print(direction, c.first, d);
        EXPECT_LE(d, tolerance) << c.first;
    }
    for (const auto& s : o.surfaces) {
        double d = INFINITY;
        for (const auto& ours : m.surfaces) d = std::min(d, Deviation(ours, s.second, tolerance));
        Print(direction, s.first, d);
        EXPECT_LE(d, tolerance) << s.first;
    }
}

TEST(OcctCrossCheck, WeReadOcctStep) {
    const OcctObjects o = BuildInOcct();
    STEPControl_Writer writer;
    for (const auto& c : o.curves)
        ASSERT_EQ(writer.Transfer(BRepBuilderAPI_MakeEdge(c.second).Edge(), STEPControl_AsIs), IFSelect_RetDone);
    for (const auto& s : o.surfaces)
        ASSERT_EQ(writer.Transfer(BRepBuilderAPI_MakeFace(s.second, 1e-9).Face(), STEPControl_AsIs), IFSelect_RetDone);
    const std::string path = TempPath("occt.step");
    ASSERT_EQ(writer.Write(path.c_str()), IFSelect_RetDone);
    CadModel m;
    const ExchangeReport r = VelSDK::Exchange::LoadStep(path, m);
    ASSERT_TRUE(r.ok) << r.error;
    for (const auto& n : r.notes) std::printf("  note: %s\n", n.c_str());
    EXPECT_EQ(m.unit, VelSDK::Exchange::LengthUnit::Millimetre);
    ExpectWeReadOcct(o, m, "STEP OCCT->ours", 1e-12);
    STEPControl_Reader reader;
    ASSERT_EQ(reader.ReadFile(path.c_str()), IFSelect_RetDone);
    ASSERT_GT(reader.TransferRoots(), 0);
    const OcctShapes occtReading = Collect(reader.OneShape());
    for (std::size_t i = 0; i < m.surfaces.size(); ++i) {
        const double d = Best(m.surfaces[i], occtReading.surfaces);
        Print("STEP OCCT->ours=OCCT", "surface " + std::to_string(i), d);
        EXPECT_LE(d, 1e-12);
    }
    std::remove(path.c_str());
}

TEST(OcctCrossCheck, WeReadOcctIges) {
    IGESControl_Controller::Init();
    const OcctObjects o = BuildInOcct();
    IGESControl_Writer writer("MM", 0);
    for (const auto& c : o.curves) writer.AddGeom(c.second);
    for (const auto& s : o.surfaces) writer.AddGeom(s.second);
    writer.ComputeModel();
    const std::string path = TempPath("occt.igs");
    ASSERT_TRUE(writer.Write(path.c_str()));
    CadModel m;
    const ExchangeReport r = VelSDK::Exchange::LoadIges(path, m);
    ASSERT_TRUE(r.ok) << r.error;
    for (const auto& n : r.notes) std::printf("  note: %s\n", n.c_str());
    // OCCT's IGES writer keeps 10 significant digits, so the originals are met to about 1e-10;
    // what OCCT's own reader makes of the same file is met to 1e-12.
    ExpectWeReadOcct(o, m, "IGES OCCT->ours", 1e-9);
    IGESControl_Reader reader;
    Interface_Static::SetIVal("read.iges.bspline.continuity", 0);
    ASSERT_EQ(reader.ReadFile(path.c_str()), IFSelect_RetDone);
    ASSERT_GT(reader.TransferRoots(), 0);
    ExpectOcctReadsOurs(m, Collect(reader.OneShape()), "IGES OCCT->ours=OCCT");
    if (!getenv("VELSDK_KEEP_OCCT_FILES")) std::remove(path.c_str());
}

}  // namespace
