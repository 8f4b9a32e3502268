// Bindings of V3dCurveNurbsPlus as velsdk_nurbs.FittedCurve, with its binary record, its XML
// document and pickle support.
//
// A FittedCurve is mutable (fits, setters, and Segment, which clamps the held curve in
// place). Every access goes through a reader/writer lock held next to the curve, so that
// members which run without the GIL never overlap a change made from another Python thread.
// The lock is only ever taken after the GIL was released or while it is held without being
// released again, so the two cannot deadlock.
#include "Common.h"

#include <VelSDK/BatchProjection.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusStream.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <stdexcept>

namespace velsdk_py {

using VelSDK::NURBS::V3dNurbsCurve;

namespace {

using Curve = V3dCurveNurbsPlus;
using EParam = V3dCurveNurbsPlus::EParametrization;
using EKnots = V3dCurveNurbsPlus::EKnotsGeneration;

// The curve, the lock, and the two fit settings (the curve stores them but does not report
// them, so the binding keeps the values it set).
struct FittedCurve {
    Curve curve;
    EParam parametrization = V3dCurveNurbsPlus::ParametrizationChordLength;
    EKnots knotsGeneration = V3dCurveNurbsPlus::KnotsAveraging;
    mutable std::shared_mutex mutex;

    void SetParametrization(EParam e) {
        parametrization = e;
        curve.SetParametrization(e);
    }
    void SetKnotsGeneration(EKnots e) {
        knotsGeneration = e;
        curve.SetKnotsGeneration(e);
    }
};

using ReadLock = std::shared_lock<std::shared_mutex>;
using WriteLock = std::unique_lock<std::shared_mutex>;

// Name of the binary stream that holds the numbers of the XML document.
const char* const kStreamName = "NURBS_CURVE";

// --- Settings --------------------------------------------------------------------------------

EParam ToParametrization(const py::object& o) {
    if (py::isinstance<py::str>(o)) {
        const std::string s = o.cast<std::string>();
        if (s == "chord_length") return V3dCurveNurbsPlus::ParametrizationChordLength;
        if (s == "uniform") return V3dCurveNurbsPlus::ParametrizationUniform;
        ThrowValue("parametrization must be 'chord_length' or 'uniform'");
    }
    try {
        return o.cast<EParam>();
    } catch (const py::cast_error&) {
        ThrowValue("parametrization must be a Parametrization or 'chord_length' / 'uniform'");
    }
}

EKnots ToKnotsGeneration(const py::object& o) {
    if (py::isinstance<py::str>(o)) {
        const std::string s = o.cast<std::string>();
        if (s == "averaging") return V3dCurveNurbsPlus::KnotsAveraging;
        if (s == "uniform") return V3dCurveNurbsPlus::KnotsUniform;
        ThrowValue("knots_generation must be 'averaging' or 'uniform'");
    }
    try {
        return o.cast<EKnots>();
    } catch (const py::cast_error&) {
        ThrowValue("knots_generation must be a KnotsGeneration or 'averaging' / 'uniform'");
    }
}

unsigned char ToOrder(int order) {
    if (order < 2 || order > 255) ThrowValue("order must lie in 2..255");
    return static_cast<unsigned char>(order);
}

std::unique_ptr<FittedCurve> Make(int order, const py::object& parametrization, const py::object& knotsGeneration,
                                  std::size_t numControlPoints) {
    auto f = std::make_unique<FittedCurve>();
    f->curve.SetOrder(ToOrder(order));
    f->SetParametrization(ToParametrization(parametrization));
    f->SetKnotsGeneration(ToKnotsGeneration(knotsGeneration));
    f->curve.SetNumberControlPoints(numControlPoints);
    return f;
}

[[noreturn]] void ThrowNotValid(const char* what) {
    ThrowRCode(V3dCurve::Failure, what, "the curve is not valid: fit it first");
}

// --- Fitting ---------------------------------------------------------------------------------

// Why a fit returned what it did, for the exception message.
std::string FitDetail(V3dCurve::RCode rc, const std::vector<Point3>& pts, const FittedCurve& f, bool closed,
                      std::size_t requested) {
    const Curve& c = f.curve;
    if (rc == V3dCurve::CoincidentPoints) {
        for (std::size_t i = 1; i < pts.size(); ++i)
            if (VelSDK::Math::ScaledLength(pts[i - 1] - pts[i]) < 1.4901161193847656e-08)
                return "points " + std::to_string(i - 1) + " and " + std::to_string(i) + " lie closer than 2^-26";
        return "two consecutive points lie closer than 2^-26";
    }
    if (pts.size() < c.GetOrder())
        return std::to_string(pts.size()) + " points are fewer than the order " + std::to_string(c.GetOrder());
    if (!closed && requested != 0 && requested != pts.size())
        return "num_control_points is " + std::to_string(requested) +
               " (a previous fit may have left it); an open fit needs 0 or the number of points";
    if (closed && f.knotsGeneration == V3dCurveNurbsPlus::KnotsUniform)
        return "the fitting system is singular; closed fits with uniform knots often are, "
               "knots_generation='averaging' avoids that";
    return "the fitting system is singular";
}

py::array_t<double> Fit(FittedCurve& self, const DoubleArray& points, bool closed) {
    const std::vector<Point3> pts = ToPoints3(points, "points");
    std::vector<double> params;
    V3dCurve::RCode rc;
    std::size_t requested;
    {
        py::gil_scoped_release release;
        WriteLock lock(self.mutex);
        requested = self.curve.GetNumberControlPoints();
        rc = self.curve.Fit(params, pts, closed);
    }
    if (rc != V3dCurve::Success) {
        ReadLock lock(self.mutex);
        ThrowRCode(rc, "fit", FitDetail(rc, pts, self, closed, requested));
    }
    return FromVector(params);
}

py::array_t<double> FitWithEndDerivatives(FittedCurve& self, const DoubleArray& points, const py::object& start,
                                          const py::object& end) {
    const std::vector<Point3> pts = ToPoints3(points, "points");
    const std::pair<Point3, Point3> D{ToPoint3(start, "start"), ToPoint3(end, "end")};
    std::vector<double> params;
    V3dCurve::RCode rc;
    std::size_t requested;
    {
        py::gil_scoped_release release;
        WriteLock lock(self.mutex);
        requested = self.curve.GetNumberControlPoints();
        rc = self.curve.FitWithEndDerivatives(params, pts, D);
    }
    if (rc != V3dCurve::Success) {
        ReadLock lock(self.mutex);
        ThrowRCode(rc, "fit_with_end_derivatives", FitDetail(rc, pts, self, false, requested));
    }
    return FromVector(params);
}

// --- Evaluation ------------------------------------------------------------------------------

enum class Quantity { Position, Speed, Acceleration };

py::array_t<double> Eval(const FittedCurve& self, const DoubleArray& t, Quantity q, const char* what, int dims) {
    CheckDims(dims);
    py::array_t<double> out(ShapeWith(t, {3}));
    const double* in = t.data();
    double* o = out.mutable_data();
    const std::size_t count = static_cast<std::size_t>(t.size());
    bool valid;
    {
        py::gil_scoped_release release;
        ReadLock lock(self.mutex);
        valid = self.curve.IsValid();
        if (valid) {
            Point3 pos{}, d1{}, d2{};
            for (std::size_t i = 0; i < count; ++i) {
                const Point3* r = &pos;
                switch (q) {
                    case Quantity::Position:
                        self.curve.EvaluatePosition(pos, in[i]);
                        break;
                    case Quantity::Speed:
                        self.curve.EvaluateSpeed(pos, d1, in[i]);
                        r = &d1;
                        break;
                    case Quantity::Acceleration:
                        self.curve.EvaluateAcceleration(pos, d1, d2, in[i]);
                        r = &d2;
                        break;
                }
                std::memcpy(o + 3 * i, r->v, sizeof(Point3));
            }
        }
    }
    if (!valid) ThrowNotValid(what);
    return KeepDims(out, dims);
}

// --- Segmentation, projection, distance ------------------------------------------------------

std::vector<double> SegmentParams(const FittedCurve& self, double tolerance, const py::object& breaks,
                                  const char* what) {
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) ThrowValue("tolerance must be a positive finite number");
    std::vector<double> params;
    const bool keep = !breaks.is_none();
    if (keep) {
        params = ToVector(DoubleArray::ensure(breaks), "parameters", true);
        if (!AllFinite(params) || !NonDecreasing(params)) ThrowValue("parameters must be finite and ascending");
    }
    V3dCurve::RCode rc;
    bool valid;
    {
        py::gil_scoped_release release;
        // Segment clamps the held curve in place: exclusive access.
        WriteLock lock(self.mutex);
        valid = self.curve.IsValid();
        if (valid && keep && !params.empty() &&
            (params.front() < self.curve.GetMinParameter() || params.back() > self.curve.GetMaxParameter()))
            valid = false;
        rc = valid ? self.curve.Segment(params, tolerance, keep) : V3dCurve::Failure;
    }
    if (!valid) {
        ReadLock lock(self.mutex);
        if (!self.curve.IsValid()) ThrowNotValid(what);
        ThrowValue("parameters must lie inside the domain");
    }
    if (rc != V3dCurve::Success) ThrowRCode(rc, what, "");
    return params;
}

py::object Project(const FittedCurve& self, const DoubleArray& points, double tolerance, const py::object& start,
                   long threads) {
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) ThrowValue("tolerance must be a positive finite number");
    const std::size_t nThreads = ToThreads(threads);
    const bool single = points.ndim() == 1;
    const std::vector<Point3> P = ToPoints3(points, "points", true);
    std::vector<double> t(P.size(), 0.0);
    const bool useStart = !start.is_none();
    if (useStart) {
        t = ToVector(DoubleArray::ensure(start), "start", true);
        if (t.size() != P.size()) ThrowValue("start must hold one parameter per point");
    }
    std::vector<char> ok(P.size(), 0);
    bool valid;
    {
        py::gil_scoped_release release;
        ReadLock lock(self.mutex);
        valid = self.curve.IsValid();
        if (valid) {
            const std::vector<VelSDK::Batch::ProjectPointResult> r =
                VelSDK::Batch::ProjectPointMany(self.curve, P, tolerance, useStart ? &t : nullptr, nThreads);
            for (std::size_t i = 0; i < P.size(); ++i) {
                ok[i] = r[i].code == V3dCurve::Success;
                t[i] = ok[i] ? r[i].t : std::nan("");
            }
        }
    }
    if (!valid) ThrowNotValid("project");
    if (single) {
        if (!ok[0]) ThrowRCode(V3dCurve::Failure, "project", "the projection did not converge");
        return py::float_(t[0]);
    }
    return FromVector(t);
}

