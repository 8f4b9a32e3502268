// Tessellation of NURBS surfaces into triangle meshes under a chord (sag) tolerance and an
// optional normal-angle tolerance, adaptive in every Bezier patch and crack-free; polylines
// of NURBS curves under the same tolerances; the deviation of a mesh from its surface.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace VelSDK {
namespace Mesh {

/// Triangles over shared vertices; each vertex carries its surface parameters (u, v) and the
/// unit surface normal there (Su x Sv, so triangles wind counter-clockwise seen from the side
/// the normal points to).
struct VELSDK_NURBS_API TriangleMesh {
    std::vector<Math::point<double, 3>> vertices;
    std::vector<Math::point<double, 3>> normals;
    std::vector<std::array<double, 2>> parameters;
    std::vector<std::array<std::uint32_t, 3>> triangles;
};

struct VELSDK_NURBS_API TessellationOptions {
    /// Largest distance between the mesh and the surface, estimated at the edge midpoints and
    /// centroids of every cell's triangles (> 0).
    double chordTolerance = 0.01;
    /// Largest angle in radians between the normals at the corners of a cell; 0 turns the test
    /// off.
    double angleTolerance = 0.0;
    /// Refinement stops when the mesh would exceed this many triangles (report: budgetReached).
    std::size_t maxTriangles = std::size_t{1} << 22;
};

struct VELSDK_NURBS_API TessellationReport {
    bool ok = false;
    std::string error;
    std::size_t patches = 0;        ///< Bezier patches (knot spans U x V)
    std::size_t cells = 0;          ///< leaf cells of the refinement
    std::size_t triangles = 0;      ///< triangles in the mesh (degenerate ones dropped)
    double estimatedDeviation = 0;  ///< largest sag found by the refinement test
    bool budgetReached = false;     ///< refinement stopped at maxTriangles or the depth limit
};

/// Triangulates a surface (The NURBS Book, A5.6 Bezier decomposition through
/// DecomposeToBezierPatches; then per patch a quadtree refinement in the parameter domain).
/// A cell is split in four until the surface at its four edge midpoints, its centre and the
/// centroids and quarter points of its two triangles lies within chordTolerance of the
/// triangles, and (optionally) its corner normals within angleTolerance. Leaves are then
/// triangulated with every vertex that a finer neighbour put on their edges (two triangles
/// when there are none, else a fan from a corner whose edges are whole, else from the cell
/// centre), so no edge ends inside another: the mesh has no T-junction gaps, also across
/// patches, since shared vertices are evaluated once from their exact dyadic parameters.
/// Triangles of zero area (at collapsed edges such as poles) are dropped; normals at points
/// where Su x Sv vanishes are taken a little inside the patch. Depth limit: 2^20 cells per
/// patch side. Fails (empty mesh) for a surface that cannot be decomposed (not valid,
/// non-finite, weights <= 0) or a tolerance that is not a positive number.
VELSDK_NURBS_API TessellationReport Tessellate(const NURBS::V3dNurbsSurface& surface,
                                               const TessellationOptions& options, TriangleMesh& mesh);

/// Deviation of a mesh from its surface as a mesh user would measure it: the centroid and
/// the three edge midpoints of every triangle projected onto the surface (Newton point
/// inversion, The NURBS Book 6.1, started at the triangle's own parameters, kept inside the
/// domain); the largest distance. NaN for an empty mesh.
VELSDK_NURBS_API double MeasureDeviation(const NURBS::V3dNurbsSurface& surface, const TriangleMesh& mesh);

/// A polyline through points of a curve, with their parameters.
struct VELSDK_NURBS_API CurvePolyline {
    std::vector<double> parameters;
    std::vector<Math::point<double, 3>> points;
};

/// Polyline of any NURBS curve: every knot span is bisected until the curve at the quarter
/// points and the midpoint of each piece lies within chordTolerance of its chord and the
/// tangents at its ends turn by at most angleTolerance (0: off); at most 2^20 pieces per span
/// and maxPoints in all. Empty for a curve that is not valid or a tolerance that is not positive.
VELSDK_NURBS_API CurvePolyline TessellateCurve(const NURBS::V3dNurbsCurve& curve, double chordTolerance,
                                               double angleTolerance = 0.0,
                                               std::size_t maxPoints = std::size_t{1} << 22);

}  // namespace Mesh
}  // namespace VelSDK
