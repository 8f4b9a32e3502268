"""STEP/IGES round trips, malformed files, tessellate's meshes as meshio (an independent reader) reads them."""

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import random_surface

meshio = pytest.importorskip("meshio")


CURVE = vn.NurbsCurve([[1, 0, 0], [1, 1, 0], [0, 1, 0]], [0, 0, 0, 1, 1, 1], 2, weights=[1, np.sqrt(0.5), 1])  # arc


SURFACE = random_surface(np.random.default_rng(7))[0]


@pytest.mark.parametrize("save,load,ext", [(vn.save_step, vn.load_step, "step"), (vn.save_iges, vn.load_iges, "igs")])
def test_round_trip_gives_the_same_arrays(tmp_path, save, load, ext):
    save(tmp_path / f"both.{ext}", [CURVE, SURFACE], unit="m")
    c, s = load(tmp_path / f"both.{ext}")
    for a, b in [(c.knots, CURVE.knots), (c.weights, CURVE.weights), (s.control_points, SURFACE.control_points),
                 (s.knots_u, SURFACE.knots_u), (s.knots_v, SURFACE.knots_v)]:
        np.testing.assert_array_equal(a, b)
    np.testing.assert_allclose(c.control_points, CURVE.control_points, rtol=0, atol=1e-16)
    save(tmp_path / f"one.{ext}", SURFACE)
    assert [type(o) for o in load(tmp_path / f"one.{ext}")] == [vn.NurbsSurface] and type(c) is vn.NurbsCurve


BAD_STEP = "ISO-10303-21;\nHEADER;\nENDSEC;\nDATA;\n#1=CARTESIAN_POINT('',(1.E999,0.,0.));\n"


@pytest.mark.parametrize("call, error, message", [
    (lambda d, c: vn.load_step(d / "bad.step"), ValueError, r"bad.step:\d+: "),
    (lambda d, c: vn.load_step(d / "missing.step"), OSError, ""),
    (lambda d, c: vn.save_step(d / "x.step", c, unit="inch"), ValueError, "unit"),
    (lambda d, c: vn.save_step(d / "x.step", [c, 3]), TypeError, ""),
    (lambda d, c: vn.tessellate(vn.NurbsSurface(np.eye(3)[[[0, 1], [1, 2]]], [0, 0, 1, 1], [0, 0, 1, 1], 1, 1), 0.0),
     ValueError, "")])
def test_errors(tmp_path, call, error, message):
    (tmp_path / "bad.step").write_text(BAD_STEP)
    with pytest.raises(error, match=message):
        call(tmp_path, CURVE)


@pytest.mark.parametrize("ext", ["stl", "ply", "obj"])
def test_tessellate_arrays_and_meshio_reads_our_meshes(tmp_path, ext):
    # The mesh itself is proven by the C++ tests; here: dtypes, shapes, indices and unit normals, and that an
    # independent reader finds in the file what tessellate returned.
    v, f, n = vn.tessellate(SURFACE, 0.01, angle=0.2, path=tmp_path / f"s.{ext}")
    assert v.shape[1] == 3 and n.shape == v.shape and f.shape[1] == 3 and f.dtype == np.int64
    assert f.min() >= 0 and f.max() < len(v)
    np.testing.assert_allclose(np.linalg.norm(n, axis=1), 1.0, rtol=1e-12)
    m = meshio.read(tmp_path / f"s.{ext}")
    assert len(triangles := m.get_cells_type("triangle")) == len(f)
    if ext == "stl":
        # STL stores corners per facet as float32; compare the facets' corner coordinates.
        np.testing.assert_array_equal(m.points[triangles].astype(np.float32), v[f].astype(np.float32))
    else:
        np.testing.assert_array_equal(m.points, v)
        np.testing.assert_array_equal(triangles, f)
    if ext == "ply":
        np.testing.assert_array_equal(np.stack([m.point_data[k] for k in ("nx", "ny", "nz")], axis=1), n)
