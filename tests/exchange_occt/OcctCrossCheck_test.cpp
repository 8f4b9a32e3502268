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
#include <Geom_Circle.hxx>
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
#include <TColgp_Array1OfPnt.hxx>
#include <TColgp_Array2OfPnt.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Ax2.hxx>
#include <gp_Circ.hxx>

#include <cstdio>
#include <unistd.h>

using namespace exchange_test;
using VelSDK::Exchange::ExchangeReport;
using VelSDK::Exchange::LengthUnit;

namespace {

std::string TempPath(const std::string& name) { return "/tmp/velsdk_occt_" + std::to_string(::getpid()) + "_" + name; }

struct OcctShapes {
    std::vector<Handle(Geom_BSplineCurve)> curves;
    std::vector<Handle(Geom_BSplineSurface)> surfaces;
};

// B-spline curves of the edges and surfaces of the faces of what a reader transferred.
template <typename Reader>
OcctShapes Read(Reader& reader, const std::string& path) {
    OcctShapes out;
    EXPECT_EQ(reader.ReadFile(path.c_str()), IFSelect_RetDone);
    EXPECT_GT(reader.TransferRoots(), 0);
    const TopoDS_Shape shape = reader.OneShape();
    for (TopExp_Explorer e(shape, TopAbs_EDGE, TopAbs_FACE); e.More(); e.Next()) {
        Standard_Real a, b;
        Handle(Geom_Curve) c = BRep_Tool::Curve(TopoDS::Edge(e.Current()), a, b);
        if (auto t = Handle(Geom_TrimmedCurve)::DownCast(c)) c = t->BasisCurve();
        if (auto bs = Handle(Geom_BSplineCurve)::DownCast(c)) out.curves.push_back(bs);
    }
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next())
        if (auto bs = Handle(Geom_BSplineSurface)::DownCast(BRep_Tool::Surface(TopoDS::Face(f.Current()))))
            out.surfaces.push_back(bs);
    return out;
}

double Gap(const P3& a, const gp_Pnt& b) { return std::hypot(a[0] - b.X(), a[1] - b.Y(), a[2] - b.Z()); }

bool SameRange(double a, double b, double occtA, double occtB, double tolerance) {
    return std::fabs(occtA - a) <= tolerance * (1 + std::fabs(a)) &&
           std::fabs(occtB - b) <= tolerance * (1 + std::fabs(b));
}

// Largest distance over 1,000 parameters of our range, relative to the net size; infinity when
// the ranges differ by more than `tolerance` (relative).
double Deviation(const V3dNurbsCurve& ours, const Handle(Geom_BSplineCurve) & occt, double tolerance) {
    const double a = ours.GetMinParam(), b = ours.GetMaxParam();
    if (!SameRange(a, b, occt->FirstParameter(), occt->LastParameter(), tolerance)) return INFINITY;
    double worst = 0.0;
    for (int i = 0; i < 1000; ++i)
        worst = std::max(worst, Gap(ours.EvaluateAt(a + (b - a) * i / 999.0), occt->Value(a + (b - a) * i / 999.0)));
    return worst / std::max(1.0, Size(ours.GetControlPoints()));
}

double Deviation(const V3dNurbsSurface& ours, const Handle(Geom_BSplineSurface) & occt, double tolerance) {
    Standard_Real u0, u1, v0, v1;
    occt->Bounds(u0, u1, v0, v1);
    const double a = ours.GetMinParamU(), b = ours.GetMaxParamU(), c = ours.GetMinParamV(), d = ours.GetMaxParamV();
    if (!SameRange(a, b, u0, u1, tolerance) || !SameRange(c, d, v0, v1, tolerance)) return INFINITY;
    double worst = 0.0;
    for (int k = 0; k < 1000; ++k) {  // a 40 x 25 grid
        const double u = a + (b - a) * (k / 25) / 39.0, v = c + (d - c) * (k % 25) / 24.0;
        worst = std::max(worst, Gap(ours.EvaluateAt(u, v), occt->Value(u, v)));
    }
    return worst / std::max(1.0, Size(ours.GetControlPoints().Elements()));
}

// Every object on one side (ours, or OCCT's) has a partner on the other within the tolerance.
template <typename Ours, typename Occt>
void ExpectPartners(const Ours& ours, const Occt& occt, bool eachOfOurs, const std::string& direction,
                    double tolerance) {
    for (std::size_t i = 0; i < (eachOfOurs ? ours.size() : occt.size()); ++i) {
        double best = INFINITY;
        for (std::size_t j = 0; j < (eachOfOurs ? occt.size() : ours.size()); ++j)
            best = std::min(
                best, eachOfOurs ? Deviation(ours[i], occt[j], tolerance) : Deviation(ours[j], occt[i], tolerance));
        std::printf("  %-16s object %zu: max relative deviation %.3g\n", direction.c_str(), i, best);
        EXPECT_LE(best, tolerance) << direction << " object " << i;
    }
}

