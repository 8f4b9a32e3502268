"""A collection of GPS tracks derived from the real recordings in examples/data.

Many-curve demos, tests and benchmarks need thousands of realistic tracks; this module makes
them from the two GPS recordings of examples/data instead of storing megabytes:

- Track k (k = 0, 1, 2, ...) is a window of gps_loop_3d.csv (358 fixes of a hike that returns
  to its start) for even k and of gps_open_3d.csv (337 fixes of a walk) for odd k.
- Its length is L = 300 + (h(k, 0) mod 101) points (300..400) and it starts at fix
  s = h(k, 1) mod P, with P = 358 for the loop and P = 672 for the walk.
- The loop is walked round and round: point j is fix (s + j) mod 358. The walk is walked out
  and back: with i = (s + j) mod 672, point j is fix i for i < 337 and fix 672 - i beyond
  (the end fixes are not repeated, so no two consecutive points coincide).
- Every coordinate c (0, 1, 2) of point j gets its own noise: 0.5 * (2 u - 1) metres with
  u = (splitmix64(k * 2^20 + 3 j + c) >> 11) * 2^-53, uniform in [-0.5, 0.5) m.
- h(k, i) = splitmix64(k * 2^20 + 2^19 + i) >> 11.

Integer hashing and exact double arithmetic make the tracks bit for bit the same in every
language: bench/GpsTracks.h builds the same tracks in C++. splitmix64 is the generator of
Steele, Lea and Flood, "Fast splittable pseudorandom number generators", OOPSLA 2014.

Run as a program to write tracks as point files (the nurbs program's input):
    python3 examples/python/gps_tracks.py -n 200 -o tracks/
"""

from __future__ import annotations

import argparse
import os
import pathlib
from typing import List, Tuple

import numpy as np

DATA_DIR = pathlib.Path(os.environ.get("VELSDK_DATA_DIR", pathlib.Path(__file__).resolve().parents[1] / "data"))

_MASK = (1 << 64) - 1
LOOP_FIXES = 358
WALK_FIXES = 337
WALK_PERIOD = 2 * (WALK_FIXES - 1)
NOISE = 0.5


def splitmix64(x: int) -> int:
    """One output of splitmix64 for the state x (Python integers, wrapped to 64 bits)."""
    z = (x + 0x9E3779B97F4A7C15) & _MASK
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & _MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & _MASK
    return z ^ (z >> 31)


def _splitmix64_array(x: np.ndarray) -> np.ndarray:
    """splitmix64 of every uint64 in x (NumPy wraps uint64 products to 64 bits)."""
    with np.errstate(over="ignore"):
        z = x + np.uint64(0x9E3779B97F4A7C15)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        return z ^ (z >> np.uint64(31))


def _read_csv(path: pathlib.Path) -> np.ndarray:
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#") and not line.startswith("x"):
                rows.append([float(v) for v in line.split(",")])
    return np.array(rows, dtype=np.float64)


def load_sources(data_dir: "str | os.PathLike[str]" = DATA_DIR) -> Tuple[np.ndarray, np.ndarray]:
    """The loop (358, 3) and the walk (337, 3) of examples/data."""
    d = pathlib.Path(data_dir)
    loop = _read_csv(d / "gps_loop_3d.csv")
    walk = _read_csv(d / "gps_open_3d.csv")
    assert loop.shape == (LOOP_FIXES, 3) and walk.shape == (WALK_FIXES, 3)
    return loop, walk


def track(k: int, loop: np.ndarray, walk: np.ndarray) -> np.ndarray:
    """Track k, shape (L, 3) with 300 <= L <= 400 (see the module description)."""
    length = 300 + (splitmix64(k * (1 << 20) + (1 << 19)) >> 11) % 101
    j = np.arange(length, dtype=np.int64)
    if k % 2 == 0:
        start = (splitmix64(k * (1 << 20) + (1 << 19) + 1) >> 11) % LOOP_FIXES
        base = loop[(start + j) % LOOP_FIXES]
    else:
        start = (splitmix64(k * (1 << 20) + (1 << 19) + 1) >> 11) % WALK_PERIOD
        i = (start + j) % WALK_PERIOD
        base = walk[np.where(i < WALK_FIXES, i, WALK_PERIOD - i)]
    states = np.uint64(k * (1 << 20)) + np.arange(3 * length, dtype=np.uint64)
    u = (_splitmix64_array(states) >> np.uint64(11)).astype(np.float64) * 2.0**-53
    noise = NOISE * (2.0 * u - 1.0)
    return base + noise.reshape(length, 3)


def tracks(count: int, first: int = 0, data_dir: "str | os.PathLike[str]" = DATA_DIR) -> List[np.ndarray]:
    """Tracks first .. first + count - 1."""
    loop, walk = load_sources(data_dir)
    return [track(k, loop, walk) for k in range(first, first + count)]


def write_tracks(out_dir: "str | os.PathLike[str]", count: int, first: int = 0) -> List[pathlib.Path]:
    """Writes tracks as point files track_NNNNN.csv (every number in its shortest exact form)."""
    out = pathlib.Path(out_dir)
    out.mkdir(parents=True, exist_ok=True)
    paths = []
    for k, t in enumerate(tracks(count, first), start=first):
        path = out / f"track_{k:05d}.csv"
        source = "gps_loop_3d" if k % 2 == 0 else "gps_open_3d"
        lines = [f"# name: track_{k:05d}", "# kind: open", f"# points: {len(t)}", f"# derived: {source}", "x,y,z"]
        lines += [f"{x!r},{y!r},{z!r}" for x, y, z in t.tolist()]
        path.write_text("\n".join(lines) + "\n", encoding="utf-8")
        paths.append(path)
    return paths


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-n", "--count", type=int, default=200, help="number of tracks (default 200)")
    parser.add_argument("--first", type=int, default=0, help="index of the first track")
    parser.add_argument("-o", "--output", required=True, help="folder for the point files")
    args = parser.parse_args()
    paths = write_tracks(args.output, args.count, args.first)
    print(f"{len(paths)} tracks written to {args.output}")


if __name__ == "__main__":
    main()