py::object Distance(const FittedCurve& self, const DoubleArray& points, double tolerance) {
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) ThrowValue("tolerance must be a positive finite number");
    const bool single = points.ndim() == 1;
    const std::vector<Point3> P = ToPoints3(points, "points", true);
    std::vector<double> d(P.size());
    bool valid;
    {
        py::gil_scoped_release release;
        ReadLock lock(self.mutex);
        valid = self.curve.IsValid();
        for (std::size_t i = 0; valid && i < P.size(); ++i) d[i] = self.curve.Distance(P[i], tolerance);
    }
    if (!valid) ThrowNotValid("distance");
    if (single) return py::float_(d[0]);
    return FromVector(d);
}

py::tuple Split(const FittedCurve& self, double t) {
    auto first = std::make_unique<FittedCurve>();
    auto second = std::make_unique<FittedCurve>();
    V3dCurve::RCode rc;
    bool valid;
    {
        ReadLock lock(self.mutex);
        valid = self.curve.IsValid();
        rc = valid ? self.curve.Split(first->curve, second->curve, t) : V3dCurve::Failure;
    }
    if (!valid) ThrowNotValid("split");
    if (rc != V3dCurve::Success) ThrowRCode(rc, "split", "the parameter must lie strictly inside the domain");
    // The pieces take the source's settings.
    for (FittedCurve* piece : {first.get(), second.get()}) {
        piece->parametrization = self.parametrization;
        piece->knotsGeneration = self.knotsGeneration;
    }
    return py::make_tuple(py::cast(std::move(first)), py::cast(std::move(second)));
}