TEST(OcctCrossCheck, OcctReadsOurFiles) {
    IGESControl_Controller::Init();
    CadModel m = AllObjects();  // without the line, whose end points lie at 1e300 (beyond OCCT's precision)
    m.curves.erase(m.curves.begin() + 3), m.curveNames.erase(m.curveNames.begin() + 3);
    for (const bool step : {true, false}) {
        // STEP in metres (millimetres: the literal transcriptions), read in the file's unit by OCCT;
        // IGES curves as they are (OCCT's IGES reader otherwise cuts B-splines at their C0 knots).
        const std::string path = TempPath(step ? "ours.step" : "ours.igs"), direction = step ? "STEP" : "IGES";
        VelSDK::Exchange::StepWriteOptions o;
        o.unit = LengthUnit::Metre;
        ASSERT_TRUE(step ? VelSDK::Exchange::SaveStep(path, m, o).ok : VelSDK::Exchange::SaveIges(path, m).ok);
        Interface_Static::SetCVal("xstep.cascade.unit", step ? "M" : "MM");
        Interface_Static::SetIVal("read.iges.bspline.continuity", 0);
        STEPControl_Reader stepReader;
        IGESControl_Reader igesReader;
        const OcctShapes read = step ? Read(stepReader, path) : Read(igesReader, path);
        ExpectPartners(m.curves, read.curves, true, direction + " ours->OCCT", 1e-12);
        ExpectPartners(m.surfaces, read.surfaces, true, direction + " ours->OCCT", 1e-12);
        std::remove(path.c_str());
    }
}

// Built in OCCT: a circle (rational, periodic), a rational cubic with a double and a triple
// interior knot, a torus (rational, periodic both ways) and a bicubic x quartic patch with a
// double knot. OCCT's IGES writer keeps 10 significant digits, so through IGES the originals
// are met to about 1e-10.
TEST(OcctCrossCheck, WeReadOcctFiles) {
    IGESControl_Controller::Init();
    std::vector<Handle(Geom_BSplineCurve)> curves;
    std::vector<Handle(Geom_BSplineSurface)> surfaces;
    curves.push_back(GeomConvert::CurveToBSplineCurve(
        (Handle(Geom_Circle))GC_MakeCircle(gp_Circ(gp_Ax2(gp_Pnt(1, 2, 3), gp_Dir(0, 0.6, 0.8)), 2.5)).Value()));
    TColgp_Array1OfPnt poles(1, 9);
    TColStd_Array1OfReal weights(1, 9);
    for (int i = 1; i <= 9; ++i)
        poles(i) = gp_Pnt(i, std::sin(0.8 * i), 0.1 * i * i), weights(i) = 1.0 + 0.125 * (i % 3);
    const double kv[] = {0, 1, 2, 3.5}, ukv[] = {0, 0.4, 1}, vkv[] = {-1, 2};
    const int mv[] = {4, 2, 3, 4}, umv[] = {4, 2, 4}, vmv[] = {5, 5};
    curves.push_back(new Geom_BSplineCurve(poles, weights, TColStd_Array1OfReal(kv[0], 1, 4),
                                           TColStd_Array1OfInteger(mv[0], 1, 4), 3));
    surfaces.push_back(GeomConvert::SurfaceToBSplineSurface(new Geom_ToroidalSurface(gp_Ax3(gp::XOY()), 5.0, 1.5)));
    TColgp_Array2OfPnt net(1, 6, 1, 5);
    for (int i = 1; i <= 6; ++i)
        for (int j = 1; j <= 5; ++j) net(i, j) = gp_Pnt(i, j, std::sin(0.7 * i) * std::cos(0.5 * j));
    surfaces.push_back(
        new Geom_BSplineSurface(net, TColStd_Array1OfReal(ukv[0], 1, 3), TColStd_Array1OfReal(vkv[0], 1, 2),
                                TColStd_Array1OfInteger(umv[0], 1, 3), TColStd_Array1OfInteger(vmv[0], 1, 2), 3, 4));

    STEPControl_Writer step;
    IGESControl_Writer iges("MM", 0);
    for (const auto& c : curves) {
        ASSERT_EQ(step.Transfer(BRepBuilderAPI_MakeEdge(c).Edge(), STEPControl_AsIs), IFSelect_RetDone);
        iges.AddGeom(c);
    }
    for (const auto& s : surfaces) {
        ASSERT_EQ(step.Transfer(BRepBuilderAPI_MakeFace(s, 1e-9).Face(), STEPControl_AsIs), IFSelect_RetDone);
        iges.AddGeom(s);
    }
    iges.ComputeModel();
    const std::string stepPath = TempPath("occt.step"), igesPath = TempPath("occt.igs");
    ASSERT_EQ(step.Write(stepPath.c_str()), IFSelect_RetDone);
    ASSERT_TRUE(iges.Write(igesPath.c_str()));
    for (const auto& [path, tolerance] : {std::pair<std::string, double>{stepPath, 1e-12}, {igesPath, 1e-9}}) {
        CadModel m;
        const ExchangeReport r =
            path == stepPath ? VelSDK::Exchange::LoadStep(path, m) : VelSDK::Exchange::LoadIges(path, m);
        ASSERT_TRUE(r.ok) << r.error;
        for (const auto& n : r.notes) std::printf("  note: %s\n", n.c_str());
        EXPECT_EQ(m.unit, LengthUnit::Millimetre);
        const std::string direction = (path == stepPath ? "STEP" : "IGES") + std::string(" OCCT->ours");
        ExpectPartners(m.curves, curves, false, direction, tolerance);
        ExpectPartners(m.surfaces, surfaces, false, direction, tolerance);
        std::remove(path.c_str());
    }
}

}  // namespace
