// Bindings of V3dNurbsSurface as velsdk_nurbs.NurbsSurface, immutable from Python like
// NurbsCurve, with grid interpolation and approximation as static constructors.
#include "Common.h"

#include <VelSDK/BatchEvaluation.h>
#include <VelSDK/BatchProjection.h>
#include <VelSDK/Generators.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <cmath>
#include <cstring>
#include <sstream>

namespace velsdk_py {

using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;
namespace NURBS = VelSDK::NURBS;

namespace {

// A surface that Python code may evaluate: grid not empty, knot counts nU + p + 1 and
// nV + q + 1, knots finite and non-decreasing, at least p + 1 rows and q + 1 columns,
// non-empty domains.
void CheckSurface(const V3dNurbsSurface& s) {
    const auto& P = s.GetControlPoints();
    const std::size_t nu = P.RowCount(), nv = P.ColumnCount();
    if (nu == 0 || nv == 0) ThrowValue("a surface needs a non-empty control grid");
    if (s.GetDegreeU() >= nu || s.GetDegreeV() >= nv)
        ThrowValue("a surface of degrees (p, q) needs at least p + 1 rows and q + 1 columns of control points");
    if (!s.IsValid()) ThrowValue("knots_u must hold rows + degree_u + 1 values and knots_v columns + degree_v + 1");
    if (!AllFinite(s.GetKnotsU()) || !AllFinite(s.GetKnotsV())) ThrowValue("knots must be finite");
    if (!NonDecreasing(s.GetKnotsU()) || !NonDecreasing(s.GetKnotsV())) ThrowValue("knots must be non-decreasing");
    if (!(s.GetKnotsU()[s.GetDegreeU()] < s.GetKnotsU()[nu]) || !(s.GetKnotsV()[s.GetDegreeV()] < s.GetKnotsV()[nv]))
        ThrowValue("the domains must not be empty");
}

VMatrix<Point4> ToGrid(const DoubleArray& points, const py::object& weights) {
    if (points.ndim() != 3 || points.shape(2) < 2 || points.shape(2) > 4)
        ThrowValue("control_points must have shape (nu, nv, 3), (nu, nv, 2) (z = 0) or (nu, nv, 4)");
    const std::size_t nu = static_cast<std::size_t>(points.shape(0));
    const std::size_t nv = static_cast<std::size_t>(points.shape(1));
    // The flattened grid is row-major like VMatrix; the curve helper checks and converts it.
    DoubleArray flat = DoubleArray::ensure(points.attr("reshape")(py::make_tuple(nu * nv, points.shape(2))));
    py::object w = weights;
    if (!weights.is_none()) {
        DoubleArray wa = DoubleArray::ensure(weights);
        if (!wa || wa.ndim() != 2 || static_cast<std::size_t>(wa.shape(0)) != nu ||
            static_cast<std::size_t>(wa.shape(1)) != nv)
            ThrowValue("weights must have shape (nu, nv)");
        w = wa.attr("reshape")(nu * nv);
    }
    VMatrix<Point4> grid(nu, nv, Point4{0.0, 0.0, 0.0, 0.0});
    grid.Elements() = ToControlPoints(flat, w);
    return grid;
}

V3dNurbsSurface MakeSurface(const DoubleArray& controlPoints, const DoubleArray& knotsU, const DoubleArray& knotsV,
                            std::size_t degreeU, std::size_t degreeV, const py::object& weights) {
    V3dNurbsSurface s(ToGrid(controlPoints, weights), ToVector(knotsU, "knots_u"), ToVector(knotsV, "knots_v"), degreeU,
                      degreeV);
    CheckSurface(s);
    return s;
}

py::array_t<double> GridArray(const V3dNurbsSurface& s, std::size_t dims) {
    const auto& P = s.GetControlPoints();
    const std::size_t nu = P.RowCount(), nv = P.ColumnCount();
    py::array_t<double> out(
        {static_cast<py::ssize_t>(nu), static_cast<py::ssize_t>(nv), static_cast<py::ssize_t>(dims)});
    double* o = out.mutable_data();
    const std::vector<Point4>& e = P.Elements();
    for (std::size_t i = 0; i < e.size(); ++i) {
        if (dims == 4)
            for (std::size_t j = 0; j < 4; ++j) o[4 * i + j] = e[i][j];
        else if (dims == 3)
            for (std::size_t j = 0; j < 3; ++j) o[3 * i + j] = e[i][j] / e[i][3];
        else
            o[i] = e[i][3];
    }
    if (dims == 1) return out.attr("reshape")(py::make_tuple(nu, nv)).cast<py::array_t<double>>();
    return out;
}

// (u, v) broadcast against each other, or one array (..., 2) of pairs.
std::pair<DoubleArray, DoubleArray> Parameters(const py::object& u, const py::object& v) {
    py::module_ np = py::module_::import("numpy");
    if (v.is_none()) {
        DoubleArray uv = DoubleArray::ensure(u);
        if (!uv || uv.ndim() < 1 || uv.shape(uv.ndim() - 1) != 2)
            ThrowValue("give u and v, or one array of (u, v) pairs with last dimension 2");
        // ensure() copies the strided halves into contiguous arrays (and keeps 0-d shapes).
        return {DoubleArray::ensure(uv[py::make_tuple(py::ellipsis(), 0)]),
                DoubleArray::ensure(uv[py::make_tuple(py::ellipsis(), 1)])};
    }
    py::tuple both = np.attr("broadcast_arrays")(DoubleArray::ensure(u), DoubleArray::ensure(v));
    return {DoubleArray::ensure(both[0]), DoubleArray::ensure(both[1])};
}

py::array_t<double> Evaluate(const V3dNurbsSurface& s, const py::object& uArg, const py::object& vArg, long threads) {
    const std::size_t t = ToThreads(threads);
    const auto uv = Parameters(uArg, vArg);
    py::array_t<double> out(ShapeWith(uv.first, {3}));
    const double* u = uv.first.data();
    const double* v = uv.second.data();
    double* o = out.mutable_data();
    const std::size_t count = static_cast<std::size_t>(uv.first.size());
    {
        py::gil_scoped_release release;
        VelSDK::Batch::EvaluateMany(s, u, v, count, o, t);
    }
    return out;
}

py::array_t<double> Derivatives(const V3dNurbsSurface& s, const py::object& uArg, const py::object& vArg,
                                std::size_t order, long threads) {
    if (order > 100) ThrowValue("order must not exceed 100");
    const std::size_t t = ToThreads(threads);
    const auto uv = Parameters(uArg, vArg);
    const py::ssize_t d1 = static_cast<py::ssize_t>(order + 1);
    py::array_t<double> out(ShapeWith(uv.first, {d1, d1, 3}));
    const double* u = uv.first.data();
    const double* v = uv.second.data();
    double* o = out.mutable_data();
    const std::size_t count = static_cast<std::size_t>(uv.first.size());
    {
        py::gil_scoped_release release;
        VelSDK::Batch::DeriveMany(s, u, v, count, order, o, t);
    }
    return out;
}

py::tuple Project(const V3dNurbsSurface& s, const DoubleArray& points, std::size_t maxIterations, double tolerance,
                  long threads) {
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) ThrowValue("tolerance must be a positive number");
    const std::size_t t = ToThreads(threads);
    const bool single = points.ndim() == 1;
    const std::vector<Point3> P = ToPoints3(points, "points", true);
    std::vector<double> params(2 * P.size());
    std::vector<Point3> feet(P.size());
    {
        py::gil_scoped_release release;
        const auto r = VelSDK::Batch::ProjectMany(s, P, maxIterations, tolerance, t);
        for (std::size_t i = 0; i < P.size(); ++i) {
            feet[i] = r[i].first;
            params[2 * i] = r[i].second.first;
            params[2 * i + 1] = r[i].second.second;
        }
    }
    if (single) {
        py::array_t<double> foot(3);
        std::memcpy(foot.mutable_data(), feet[0].v, sizeof(Point3));
        return py::make_tuple(py::make_tuple(params[0], params[1]), foot);
    }
    py::array_t<double> uv({static_cast<py::ssize_t>(P.size()), py::ssize_t(2)});
    if (!params.empty()) std::memcpy(uv.mutable_data(), params.data(), params.size() * sizeof(double));
    return py::make_tuple(uv, FromPoints3(feet));
}

// --- Fitting --------------------------------------------------------------------------------

VMatrix<Point3> ToDataGrid(const DoubleArray& points) {
    if (points.ndim() != 3 || (points.shape(2) != 3 && points.shape(2) != 2))
        ThrowValue("points must have shape (m, n, 3) or (m, n, 2) (z = 0)");
    const std::size_t m = static_cast<std::size_t>(points.shape(0));
    const std::size_t n = static_cast<std::size_t>(points.shape(1));
    VMatrix<Point3> grid(m, n, Point3{0.0, 0.0, 0.0});
    // The row-major grid as a (m * n, dim) list of points.
    const DoubleArray flat = DoubleArray::ensure(points.attr("reshape")(py::make_tuple(m * n, points.shape(2))));
    if (m != 0 && n != 0) grid.Elements() = ToPoints3(flat, "points");
    return grid;
}

std::vector<double> Params(const py::object& given, std::size_t count, const char* name) {
    if (given.is_none()) return NURBS::UniformParameterization(count);
    std::vector<double> u = ToVector(DoubleArray::ensure(given), name);
    if (u.size() != count) ThrowValue(std::string(name) + " must hold one value per grid row (column)");
    if (!AllFinite(u) || !NonDecreasing(u)) ThrowValue(std::string(name) + " must be finite and non-decreasing");
    return u;
}

std::vector<double> Knots(const py::object& given, const std::vector<double>& params, std::size_t count,
                          std::size_t degree, const char* name) {
    if (given.is_none())
        return count == params.size() ? NURBS::KnotAveraging(params, degree)
                                      : NURBS::UniformKnots(count + degree + 1, degree);
    std::vector<double> U = ToVector(DoubleArray::ensure(given), name);
    if (U.size() != count + degree + 1) ThrowValue(std::string(name) + " must hold count + degree + 1 values");
    if (!AllFinite(U) || !NonDecreasing(U)) ThrowValue(std::string(name) + " must be finite and non-decreasing");
    return U;
}

void CheckDegrees(std::size_t m, std::size_t n, std::size_t countU, std::size_t countV, std::size_t p, std::size_t q) {
    if (p < 1 || q < 1) ThrowValue("degrees must be at least 1");
    if (p >= countU || q >= countV) ThrowValue("each direction needs at least degree + 1 control points");
    if (countU > m || countV > n) ThrowValue("a direction cannot have more control points than data points");
}

V3dNurbsSurface InterpolateGrid(const DoubleArray& points, const py::object& paramsU, const py::object& paramsV,
                                const py::object& knotsU, const py::object& knotsV, std::size_t p, std::size_t q) {
    const VMatrix<Point3> Q = ToDataGrid(points);
    const std::size_t m = Q.RowCount(), n = Q.ColumnCount();
    CheckDegrees(m, n, m, n, p, q);
    const std::vector<double> u = Params(paramsU, m, "params_u");
    const std::vector<double> v = Params(paramsV, n, "params_v");
    const std::vector<double> U = Knots(knotsU, u, m, p, "knots_u");
    const std::vector<double> V = Knots(knotsV, v, n, q, "knots_v");
    V3dNurbsSurface s;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = s.GlobalInterpolation(Q, u, v, U, V, p, q);
    }
    if (!ok) ThrowNurbsError("grid interpolation failed: a row or column system is singular");
    return s;
}

