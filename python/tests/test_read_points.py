"""read_points, planar (N, 2) data into every function taking points, dims=2 results, the public names."""

import os
import pathlib
import pickle
import subprocess
import sys

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import DATA_DIR, ROOT, fitted, load_csv

POINTS_DIR = pathlib.Path(os.environ.get("VELSDK_TEST_DATA_DIR", ROOT / "tests" / "data")) / "points"

# The points every file of tests/data/points/xyz (xy) holds, written out here.
XYZ = np.array([[0, 0, 0], [1.5, 2, -0.25], [3, 3.75, 1], [4.5, 1, 0.002], [6, -0.5, 1]], dtype=float)


@pytest.mark.parametrize("folder, expected", [("xyz", XYZ), ("xy", XYZ[:, :2])])
def test_every_convention_reads_the_same_points(folder, expected):
    files = sorted(p for p in (POINTS_DIR / folder).iterdir() if p.is_file())
    for path in files:
        pts = vn.read_points(path)  # a pathlib.Path
        assert pts.dtype == np.float64 and pts.flags.c_contiguous, path.name
        np.testing.assert_array_equal(pts, expected, err_msg=path.name)
        np.testing.assert_array_equal(vn.read_points(str(path)), pts)  # a str
    assert files


def test_bad_files_name_file_line_and_problem(tmp_path):
    lines = (POINTS_DIR / "bad" / "expected.txt").read_text(encoding="utf-8").splitlines()
    table = [(n, int(k), t) for n, k, t in (s.split("|", 2) for s in lines if s.strip() and not s.startswith("#"))]
    assert {n for n, _, _ in table} == {p.name for p in (POINTS_DIR / "bad").iterdir()} - {"expected.txt"}
    for name, line, text in table:
        path = str(POINTS_DIR / "bad" / name)
        with pytest.raises(ValueError) as err:
            vn.read_points(path)
        assert str(err.value).startswith(f"{path}:{line}: " if line else f"{path}: ") and text in str(err.value)
    for path, error in [(tmp_path / "missing.csv", FileNotFoundError), (tmp_path, IsADirectoryError)]:
        pytest.raises(error, vn.read_points, path)


def test_standard_input():
    code = "import sys, velsdk_nurbs as vn; sys.stdout.write(repr(vn.read_points('-').tolist()))"
    out = subprocess.run([sys.executable, "-c", code], input=(POINTS_DIR / "xy" / "plain.csv").read_bytes(),
                         capture_output=True, check=True, env=os.environ)
    assert eval(out.stdout.decode()) == XYZ[:, :2].tolist()


@pytest.mark.parametrize("path", sorted(DATA_DIR.glob("*.csv")), ids=lambda p: p.name)
def test_every_example_data_file(path):
    """The shape the file's "# points:" line announces, and an independent line-by-line parse."""
    expected, meta = load_csv(path.name)
    pts = vn.read_points(path)
    assert pts.shape == (int(meta["points"]), expected.shape[1])
    np.testing.assert_array_equal(pts, expected)


def padded(xy):
    return np.concatenate([xy, np.zeros(xy.shape[:-1] + (1,))], axis=-1)


XY = np.cumsum(np.random.default_rng(7).uniform(0.2, 1.0, (12, 2)), axis=0)
GRID = np.stack(np.meshgrid(np.arange(6.0), np.arange(5.0) ** 1.5, indexing="ij"), axis=-1)
KU, KV = [0, 0, 0, 0, 0.4, 0.7, 1, 1, 1, 1], [0, 0, 0, 0, 0.5, 1, 1, 1, 1]


def shift(p):
    return p + np.where(np.arange(p.shape[-1]) < 2, 0.05, 0.0)  # off the curve, in the plane


# Every function taking points reads (N, 2) as z = 0: f(xy) equals f(padded(xy)), bit for bit.
PLANAR = [
    ("approximate", XY, lambda p: vn.approximate(p, 6)),
    ("interpolate", XY, lambda p: vn.interpolate(p, closed=True)),
    ("end_derivatives", XY, lambda p: vn.interpolate(p, end_derivatives=(p[1] - p[0], p[-1] - p[-2]))),
    ("chord_length", XY, lambda p: vn.chord_length_parameters(p, closed=True)),
    ("project", XY, lambda p: vn.interpolate(XY).project(shift(p[:-1]))),
    ("fitted", XY, lambda p: fitted(p, order=4)),
    ("fitted_ends", XY, lambda p: fitted(p, ends=(p[1] - p[0], p[-1] - p[-2]), order=4)),
    ("fitted_distance", XY, lambda p: fitted(XY, order=4).distance(shift(p))),
    ("nurbs_curve", XY, lambda p: vn.NurbsCurve(p[:4], [0, 0, 0, 0.5, 1, 1, 1.0], 2, [1, 2, 0.5, 1.0])),
    ("interpolate_grid", GRID, lambda g: vn.NurbsSurface.interpolate_grid(g)),
    ("approximate_grid", GRID, lambda g: vn.NurbsSurface.approximate_grid(g, 5, 4)),
    ("nurbs_surface", GRID, lambda g: vn.NurbsSurface(g, KU, KV, 3, 3)),
    ("surface_project", GRID, lambda g: vn.NurbsSurface.interpolate_grid(GRID).project(g[1:3, 1])[0]),
]


@pytest.mark.parametrize("data, call", [c[1:] for c in PLANAR], ids=[c[0] for c in PLANAR])
def test_two_columns_are_points_with_z0(data, call):
    assert pickle.dumps(call(data)) == pickle.dumps(call(padded(data)))


def test_dims_two_is_the_xy_part(rng):
    pts = np.cumsum(rng.uniform(0.2, 1.0, (9, 3)), axis=0)  # a 3-D curve: dims=2 drops z
    curve, fc, u = vn.interpolate(pts), fitted(pts, order=4), rng.uniform(0, 1, (4, 5))
    for call in [curve.evaluate, curve, lambda u, dims: curve.evaluate(0.3, dims=dims),
                 lambda u, dims: curve.derivatives(u, 3, dims=dims), lambda u, dims: curve.project(pts, dims=dims)[1],
                 lambda u, dims: fc.segment_points(0.01, dims=dims), fc.evaluate, fc, fc.speed, fc.acceleration]:
        full, flat = call(u, dims=3), call(u, dims=2)
        assert flat.shape == full.shape[:-1] + (2,) and flat.flags.c_contiguous
        np.testing.assert_array_equal(flat, full[..., :2])
        for bad in (0, 1, 4):
            with pytest.raises(ValueError, match="dims"):
                call(u, dims=bad)


def test_dir_shows_exactly_the_api():
    public = {name for name in vars(vn) if not name.startswith("_")} - {"dask", "plot"}  # loaded on first use
    assert public == set(vn.__all__) and len(public) == len(vn.__all__) and dir(vn) == sorted(public | {"dask", "plot"})
    assert {name for name in vars(vn._core) if not name.startswith("_")} <= public  # no binding forgotten
    assert all(getattr(vn, name).__module__.startswith("velsdk_nurbs") for name in vn.__all__)
    assert [getattr(vn, n).__name__ for n in ("dask", "plot")] == ["velsdk_nurbs.dask", "velsdk_nurbs.plot"]
    assert not hasattr(vn, "os") and not hasattr(vn, "nothing")