// --- Conversion to and from NurbsCurve -------------------------------------------------------

V3dNurbsCurve ToNurbs(const FittedCurve& self) {
    ReadLock lock(self.mutex);
    if (!self.curve.IsValid()) ThrowNotValid("to_nurbs");
    // The degree of the held curve (the order field may have been changed since the fit).
    const std::size_t n = self.curve.GetControlPoints().size();
    const std::size_t m = self.curve.GetKnots().size();
    if (m <= n) ThrowNotValid("to_nurbs");
    return V3dNurbsCurve(self.curve.GetControlPoints(), self.curve.GetKnots(), m - n - 1);
}

std::unique_ptr<FittedCurve> FromNurbs(const V3dNurbsCurve& c, bool closed) {
    if (c.GetOrder() > 255) ThrowValue("the degree of a fitted curve must not exceed 254");
    auto f = std::make_unique<FittedCurve>();
    const V3dCurve::RCode rc =
        f->curve.Reset(c.GetControlPoints(), c.GetKnots(), static_cast<unsigned char>(c.GetOrder()), closed);
    if (rc != V3dCurve::Success) ThrowRCode(rc, "from_nurbs", "the curve was refused");
    return f;
}

// --- Binary record ---------------------------------------------------------------------------

py::bytes ToBytes(const FittedCurve& self) {
    std::ostringstream s(std::ios::binary);
    {
        ReadLock lock(self.mutex);
        s << self.curve;
    }
    return py::bytes(s.str());
}