V3dNurbsSurface ApproximateGrid(const DoubleArray& points, std::size_t countU, std::size_t countV,
                                const py::object& paramsU, const py::object& paramsV, const py::object& knotsU,
                                const py::object& knotsV, std::size_t p, std::size_t q) {
    const VMatrix<Point3> Q = ToDataGrid(points);
    const std::size_t m = Q.RowCount(), n = Q.ColumnCount();
    CheckDegrees(m, n, countU, countV, p, q);
    const std::vector<double> u = Params(paramsU, m, "params_u");
    const std::vector<double> v = Params(paramsV, n, "params_v");
    const std::vector<double> U = Knots(knotsU, u, countU, p, "knots_u");
    const std::vector<double> V = Knots(knotsV, v, countV, q, "knots_v");
    V3dNurbsSurface s;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = s.LeastSquaresApproximation(Q, u, v, U, V, countU, countV, p, q);
    }
    if (!ok) ThrowNurbsError("grid approximation failed: a row or column system is singular");
    return s;
}

std::string Repr(const V3dNurbsSurface& s) {
    std::ostringstream o;
    o.precision(17);
    o << "NurbsSurface(degrees=(" << s.GetDegreeU() << ", " << s.GetDegreeV() << "), control_points=("
      << s.GetControlPoints().RowCount() << ", " << s.GetControlPoints().ColumnCount() << "), domain_u=("
      << s.GetMinParamU() << ", " << s.GetMaxParamU() << "), domain_v=(" << s.GetMinParamV() << ", " << s.GetMaxParamV()
      << "))";
    return o.str();
}

