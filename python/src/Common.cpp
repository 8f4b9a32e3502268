// Array conversion, argument checks and exceptions shared by the binding files.
#include "Common.h"

#include <cmath>
#include <cstring>

namespace velsdk_py {

namespace {
// The exception types, created once by RegisterExceptions (module lifetime).
PyObject* g_nurbsError = nullptr;
PyObject* g_rcodeError = nullptr;
PyObject* g_coincidentError = nullptr;

const char* RCodeName(V3dCurve::RCode code) {
    switch (code) {
        case V3dCurve::Success:
            return "Success";
        case V3dCurve::CoincidentPoints:
            return "CoincidentPoints";
        case V3dCurve::Failure:
            return "Failure";
    }
    return "Unknown";
}

PyObject* NewExceptionType(py::module_& m, const char* name, PyObject* base, const char* doc) {
    const std::string qualified = std::string("velsdk_nurbs.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
    if (!type) throw py::error_already_set();
    m.add_object(name, py::handle(type));  // the module keeps a reference; ours is borrowed for life
    return type;
}
}  // namespace

void RegisterExceptions(py::module_& m) {
    g_nurbsError = NewExceptionType(m, "NurbsError", PyExc_RuntimeError,
                                    "An operation of the library reported failure (for example a singular fitting "
                                    "system).");
    g_rcodeError = NewExceptionType(m, "RCodeError", g_nurbsError,
                                    "A fitted-curve operation returned a result code other than RCode.Success; the "
                                    "code is in the attribute rcode and its name in the message.");
    g_coincidentError = NewExceptionType(m, "CoincidentPointsError", g_rcodeError,
                                         "RCode.CoincidentPoints: two consecutive data points lie closer than 2^-26.");
}

py::object MakeRCodeError(V3dCurve::RCode code, const std::string& what, const std::string& detail) {
    PyObject* type = code == V3dCurve::CoincidentPoints ? g_coincidentError : g_rcodeError;
    std::string message = what + ": RCode." + RCodeName(code);
    if (!detail.empty()) message += " (" + detail + ")";
    py::object exc = py::reinterpret_steal<py::object>(PyObject_CallFunction(type, "s", message.c_str()));
    if (!exc) throw py::error_already_set();
    exc.attr("rcode") = py::cast(code);
    return exc;
}

py::object MakeError(PyObject* type, const std::string& message) {
    py::object exc = py::reinterpret_steal<py::object>(PyObject_CallFunction(type, "s", message.c_str()));
    if (!exc) throw py::error_already_set();
    return exc;
}

std::size_t ToThreads(long threads) {
    if (threads < 0) ThrowValue("threads must be 0 (every hardware thread) or more");
    return static_cast<std::size_t>(threads);
}

void ThrowRCode(V3dCurve::RCode code, const std::string& what, const std::string& detail) {
    py::object exc = MakeRCodeError(code, what, detail);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    throw py::error_already_set();
}

void ThrowNurbsError(const std::string& message) {
    PyErr_SetString(g_nurbsError, message.c_str());
    throw py::error_already_set();
}

void ThrowValue(const std::string& message) { throw py::value_error(message); }

std::vector<Point3> ToPoints3(const DoubleArray& a, const char* name, bool allowSingle) {
    // Planar data (x, y) is read with z = 0, so 2-D data never needs a zero column.
    if (allowSingle && a.ndim() == 1 && (a.shape(0) == 3 || a.shape(0) == 2)) return {ToPoint3(a, name)};
    if (a.ndim() != 2 || (a.shape(1) != 3 && a.shape(1) != 2))
        ThrowValue(std::string(name) + " must have shape (k, 3) or (k, 2)" + (allowSingle ? ", (3,) or (2,)" : ""));
    const std::size_t k = static_cast<std::size_t>(a.shape(0));
    const std::size_t dim = static_cast<std::size_t>(a.shape(1));
    const double* d = a.data();
    for (std::size_t i = 0; i < dim * k; ++i)
        if (!std::isfinite(d[i])) ThrowValue(std::string(name) + " must be finite");
    std::vector<Point3> pts(k, Point3{0.0, 0.0, 0.0});
    if (dim == 3) {
        if (k) std::memcpy(static_cast<void*>(pts.data()), d, k * sizeof(Point3));
    } else {
        for (std::size_t i = 0; i < k; ++i) pts[i] = Point3{d[2 * i], d[2 * i + 1], 0.0};
    }
    return pts;
}

Point3 ToPoint3(const py::handle& h, const char* name) {
    const DoubleArray a = DoubleArray::ensure(h);
    if (!a || a.ndim() != 1 || (a.shape(0) != 3 && a.shape(0) != 2)) {
        PyErr_Clear();
        ThrowValue(std::string(name) + " must be a vector of three (or two: z = 0) numbers");
    }
    const double* d = a.data();
    const Point3 p{d[0], d[1], a.shape(0) == 3 ? d[2] : 0.0};
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
        ThrowValue(std::string(name) + " must be finite");
    return p;
}

std::vector<Point4> ToControlPoints(const DoubleArray& points, const py::object& weights) {
    if (points.ndim() != 2 || points.shape(1) < 2 || points.shape(1) > 4)
        ThrowValue("control_points must have shape (n, 3), (n, 2) (z = 0) or (n, 4)");
    const std::size_t n = static_cast<std::size_t>(points.shape(0));
    const std::size_t dim = static_cast<std::size_t>(points.shape(1));
    const double* d = points.data();
    std::vector<Point4> cps(n);
    if (dim == 4) {
        if (!weights.is_none()) ThrowValue("weights must not be given with homogeneous (n, 4) control points");
        if (n) std::memcpy(static_cast<void*>(cps.data()), d, n * sizeof(Point4));
    } else {
        std::vector<double> w(n, 1.0);
        if (!weights.is_none()) {
            w = ToVector(DoubleArray::ensure(weights), "weights");
            if (w.size() != n) ThrowValue("weights must have one value per control point");
        }
        for (std::size_t i = 0; i < n; ++i) {
            const double z = dim == 3 ? d[3 * i + 2] : 0.0;
            cps[i] = Point4{w[i] * d[dim * i], w[i] * d[dim * i + 1], w[i] * z, w[i]};
        }
    }
    for (const Point4& c : cps) {
        for (std::size_t j = 0; j < 4; ++j)
            if (!std::isfinite(c[j])) ThrowValue("control points and weights must be finite");
        if (c[3] == 0.0) ThrowValue("weights must not be zero");
    }
    return cps;
}

std::vector<double> ToVector(const DoubleArray& a, const char* name, bool allowScalar) {
    if (!a) throw py::error_already_set();
    if (!(a.ndim() == 1 || (allowScalar && a.ndim() == 0))) ThrowValue(std::string(name) + " must be one-dimensional");
    return std::vector<double>(a.data(), a.data() + a.size());
}

bool AllFinite(const std::vector<double>& v) {
    for (double x : v)
        if (!std::isfinite(x)) return false;
    return true;
}

bool NonDecreasing(const std::vector<double>& v) {
    for (std::size_t i = 1; i < v.size(); ++i)
        if (!(v[i - 1] <= v[i])) return false;
    return true;
}

py::array_t<double> FromVector(const std::vector<double>& v) {
    py::array_t<double> out(static_cast<py::ssize_t>(v.size()));
    if (!v.empty()) std::memcpy(out.mutable_data(), v.data(), v.size() * sizeof(double));
    return out;
}

py::array_t<double> FromPoints3(const std::vector<Point3>& pts) {
    py::array_t<double> out({static_cast<py::ssize_t>(pts.size()), py::ssize_t(3)});
    if (!pts.empty()) std::memcpy(out.mutable_data(), pts.data(), pts.size() * sizeof(Point3));
    return out;
}

py::array_t<double> CartesianOf(const std::vector<Point4>& pts) {
    py::array_t<double> out({static_cast<py::ssize_t>(pts.size()), py::ssize_t(3)});
    double* o = out.mutable_data();
    for (std::size_t i = 0; i < pts.size(); ++i)
        for (std::size_t j = 0; j < 3; ++j) o[3 * i + j] = pts[i][j] / pts[i][3];
    return out;
}

py::array_t<double> WeightsOf(const std::vector<Point4>& pts) {
    py::array_t<double> out(static_cast<py::ssize_t>(pts.size()));
    double* o = out.mutable_data();
    for (std::size_t i = 0; i < pts.size(); ++i) o[i] = pts[i][3];
    return out;
}

py::array_t<double> HomogeneousOf(const std::vector<Point4>& pts) {
    py::array_t<double> out({static_cast<py::ssize_t>(pts.size()), py::ssize_t(4)});
    if (!pts.empty()) std::memcpy(out.mutable_data(), pts.data(), pts.size() * sizeof(Point4));
    return out;
}

void CheckDims(int dims) {
    if (dims != 2 && dims != 3) ThrowValue("dims must be 3 (x, y, z) or 2 (x, y)");
}

py::array_t<double> KeepDims(const py::array_t<double>& a, int dims) {
    CheckDims(dims);
    const py::ssize_t last = a.ndim() == 0 ? 0 : a.shape(a.ndim() - 1);
    if (dims >= last) return a;
    std::vector<py::ssize_t> shape(a.shape(), a.shape() + a.ndim());
    shape.back() = dims;
    py::array_t<double> out(shape);
    const std::size_t rows = static_cast<std::size_t>(a.size() / last);
    const double* in = a.data();
    double* o = out.mutable_data();
    for (std::size_t r = 0; r < rows; ++r)
        std::memcpy(o + r * static_cast<std::size_t>(dims), in + r * static_cast<std::size_t>(last),
                    static_cast<std::size_t>(dims) * sizeof(double));
    return out;
}

std::vector<py::ssize_t> ShapeWith(const py::array& u, std::initializer_list<py::ssize_t> extra) {
    std::vector<py::ssize_t> shape(u.shape(), u.shape() + u.ndim());
    shape.insert(shape.end(), extra.begin(), extra.end());
    return shape;
}

}  // namespace velsdk_py
