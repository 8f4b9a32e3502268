// The surface subcommands of the nurbs program: surface fit, surface eval, surface project.
#include "Commands.h"

#include "CsvOutput.h"
#include "CurveFile.h"
#include "PointReader.h"
#include "Progress.h"
#include "SurfaceFile.h"
#include "ToolError.h"

#include <VelSDK/Generators.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace nurbs_tool {

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;

namespace {

std::string Short(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

/// n values evenly spaced over [a, b], ends exact.
std::vector<double> Spaced(double a, double b, std::size_t n) {
    std::vector<double> v(n, a);
    for (std::size_t i = 1; i < n; ++i)
        v[i] = i + 1 == n ? b : a + (b - a) * (static_cast<double>(i) / static_cast<double>(n - 1));
    return v;
}

}  // namespace

// --- surface fit --------------------------------------------------------------------------------

int RunSurfaceFit(const SurfaceFitOptions& o) {
    if (CurveFile::Extension(o.output) != ".xml")
        throw UsageError(o.output + ": surfaces are stored as XML documents (.xml)");
    const std::size_t p = static_cast<std::size_t>(o.degree[0]);
    const std::size_t q = static_cast<std::size_t>(o.degree[1]);
    if (p > 15 || q > 15) throw UsageError("--degree: degrees from 1 to 15");
    const PointGrid grid = PointReader::ReadGrid(o.grid);
    const std::size_t m = grid.rows;
    const std::size_t n = grid.cols;
    if (m < p + 1 || n < q + 1)
        throw InputError(Where(grid.file, 0,
                               "a " + std::to_string(m) + " x " + std::to_string(n) +
                                   " grid is too small for degrees " + std::to_string(p) + "," + std::to_string(q) +
                                   " (at least " + std::to_string(p + 1) + " x " + std::to_string(q + 1) +
                                   " points needed)"));
    const auto params = VelSDK::NURBS::UniformParameterization(m, n);
    V3dNurbsSurface surface;
    bool ok;
    if (o.count.empty()) {
        ok = surface.GlobalInterpolation(grid.points, params.first, params.second,
                                         VelSDK::NURBS::KnotAveraging(params.first, p),
                                         VelSDK::NURBS::KnotAveraging(params.second, q), p, q);
    } else {
        const std::size_t nu = o.count[0];
        const std::size_t nv = o.count[1];
        if (nu < p + 1 || nu > m || nv < q + 1 || nv > n)
            throw UsageError("--count: " + std::to_string(nu) + "," + std::to_string(nv) +
                             " control points must lie between " + std::to_string(p + 1) + "," + std::to_string(q + 1) +
                             " (degree + 1) and the grid size " + std::to_string(m) + "," + std::to_string(n));
        ok = surface.LeastSquaresApproximation(grid.points, params.first, params.second,
                                               VelSDK::NURBS::UniformKnots(nu + p + 1, p),
                                               VelSDK::NURBS::UniformKnots(nv + q + 1, q), nu, nv, p, q);
    }
    if (!ok) throw InputError(Where(grid.file, 0, "the surface fit failed: its systems could not be solved"));

    double maxError = 0.0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const double e =
                VelSDK::Math::Distance(surface.EvaluateAt(params.first[i], params.second[j]), grid.points(i, j));
            if (e > maxError || std::isnan(e)) {
                maxError = e;
                at = i * n + j;
            }
        }
    SurfaceFile::Save(surface, o.output);
    if (!o.quiet) {
        std::cout << "grid: " << m << " x " << n << '\n'
                  << "degrees: " << p << ", " << q << '\n'
                  << "control points: " << surface.GetControlPoints().RowCount() << " x "
                  << surface.GetControlPoints().ColumnCount() << '\n'
                  << (o.count.empty() ? "max interpolation error: " : "max approximation error: ") << Short(maxError)
                  << " (row " << at / n << ", column " << at % n << ")\n"
                  << "written: " << o.output << '\n';
    }
    return kExitSuccess;
}

// --- surface eval -------------------------------------------------------------------------------

int RunSurfaceEval(const SurfaceEvalOptions& o) {
    const V3dNurbsSurface surface = SurfaceFile::Load(o.surface);
    std::vector<std::pair<double, double>> uv;
    if (!o.at.empty()) {
        for (std::size_t i = 0; i + 1 < o.at.size(); i += 2) uv.emplace_back(o.at[i], o.at[i + 1]);
    } else {
        const std::vector<double> us = Spaced(surface.GetMinParamU(), surface.GetMaxParamU(), o.samples[0]);
        const std::vector<double> vs = Spaced(surface.GetMinParamV(), surface.GetMaxParamV(), o.samples[1]);
        for (double u : us)
            for (double v : vs) uv.emplace_back(u, v);
    }
    const std::size_t d = static_cast<std::size_t>(o.derivatives);
    std::vector<std::string> header{"u", "v", "x", "y", "z"};
    for (std::size_t s = 1; s <= d; ++s)
        for (std::size_t k = s + 1; k-- > 0;)
            for (const char* c : {"x", "y", "z"}) header.push_back("d" + std::to_string(k) + std::to_string(s - k) + c);
    CsvOutput csv(o.output);
    csv.Header(header);
    Progress progress("surface eval", uv.size());
    for (std::size_t i = 0; i < uv.size(); ++i) {
        const double u = uv[i].first;
        const double v = uv[i].second;
        csv.AddNumber(u);
        csv.AddNumber(v);
        if (d == 0) {
            const point<double, 3> p = surface.EvaluateAt(u, v);
            for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(p[c]);
        } else {
            const VMatrix<point<double, 3>> D = surface.DeriveAt(u, v, d);
            for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(D(0, 0)[c]);
            for (std::size_t s = 1; s <= d; ++s)
                for (std::size_t k = s + 1; k-- > 0;)
                    for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(D(k, s - k)[c]);
        }
        csv.EndRow();
        progress.Update(i + 1);
    }
    csv.Finish();
    return kExitSuccess;
}

// --- surface project ----------------------------------------------------------------------------

int RunSurfaceProject(const SurfaceProjectOptions& o) {
    const V3dNurbsSurface surface = SurfaceFile::Load(o.surface);
    const PointList queries = PointReader::ReadPoints(o.points);
    CsvOutput csv(o.output);
    csv.Header({"index", "u", "v", "x", "y", "z", "distance"});
    Progress progress("surface project", queries.points.size());
    for (std::size_t i = 0; i < queries.points.size(); ++i) {
        const auto r = surface.Project(queries.points[i], o.iterations, o.tolerance);
        csv.AddInteger(i);
        csv.AddNumber(r.second.first);
        csv.AddNumber(r.second.second);
        for (std::size_t c = 0; c < 3; ++c) csv.AddNumber(r.first[c]);
        csv.AddNumber(VelSDK::Math::Distance(r.first, queries.points[i]));
        csv.EndRow();
        progress.Update(i + 1);
    }
    csv.Finish();
    return kExitSuccess;
}

}  // namespace nurbs_tool