// Reads a record into a fresh curve. A record that ends early, carries bytes after its end,
// or describes a valid curve that cannot be rebuilt raises instead of giving a half-read curve.
std::unique_ptr<FittedCurve> FromBytes(const py::bytes& data) {
    const std::string bytes = data;
    auto f = std::make_unique<FittedCurve>();
    std::istringstream s(bytes, std::ios::binary);
    try {
        s >> f->curve;
    } catch (const std::length_error&) {
        ThrowValue("the record promises more data than it holds");
    }
    if (s.fail()) ThrowValue("the record ends early");
    if (s.peek() != std::char_traits<char>::eof()) ThrowValue("the record is followed by extra bytes");
    // Byte 26 is the valid flag; a valid record must give a valid curve.
    if (bytes.size() > 26 && bytes[26] != 0 && !f->curve.IsValid())
        ThrowRCode(V3dCurve::Failure, "from_bytes", "the recorded curve was refused (order or counts)");
    return f;
}

// --- XML document ----------------------------------------------------------------------------

// Only fitted curves are stored as documents: the document of a curve that is not valid
// holds no curve at all (not even its order), so writing one is refused, and a document that
// does not give a valid curve raises on reading.
std::string ToXml(const FittedCurve& self) {
    ReadLock lock(self.mutex);
    if (!self.curve.IsValid()) {
        lock.unlock();
        ThrowNotValid("to_xml");
    }
    return V3dCurveNurbsPlusDocument::Save(self.curve, kStreamName);
}

std::unique_ptr<FittedCurve> FromXml(const std::string& document) {
    auto f = std::make_unique<FittedCurve>();
    const VelSAX::VSAXReadResult r = V3dCurveNurbsPlusDocument::Load(document, f->curve);
    if (!r.ok)
        ThrowValue("invalid curve document (line " + std::to_string(r.line) + ", column " + std::to_string(r.column) +
                   "): " + r.message);
    if (!f->curve.IsValid())
        ThrowRCode(V3dCurve::Failure, "from_xml", "the document holds no curve that can be rebuilt");
    return f;
}

// --- Representation --------------------------------------------------------------------------

std::string Repr(const FittedCurve& self) {
    ReadLock lock(self.mutex);
    const Curve& c = self.curve;
    std::ostringstream s;
    s.precision(17);
    s << "FittedCurve(order=" << static_cast<int>(c.GetOrder()) << ", parametrization="
      << (self.parametrization == V3dCurveNurbsPlus::ParametrizationUniform ? "'uniform'" : "'chord_length'");
    s << ", knots_generation="
      << (self.knotsGeneration == V3dCurveNurbsPlus::KnotsUniform ? "'uniform'" : "'averaging'");
    if (c.IsValid())
        s << ", control_points=" << c.GetControlPoints().size() << ", domain=(" << c.GetMinParameter() << ", "
          << c.GetMaxParameter() << ")" << (c.IsClosedLoop() ? ", closed" : "");
    else
        s << ", not fitted";
    s << ")";
    return s.str();
}

template <typename F>
auto Locked(F f) {
    return [f](const FittedCurve& self) {
        ReadLock lock(self.mutex);
        return f(self.curve);
    };
}

}  // namespace

FitSettings ToFitSettings(int order, const py::object& parametrization, const py::object& knotsGeneration,
                          std::size_t numControlPoints) {
    FitSettings s;
    s.parametrization = ToParametrization(parametrization);
    s.knotsGeneration = ToKnotsGeneration(knotsGeneration);
    s.prototype.SetOrder(ToOrder(order));
    s.prototype.SetParametrization(s.parametrization);
    s.prototype.SetKnotsGeneration(s.knotsGeneration);
    s.prototype.SetNumberControlPoints(numControlPoints);
    return s;
}

