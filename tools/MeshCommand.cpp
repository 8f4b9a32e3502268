// `nurbs mesh`: triangulate a surface under a chord (and angle) tolerance and write STL, PLY
// or OBJ, printing the triangle count and the measured maximum deviation.
#include "Commands.h"
#include "CurveFile.h"
#include "ExchangeFile.h"
#include "SurfaceFile.h"
#include "ToolError.h"

#include <VelSDK/MeshWriters.h>
#include <VelSDK/SurfaceTessellation.h>

#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>

namespace nurbs_tool {

namespace {

struct MeshOptions {
    std::string surface;
    double tolerance = 0.0;
    double angle = 0.0;  ///< degrees; 0 = off
    std::string output;
    bool quiet = false;
};

int RunMesh(const MeshOptions& o) {
    const std::string ext = CurveFile::Extension(o.output);
    if (ext != ".stl" && ext != ".ply" && ext != ".obj") throw UsageError(o.output + ": write .stl, .ply or .obj");
    if (!(o.tolerance > 0) || !std::isfinite(o.tolerance)) throw UsageError("--tolerance: a positive number");
    if (!(o.angle >= 0 && o.angle < 180)) throw UsageError("--angle: degrees from 0 (off) to below 180");
    VelSDK::NURBS::V3dNurbsSurface surface;
    if (ExchangeFile::IsExchange(o.surface)) {
        const auto model = ExchangeFile::Load(o.surface, o.quiet);
        if (model.surfaces.empty()) throw InputError(Where(o.surface, 0, "the file holds no surface"));
        surface = model.surfaces[0];
    } else {
        surface = SurfaceFile::Load(o.surface);
    }
    VelSDK::Mesh::TessellationOptions options;
    options.chordTolerance = o.tolerance;
    options.angleTolerance = o.angle * M_PI / 180.0;
    VelSDK::Mesh::TriangleMesh mesh;
    const auto t0 = std::chrono::steady_clock::now();
    const auto report = VelSDK::Mesh::Tessellate(surface, options, mesh);
    const auto t1 = std::chrono::steady_clock::now();
    if (!report.ok) throw InputError(Where(o.surface, 0, report.error));
    std::string error;
    if (!VelSDK::Mesh::SaveMesh(o.output, mesh, error)) throw InputError(error);
    if (!o.quiet) {
        const double measured = VelSDK::Mesh::MeasureDeviation(surface, mesh);
        std::cout << "patches: " << report.patches << '\n'
                  << "triangles: " << mesh.triangles.size() << '\n'
                  << "vertices: " << mesh.vertices.size() << '\n'
                  << "max deviation (centroids and edge midpoints projected): " << measured << '\n'
                  << "tessellation time: " << std::chrono::duration<double, std::milli>(t1 - t0).count() << " ms\n";
        if (report.budgetReached) std::cout << "note: refinement stopped at its triangle budget\n";
        std::cout << "written: " << o.output << '\n';
    }
    return kExitSuccess;
}

}  // namespace

void AddMeshCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<MeshOptions>();
    CLI::App* cmd = app.add_subcommand("mesh", "Triangulate a surface under a chord tolerance (STL, PLY, OBJ)");
    cmd->add_option("SURFACE", o->surface, "surface file (.xml, or the first surface of .step/.igs)")->required();
    cmd->add_option("-t,--tolerance", o->tolerance, "largest distance between mesh and surface")->required();
    cmd->add_option("--angle", o->angle, "largest angle between normals of a cell, in degrees (0 = off)");
    cmd->add_option("-o,--output", o->output, "mesh file to write (.stl binary, .ply with normals, .obj)")->required();
    cmd->add_flag("-q,--quiet", o->quiet, "print no summary");
    cmd->footer(
        "The mesh is adaptive per Bezier patch and has no cracks between cells that refine differently. The "
        "deviation printed is measured by projecting every triangle's centroid and edge midpoints onto the "
        "surface.\nExamples:\n  nurbs mesh volcano.xml --tolerance 0.5 -o volcano.stl\n"
        "  nurbs mesh part.step --tolerance 0.01 --angle 10 -o part.ply");
    cmd->callback([o, &exitCode] { exitCode = RunMesh(*o); });
}

}  // namespace nurbs_tool
