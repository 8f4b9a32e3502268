#!/usr/bin/env python3
"""SciPy's splprep as a peer of approximation to a tolerance (bench/approximation_bench.cpp).

For every row of the goal table: splprep (cubic, per=1 for closed data) with its smoothing
factor s searched over a geometric range for the fewest coefficients whose curve keeps every
point within the tolerance; the distance is the true one (nearest of dense samples, refined by a
bounded scalar minimisation). Prints distinct coefficients, max distance / tolerance, the time of
the one fit with the chosen s and the time of the whole search; and ours through velsdk_nurbs
when the module is importable (PYTHONPATH=build/python).

    /usr/bin/python3 bench/approximation_scipy.py [--rows 0,1,2]
"""

from __future__ import annotations

import argparse
import pathlib
import time

import numpy as np
from scipy import interpolate, optimize

DATA = pathlib.Path(__file__).resolve().parents[1] / "examples" / "data"
ROWS = [
    ("gps_loop_3d", True, 29.54, 40), ("gps_loop_3d", True, 5.0, 170), ("gps_loop_3d", True, 2.954, 220),
    ("gps_open_3d", False, 21.14, 26), ("gps_open_3d", False, 5.0, 72), ("gps_open_3d", False, 2.114, 113),
    ("airfoil_naca2412", True, 0.01007, 8), ("airfoil_naca2412", True, 0.001007, 16),
    ("glyph_S", True, 18.72, 25), ("glyph_S", True, 1.872, 50),
    ("helix", False, 0.03202, 21), ("helix", False, 0.003202, 34),
]


def load(name: str) -> np.ndarray:
    if name == "helix":
        rng = np.random.default_rng(2024)
        t = np.linspace(0.0, 5 * 2 * np.pi, 100000)
        pts = np.column_stack([np.cos(t), np.sin(t), 0.3 * t / (2 * np.pi)])
        return pts + rng.uniform(-1e-4, 1e-4, pts.shape)
    rows = []
    header = False
    for line in (DATA / f"{name}.csv").read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        if not header:
            header = True
            continue
        rows.append([float(v) for v in line.split(",")])
    return np.array(rows)


def max_distance(evaluate, points: np.ndarray, closed: bool) -> float:
    u = np.linspace(0.0, 1.0, 20001)
    samples = evaluate(u)
    worst = 0.0
    # Dense data: each point only near its own part of the curve (index order), in chunks.
    step = 2000
    for start in range(0, len(points), step):
        q = points[start:start + step]
        if len(points) > 5000:
            centre = int(start / len(points) * 20000)
            lo, hi = max(0, centre - 1500), min(20001, centre + 1500 + int(step / len(points) * 20000))
        else:
            lo, hi = 0, 20001
        d = np.linalg.norm(samples[None, lo:hi, :] - q[:, None, :], axis=2)
        idx = np.argmin(d, axis=1) + lo
        for j, i in enumerate(idx):
            best = d[j, i - lo]
            if best <= worst:
                continue
            a, b = u[max(i - 1, 0)], u[min(i + 1, 20000)]
            r = optimize.minimize_scalar(lambda t: np.linalg.norm(evaluate(np.array([t]))[0] - q[j]),
                                         bounds=(a, b), method="bounded", options={"xatol": 1e-12})
            worst = max(worst, min(best, r.fun))
    return worst


def scipy_row(points: np.ndarray, closed: bool, tol: float):
    n = len(points)
    # per=1 ignores the last point (the period closes onto the first): the first goes again at the
    # end, in a copy (FITPACK writes into its input).
    data = np.vstack([points, points[:1]]) if closed else points.copy()
    best = None
    t0 = time.perf_counter()
    for f in np.geomspace(1e-3, 3.0, 28):
        s = n * tol * tol * f
        try:
            tck, _ = interpolate.splprep(data.copy().T, s=s, k=3, per=1 if closed else 0, quiet=2)
        except Exception:  # noqa: BLE001 - FITPACK refuses some s values
            continue
        count = len(tck[1][0]) - (3 if closed else 0)
        if best is not None and count >= best[0]:
            continue
        m = max_distance(lambda u: np.array(interpolate.splev(u, tck)).T, points, closed)
        if m <= tol:
            best = (count, m / tol, s)
    search = time.perf_counter() - t0
    if best is None:
        return None
    t0 = time.perf_counter()
    interpolate.splprep(data.copy().T, s=best[2], k=3, per=1 if closed else 0, quiet=2)
    return best[0], best[1], (time.perf_counter() - t0) * 1e3, search * 1e3


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--rows", default="", help="row indices, e.g. 0,1,2 (default: all)")
    args = ap.parse_args()
    rows = [ROWS[int(i)] for i in args.rows.split(",")] if args.rows else ROWS
    try:
        import velsdk_nurbs as vn
    except ImportError:
        vn = None
    print(f"{'data':17} {'tolerance':>9} {'goal':>5} | {'scipy splprep: count max/tol fit ms (search ms)':48}"
          + (" | ours: count max/tol ms" if vn else ""))
    for name, closed, tol, goal in rows:
        pts = load(name)
        r = scipy_row(pts, closed, tol)
        cell = f"{r[0]:4d}  {r[1]:.3f}  {r[2]:8.2f} ms ({r[3]:.0f} ms)" if r else "tolerance not met"
        line = f"{name:17} {tol:9g} {goal:5d} | {cell:48}"
        if vn:
            t0 = time.perf_counter()
            curve, rep = vn.approximate_to_tolerance(pts, tol, closed=closed)
            ms = (time.perf_counter() - t0) * 1e3
            line += f" | {rep.control_points:4d}  {rep.max_error / tol:.3f}  {ms:8.2f} ms"
        print(line, flush=True)


if __name__ == "__main__":
    main()
