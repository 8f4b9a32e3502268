// Bindings of the CAD exchange (STEP, IGES) and the tessellation: save_step, load_step,
// save_iges, load_iges, tessellate.
#include "Common.h"

#include <VelSDK/IgesExchange.h>
#include <VelSDK/MeshWriters.h>
#include <VelSDK/StepExchange.h>
#include <VelSDK/SurfaceTessellation.h>

#include <cmath>

namespace velsdk_py {

using VelSDK::Exchange::CadModel;
using VelSDK::Exchange::ExchangeReport;
using VelSDK::Exchange::LengthUnit;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;

namespace {

LengthUnit ToUnit(const std::string& unit) {
    if (unit == "mm") return LengthUnit::Millimetre;
    if (unit == "m") return LengthUnit::Metre;
    ThrowValue("unit must be 'mm' or 'm'");
}

// One NurbsCurve or NurbsSurface, or a sequence of them, as a model.
CadModel ToModel(const py::handle& objects) {
    CadModel m;
    auto add = [&](const py::handle& o) {
        if (py::isinstance<V3dNurbsCurve>(o)) {
            m.curves.push_back(o.cast<V3dNurbsCurve>());
        } else if (py::isinstance<V3dNurbsSurface>(o)) {
            m.surfaces.push_back(o.cast<V3dNurbsSurface>());
        } else {
            throw py::type_error("expected NurbsCurve or NurbsSurface objects");
        }
    };
    if (py::isinstance<V3dNurbsCurve>(objects) || py::isinstance<V3dNurbsSurface>(objects)) {
        add(objects);
    } else {
        for (const py::handle o : py::iter(objects)) add(o);
    }
    return m;
}

std::string PathOf(const py::object& path) { return py::str(py::module_::import("os").attr("fspath")(path)); }

void Save(const py::object& path, const py::object& objects, const std::string& unit, bool step) {
    const CadModel m = ToModel(objects);
    const std::string p = PathOf(path);
    const LengthUnit u = ToUnit(unit);
    ExchangeReport r;
    {
        py::gil_scoped_release release;
        if (step) {
            VelSDK::Exchange::StepWriteOptions o;
            o.unit = u;
            r = VelSDK::Exchange::SaveStep(p, m, o);
        } else {
            VelSDK::Exchange::IgesWriteOptions o;
            o.unit = u;
            r = VelSDK::Exchange::SaveIges(p, m, o);
        }
    }
    if (!r.ok) ThrowValue(p + ": " + r.error);
}

py::list Load(const py::object& path, bool step) {
    const std::string p = PathOf(path);
    CadModel m;
    ExchangeReport r;
    {
        py::gil_scoped_release release;
        r = step ? VelSDK::Exchange::LoadStep(p, m) : VelSDK::Exchange::LoadIges(p, m);
    }
    if (!r.ok) {
        if (r.error.rfind("cannot open", 0) == 0) {
            PyErr_SetString(PyExc_OSError, r.error.c_str());
            throw py::error_already_set();
        }
        ThrowValue(p + ":" + std::to_string(r.line) + ": " + r.error.substr(r.error.find(": ") + 2));
    }
    py::list out;
    for (auto& c : m.curves) out.append(py::cast(std::move(c)));
    for (auto& s : m.surfaces) out.append(py::cast(std::move(s)));
    return out;
}

py::tuple Tessellate(const V3dNurbsSurface& surface, double tolerance, double angle, const py::object& path) {
    VelSDK::Mesh::TessellationOptions o;
    o.chordTolerance = tolerance;
    o.angleTolerance = angle;
    VelSDK::Mesh::TriangleMesh mesh;
    VelSDK::Mesh::TessellationReport r;
    {
        py::gil_scoped_release release;
        r = VelSDK::Mesh::Tessellate(surface, o, mesh);
    }
    if (!r.ok) ThrowValue(r.error);
    if (!path.is_none()) {
        const std::string p = PathOf(path);
        std::string error;
        bool ok;
        {
            py::gil_scoped_release release;
            ok = VelSDK::Mesh::SaveMesh(p, mesh, error);
        }
        if (!ok) ThrowValue(error);
    }
    const py::ssize_t nv = static_cast<py::ssize_t>(mesh.vertices.size());
    const py::ssize_t nt = static_cast<py::ssize_t>(mesh.triangles.size());
    py::array_t<double> vertices({nv, py::ssize_t{3}}), normals({nv, py::ssize_t{3}});
    py::array_t<std::int64_t> faces({nt, py::ssize_t{3}});
    double* v = vertices.mutable_data();
    double* n = normals.mutable_data();
    std::int64_t* f = faces.mutable_data();
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i)
        for (int k = 0; k < 3; ++k) {
            v[3 * i + static_cast<std::size_t>(k)] = mesh.vertices[i][k];
            n[3 * i + static_cast<std::size_t>(k)] = mesh.normals[i][k];
        }
    for (std::size_t i = 0; i < mesh.triangles.size(); ++i)
        for (int k = 0; k < 3; ++k)
            f[3 * i + static_cast<std::size_t>(k)] = mesh.triangles[i][static_cast<std::size_t>(k)];
    return py::make_tuple(vertices, faces, normals);
}

}  // namespace

void BindExchange(py::module_& m) {
    m.def(
        "save_step",
        [](const py::object& path, const py::object& objects, const std::string& unit) {
            Save(path, objects, unit, true);
        },
        py::arg("path"), py::arg("objects"), py::arg("unit") = "mm",
        "Write NurbsCurve and NurbsSurface objects (one, or a sequence) into a STEP file (ISO 10303-21, AP214):\n"
        "B_SPLINE_CURVE_WITH_KNOTS / B_SPLINE_SURFACE_WITH_KNOTS, rational ones as complex instances, in one\n"
        "product's geometric set; unit 'mm' or 'm'. Numbers are written so that load_step gives them back\n"
        "exactly. ValueError for objects that cannot be written (weights <= 0, non-finite values) or a path\n"
        "that cannot be written.");
    m.def(
        "load_step", [](const py::object& path) { return Load(path, true); }, py::arg("path"),
        "The B-spline curves and surfaces of a STEP file: a list of NurbsCurve objects followed by NurbsSurface\n"
        "objects, each in file order. Other entities are skipped. ValueError 'path:line: problem' for a file\n"
        "that is malformed or holds no B-spline curve or surface; OSError when it cannot be read.");
    m.def(
        "save_iges",
        [](const py::object& path, const py::object& objects, const std::string& unit) {
            Save(path, objects, unit, false);
        },
        py::arg("path"), py::arg("objects"), py::arg("unit") = "mm",
        "Write NurbsCurve and NurbsSurface objects into an IGES 5.3 file (entities 126 and 128).");
    m.def(
        "load_iges", [](const py::object& path) { return Load(path, false); }, py::arg("path"),
        "The entities 126 and 128 of an IGES file as NurbsCurve and NurbsSurface objects (curves first).");
    m.def("tessellate", &Tessellate, py::arg("surface"), py::arg("tolerance"), py::arg("angle") = 0.0,
          py::arg("path") = py::none(),
          "Triangulate a surface under a chord tolerance (and an angle tolerance in radians between the\n"
          "normals of a cell; 0 = off): adaptive per Bezier patch and crack-free. Returns (vertices (n, 3),\n"
          "faces (m, 3) int64, normals (n, 3)); faces wind counter-clockwise seen from the normals. With path\n"
          "(.stl, .ply, .obj) the mesh is also written there.");
}

}  // namespace velsdk_py
