// Shared helpers of the Python bindings: NumPy array conversion, argument checks and the
// exceptions that name a result code.
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurve.h>
#include <VelSDK/VMatrix.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <vector>

namespace velsdk_py {

namespace py = pybind11;
using Point3 = VelSDK::Math::point<double, 3>;
using Point4 = VelSDK::Math::point<double, 4>;

/// A float64, C-contiguous view of whatever the caller passed (lists, scalars, other dtypes
/// are converted; float64 C-contiguous arrays are used without a copy).
using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// --- Exceptions ------------------------------------------------------------------------------

/// Registers NurbsError, RCodeError and CoincidentPointsError on the module (must run after
/// the RCode enumeration has been bound).
void RegisterExceptions(py::module_& m);

/// Raises RCodeError (CoincidentPointsError for that code) with the message
/// "<what>: RCode.<Name> (<detail>)" and the attribute rcode set.
[[noreturn]] void ThrowRCode(V3dCurve::RCode code, const std::string& what, const std::string& detail);

/// The exception ThrowRCode would raise, as an object (not raised): batch calls return one
/// per failed item.
py::object MakeRCodeError(V3dCurve::RCode code, const std::string& what, const std::string& detail);

/// An exception object of a built-in type (PyExc_ValueError, PyExc_TypeError), not raised.
py::object MakeError(PyObject* type, const std::string& message);

/// A thread count of a batch argument: ValueError below 0 (0 = every hardware thread).
std::size_t ToThreads(long threads);

/// Raises NurbsError: an operation of the library reported failure (a bool result).
[[noreturn]] void ThrowNurbsError(const std::string& message);

/// Raises ValueError.
[[noreturn]] void ThrowValue(const std::string& message);

// --- Array conversion ------------------------------------------------------------------------

/// A (k, 3) array of finite values as points; (k, 2) is planar data with z = 0. A (3,) or (2,)
/// array is one point when allowSingle.
std::vector<Point3> ToPoints3(const DoubleArray& a, const char* name, bool allowSingle = false);

/// A (3,) or (2,) (z = 0) array (or a sequence of three or two numbers) of finite values as one
/// point or vector.
Point3 ToPoint3(const py::handle& h, const char* name);

/// Control points of a curve: (n, 3) Cartesian, or (n, 2) with z = 0, with optional weights
/// (n,); or (n, 4) homogeneous (w*x, w*y, w*z, w). Weights must be finite and non-zero.
std::vector<Point4> ToControlPoints(const DoubleArray& points, const py::object& weights);

/// A 1-D array as a vector (a scalar is a vector of one value when allowScalar).
std::vector<double> ToVector(const DoubleArray& a, const char* name, bool allowScalar = false);

/// True when every value is finite.
bool AllFinite(const std::vector<double>& v);
/// True when the values never decrease (NaN fails).
bool NonDecreasing(const std::vector<double>& v);

/// A new 1-D float64 array holding v.
py::array_t<double> FromVector(const std::vector<double>& v);
/// (k, 3) array of points.
py::array_t<double> FromPoints3(const std::vector<Point3>& pts);
/// (k, 3) Cartesian points, (k,) weights and (k, 4) homogeneous points of control points.
py::array_t<double> CartesianOf(const std::vector<Point4>& pts);
py::array_t<double> WeightsOf(const std::vector<Point4>& pts);
py::array_t<double> HomogeneousOf(const std::vector<Point4>& pts);

/// The dims argument of methods that return points: 3 (x, y, z) or 2 (x, y); ValueError otherwise.
void CheckDims(int dims);
/// a with its last axis cut to its first dims entries (a itself when dims covers that axis): the
/// (x, y) view of points for planar work. Checks dims like CheckDims.
py::array_t<double> KeepDims(const py::array_t<double>& a, int dims);

/// Shape of u followed by the extra dimensions.
std::vector<py::ssize_t> ShapeWith(const py::array& u, std::initializer_list<py::ssize_t> extra);

// --- Fitted curves for the batch calls (BindFittedCurve.cpp) ----------------------------------

/// The settings of FittedCurve(order, parametrization, knots_generation, num_control_points) as
/// a prototype curve, plus the two settings the curve does not report.
struct FitSettings {
    V3dCurveNurbsPlus prototype;
    V3dCurveNurbsPlus::EParametrization parametrization = V3dCurveNurbsPlus::ParametrizationChordLength;
    V3dCurveNurbsPlus::EKnotsGeneration knotsGeneration = V3dCurveNurbsPlus::KnotsAveraging;
};
/// ValueError for bad settings.
FitSettings ToFitSettings(int order, const py::object& parametrization, const py::object& knotsGeneration,
                          std::size_t numControlPoints);
/// A new FittedCurve object holding curve, with the fit settings of s.
py::object WrapFittedCurve(V3dCurveNurbsPlus&& curve, const FitSettings& s);
/// A copy of the curve of a FittedCurve object, taken under its lock; false when obj is not a
/// FittedCurve.
bool CopyFittedCurve(const py::handle& obj, V3dCurveNurbsPlus& copy);

// --- The parts of the module, one binding file each -------------------------------------------

void BindGenerators(py::module_& m);
void BindNurbsCurve(py::module_& m);
void BindNurbsSurface(py::module_& m);
void BindFittedCurve(py::module_& m);
void BindPointFiles(py::module_& m);
void BindBatch(py::module_& m);
void BindAnalysis(py::module_& m);
void BindApproximation(py::module_& m);
void BindNearest(py::module_& m);
void BindExchange(py::module_& m);
void BindSurfaceFitReport(py::module_& m);
void BindSurfaceApproximation(py::module_& m);
void BindScatteredFit(py::module_& m);

}  // namespace velsdk_py
