// Shape-preserving editing of NURBS surfaces: knot insertion in one direction, extraction
// of a sub-patch and decomposition into Bezier patches.
//
// Free functions over V3dNurbsSurface; the input is never modified. The surface is checked
// first (CheckSurface); on any status other than Success the surfaces of a result are empty
// (V3dNurbsSurface()). Every operation works line by line with the curve operations (each
// column of the grid is a curve along U, each row a curve along V), so it inherits their
// algorithms: knot refinement (The NURBS Book, A5.4), splitting, Bezier decomposition (A5.6).
// Results are clamped in every direction an operation touches.
#pragma once

#include <VelSDK/AnalysisStatus.h>
#include <VelSDK/Export.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <cstddef>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// A surface produced by an editing function.
struct SurfaceEditResult {
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    V3dNurbsSurface surface;
};

/// Checks that a surface can be analysed or edited: valid, 1 <= p < nU and 1 <= q < nV,
/// every column and row passes CheckCurve (finite non-decreasing knots, non-empty ranges,
/// finite points, positive weights, interior multiplicities at most the order).
/// Success or InvalidGeometry.
VELSDK_NURBS_API AnalysisStatus CheckSurface(const V3dNurbsSurface& surface);

/// The parameter direction an operation works in.
enum class SurfaceDirection { U, V };

/// Inserts every value of X (non-decreasing, inside the range of that direction, no knot
/// beyond multiplicity = degree) into the knots of one direction: the same surface on a
/// refined grid. InvalidArgument for an X that breaks these rules (NaN included) or is empty.
VELSDK_NURBS_API SurfaceEditResult InsertSurfaceKnots(const V3dNurbsSurface& surface, SurfaceDirection direction,
                                                      const std::vector<double>& X);

/// The part of the surface over [u0, u1] x [v0, v1] as its own clamped surface (the same
/// parameters). InvalidArgument unless u0 < u1 and v0 < v1 lie inside the ranges (NaN is not).
VELSDK_NURBS_API SurfaceEditResult ExtractSubPatch(const V3dNurbsSurface& surface, double u0, double u1, double v0,
                                                   double v1);

/// One polynomial (rational) patch of a surface: a clamped Bezier surface of degrees (p, q)
/// equal to the source over [u0, u1] x [v0, v1].
struct BezierPatch {
    double u0 = 0.0;
    double u1 = 0.0;
    double v0 = 0.0;
    double v1 = 0.0;
    V3dNurbsSurface surface;
};

/// All patches of a surface: patch (i, j) of the spansU x spansV grid is patches[i * spansV + j].
struct BezierPatchDecomposition {
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    std::size_t spansU = 0;
    std::size_t spansV = 0;
    std::vector<BezierPatch> patches;
};

/// Bezier decomposition of a surface: every column decomposed along U, then every row of
/// the result along V (The NURBS Book, A5.7 done with the curve decomposition A5.6).
VELSDK_NURBS_API BezierPatchDecomposition DecomposeToBezierPatches(const V3dNurbsSurface& surface);

}  // namespace NURBS
}  // namespace VelSDK