bool Equal(const V3dNurbsSurface& a, const V3dNurbsSurface& b) {
    return a.GetDegreeU() == b.GetDegreeU() && a.GetDegreeV() == b.GetDegreeV() && a.GetKnotsU() == b.GetKnotsU() &&
           a.GetKnotsV() == b.GetKnotsV() && a.GetControlPoints().ColumnCount() == b.GetControlPoints().ColumnCount() &&
           a.GetControlPoints().Elements() == b.GetControlPoints().Elements();
}

}  // namespace

void BindNurbsSurface(py::module_& m) {
    py::class_<V3dNurbsSurface> cls(m, "NurbsSurface",
                                    "An immutable tensor-product NURBS surface: a control grid (nu, nv) whose rows "
                                    "run along u, one knot vector and one degree per direction.");
    cls.def(py::init(&MakeSurface), py::arg("control_points"), py::arg("knots_u"), py::arg("knots_v"),
            py::arg("degree_u"), py::arg("degree_v"), py::arg("weights") = py::none(),
            "Builds a surface from control points (nu, nv, 3) with optional weights (nu, nv), or homogeneous "
            "control points (nu, nv, 4) stored as (w*x, w*y, w*z, w); knots_u (nu + degree_u + 1,), knots_v "
            "(nv + degree_v + 1,). Raises ValueError for data that does not form a surface.");
    cls.def_property_readonly(
        "degree_u", [](const V3dNurbsSurface& s) { return s.GetDegreeU(); }, "Degree p along u.");
    cls.def_property_readonly(
        "degree_v", [](const V3dNurbsSurface& s) { return s.GetDegreeV(); }, "Degree q along v.");
    cls.def_property_readonly(
        "knots_u", [](const V3dNurbsSurface& s) { return FromVector(s.GetKnotsU()); }, "Knot vector along u.");
    cls.def_property_readonly(
        "knots_v", [](const V3dNurbsSurface& s) { return FromVector(s.GetKnotsV()); }, "Knot vector along v.");
    cls.def_property_readonly(
        "control_points", [](const V3dNurbsSurface& s) { return GridArray(s, 3); },
        "Cartesian control points, shape (nu, nv, 3).");
    cls.def_property_readonly(
        "weights", [](const V3dNurbsSurface& s) { return GridArray(s, 1); }, "Weights, shape (nu, nv).");
    cls.def_property_readonly(
        "homogeneous_control_points", [](const V3dNurbsSurface& s) { return GridArray(s, 4); },
        "Stored control points (w*x, w*y, w*z, w), shape (nu, nv, 4).");
    cls.def_property_readonly(
        "domain_u", [](const V3dNurbsSurface& s) { return py::make_tuple(s.GetMinParamU(), s.GetMaxParamU()); },
        "Parameter range along u.");
    cls.def_property_readonly(
        "domain_v", [](const V3dNurbsSurface& s) { return py::make_tuple(s.GetMinParamV(), s.GetMaxParamV()); },
        "Parameter range along v.");

    cls.def("evaluate", &Evaluate, py::arg("u"), py::arg("v") = py::none(), py::arg("threads") = 1,
            "Surface points at (u, v): u and v broadcast against each other, or one array (..., 2) of pairs; "
            "returns the broadcast shape + (3,). threads: threads to spread the points over (0 = every "
            "hardware thread); the result is the same for any count.");
    cls.def("__call__", &Evaluate, py::arg("u"), py::arg("v") = py::none(), py::arg("threads") = 1,
            "Same as evaluate(u, v).");
    cls.def("derivatives", &Derivatives, py::arg("u"), py::arg("v") = py::none(), py::arg("order") = 1,
            py::arg("threads") = 1,
            "Mixed partial derivatives up to total order: returns shape + (order + 1, order + 1, 3), element "
            "[..., k, l, :] differentiated k times in u and l times in v; zero where k + l > order.");
    cls.def("project", &Project, py::arg("points"), py::arg("max_iterations") = 100, py::arg("tolerance") = 1e-9,
            py::arg("threads") = 1,
            "Nearest surface points by Newton iteration from the nearest knot pair. points (3,) gives "
            "((u, v), point (3,)); points (k, 3) gives (uv (k, 2), points (k, 3)). Planar points (2,) or "
            "(k, 2) are taken with z = 0.");
    cls.def("__eq__", &Equal, py::arg("other"), "Exact equality of degrees, knots and control points.");
    cls.def("__repr__", &Repr);
    cls.def(py::pickle(
        [](const V3dNurbsSurface& s) {
            return py::make_tuple(GridArray(s, 4), FromVector(s.GetKnotsU()), FromVector(s.GetKnotsV()), s.GetDegreeU(),
                                  s.GetDegreeV());
        },
        [](const py::tuple& t) {
            if (t.size() != 5) ThrowValue("invalid NurbsSurface state");
            return MakeSurface(DoubleArray::ensure(t[0]), DoubleArray::ensure(t[1]), DoubleArray::ensure(t[2]),
                               t[3].cast<std::size_t>(), t[4].cast<std::size_t>(), py::none());
        }));

    cls.def_static(
        "interpolate_grid", &InterpolateGrid, py::arg("points"), py::arg("params_u") = py::none(),
        py::arg("params_v") = py::none(), py::arg("knots_u") = py::none(), py::arg("knots_v") = py::none(),
        py::arg("degree_u") = 3, py::arg("degree_v") = 3,
        "Surface through every point of the grid points (m, n, 3) (or (m, n, 2), z = 0) at (params_u[i], params_v[j]). "
        "params default to uniform_parameters, knots to knot_averaging of the params.");
    cls.def_static("approximate_grid", &ApproximateGrid, py::arg("points"), py::arg("count_u"), py::arg("count_v"),
                   py::arg("params_u") = py::none(), py::arg("params_v") = py::none(), py::arg("knots_u") = py::none(),
                   py::arg("knots_v") = py::none(), py::arg("degree_u") = 3, py::arg("degree_v") = 3,
                   "Least-squares surface with a (count_u, count_v) control grid through the four corner points of "
                   "the grid points (m, n, 3). params default to uniform_parameters, knots to uniform clamped "
                   "knots (knot_averaging when a count equals the data count).");
}

}  // namespace velsdk_py
