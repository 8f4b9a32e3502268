#!/usr/bin/env python3
"""velsdk_nurbs next to SciPy on the same work, reported as ratios.

  PYTHONPATH=build/python /usr/bin/python3 python/bench/bench_vs_scipy.py [--quick]

1. Vectorised evaluation of 10^6 parameters on one cubic curve (non-rational, 1000 control
   points, clamped uniform knots): NurbsCurve.evaluate vs scipy.interpolate.BSpline.__call__,
   parameters in random order and sorted.
2. Interpolation of 10^5 points (a 3-D random walk) with the same chord-length parameters and
   averaged knots: velsdk_nurbs.interpolate vs scipy.interpolate.make_interp_spline (both solve
   the same banded system), and interpolate with its own defaults (parameters and knots made
   in C++) vs NumPy parameters + make_interp_spline.

Each timing is the best of several runs (wall clock, one thread). Ratio = SciPy time / our
time: above 1 means velsdk_nurbs is faster.
"""

from __future__ import annotations

import argparse
import time
from typing import Callable, List, Tuple

import numpy as np
from scipy.interpolate import BSpline, make_interp_spline

import velsdk_nurbs as vn


def best_time(fn: Callable[[], object], repeats: int) -> float:
    fn()  # warm-up
    best = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def evaluation(count: int, repeats: int) -> List[Tuple[str, float, float]]:
    rng = np.random.default_rng(1)
    n, p = 1000, 3
    ctrl = np.cumsum(rng.normal(size=(n, 3)), axis=0)
    knots = vn.uniform_knots(n + p + 1, p)
    ours = vn.NurbsCurve(ctrl, knots, p)
    theirs = BSpline(knots, ctrl, p)
    rows = []
    for label, u in (("random order", rng.uniform(0, 1, count)), ("sorted", np.sort(rng.uniform(0, 1, count)))):
        assert np.max(np.abs(ours.evaluate(u) - theirs(u))) < 1e-9
        rows.append((f"evaluate {count:.0e} params, {label}", best_time(lambda: ours.evaluate(u), repeats),
                     best_time(lambda: theirs(u), repeats)))
    return rows


def interpolation(count: int, repeats: int) -> List[Tuple[str, float, float]]:
    rng = np.random.default_rng(2)
    pts = np.cumsum(rng.uniform(0.1, 1.0, (count, 3)) * rng.choice([-1, 1], (count, 3)), axis=0)
    u = vn.chord_length_parameters(pts)
    knots = vn.knot_averaging(u, 3)
    ours = vn.interpolate(pts, params=u, knots=knots)
    theirs = make_interp_spline(u, pts, k=3, t=knots)
    assert np.max(np.abs(ours.control_points - theirs.c)) < 1e-9 * np.max(np.abs(pts))

    def scipy_defaults():
        d = np.linalg.norm(np.diff(pts, axis=0), axis=1)
        uu = np.concatenate([[0.0], np.cumsum(d) / d.sum()])
        tt = np.concatenate([np.zeros(4), np.convolve(uu[1:-1], np.ones(3) / 3, "valid"), np.ones(4)])
        return make_interp_spline(uu, pts, k=3, t=tt)

    return [
        (f"interpolate {count:.0e} points, same params and knots",
         best_time(lambda: vn.interpolate(pts, params=u, knots=knots), repeats),
         best_time(lambda: make_interp_spline(u, pts, k=3, t=knots), repeats)),
        (f"interpolate {count:.0e} points, parameters and knots included",
         best_time(lambda: vn.interpolate(pts), repeats), best_time(scipy_defaults, repeats)),
    ]


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--quick", action="store_true", help="10x smaller workloads, fewer repeats")
    args = ap.parse_args()
    scale, repeats = (10, 3) if args.quick else (1, 7)
    rows = evaluation(10**6 // scale, repeats) + interpolation(10**5 // scale, repeats)
    width = max(len(r[0]) for r in rows)
    print(f"{'workload':<{width}}  {'velsdk_nurbs':>12}  {'scipy':>10}  {'ratio':>6}")
    for name, ours, theirs in rows:
        print(f"{name:<{width}}  {ours * 1e3:>9.2f} ms  {theirs * 1e3:>7.2f} ms  {theirs / ours:>6.2f}")


if __name__ == "__main__":
    main()
