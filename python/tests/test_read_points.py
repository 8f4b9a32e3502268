"""read_points on the shared point files and on every data set, planar (N, 2) data through
every function that takes points, dims=2 results, and the package's public names."""

import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import DATA_DIR, load_csv

POINTS_DIR = pathlib.Path(
    os.environ.get("VELSDK_TEST_DATA_DIR", pathlib.Path(__file__).resolve().parents[2] / "tests" / "data")
) / "points"

# The points every file of tests/data/points/xyz (xy) holds, written out here.
XYZ = np.array([[0, 0, 0], [1.5, 2, -0.25], [3, 3.75, 1], [4.5, 1, 0.002], [6, -0.5, 1]], dtype=float)
XY = XYZ[:, :2].copy()


def shared_files(folder):
    files = sorted(p for p in (POINTS_DIR / folder).iterdir() if p.is_file())
    assert files, f"no files in {POINTS_DIR / folder}"
    return files


def bad_table():
    """(file, line, text) of tests/data/points/bad/expected.txt."""
    rows = []
    for line in (POINTS_DIR / "bad" / "expected.txt").read_text(encoding="utf-8").splitlines():
        if line.strip() and not line.startswith("#"):
            name, number, text = line.split("|", 2)
            rows.append((name, int(number), text))
    return rows


# --- the shared files (the nurbs program's test reads the same ones) ---------------------------


@pytest.mark.parametrize("folder, expected", [("xyz", XYZ), ("xy", XY)])
def test_every_convention_reads_the_same_points(folder, expected):
    for path in shared_files(folder):
        pts = vn.read_points(path)  # a pathlib.Path
        assert pts.dtype == np.float64 and pts.flags.c_contiguous, path.name
        assert pts.shape == expected.shape, path.name
        np.testing.assert_array_equal(pts, expected, err_msg=path.name)
        np.testing.assert_array_equal(vn.read_points(str(path)), pts)  # a str


def test_bad_files_name_file_line_and_problem():
    table = bad_table()
    listed = {name for name, _, _ in table}
    on_disk = {p.name for p in shared_files("bad")} - {"expected.txt"}
    assert listed == on_disk  # every bad file has its expected message, and no entry is stale
    for name, line, text in table:
        path = str(POINTS_DIR / "bad" / name)
        where = f"{path}:{line}: " if line else f"{path}: "
        with pytest.raises(ValueError) as err:
            vn.read_points(path)
        message = str(err.value)
        assert message.startswith(where) and text in message, (name, message)


def test_files_that_cannot_be_read_raise_os_errors(tmp_path):
    with pytest.raises(FileNotFoundError):
        vn.read_points(tmp_path / "missing.csv")
    with pytest.raises(IsADirectoryError):
        vn.read_points(tmp_path)


def test_standard_input():
    text = (POINTS_DIR / "xy" / "plain.csv").read_bytes()
    code = "import sys, velsdk_nurbs as vn; sys.stdout.write(repr(vn.read_points('-').tolist()))"
    out = subprocess.run([sys.executable, "-c", code], input=text, capture_output=True, check=True, env=os.environ)
    assert eval(out.stdout.decode()) == XY.tolist()


# --- every data set of examples/data -----------------------------------------------------------


@pytest.mark.parametrize("path", sorted(DATA_DIR.glob("*.csv")), ids=lambda p: p.name)
def test_every_example_data_file(path):
    """The shape the file's own "# points:" line announces, and the values of an independent
    line-by-line parse."""
    pts = vn.read_points(path)
    expected, meta = load_csv(path.name)
    assert pts.shape == (int(meta["points"]), expected.shape[1])
    np.testing.assert_array_equal(pts, expected)


# --- planar data end to end --------------------------------------------------------------------


def padded(xy):
    return np.concatenate([xy, np.zeros(xy.shape[:-1] + (1,))], axis=-1)


def test_planar_file_to_closed_curve_and_back(tmp_path, glyph_s):
    """A two-column file, read and fitted as is, gives the curve of the zero-padded points, and
    its 2-D evaluation passes through the file's points."""
    path = tmp_path / "outline.txt"
    np.savetxt(path, glyph_s[:, :2], header="x y", fmt="%.17g")
    xy = vn.read_points(path)
    assert xy.shape == (len(glyph_s), 2)
    curve = vn.interpolate(xy, closed=True)
    assert curve == vn.interpolate(padded(xy), closed=True)
    u = vn.chord_length_parameters(xy, closed=True)
    np.testing.assert_array_equal(u, vn.chord_length_parameters(padded(xy), closed=True))
    on_curve = curve.evaluate(u[: len(xy)], dims=2)
    assert on_curve.shape == xy.shape
    np.testing.assert_allclose(on_curve, xy, atol=1e-9 * np.abs(xy).max())


