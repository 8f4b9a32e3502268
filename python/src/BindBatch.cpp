// Batch calls from Python: fit_many and segment_many. Arguments are read with the GIL held,
// the whole batch runs with the GIL released on the requested threads, and the results come
// back as one list with an exception object in the place of each failed item.
#include "Common.h"

#include <VelSDK/BatchFitting.h>
#include <VelSDK/BatchSegmentation.h>

#include <string>
#include <vector>

namespace velsdk_py {

namespace {

// One closed flag per list: a bool for all, or a sequence of as many flags as lists.
std::vector<bool> ClosedFlags(const py::object& closed, std::size_t count) {
    if (py::isinstance<py::bool_>(closed) || py::isinstance<py::int_>(closed))
        return std::vector<bool>(count, closed.cast<bool>());
    if (!py::isinstance<py::sequence>(closed) && !py::hasattr(closed, "__len__"))
        ThrowValue("closed must be a bool or one flag per point list");
    const py::sequence s = py::reinterpret_borrow<py::sequence>(closed);
    if (py::len(s) != count)
        ThrowValue("closed holds " + std::to_string(py::len(s)) + " flags for " + std::to_string(count) +
                   " point lists");
    std::vector<bool> flags(count);
    for (std::size_t i = 0; i < count; ++i) flags[i] = py::bool_(s[i]);
    return flags;
}

py::list FitMany(const py::iterable& lists, const py::object& closed, long threads, int order,
                 const py::object& parametrization, const py::object& knotsGeneration, std::size_t numControlPoints) {
    const std::size_t nThreads = ToThreads(threads);
    const FitSettings settings = ToFitSettings(order, parametrization, knotsGeneration, numControlPoints);
    // Each list as a float64 (k, 3) array kept alive here (planar (k, 2) lists get z = 0); a
    // list that is neither becomes a ValueError in its place.
    std::vector<DoubleArray> arrays;
    for (const py::handle item : lists) {
        DoubleArray a = DoubleArray::ensure(item);
        if (a && a.ndim() == 2 && a.shape(1) == 2) {
            const py::ssize_t k = a.shape(0);
            DoubleArray xyz({k, py::ssize_t(3)});
            const double* in = a.data();
            double* o = xyz.mutable_data();
            for (py::ssize_t j = 0; j < k; ++j) {
                o[3 * j] = in[2 * j];
                o[3 * j + 1] = in[2 * j + 1];
                o[3 * j + 2] = 0.0;
            }
            a = xyz;
        }
        arrays.push_back(a);
    }
    const std::size_t n = arrays.size();
    const std::vector<bool> flags = ClosedFlags(closed, n);
    std::vector<VelSDK::Batch::PointList> views(n);
    std::vector<std::string> shapeErrors(n);
    for (std::size_t i = 0; i < n; ++i) {
        const DoubleArray& a = arrays[i];
        if (!a || a.ndim() != 2 || a.shape(1) != 3)
            shapeErrors[i] = "points must be an array of shape (k, 3) or (k, 2)";
        else
            views[i] = VelSDK::Batch::PointList{a.data(), static_cast<std::size_t>(a.shape(0))};
    }
    std::vector<VelSDK::Batch::FitResult> results;
    {
        py::gil_scoped_release release;
        results = VelSDK::Batch::FitMany(views, flags, settings.prototype, nThreads);
    }
    py::list out(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!shapeErrors[i].empty())
            out[i] = MakeError(PyExc_ValueError, shapeErrors[i]);
        else if (results[i].code == V3dCurve::Success)
            out[i] = WrapFittedCurve(std::move(results[i].curve), settings);
        else
            out[i] = MakeRCodeError(results[i].code, "fit", results[i].error);
    }
    return out;
}

py::list SegmentMany(const py::iterable& curves, double tolerance, long threads) {
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) ThrowValue("tolerance must be a positive finite number");
    const std::size_t nThreads = ToThreads(threads);
    std::vector<V3dCurveNurbsPlus> copies;
    std::vector<char> isCurve;
    for (const py::handle item : curves) {
        copies.emplace_back();
        isCurve.push_back(CopyFittedCurve(item, copies.back()));
    }
    std::vector<VelSDK::Batch::SegmentResult> results;
    {
        py::gil_scoped_release release;
        results = VelSDK::Batch::SegmentMany(copies, tolerance, nThreads);
    }
    py::list out(copies.size());
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const std::string what = "segment";
        if (!isCurve[i])
            out[i] = MakeError(PyExc_TypeError, what + ": not a FittedCurve");
        else if (results[i].code == V3dCurve::Success)
            out[i] = FromVector(results[i].parameters);
        else
            out[i] = MakeRCodeError(results[i].code, what, results[i].error);
    }
    return out;
}

}  // namespace

void BindBatch(py::module_& m) {
    m.def("fit_many", &FitMany, py::arg("point_lists"), py::arg("closed") = false, py::arg("threads") = 0,
          py::arg("order") = 3, py::arg("parametrization") = "chord_length", py::arg("knots_generation") = "averaging",
          py::arg("num_control_points") = 0,
          "Fits every point list (arrays (k, 3), or (k, 2) with z = 0) as FittedCurve(order, parametrization, "
          "knots_generation, "
          "num_control_points).fit(points, closed) would, on threads threads (0 = every hardware thread, 1 = "
          "this thread) with the GIL released; each curve is bit for bit that single fit.\n\n"
          "closed: one bool for all lists or one flag per list. Returns a list with, per list, the fitted "
          "FittedCurve or the exception the single fit would raise (RCodeError, CoincidentPointsError; a "
          "ValueError for a list that is not (k, 3); RCodeError for a list with a NaN or infinite "
          "coordinate). Nothing is raised for one bad list.");
    m.def("segment_many", &SegmentMany, py::arg("curves"), py::arg("tolerance"), py::arg("threads") = 0,
          "Segments every FittedCurve under one chord tolerance on threads threads with the GIL released; "
          "each item is curve.segment(tolerance), bit for bit, computed on a copy (the curves are not "
          "changed). Returns a list with, per curve, the parameters (k,) or the exception (RCodeError for a "
          "curve that is not fitted, TypeError for an item that is not a FittedCurve).");
}

}  // namespace velsdk_py
