#!/usr/bin/env python3
"""SciPy's RectBivariateSpline(s=...) as a peer of grid approximation to a tolerance
(bench/surface_approximation_bench.cpp has OpenCASCADE beside ours).

For each DEM and tolerance (1e-2 and 1e-3 of the height range): FITPACK's smoothing factor s is
searched (halving from rows * cols * tol^2, then bisection in log s) for the fewest coefficients
whose surface keeps every grid point within the tolerance (a fit whose vertical error exceeds
the height range, as FITPACK gives below some s, counts as failed; s = 0 interpolates). The distance is the true one: the
spline z = f(y, x) is written as a B-spline surface (x and y at the Greville abscissae, which
reproduces them exactly) and every point is projected with velsdk_nurbs.SurfaceLocator, the
measure the C++ benchmark applies to every surface; the vertical error is printed beside it.
Prints coefficients, max and rms distance, the time of the one fit with the chosen s and of the
whole search, and ours (velsdk_nurbs.approximate_surface, uniform parameters) on the same data.

    PYTHONPATH=build/python /usr/bin/python3 bench/surface_approximation_scipy.py
"""

from __future__ import annotations

import pathlib
import time

import numpy as np
from scipy import interpolate

import velsdk_nurbs as vn

DATA = pathlib.Path(__file__).resolve().parents[1] / "examples" / "data"
SETS = ["dem_volcano_61x87", "dem_jacksboro_96x120"]
FRACTIONS = [1e-2, 1e-3]


def load_grid(name: str) -> np.ndarray:
    rows = cols = 0
    pts = []
    for line in (DATA / f"{name}.csv").read_text().splitlines():
        if line.startswith("# rows:"):
            rows = int(line[7:])
        elif line.startswith("# cols:"):
            cols = int(line[7:])
        elif line and not line.startswith("#") and not line.startswith("x"):
            pts.append([float(v) for v in line.split(",")])
    return np.array(pts).reshape(rows, cols, 3)


def as_surface(spline: interpolate.RectBivariateSpline) -> vn.NurbsSurface:
    """z = f(y, x) as the surface (x, y, f): rows along y (u), columns along x (v)."""
    ty, tx, c = spline.tck
    ky, kx = spline.degrees
    ny, nx = len(ty) - ky - 1, len(tx) - kx - 1
    gy = np.array([ty[i + 1:i + ky + 1].mean() for i in range(ny)])
    gx = np.array([tx[j + 1:j + kx + 1].mean() for j in range(nx)])
    net = np.empty((ny, nx, 3))
    net[..., 0] = gx[None, :]
    net[..., 1] = gy[:, None]
    net[..., 2] = np.asarray(c).reshape(ny, nx)
    return vn.NurbsSurface(net, ty, tx, ky, kx)


def distances(spline, grid: np.ndarray) -> np.ndarray:
    _, _, d = vn.SurfaceLocator(as_surface(spline)).nearest(grid.reshape(-1, 3), threads=0)
    return d


def scipy_fit(grid: np.ndarray, tol: float):
    y, x, z = grid[:, 0, 1], grid[0, :, 0], grid[..., 2]

    def fit(s):
        return interpolate.RectBivariateSpline(y, x, z, kx=3, ky=3, s=s)

    def count(spl):
        ty, tx, _ = spl.tck
        return (len(ty) - 4) * (len(tx) - 4)

    t0 = time.perf_counter()
    tried = {}

    def trial(s):
        spl = fit(s)
        vertical = np.abs(spl(y, x) - z)
        # Below some s FITPACK's regrid gives a spline with absurd coefficients (1e61 and more): a
        # failed fit, not measured.
        if not np.all(np.isfinite(vertical)) or vertical.max() > np.ptp(z):
            tried[s] = (count(spl), np.inf, spl)
            return False
        d = distances(spl, grid)
        tried[s] = (count(spl), d.max(), spl)
        return d.max() <= tol

    s_pass, s_fail = None, None
    s = grid.shape[0] * grid.shape[1] * tol * tol
    for _ in range(40):
        if trial(s):
            s_pass = s
            break
        s_fail = s
        s *= 0.5
    if s_pass is None:
        s_pass = 0.0
        trial(0.0)
    if s_fail is None:
        # Grow s while the tolerance still holds.
        s = s_pass
        for _ in range(40):
            s *= 2.0
            if not trial(s):
                s_fail = s
                break
            s_pass = s
    if s_pass > 0.0 and s_fail is not None:
        lo, hi = np.log(s_pass), np.log(s_fail)
        for _ in range(12):
            mid = np.exp(0.5 * (lo + hi))
            if trial(mid):
                lo = np.log(mid)
            else:
                hi = np.log(mid)
    search = time.perf_counter() - t0
    ok = {s: v for s, v in tried.items() if v[1] <= tol}
    best_s = min(ok, key=lambda s: (ok[s][0], -s))
    t0 = time.perf_counter()
    spl = fit(best_s)
    one = time.perf_counter() - t0
    d = distances(spl, grid)
    vertical = np.abs(spl(grid[:, 0, 1], grid[0, :, 0]) - grid[..., 2]).max()
    shape = (len(spl.tck[0]) - 4, len(spl.tck[1]) - 4)
    return shape, d.max(), np.sqrt(np.mean(d * d)), vertical, one, search, len(tried)


def ours(grid: np.ndarray, tol: float):
    best = np.inf
    for _ in range(2):
        t0 = time.perf_counter()
        _, r = vn.approximate_surface(grid, tol, params="uniform")
        best = min(best, time.perf_counter() - t0)
    return (r.control_points_u, r.control_points_v), r.max_error, r.rms, best


def main() -> None:
    print("Grid approximation to a tolerance: control points / max and rms true distance / time")
    for name in SETS:
        grid = load_grid(name)
        zr = np.ptp(grid[..., 2])
        for f in FRACTIONS:
            tol = f * zr
            print(f"{name} ({grid.shape[0]} x {grid.shape[1]}), tolerance {tol:g} = {f:g} of the height range")
            (su, sv), mx, rms, vert, one, search, n = scipy_fit(grid, tol)
            print(f"  SciPy RectBivariateSpline  {su:4d} x {sv:<4d} = {su * sv:6d}  max {mx:8.4g} ({mx / tol:5.3f} x tol)"
                  f"  rms {rms:8.4g}  {one * 1e3:8.1f} ms per fit, {search:6.2f} s search ({n} fits);"
                  f" vertical max {vert:.4g}")
            (ou, ov), mx, rms, t = ours(grid, tol)
            print(f"  ours                       {ou:4d} x {ov:<4d} = {ou * ov:6d}  max {mx:8.4g} ({mx / tol:5.3f} x tol)"
                  f"  rms {rms:8.4g}  {t * 1e3:8.1f} ms")


if __name__ == "__main__":
    main()
