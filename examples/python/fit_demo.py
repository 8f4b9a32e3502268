#!/usr/bin/env python3
"""Fit the demo data of examples/data with velsdk_nurbs and save a PNG.

  PYTHONPATH=build/python /usr/bin/python3 examples/python/fit_demo.py [-o demo.png]

Four panels:
  1. the outline of the glyph 'S' (closed, 160 points): closed cubic fit and its control net;
  2. the upper surface of a NACA 2412 airfoil (open, 82 points): open cubic fit with the
     polyline that stays within 1e-4 chord of it, and a least-squares cubic with 12 control
     points with its largest deviation from the data;
  3. a GPS walk in 3-D (337 points): interpolation with the suggested end tangents;
  4. the Maunga Whau elevation model (61 x 87 grid): least-squares surface with 16 x 22
     control points.
"""

from __future__ import annotations

import argparse
import pathlib
import re

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import velsdk_nurbs as vn  # noqa: E402
from velsdk_nurbs.plot import plot_curve, plot_surface  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"


def load(name: str):
    """Points (k, 3) and the "# key: value" metadata of a CSV file of examples/data."""
    meta = {}
    for line in (DATA / name).read_text(encoding="utf-8").splitlines():
        if line.startswith("#"):
            key, _, value = line[1:].partition(":")
            meta[key.strip()] = value.strip()
    return vn.read_points(DATA / name), meta


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("-o", "--output", default="velsdk_nurbs_demo.png", help="PNG file to write")
    args = ap.parse_args()

    fig = plt.figure(figsize=(13, 11))

    # 1. Closed fit of a glyph outline.
    glyph, _ = load("glyph_S.csv")
    s = vn.FittedCurve(order=4)
    s.fit(glyph, closed=True)
    ax = fig.add_subplot(2, 2, 1)
    ax.set_aspect("equal", adjustable="datalim")
    plot_curve(s, ax, points=glyph, label="closed cubic")
    ax.set_title(f"glyph 'S': closed cubic through {len(glyph)} points, {s.num_control_points} control points")
    ax.legend(fontsize=7, loc="lower right")

    # 2. Open airfoil surface: fit through all points, segmented under a chord tolerance, and
    #    a least-squares curve with 12 control points.
    foil, _ = load("airfoil_naca2412_upper.csv")
    fine = vn.FittedCurve(order=4)
    fine.fit(foil)
    coarse = vn.approximate(foil, 12)
    err = float(np.max(np.linalg.norm(coarse.project(foil, tolerance=1e-12)[1] - foil, axis=1)))
    ax = fig.add_subplot(2, 2, 2)
    plot_curve(fine, ax, control_net=False, points=foil, segmentation=1e-4, label="fit through all points")
    plot_curve(coarse, ax, color="tab:green", label=f"least squares, 12 control points (max dev {err:.1e})")
    ax.set_title("NACA 2412 upper surface (y exaggerated); polyline within 1e-4 chord")
    ax.set_aspect("auto")
    ax.legend(fontsize=7, loc="lower center")

    # 3. GPS walk with prescribed end tangents (unit tangents scaled to the path length).
    walk, meta = load("gps_open_3d.csv")
    start, end = (np.array(re.search(n + r" \(([^)]*)\)", meta["end_tangents"]).group(1).split(","), float)
                  for n in ("start", "end"))
    length = float(np.sum(np.linalg.norm(np.diff(walk, axis=0), axis=1)))
    track = vn.interpolate(walk, end_derivatives=(length * start, length * end))
    ax = fig.add_subplot(2, 2, 3, projection="3d")
    plot_curve(track, ax, control_net=False, points=walk, samples=3000, label="interpolation")
    ax.set_title(f"GPS walk, {len(walk)} fixes, end tangents prescribed")

    # 4. Elevation model as a least-squares surface.
    dem, meta = load("dem_volcano_61x87.csv")
    grid = dem.reshape(int(meta["rows"]), int(meta["cols"]), 3)
    surface = vn.NurbsSurface.approximate_grid(grid, 16, 22)
    ax = fig.add_subplot(2, 2, 4, projection="3d")
    plot_surface(surface, ax, samples=(60, 80))
    ax.set_title("Maunga Whau DEM: 16 x 22 control points")

    fig.tight_layout()
    fig.savefig(args.output, dpi=110)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