def test_every_function_taking_points_reads_two_columns_as_z0(rng):
    xy = np.cumsum(rng.uniform(0.2, 1.0, (12, 2)), axis=0)
    xyz = padded(xy)
    assert vn.approximate(xy, 6) == vn.approximate(xyz, 6)
    ends_xy, ends_xyz = ([1.0, 0.5], [0.0, -1.0]), ([1.0, 0.5, 0.0], [0.0, -1.0, 0.0])
    assert vn.interpolate(xy, end_derivatives=ends_xy) == vn.interpolate(xyz, end_derivatives=ends_xyz)

    curve = vn.interpolate(xy)
    queries = xy[:-1] + rng.normal(0, 0.1, xy[:-1].shape)
    u2, feet2 = curve.project(queries)
    u3, feet3 = curve.project(padded(queries))
    np.testing.assert_array_equal(u2, u3)
    np.testing.assert_array_equal(feet2, feet3)
    assert curve.project(queries[0])[0] == u3[0]  # one planar point, shape (2,)

    fitted2, fitted3 = vn.FittedCurve(order=4), vn.FittedCurve(order=4)
    np.testing.assert_array_equal(fitted2.fit(xy), fitted3.fit(xyz))
    assert fitted2 == fitted3
    np.testing.assert_array_equal(fitted2.project(queries), fitted3.project(padded(queries)))
    np.testing.assert_array_equal(fitted2.distance(queries), fitted3.distance(padded(queries)))
    assert fitted2.distance(queries[3]) == fitted3.distance(padded(queries)[3])
    np.testing.assert_array_equal(
        fitted2.fit_with_end_derivatives(xy, *ends_xy), fitted3.fit_with_end_derivatives(xyz, *ends_xyz)
    )
    assert fitted2 == fitted3

    # Control points given in the plane, with and without weights.
    knots = np.array([0, 0, 0, 0.5, 1, 1, 1.0])
    weights = np.array([1, 2, 0.5, 1.0])
    assert vn.NurbsCurve(xy[:4], knots, 2, weights) == vn.NurbsCurve(xyz[:4], knots, 2, weights)

    # Surfaces: a planar grid (a flat patch), its control points, and planar query points.
    grid = np.stack(np.meshgrid(np.arange(6.0), np.arange(5.0) ** 1.5, indexing="ij"), axis=-1)
    s2 = vn.NurbsSurface.interpolate_grid(grid)
    assert s2 == vn.NurbsSurface.interpolate_grid(padded(grid))
    assert vn.NurbsSurface.approximate_grid(grid, 5, 4) == vn.NurbsSurface.approximate_grid(padded(grid), 5, 4)
    ku, kv = s2.knots_u, s2.knots_v
    assert vn.NurbsSurface(grid, ku, kv, 3, 3) == vn.NurbsSurface(padded(grid), ku, kv, 3, 3)
    uv2, _ = s2.project(grid[1:3, 1])
    uv3, _ = s2.project(padded(grid[1:3, 1]))
    np.testing.assert_array_equal(uv2, uv3)


def test_dims_two_is_the_xy_part(rng):
    pts = np.cumsum(rng.uniform(0.2, 1.0, (9, 3)), axis=0)  # a 3-D curve: dims=2 drops z
    curve = vn.interpolate(pts)
    u = rng.uniform(0, 1, (4, 5))
    for full, flat in [
        (curve.evaluate(u), curve.evaluate(u, dims=2)),
        (curve(u), curve(u, dims=2)),
        (curve.evaluate(0.3), curve.evaluate(0.3, dims=2)),
        (curve.derivatives(u, 3), curve.derivatives(u, 3, dims=2)),
        (curve.project(pts)[1], curve.project(pts, dims=2)[1]),
        (curve.project(pts[2])[1], curve.project(pts[2], dims=2)[1]),
    ]:
        assert flat.shape == full.shape[:-1] + (2,) and flat.flags.c_contiguous
        np.testing.assert_array_equal(flat, full[..., :2])
    fitted = vn.FittedCurve()
    fitted.fit(pts)
    for name in ("evaluate", "__call__", "speed", "acceleration"):
        method = getattr(fitted, name)
        np.testing.assert_array_equal(method(u, dims=2), method(u)[..., :2])
    np.testing.assert_array_equal(fitted.segment_points(0.01, dims=2), fitted.segment_points(0.01)[:, :2])
    for bad in (0, 1, 4):
        with pytest.raises(ValueError, match="dims"):
            curve.evaluate(u, dims=bad)
        with pytest.raises(ValueError, match="dims"):
            fitted.evaluate(u, dims=bad)


@pytest.mark.parametrize(
    "points",
    [np.zeros((5, 1)), np.zeros((5, 4)), np.zeros(5), np.array([[0, 0], [1, np.nan], [2, 0], [3, 1]])],
    ids=["one column", "four columns", "flat", "nan"],
)
def test_points_of_other_shapes_are_refused(points):
    with pytest.raises(ValueError, match="points"):
        vn.interpolate(points)
    with pytest.raises(ValueError, match="points"):
        vn.FittedCurve().fit(points)


# --- the package's names -----------------------------------------------------------------------


def test_dir_shows_exactly_the_api():
    assert dir(vn) == sorted(vn.__all__ + ["dask", "plot"])
    assert len(set(vn.__all__)) == len(vn.__all__)
    for name in vn.__all__:
        assert getattr(vn, name).__module__.startswith("velsdk_nurbs"), name
    # Every public name of the compiled module is exported (a new binding is not forgotten) ...
    core = {name for name in vars(vn._core) if not name.startswith("_")}
    assert core <= set(vn.__all__)
    # ... and the package holds nothing public beyond the API (helpers are private).
    public = {name for name in vars(vn) if not name.startswith("_")}
    assert public - {"dask", "plot"} == set(vn.__all__)
    assert not (set(dir(vn)) & {"os", "sys", "Union", "annotations", "PathLike"})
    namespace = {}
    exec("from velsdk_nurbs import *", namespace)
    assert set(namespace) - {"__builtins__"} == set(vn.__all__)
    # The submodules in dir() are the ones of that name, imported on first use.
    for name in ("dask", "plot"):
        assert getattr(vn, name).__name__ == "velsdk_nurbs." + name
    with pytest.raises(AttributeError):
        vn.os
