#!/usr/bin/env python3
"""SciPy's bivariate splines as peers of the scattered height-field fit (bench/scattered_fit_bench.cpp).

For every data set and tolerance (1e-2 and 1e-3 of the height range), cubic in both directions:
- ours: velsdk_nurbs.fit_scattered(points, tol) (knot insertion, smoothing the largest that meets tol);
- SmoothBivariateSpline: its smoothing factor s searched (s = N tol^2 x 10^k, k = 2 .. -4, half
  decades, stopped once a fit takes over 30 s) for the fewest coefficients whose surface keeps
  every point within tol;
- LSQBivariateSpline: uniform interior knots, the count per direction searched (proportional to
  the extents) for the fewest coefficients within tol.
Errors are vertical |f(x_k, y_k) - z_k| at the data points; "surface" is the range of the fitted
heights on a 61 x 61 grid over the data's rectangle (a hole or a gap that goes wild shows there). Time: the one fit with the chosen
setting (the search is not counted). Needs the module on PYTHONPATH (build/python).

    PYTHONPATH=build/python /usr/bin/python3 bench/scattered_scipy.py [--sets volcano30,...]
"""

from __future__ import annotations

import argparse
import pathlib
import time
import warnings

import numpy as np
from scipy import interpolate

DATA = pathlib.Path(__file__).resolve().parents[1] / "examples" / "data"
SETS = {
    "volcano10": "dem_volcano_scattered10",
    "volcano30": "dem_volcano_scattered30",
    "jacksboro10": "dem_jacksboro_scattered10",
    "holed": "dem_volcano_holed",
    "volcano": "dem_volcano_61x87",
}


def load(name: str) -> np.ndarray:
    rows = [line for line in (DATA / f"{name}.csv").read_text().splitlines() if line and line[0] not in "#x"]
    return np.array([[float(v) for v in r.split(",")] for r in rows])


def errors(f, pts: np.ndarray) -> np.ndarray:
    return np.abs(f.ev(pts[:, 0], pts[:, 1]) - pts[:, 2])


def surface_range(ev, pts: np.ndarray) -> str:
    """min..max of the fitted heights on a 61 x 61 grid over the data's rectangle (holes included)."""
    x = np.linspace(pts[:, 0].min(), pts[:, 0].max(), 61)
    y = np.linspace(pts[:, 1].min(), pts[:, 1].max(), 61)
    xx, yy = np.meshgrid(x, y, indexing="ij")
    z = ev(xx.ravel(), yy.ravel())
    return f"{z.min():.0f}..{z.max():.0f}"


def smooth_peer(pts: np.ndarray, tol: float):
    best = None
    x, y, z = pts.T
    for k in np.arange(2.0, -4.01, -0.5):
        s = len(pts) * tol * tol * 10.0**k
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            t0 = time.perf_counter()
            try:
                f = interpolate.SmoothBivariateSpline(x, y, z, kx=3, ky=3, s=s)
            except Exception:  # noqa: BLE001  (FITPACK refuses some s)
                continue
            t = time.perf_counter() - t0
        e = errors(f, pts)
        coeffs = f.get_coeffs().size
        if e.max() <= tol and (best is None or coeffs < best[0]):
            best = (coeffs, e.max(), np.sqrt(np.mean(e * e)), t, f"s={s:.3g}", surface_range(f.ev, pts))
        if best is None or coeffs < best[0]:
            last = (coeffs, e.max(), np.sqrt(np.mean(e * e)), t, f"s={s:.3g} (not met)", surface_range(f.ev, pts))
        if t > 30.0:  # smaller s only gets slower
            break
    return best if best is not None else last


def lsq_peer(pts: np.ndarray, tol: float, limit: int = 20000):
    x, y, z = pts.T
    ax, ay = np.ptp(x), np.ptp(y)
    last = None
    for n in range(4, 400):
        nx = max(1, int(round(n * np.sqrt(ax / ay))))
        ny = max(1, int(round(n * np.sqrt(ay / ax))))
        if (nx + 3) * (ny + 3) > limit:
            break
        tx = np.linspace(x.min(), x.max(), nx + 1)[1:-1]
        ty = np.linspace(y.min(), y.max(), ny + 1)[1:-1]
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            t0 = time.perf_counter()
            try:
                f = interpolate.LSQBivariateSpline(x, y, z, tx, ty, kx=3, ky=3)
            except Exception:  # noqa: BLE001  (too many knots for the data)
                break
            t = time.perf_counter() - t0
        e = errors(f, pts)
        last = ((nx + 3) * (ny + 3), e.max(), np.sqrt(np.mean(e * e)), t, f"{nx + 3}x{ny + 3}",
                surface_range(f.ev, pts))
        if e.max() <= tol or t > 30.0:
            return last if e.max() <= tol else last[:4] + (last[4] + " (not met, stopped: slow)", last[5])
    return last[:4] + (last[4] + " (not met)", last[5]) if last else None


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sets", default=",".join(SETS))
    ap.add_argument("--no-peers", action="store_true")
    args = ap.parse_args()
    import velsdk_nurbs as vn

    print(f"{'data':12} {'N':>6} {'tol':>6} {'method':22} {'ctrl':>7} {'max/tol':>8} {'rms/tol':>8} {'time s':>8} "
          f"{'surface':>10}  setting")
    for key in args.sets.split(","):
        pts = load(SETS[key])
        for frac in (1e-2, 1e-3):
            tol = frac * np.ptp(pts[:, 2])
            rows = []
            t0 = time.perf_counter()
            surface, rep = vn.fit_scattered(pts, tol=tol)
            t = time.perf_counter() - t0
            rows.append(("ours fit_scattered", rep.control_points_u * rep.control_points_v, rep.max_error, rep.rms, t,
                         f"{rep.control_points_u}x{rep.control_points_v}" + ("" if rep.tolerance_met else " (not met)"),
                         surface_range(lambda x, y: surface.evaluate(x, y)[:, 2], pts)))
            if not args.no_peers:
                for name, peer in (("SmoothBivariateSpline", smooth_peer), ("LSQBivariateSpline", lsq_peer)):
                    r = peer(pts, tol)
                    if r is not None:
                        rows.append((name,) + r)
            for name, ctrl, mx, rms, t, setting, zrange in rows:
                print(f"{key:12} {len(pts):6d} {frac:6g} {name:22} {ctrl:7d} {mx / tol:8.3g} {rms / tol:8.3g} "
                      f"{t:8.3f} {zrange:>10}  {setting}", flush=True)


if __name__ == "__main__":
    main()
