#!/usr/bin/env python3
"""Writes the scattered elevation data sets of examples/data from their sources.

- dem_volcano_scattered10.csv, dem_volcano_scattered30.csv: 10 % and 30 % of the points of
  dem_volcano_61x87.csv, point k kept when splitmix64(seed + k) / 2^64 < fraction (seed 2024).
- dem_volcano_holed.csv: the whole volcano grid less a disc of radius 120 m centred at
  (600 m, 250 m) on its eastern flank.
- dem_jacksboro_scattered10.csv: 10 % (same rule, seed 77) of dem_jacksboro_96x120.csv, the
  window of the Jacksboro fault DEM from matplotlib's sample data.

    /usr/bin/python3 examples/python/scattered_dem_sets.py [--out examples/data]
"""

from __future__ import annotations

import argparse
import pathlib

MASK = (1 << 64) - 1
DATA = pathlib.Path(__file__).resolve().parents[2] / "examples" / "data"


def splitmix64(x: int) -> int:
    z = (x + 0x9E3779B97F4A7C15) & MASK
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
    return z ^ (z >> 31)


def keep(k: int, seed: int, fraction: float) -> bool:
    return splitmix64(seed + k) / 2.0**64 < fraction


def read_grid(name: str) -> list[tuple[float, float, float]]:
    rows, header = [], False
    for line in (DATA / f"{name}.csv").read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        if not header:
            header = True
            continue
        x, y, z = (float(v) for v in line.split(","))
        rows.append((x, y, z))
    return rows


def write(out: pathlib.Path, name: str, meta: list[str], pts) -> None:
    lines = [f"# name: {name}", "# kind: points", f"# points: {len(pts)}"] + [f"# {m}" for m in meta] + ["x,y,z"]
    lines += [f"{x:.10g},{y:.10g},{z:.10g}" for x, y, z in pts]
    (out / f"{name}.csv").write_text("\n".join(lines) + "\n")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", default=str(DATA))
    out = pathlib.Path(ap.parse_args().out)
    volcano = read_grid("dem_volcano_61x87")
    src = "source: dem_volcano_61x87.csv (Maunga Whau, R's volcano data set)"
    for pct in (10, 30):
        pts = [p for k, p in enumerate(volcano) if keep(k, 2024, pct / 100)]
        write(out, f"dem_volcano_scattered{pct}", ["units: m", src,
              f"extraction: point k kept when splitmix64(2024 + k) / 2^64 < {pct / 100}"], pts)
    holed = [p for p in volcano if (p[0] - 600) ** 2 + (p[1] - 250) ** 2 >= 120**2]
    write(out, "dem_volcano_holed", ["units: m", src, "extraction: disc of radius 120 m at (600, 250) removed"], holed)

    jacksboro = read_grid("dem_jacksboro_96x120")
    pts = [p for k, p in enumerate(jacksboro) if keep(k, 77, 0.10)]
    write(out, "dem_jacksboro_scattered10", ["units: m",
          "source: dem_jacksboro_96x120.csv (USGS elevation data from matplotlib's sample data, see NOTICES.md)",
          "licence: USGS data public domain, as distributed with matplotlib",
          "extraction: point k kept when splitmix64(77 + k) / 2^64 < 0.1"], pts)

if __name__ == "__main__":
    main()
