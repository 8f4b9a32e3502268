// Bindings of the analysis functions as methods of NurbsCurve and NurbsSurface: arc length,
// parameter at length, division, curvature, frames, bounding boxes, degree elevation, knot
// removal, reversal, reparametrisation, Bezier pieces, joins; surface normals, curvatures,
// knot insertion, sub-patches and Bezier patches. Vectorised members release the GIL.
#include "Common.h"

#include <VelSDK/CurveArcLength.h>
#include <VelSDK/CurveEditing.h>
#include <VelSDK/CurveProperties.h>
#include <VelSDK/KnotRemoval.h>
#include <VelSDK/SurfaceEditing.h>
#include <VelSDK/SurfaceProperties.h>

#include <pybind11/stl.h>

#include <cmath>
#include <string>

namespace velsdk_py {

using VelSDK::NURBS::AnalysisStatus;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;
namespace NURBS = VelSDK::NURBS;

namespace {

// ValueError for refused input, a RuntimeWarning for accuracy not reached.
void Check(AnalysisStatus s, const std::string& what) {
    switch (s) {
        case AnalysisStatus::Success:
        case AnalysisStatus::Degenerate:
            return;
        case AnalysisStatus::NotConverged:
            PyErr_WarnEx(PyExc_RuntimeWarning, (what + ": requested accuracy not reached").c_str(), 1);
            return;
        default:
            ThrowValue(what + ": " + NURBS::AnalysisStatusText(s));
    }
}

py::object Scalar(const py::array_t<double>& a, bool scalar) {
    if (scalar) return py::float_(*a.data());
    return a;
}

py::object Length(const V3dNurbsCurve& c, const py::object& a, const py::object& b, double rel, bool withError) {
    NURBS::ArcLengthResult r;
    if (a.is_none() && b.is_none()) {
        r = NURBS::ArcLength(c, rel);
    } else {
        const double lo = a.is_none() ? c.GetMinParam() : a.cast<double>();
        const double hi = b.is_none() ? c.GetMaxParam() : b.cast<double>();
        r = NURBS::ArcLength(c, lo, hi, rel);
    }
    Check(r.status, "length");
    if (withError) return py::make_tuple(r.length, r.errorEstimate);
    return py::float_(r.length);
}

py::object ParamAtLength(const V3dNurbsCurve& c, const DoubleArray& s, double rel) {
    py::array_t<double> out(ShapeWith(s, {}));
    const double* in = s.data();
    double* o = out.mutable_data();
    const std::size_t count = static_cast<std::size_t>(s.size());
    AnalysisStatus worst = AnalysisStatus::Success;
    {
        py::gil_scoped_release release;
        const NURBS::CurveArcLength table(c, rel);
        worst = table.Status();
        if (worst == AnalysisStatus::Success || worst == AnalysisStatus::NotConverged) {
            for (std::size_t i = 0; i < count; ++i) {
                const NURBS::ParameterResult r = table.ParameterAt(in[i]);
                o[i] = r.parameter;
                if (r.status != AnalysisStatus::Success) worst = r.status;
            }
        }
    }
    Check(worst, "param_at_length (lengths must lie in [0, length])");
    return Scalar(out, s.ndim() == 0);
}

py::array_t<double> Divide(const V3dNurbsCurve& c, const py::object& count, const py::object& spacing, double rel) {
    if (count.is_none() == spacing.is_none()) ThrowValue("divide: give exactly one of count and spacing");
    NURBS::DivisionResult r;
    if (!count.is_none()) {
        const long n = count.cast<long>();
        if (n <= 0) ThrowValue("divide: count must be positive");
        py::gil_scoped_release release;
        r = NURBS::DivideByCount(c, static_cast<std::size_t>(n), rel);
    } else {
        const double d = spacing.cast<double>();
        py::gil_scoped_release release;
        r = NURBS::DivideBySpacing(c, d, rel);
    }
    Check(r.status, "divide");
    return FromVector(r.parameters);
}

py::object Curvature(const V3dNurbsCurve& c, const DoubleArray& u, bool torsion) {
    py::array_t<double> k(ShapeWith(u, {}));
    py::array_t<double> t(ShapeWith(u, {}));
    const double* in = u.data();
    double* ko = k.mutable_data();
    double* to = t.mutable_data();
    const std::size_t count = static_cast<std::size_t>(u.size());
    AnalysisStatus s;
    {
        py::gil_scoped_release release;
        if (!torsion) {
            s = NURBS::Curvatures(c, in, count, ko);
        } else {
            s = NURBS::CheckCurve(c);
            for (std::size_t i = 0; s == AnalysisStatus::Success && i < count; ++i) {
                const NURBS::CurveLocalProperties lp = NURBS::LocalProperties(c, in[i]);
                ko[i] = lp.curvature;
                to[i] = lp.torsion;
                if (lp.status == AnalysisStatus::InvalidArgument) ko[i] = to[i] = NAN;
            }
        }
    }
    Check(s, "curvature");
    if (torsion) return py::make_tuple(Scalar(k, u.ndim() == 0), Scalar(t, u.ndim() == 0));
    return Scalar(k, u.ndim() == 0);
}

py::dict Frames(const V3dNurbsCurve& c, const DoubleArray& u, const std::string& kind, const py::object& normal) {
    const std::vector<double> us = ToVector(u, "u", true);
    py::array_t<double> pts({static_cast<py::ssize_t>(us.size()), py::ssize_t{3}});
    py::array_t<double> tan(pts.request().shape), nor(pts.request().shape), bin(pts.request().shape);
    double twist = NAN;
    AnalysisStatus status = AnalysisStatus::Success;
    auto put = [](py::array_t<double>& a, std::size_t i, const Point3& p) {
        for (std::size_t j = 0; j < 3; ++j) a.mutable_data()[3 * i + j] = p[j];
    };
    if (kind == "frenet") {
        for (std::size_t i = 0; i < us.size(); ++i) {
            const NURBS::CurveLocalProperties lp = NURBS::LocalProperties(c, us[i]);
            if (lp.status != AnalysisStatus::Success && lp.status != AnalysisStatus::Degenerate) status = lp.status;
            put(pts, i, lp.point);
            put(tan, i, lp.tangent);
            put(nor, i, lp.normal);
            put(bin, i, lp.binormal);
        }
    } else if (kind == "rotation_minimizing") {
        const Point3 n0 = normal.is_none() ? Point3{0.0, 0.0, 0.0} : ToPoint3(normal, "initial_normal");
        NURBS::FrameResult r;
        {
            py::gil_scoped_release release;
            r = NURBS::RotationMinimizingFrames(c, us, n0);
        }
        status = r.status;
        twist = r.closingTwist;
        for (std::size_t i = 0; i < r.frames.size(); ++i) {
            put(pts, i, r.frames[i].point);
            put(tan, i, r.frames[i].tangent);
            put(nor, i, r.frames[i].normal);
            put(bin, i, r.frames[i].binormal);
        }
    } else {
        ThrowValue("frames: kind must be 'rotation_minimizing' or 'frenet'");
    }
    Check(status, "frames (parameters must be increasing and inside the domain)");
    py::dict d;
    d["points"] = pts;
    d["tangents"] = tan;
    d["normals"] = nor;
    d["binormals"] = bin;
    d["closing_twist"] = twist;
    return d;
}

template <typename Geometry>
py::tuple BoundingBox(const Geometry& c, double slack) {
    const NURBS::BoundingBox b = NURBS::TightBoundingBox(c, slack);
    Check(b.status, "bounding_box");
    py::array_t<double> lo(3), hi(3);
    for (py::ssize_t j = 0; j < 3; ++j) {
        lo.mutable_data()[j] = b.lower[static_cast<std::size_t>(j)];
        hi.mutable_data()[j] = b.upper[static_cast<std::size_t>(j)];
    }
    return py::make_tuple(lo, hi);
}

V3dNurbsCurve Edited(const NURBS::CurveEditResult& r, const std::string& what) {
    Check(r.status, what);
    return r.curve;
}

py::tuple RemoveKnots(const V3dNurbsCurve& c, double tolerance, const py::object& u, long count) {
    if (count <= 0) ThrowValue("remove_knots: count must be positive");
    NURBS::KnotRemovalResult r;
    if (u.is_none()) {
        py::gil_scoped_release release;
        r = NURBS::ReduceKnots(c, tolerance);
    } else {
        const double at = u.cast<double>();
        py::gil_scoped_release release;
        r = NURBS::RemoveKnot(c, at, static_cast<std::size_t>(count), tolerance);
    }
    Check(r.status, "remove_knots (tolerance > 0; u an interior knot)");
    return py::make_tuple(r.curve, r.removed, r.deviationBound);
}

py::list BezierPieces(const V3dNurbsCurve& c) {
    const NURBS::BezierDecomposition d = NURBS::DecomposeToBezier(c);
    Check(d.status, "bezier_pieces");
    py::list out;
    for (const auto& p : d.pieces) out.append(py::make_tuple(p.u0, p.u1, p.curve));
    return out;
}

py::tuple Join(const V3dNurbsCurve& a, const V3dNurbsCurve& b, double tolerance, double angle) {
    const NURBS::JoinResult r = NURBS::Join(a, b, tolerance, angle);
    if (r.status == AnalysisStatus::Gap)
        ThrowValue("join: the curves do not meet (gap " + std::to_string(r.gap) + " > tolerance)");
    Check(r.status, "join");
    py::dict report;
    report["gap"] = r.gap;
    report["tangent_angle"] = r.tangentAngle;
    report["g1"] = r.g1;
    return py::make_tuple(r.curve, report);
}

// (u, v) broadcast against each other.
std::pair<DoubleArray, DoubleArray> Params(const py::object& u, const py::object& v) {
    py::tuple both =
        py::module_::import("numpy").attr("broadcast_arrays")(DoubleArray::ensure(u), DoubleArray::ensure(v));
    return {DoubleArray::ensure(both[0]), DoubleArray::ensure(both[1])};
}

py::array_t<double> Normal(const V3dNurbsSurface& s, const py::object& uArg, const py::object& vArg) {
    const auto uv = Params(uArg, vArg);
    py::array_t<double> out(ShapeWith(uv.first, {3}));
    const double* u = uv.first.data();
    const double* v = uv.second.data();
    double* o = out.mutable_data();
    const std::size_t count = static_cast<std::size_t>(uv.first.size());
    AnalysisStatus s0 = NURBS::CheckSurface(s);
    Check(s0, "normal");
    {
        py::gil_scoped_release release;
        for (std::size_t i = 0; i < count; ++i) {
            const NURBS::SurfaceLocalProperties sp = NURBS::SurfaceProperties(s, u[i], v[i]);
            for (std::size_t j = 0; j < 3; ++j)
                o[3 * i + j] = sp.status == AnalysisStatus::InvalidArgument ? NAN : sp.normal[j];
        }
    }
    return out;
}

py::dict Curvatures(const V3dNurbsSurface& s, const py::object& uArg, const py::object& vArg) {
    const auto uv = Params(uArg, vArg);
    const auto shape = ShapeWith(uv.first, {});
    py::array_t<double> k1(shape), k2(shape), K(shape), H(shape);
    py::array_t<double> n(ShapeWith(uv.first, {3})), d1(ShapeWith(uv.first, {3})), d2(ShapeWith(uv.first, {3}));
    py::array_t<bool> degenerate(shape);
    Check(NURBS::CheckSurface(s), "curvatures");
    const double* u = uv.first.data();
    const double* v = uv.second.data();
    const std::size_t count = static_cast<std::size_t>(uv.first.size());
    double *pk1 = k1.mutable_data(), *pk2 = k2.mutable_data(), *pK = K.mutable_data(), *pH = H.mutable_data();
    double *pn = n.mutable_data(), *pd1 = d1.mutable_data(), *pd2 = d2.mutable_data();
    bool* pdeg = degenerate.mutable_data();
    {
        py::gil_scoped_release release;
        for (std::size_t i = 0; i < count; ++i) {
            NURBS::SurfaceLocalProperties sp = NURBS::SurfaceProperties(s, u[i], v[i]);
            if (sp.status == AnalysisStatus::InvalidArgument) {
                sp.k1 = sp.k2 = sp.gaussian = sp.mean = NAN;
                sp.normal = sp.direction1 = sp.direction2 = Point3{NAN, NAN, NAN};
            }
            pk1[i] = sp.k1;
            pk2[i] = sp.k2;
            pK[i] = sp.gaussian;
            pH[i] = sp.mean;
            pdeg[i] = sp.status != AnalysisStatus::Success;
            for (std::size_t j = 0; j < 3; ++j) {
                pn[3 * i + j] = sp.normal[j];
                pd1[3 * i + j] = sp.direction1[j];
                pd2[3 * i + j] = sp.direction2[j];
            }
        }
    }
    py::dict d;
    d["k1"] = k1;
    d["k2"] = k2;
    d["gaussian"] = K;
    d["mean"] = H;
    d["normal"] = n;
    d["direction1"] = d1;
    d["direction2"] = d2;
    d["degenerate"] = degenerate;
    return d;
}

V3dNurbsSurface SurfaceInsert(const V3dNurbsSurface& s, const DoubleArray& knots, const std::string& direction) {
    if (direction != "u" && direction != "v") ThrowValue("insert_knots: direction must be 'u' or 'v'");
    const NURBS::SurfaceEditResult r = NURBS::InsertSurfaceKnots(
        s, direction == "u" ? NURBS::SurfaceDirection::U : NURBS::SurfaceDirection::V, ToVector(knots, "knots", true));
    Check(r.status, "insert_knots (sorted values inside the domain, multiplicity at most the degree)");
    return r.surface;
}

V3dNurbsSurface SubPatch(const V3dNurbsSurface& s, double u0, double u1, double v0, double v1) {
    const NURBS::SurfaceEditResult r = NURBS::ExtractSubPatch(s, u0, u1, v0, v1);
    Check(r.status, "sub_patch (u0 < u1 and v0 < v1 inside the domains)");
    return r.surface;
}

py::list BezierPatches(const V3dNurbsSurface& s) {
    const NURBS::BezierPatchDecomposition d = NURBS::DecomposeToBezierPatches(s);
    Check(d.status, "bezier_patches");
    py::list out;
    for (const auto& p : d.patches) out.append(py::make_tuple(p.u0, p.u1, p.v0, p.v1, p.surface));
    return out;
}

}  // namespace

void BindAnalysis(py::module_& m) {
    auto curve = py::reinterpret_borrow<py::class_<V3dNurbsCurve>>(m.attr("NurbsCurve"));
    curve.def("length", &Length, py::arg("a") = py::none(), py::arg("b") = py::none(), py::arg("rel_accuracy") = 1e-12,
              py::arg("with_error") = false,
              "Arc length of the domain or of [a, b] (adaptive Gauss-Legendre per Bezier piece); with_error=True "
              "returns (length, error_estimate).");
    curve.def("param_at_length", &ParamAtLength, py::arg("s"), py::arg("rel_accuracy") = 1e-12,
              "Parameters at arc lengths s (any shape, measured from the domain start).");
    curve.def("divide", &Divide, py::arg("count") = py::none(), py::arg("spacing") = py::none(),
              py::arg("rel_accuracy") = 1e-12,
              "Parameters of an equal-length division into count pieces (both ends included), or at lengths 0, "
              "spacing, 2 spacing, ...");
    curve.def("curvature", &Curvature, py::arg("u"), py::arg("torsion") = false,
              "Curvature at u (any shape; NaN where the speed is zero); torsion=True returns (curvature, torsion).");
    curve.def("frames", &Frames, py::arg("u"), py::arg("kind") = "rotation_minimizing",
              py::arg("initial_normal") = py::none(),
              "Frames along increasing parameters u: dict of points, tangents, normals, binormals (each (k, 3)) and "
              "closing_twist (radians, NaN unless the curve is closed and u spans the domain).");
    curve.def("bounding_box", &BoundingBox<V3dNurbsCurve>, py::arg("slack") = 1e-9,
              "Tight axis-aligned box (lower, upper), within slack of the exact box.");
    curve.def(
        "elevate_degree",
        [](const V3dNurbsCurve& c, int t) { return Edited(NURBS::ElevateDegree(c, t), "elevate_degree"); },
        py::arg("t") = 1, "The same curve with degree raised by t (clamped).");
    curve.def("remove_knots", &RemoveKnots, py::arg("tolerance"), py::arg("u") = py::none(), py::arg("count") = 1,
              "Knot removal within tolerance: every knot that can go (u=None), or knot u up to count times. Returns "
              "(curve, removed, deviation_bound).");
    curve.def(
        "reverse", [](const V3dNurbsCurve& c) { return Edited(NURBS::Reverse(c), "reverse"); },
        "The same curve traversed the other way over the same domain.");
    curve.def(
        "reparametrize",
        [](const V3dNurbsCurve& c, double a, double b) {
            return Edited(NURBS::Reparametrize(c, a, b), "reparametrize");
        },
        py::arg("a"), py::arg("b"), "The same curve over the domain [a, b] (affine).");
    curve.def("bezier_pieces", &BezierPieces, "List of (u0, u1, curve) Bezier pieces in parameter order.");
    curve.def("join", &Join, py::arg("other"), py::arg("tolerance") = 1e-9, py::arg("angle_tolerance") = 1e-9,
              "Joins other to the end of this curve: (curve, {'gap', 'tangent_angle', 'g1'}).");

    auto surface = py::reinterpret_borrow<py::class_<V3dNurbsSurface>>(m.attr("NurbsSurface"));
    surface.def("normal", &Normal, py::arg("u"), py::arg("v"),
                "Unit normals at (u, v) broadcast together, shape (..., 3); NaN where Su x Sv vanishes.");
    surface.def("curvatures", &Curvatures, py::arg("u"), py::arg("v"),
                "Principal curvatures k1 >= k2, gaussian, mean, normal, direction1, direction2 and the degenerate "
                "flag at (u, v), as a dict of arrays.");
    surface.def("insert_knots", &SurfaceInsert, py::arg("knots"), py::arg("direction") = "u",
                "A new surface with knots inserted in direction 'u' or 'v'.");
    surface.def("sub_patch", &SubPatch, py::arg("u0"), py::arg("u1"), py::arg("v0"), py::arg("v1"),
                "The part over [u0, u1] x [v0, v1] as its own surface.");
    surface.def("bounding_box", &BoundingBox<V3dNurbsSurface>, py::arg("slack") = 1e-9,
                "Tight axis-aligned box (lower, upper), within slack of the exact box.");
    surface.def("bezier_patches", &BezierPatches, "List of (u0, u1, v0, v1, surface) Bezier patches, row by row in u.");
}

}  // namespace velsdk_py
