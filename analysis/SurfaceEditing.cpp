// Knot insertion, sub-patches and Bezier patches of NURBS surfaces (see SurfaceEditing.h),
// done line by line with the curve operations.
#include <VelSDK/CurveEditing.h>
#include <VelSDK/SurfaceEditing.h>

#include "analysis/CurveAccess.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace VelSDK {
namespace NURBS {

using detail::P4;

namespace {

// Column j of the grid as a curve along U.
V3dNurbsCurve ColumnCurve(const V3dNurbsSurface& s, std::size_t j) {
    const auto& G = s.GetControlPoints();
    std::vector<P4> P(G.RowCount());
    for (std::size_t i = 0; i < P.size(); ++i) P[i] = G(i, j);
    return V3dNurbsCurve(std::move(P), s.GetKnotsU(), s.GetDegreeU());
}

// Row i of the grid as a curve along V.
V3dNurbsCurve RowCurve(const V3dNurbsSurface& s, std::size_t i) {
    const auto& G = s.GetControlPoints();
    std::vector<P4> P(G.ColumnCount());
    for (std::size_t j = 0; j < P.size(); ++j) P[j] = G(i, j);
    return V3dNurbsCurve(std::move(P), s.GetKnotsV(), s.GetDegreeV());
}

// Applies a curve operation to every column (U) or row (V) and assembles the surface. The
// operation returns false to abandon; every line must come back with the same knots.
bool AlongDirection(const V3dNurbsSurface& s, SurfaceDirection dir,
                    const std::function<bool(const V3dNurbsCurve&, V3dNurbsCurve&)>& op, V3dNurbsSurface& out) {
    const std::size_t lines =
        dir == SurfaceDirection::U ? s.GetControlPoints().ColumnCount() : s.GetControlPoints().RowCount();
    VMatrix<P4> grid;
    std::vector<double> knots;
    std::size_t count = 0;
    for (std::size_t l = 0; l < lines; ++l) {
        V3dNurbsCurve result;
        if (!op(dir == SurfaceDirection::U ? ColumnCurve(s, l) : RowCurve(s, l), result)) return false;
        const auto& P = result.GetControlPoints();
        if (l == 0) {
            knots = result.GetKnots();
            count = P.size();
            grid = dir == SurfaceDirection::U ? VMatrix<P4>(count, lines, P4{}) : VMatrix<P4>(lines, count, P4{});
        } else if (P.size() != count || result.GetKnots() != knots) {
            return false;
        }
        for (std::size_t k = 0; k < count; ++k) (dir == SurfaceDirection::U ? grid(k, l) : grid(l, k)) = P[k];
    }
    if (dir == SurfaceDirection::U)
        out = V3dNurbsSurface(std::move(grid), std::move(knots), s.GetKnotsV(), s.GetDegreeU(), s.GetDegreeV());
    else
        out = V3dNurbsSurface(std::move(grid), s.GetKnotsU(), std::move(knots), s.GetDegreeU(), s.GetDegreeV());
    return true;
}

bool Clamped(const V3dNurbsCurve& c, V3dNurbsCurve& out) { return detail::ClampedCopy(c, out); }

}  // namespace

AnalysisStatus CheckSurface(const V3dNurbsSurface& s) {
    if (!s.IsValid()) return AnalysisStatus::InvalidGeometry;
    const auto& G = s.GetControlPoints();
    for (std::size_t j = 0; j < G.ColumnCount(); ++j)
        if (CheckCurve(ColumnCurve(s, j)) != AnalysisStatus::Success) return AnalysisStatus::InvalidGeometry;
    if (CheckCurve(RowCurve(s, 0)) != AnalysisStatus::Success) return AnalysisStatus::InvalidGeometry;
    return AnalysisStatus::Success;
}

SurfaceEditResult InsertSurfaceKnots(const V3dNurbsSurface& s, SurfaceDirection dir, const std::vector<double>& X) {
    SurfaceEditResult r;
    r.status = CheckSurface(s);
    if (r.status != AnalysisStatus::Success) return r;
    const bool inU = dir == SurfaceDirection::U;
    const auto& U = inU ? s.GetKnotsU() : s.GetKnotsV();
    const std::size_t p = inU ? s.GetDegreeU() : s.GetDegreeV();
    const std::size_t n = inU ? s.GetControlPoints().RowCount() : s.GetControlPoints().ColumnCount();
    bool ok = !X.empty();
    for (std::size_t i = 0; ok && i < X.size(); ++i) {
        ok = X[i] >= U[p] && X[i] <= U[n] && (i == 0 || X[i - 1] <= X[i]);
        if (ok) {
            const auto inKnots =
                std::upper_bound(U.begin(), U.end(), X[i]) - std::lower_bound(U.begin(), U.end(), X[i]);
            const auto inX = std::upper_bound(X.begin(), X.end(), X[i]) - std::lower_bound(X.begin(), X.end(), X[i]);
            const bool end = X[i] == U[p] || X[i] == U[n];
            ok = !end && static_cast<std::size_t>(inKnots + inX) <= p;
        }
    }
    if (!ok) {
        r.status = AnalysisStatus::InvalidArgument;
        return r;
    }
    const bool done = AlongDirection(
        s, dir,
        [&](const V3dNurbsCurve& c, V3dNurbsCurve& out) {
            out = c;
            out.InsertKnots(X);
            return out.GetControlPoints().size() == c.GetControlPoints().size() + X.size();
        },
        r.surface);
    r.status = done ? AnalysisStatus::Success : AnalysisStatus::InvalidGeometry;
    if (!done) r.surface = V3dNurbsSurface();
    return r;
}

SurfaceEditResult ExtractSubPatch(const V3dNurbsSurface& s, double u0, double u1, double v0, double v1) {
    SurfaceEditResult r;
    r.status = CheckSurface(s);
    if (r.status != AnalysisStatus::Success) return r;
    const auto& U = s.GetKnotsU();
    const auto& V = s.GetKnotsV();
    const std::size_t nU = s.GetControlPoints().RowCount();
    const std::size_t nV = s.GetControlPoints().ColumnCount();
    const double ua = U[s.GetDegreeU()], ub = U[nU], va = V[s.GetDegreeV()], vb = V[nV];
    if (!(u0 >= ua && u0 < u1 && u1 <= ub && v0 >= va && v0 < v1 && v1 <= vb)) {
        r.status = AnalysisStatus::InvalidArgument;
        return r;
    }
    auto cut = [](double a, double b) {
        return [a, b](const V3dNurbsCurve& c, V3dNurbsCurve& out) {
            if (!Clamped(c, out)) return false;
            V3dNurbsCurve left, right;
            if (a > out.GetMinParam()) {
                if (!out.SplitAt(a, left, right)) return false;
                out = right;
            }
            if (b < out.GetMaxParam()) {
                if (!out.SplitAt(b, left, right)) return false;
                out = left;
            }
            return CheckCurve(out) == AnalysisStatus::Success;
        };
    };
    V3dNurbsSurface mid;
    const bool done = AlongDirection(s, SurfaceDirection::U, cut(u0, u1), mid) &&
                      AlongDirection(mid, SurfaceDirection::V, cut(v0, v1), r.surface);
    if (!done) {
        r.status = AnalysisStatus::InvalidArgument;  // a cut too close to a knot to leave a piece
        r.surface = V3dNurbsSurface();
    }
    return r;
}

BezierPatchDecomposition DecomposeToBezierPatches(const V3dNurbsSurface& s) {
    BezierPatchDecomposition r;
    r.status = CheckSurface(s);
    if (r.status != AnalysisStatus::Success) return r;
    // Decomposition along one direction as a curve operation: the pieces back to back, each
    // with its own p + 1 points, stored as a curve with multiplicity p + 1 at every break.
    auto split = [](std::vector<double>& breaks) {
        return [&breaks](const V3dNurbsCurve& c, V3dNurbsCurve& out) {
            V3dNurbsCurve clamped;
            if (!Clamped(c, clamped)) return false;
            const std::size_t p = clamped.GetDegree();
            const std::size_t spans = CountSpans(clamped);
            std::vector<P4> pts(spans * (p + 1));
            breaks.assign(spans + 1, 0.0);
            if (DecomposeToBezierInto(clamped, pts.data(), breaks.data()) != spans) return false;
            std::vector<double> U;
            for (std::size_t k = 0; k <= spans; ++k) U.insert(U.end(), p + 1, breaks[k]);
            out = V3dNurbsCurve(std::move(pts), std::move(U), p);
            return true;
        };
    };
    std::vector<double> bu, bv;
    V3dNurbsSurface mid, all;
    if (!AlongDirection(s, SurfaceDirection::U, split(bu), mid) ||
        !AlongDirection(mid, SurfaceDirection::V, split(bv), all)) {
        r.status = AnalysisStatus::InvalidGeometry;
        return r;
    }
    const std::size_t p = s.GetDegreeU(), q = s.GetDegreeV();
    r.spansU = bu.size() - 1;
    r.spansV = bv.size() - 1;
    const auto& G = all.GetControlPoints();
    r.patches.resize(r.spansU * r.spansV);
    for (std::size_t a = 0; a < r.spansU; ++a) {
        for (std::size_t b = 0; b < r.spansV; ++b) {
            BezierPatch& patch = r.patches[a * r.spansV + b];
            patch.u0 = bu[a];
            patch.u1 = bu[a + 1];
            patch.v0 = bv[b];
            patch.v1 = bv[b + 1];
            VMatrix<P4> net(p + 1, q + 1, P4{});
            for (std::size_t i = 0; i <= p; ++i)
                for (std::size_t j = 0; j <= q; ++j) net(i, j) = G(a * (p + 1) + i, b * (q + 1) + j);
            std::vector<double> ku(p + 1, patch.u0), kv(q + 1, patch.v0);
            ku.insert(ku.end(), p + 1, patch.u1);
            kv.insert(kv.end(), q + 1, patch.v1);
            patch.surface = V3dNurbsSurface(std::move(net), std::move(ku), std::move(kv), p, q);
        }
    }
    return r;
}

}  // namespace NURBS
}  // namespace VelSDK