py::object WrapFittedCurve(V3dCurveNurbsPlus&& curve, const FitSettings& s) {
    auto f = std::make_unique<FittedCurve>();
    f->curve = std::move(curve);
    f->parametrization = s.parametrization;
    f->knotsGeneration = s.knotsGeneration;
    return py::cast(std::move(f));
}

bool CopyFittedCurve(const py::handle& obj, V3dCurveNurbsPlus& copy) {
    if (!py::isinstance<FittedCurve>(obj)) return false;
    const FittedCurve& f = obj.cast<const FittedCurve&>();
    ReadLock lock(f.mutex);
    copy = f.curve;
    return true;
}

void BindFittedCurve(py::module_& m) {
    py::enum_<EParam>(m, "Parametrization", "How a fit assigns parameters to data points.")
        .value("CHORD_LENGTH", V3dCurveNurbsPlus::ParametrizationChordLength,
               "Proportional to the accumulated distance between consecutive points.")
        .value("UNIFORM", V3dCurveNurbsPlus::ParametrizationUniform, "Equally spaced.");
    py::enum_<EKnots>(m, "KnotsGeneration", "How a fit builds the knot vector.")
        .value("AVERAGING", V3dCurveNurbsPlus::KnotsAveraging, "Averages of consecutive parameters.")
        .value("UNIFORM", V3dCurveNurbsPlus::KnotsUniform, "Clamped uniform knots.");

    py::class_<FittedCurve> cls(
        m, "FittedCurve",
        "A NURBS curve that fits itself to data points (open least squares through all points, closed "
        "interpolation, or interpolation with end derivatives), evaluates position, speed and "
        "acceleration, cuts itself into a polyline under a chord tolerance and projects points.\n\n"
        "Failures raise RCodeError (CoincidentPointsError for coincident consecutive points) naming the "
        "result code. Safe to share between Python threads.");
    cls.def(py::init(&Make), py::arg("order") = 3, py::arg("parametrization") = "chord_length",
            py::arg("knots_generation") = "averaging", py::arg("num_control_points") = 0,
            "A curve that is not fitted yet. order = degree + 1 (2..255); parametrization 'chord_length' or "
            "'uniform' (or a Parametrization); knots_generation 'averaging' or 'uniform' (or a "
            "KnotsGeneration); num_control_points 0 means one per data point.");

    cls.def_property(
        "order", Locked([](const Curve& c) { return static_cast<int>(c.GetOrder()); }),
        [](FittedCurve& self, int order) {
            const unsigned char o = ToOrder(order);
            WriteLock lock(self.mutex);
            self.curve.SetOrder(o);
        },
        "Order (degree + 1) used by the next fit, 2..255; after a fit, the order of the curve.");
    cls.def_property(
        "parametrization",
        [](const FittedCurve& self) {
            ReadLock lock(self.mutex);
            return self.parametrization;
        },
        [](FittedCurve& self, const py::object& v) {
            const EParam e = ToParametrization(v);
            WriteLock lock(self.mutex);
            self.SetParametrization(e);
        },
        "Parametrization of the next fit.");
    cls.def_property(
        "knots_generation",
        [](const FittedCurve& self) {
            ReadLock lock(self.mutex);
            return self.knotsGeneration;
        },
        [](FittedCurve& self, const py::object& v) {
            const EKnots e = ToKnotsGeneration(v);
            WriteLock lock(self.mutex);
            self.SetKnotsGeneration(e);
        },
        "Knot generation of the next fit.");
    cls.def_property(
        "num_control_points", Locked([](const Curve& c) { return c.GetNumberControlPoints(); }),
        [](FittedCurve& self, std::size_t n) {
            WriteLock lock(self.mutex);
            self.curve.SetNumberControlPoints(n);
        },
        "Before an open fit: the number of control points requested (0 = one per point; an open fit "
        "accepts only 0 or the number of points). After a fit: the curve's number of control points, "
        "which a following open fit of a different point count rejects until it is set back to 0.");
    cls.def_property_readonly("is_valid", Locked([](const Curve& c) { return c.IsValid(); }),
                              "Whether the curve holds a fit.");
    cls.def_property_readonly("is_closed", Locked([](const Curve& c) { return c.IsClosedLoop(); }),
                              "Whether the curve is a closed loop.");
    cls.def_property_readonly("is_clamped", Locked([](const Curve& c) { return c.IsClamped(); }),
                              "Whether both ends of the knot vector are clamped (False when not valid).");
    cls.def_property_readonly(
        "domain", Locked([](const Curve& c) { return py::make_tuple(c.GetMinParameter(), c.GetMaxParameter()); }),
        "Parameter range (minimum, maximum); (0, 1) after every fit.");
    cls.def_property_readonly("knots", Locked([](const Curve& c) { return FromVector(c.GetKnots()); }),
                              "Knot vector of the fitted curve (empty when not valid).");
    cls.def_property_readonly("control_points",
                              Locked([](const Curve& c) { return CartesianOf(c.GetControlPoints()); }),
                              "Cartesian control points, shape (n, 3).");
    cls.def_property_readonly("weights", Locked([](const Curve& c) { return WeightsOf(c.GetControlPoints()); }),
                              "Weights, shape (n,).");
    cls.def_property_readonly("homogeneous_control_points",
                              Locked([](const Curve& c) { return HomogeneousOf(c.GetControlPoints()); }),
                              "Stored control points (w*x, w*y, w*z, w), shape (n, 4).");

    cls.def("fit", &Fit, py::arg("points"), py::arg("closed") = false,
            "Fits the curve to points (N, 3) or planar points (N, 2) (z = 0) and returns their parameters, "
            "shape (N,).\n\n"
            "Open: least squares with fixed ends and one control point per point (passes through every "
            "point). closed=True: interpolation of the loop (do not repeat the first point at the end); "
            "N + order - 1 control points. Raises CoincidentPointsError when two consecutive points lie "
            "closer than 2^-26 (the curve is unchanged), RCodeError(RCode.Failure) when the fit fails (the "
            "curve is then not valid).");
    cls.def("fit_with_end_derivatives", &FitWithEndDerivatives, py::arg("points"), py::arg("start"), py::arg("end"),
            "Open interpolation of points (N, 3) or (N, 2) with first derivatives start and end (3- or "
            "2-vectors, with "
            "respect to the parameter on [0, 1]); returns the parameters (N,). Raises RCodeError on failure.");
    cls.def(
        "evaluate",
        [](const FittedCurve& s, const DoubleArray& t, int dims) {
            return Eval(s, t, Quantity::Position, "evaluate", dims);
        },
        py::arg("t"), py::arg("dims") = 3,
        "Positions at t (any shape); returns t.shape + (3,), or t.shape + (2,) with dims=2 (x, y only).");
    cls.def(
        "__call__",
        [](const FittedCurve& s, const DoubleArray& t, int dims) {
            return Eval(s, t, Quantity::Position, "evaluate", dims);
        },
        py::arg("t"), py::arg("dims") = 3, "Same as evaluate(t, dims).");
    cls.def(
        "speed",
        [](const FittedCurve& s, const DoubleArray& t, int dims) { return Eval(s, t, Quantity::Speed, "speed", dims); },
        py::arg("t"), py::arg("dims") = 3, "First derivatives at t; returns t.shape + (3,) (or (2,) with dims=2).");
    cls.def(
        "acceleration",
        [](const FittedCurve& s, const DoubleArray& t, int dims) {
            return Eval(s, t, Quantity::Acceleration, "acceleration", dims);
        },
        py::arg("t"), py::arg("dims") = 3, "Second derivatives at t; returns t.shape + (3,) (or (2,) with dims=2).");
    cls.def(
        "segment",
        [](const FittedCurve& s, double tolerance, const py::object& parameters) {
            return FromVector(SegmentParams(s, tolerance, parameters, "segment"));
        },
        py::arg("tolerance"), py::arg("parameters") = py::none(),
        "Parameters (k,) of a polyline that stays within tolerance of the curve. Open curves of degree "
        "1 to 3 are cut into Bezier pieces that are halved until flat; others are refined at interval "
        "midpoints. parameters (ascending, inside the domain) become extra break points.");
    cls.def(
        "segment_points",
        [](const FittedCurve& s, double tolerance, int dims) {
            CheckDims(dims);
            const std::vector<double> t = SegmentParams(s, tolerance, py::none(), "segment_points");
            return Eval(s, FromVector(t), Quantity::Position, "segment_points", dims);
        },
        py::arg("tolerance"), py::arg("dims") = 3,
        "Points (k, 3) of the polyline of segment(tolerance); (k, 2) with dims=2.");
    cls.def("project", &Project, py::arg("points"), py::arg("tolerance") = 1e-9, py::arg("start") = py::none(),
            py::arg("threads") = 1,
            "Parameter of the nearest curve point. points (3,) gives a float and raises "
            "RCodeError(RCode.Failure) when no projection converges; points (k, 3) gives (k,) with NaN "
            "where none converged. start: parameter(s) tried first. threads: threads to spread the points "
            "over (0 = every hardware thread); the result is the same for any count.");
    cls.def("distance", &Distance, py::arg("points"), py::arg("tolerance") = 1e-9,
            "Distance from points (3,) or (k, 3) to the curve: a float or shape (k,).");
    cls.def("split", &Split, py::arg("t"),
            "(first, second): two open fitted curves cut at t, each with its knots rescaled to [0, 1].");
    cls.def(
        "invalidate",
        [](FittedCurve& self) {
            WriteLock lock(self.mutex);
            self.curve.Invalidate();
        },
        "Drops the fitted curve; the settings stay.");
    cls.def_property_readonly(
        "first_point", Locked([](const Curve& c) { return FromPoints3({c.GetFirstPoint()}).attr("reshape")(3); }),
        "Position at the minimum parameter ((0, 0, 0) when not valid).");
    cls.def_property_readonly("last_point",
                              Locked([](const Curve& c) { return FromPoints3({c.GetLastPoint()}).attr("reshape")(3); }),
                              "Position at the maximum parameter ((0, 0, 0) when not valid).");
    cls.def("to_nurbs", &ToNurbs, "The fitted curve as a NurbsCurve (a copy).");
    cls.def_static("from_nurbs", &FromNurbs, py::arg("curve"), py::arg("closed") = false,
                   "A valid FittedCurve holding a copy of curve; closed marks it as a closed loop (domain [0, 1]).");

    cls.def("to_bytes", &ToBytes,
            "The binary record: min and max parameter, closed flag, order, control-point count, valid flag, "
            "then (when valid) the homogeneous control points, the knot count and the knots; little-endian.");
    cls.def_static("from_bytes", &FromBytes, py::arg("data"),
                   "A curve read from a binary record. Raises ValueError for a truncated record or trailing "
                   "bytes, RCodeError when the recorded curve cannot be rebuilt.");
    cls.def("to_xml", &ToXml,
            "The curve as an XML document (str) with a NURBS_CURVE root element; the numbers travel "
            "bit-exact as base64 blocks. Raises RCodeError for a curve that is not valid.");
    cls.def_static("from_xml", &FromXml, py::arg("document"),
                   "A curve read from an XML document written by to_xml. Raises ValueError for a malformed "
                   "document (naming line, column and problem), RCodeError when it holds no curve that "
                   "can be rebuilt.");

    cls.def(
        "__eq__",
        [](const FittedCurve& a, const FittedCurve& b) {
            if (&a == &b) return true;
            ReadLock la(a.mutex);
            ReadLock lb(b.mutex);
            return a.curve == b.curve;
        },
        py::arg("other"),
        "Equal validity, order and number of control points; for valid curves also closed flag, control "
        "points and knots, exactly. The domain and the fit settings are not compared.");
    cls.def("__repr__", &Repr);
    cls.def(py::pickle(
        [](const FittedCurve& self) {
            py::bytes record = ToBytes(self);
            ReadLock lock(self.mutex);
            return py::make_tuple(record, static_cast<int>(self.parametrization),
                                  static_cast<int>(self.knotsGeneration));
        },
        [](const py::tuple& t) {
            if (t.size() != 3) ThrowValue("invalid FittedCurve state");
            const int param = t[1].cast<int>();
            const int knots = t[2].cast<int>();
            if (param < 0 || param > 1 || knots < 0 || knots > 1) ThrowValue("invalid FittedCurve state");
            std::unique_ptr<FittedCurve> f = FromBytes(t[0].cast<py::bytes>());
            f->SetParametrization(static_cast<EParam>(param));
            f->SetKnotsGeneration(static_cast<EKnots>(knots));
            return f;
        }));
}

}  // namespace velsdk_py
