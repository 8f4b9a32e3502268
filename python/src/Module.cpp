// The extension module velsdk_nurbs._core: NumPy-first bindings of VelSDK.Nurbs.
#include "Common.h"

PYBIND11_MODULE(_core, m) {
    namespace py = pybind11;
    m.doc() =
        "NURBS curves and surfaces of VelSDK.Nurbs: evaluation, knot operations, projection, "
        "interpolation and least-squares fitting, the fitted curve object and its persistence.\n\n"
        "Arrays: points are float64 arrays of shape (k, 3), or (k, 2) for planar data (z = 0); "
        "parameter arrays may have any shape, "
        "and results append the point dimension to it. Vectorised calls run in C++ with the GIL "
        "released.";

    py::enum_<V3dCurve::RCode>(m, "RCode", "Result codes of the fitted-curve operations.")
        .value("Success", V3dCurve::Success)
        .value("CoincidentPoints", V3dCurve::CoincidentPoints)
        .value("Failure", V3dCurve::Failure);

    velsdk_py::RegisterExceptions(m);
    velsdk_py::BindGenerators(m);
    velsdk_py::BindNurbsCurve(m);
    velsdk_py::BindNurbsSurface(m);
    velsdk_py::BindFittedCurve(m);
    velsdk_py::BindPointFiles(m);
    velsdk_py::BindBatch(m);
    velsdk_py::BindAnalysis(m);
    velsdk_py::BindApproximation(m);
    velsdk_py::BindNearest(m);
    velsdk_py::BindExchange(m);
    velsdk_py::BindSurfaceFitReport(m);
    velsdk_py::BindSurfaceApproximation(m);
    velsdk_py::BindScatteredFit(m);
}
