"""NurbsSurface: evaluation and mixed derivatives against tensor products of SciPy basis
functions, grid fitting of a real elevation model, projection."""

from __future__ import annotations

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import random_clamped_knots

scipy_interpolate = pytest.importorskip("scipy.interpolate")


def basis(knots, degree, count, x, order=0):
    """Values (or derivatives) of every basis function at x, shape (len(x), count)."""
    spline = scipy_interpolate.BSpline(knots, np.eye(count), degree)
    return (spline.derivative(order) if order else spline)(x)


@pytest.fixture
def patch(rng):
    nu, nv, p, q = 6, 5, 3, 2
    grid = np.stack(np.meshgrid(np.arange(nu), np.arange(nv), indexing="ij"), axis=-1).astype(float)
    pts = np.concatenate([grid, rng.uniform(-1, 1, (nu, nv, 1))], axis=-1)
    ku, kv = random_clamped_knots(rng, nu, p), random_clamped_knots(rng, nv, q)
    return vn.NurbsSurface(pts, ku, kv, p, q), pts, ku, kv


def test_points_and_mixed_partials_match_the_tensor_product(patch, rng):
    s, pts, ku, kv = patch
    u, v = rng.uniform(0, 1, 100), rng.uniform(0, 1, 100)
    d = s.derivatives(u, v, 2)
    assert d.shape == (100, 3, 3, 3)
    for k, l in [(0, 0), (1, 0), (0, 1), (1, 1), (2, 0), (0, 2)]:
        ref = np.einsum("mi,mj,ijc->mc", basis(ku, 3, 6, u, k), basis(kv, 2, 5, v, l), pts)
        np.testing.assert_allclose(d[:, k, l], ref, rtol=1e-10, atol=1e-10)
    np.testing.assert_array_equal(d[:, 0, 0], s.evaluate(u, v))
    w = rng.uniform(0.5, 2.0, pts.shape[:2])
    np.testing.assert_array_equal(vn.NurbsSurface(pts, ku, kv, 3, 2, weights=w).weights, w)


def test_broadcasting_and_pairs(patch):
    s = patch[0]
    u, v = np.linspace(0, 1, 5), np.linspace(0, 1, 4)
    grid = s.evaluate(u[:, None], v[None, :])
    assert grid.shape == (5, 4, 3) and s(0.5, 0.5).shape == (3,)
    np.testing.assert_array_equal(s.evaluate(np.stack(np.meshgrid(u, v, indexing="ij"), axis=-1)), grid)
    (u1, _), foot = s.project(grid[1, 1] + 0.01)
    assert isinstance(u1, float) and foot.shape == (3,) and [a.shape for a in s.project(grid[0])] == [(4, 2), (4, 3)]


@pytest.mark.parametrize("call, error, message", [
    (lambda g: vn.NurbsSurface(np.zeros((2, 3, 1)), [0, 0, 1, 1], [0, 0, 0, 1, 1, 1], 1, 2), ValueError, "shape"),
    (lambda g: vn.NurbsSurface(np.zeros((2, 3, 3)), [0, 0, 1, 1, 1], [0, 0, 0, 1, 1, 1], 1, 2), ValueError, "knots_u"),
    (lambda g: vn.NurbsSurface(np.zeros((2, 3, 3)), [0, 0, 1, 1], [0, 0, 1, 0, 1, 1], 1, 2), ValueError,
     "non-decreasing"),
    (lambda g: vn.NurbsSurface.interpolate_grid(g[:4, :4]).evaluate(np.zeros((3, 3))), ValueError, ""),
    (lambda g: vn.NurbsSurface.interpolate_grid(g[..., :1]), ValueError, "shape"),  # (m, n, 2) is a planar grid
    (lambda g: vn.NurbsSurface.approximate_grid(g[:5], 6, 6), ValueError, "more control points"),
    (lambda g: vn.NurbsSurface.interpolate_grid(g[:6, :6], params_u=np.zeros(6)), vn.NurbsError, "singular")])
def test_refusals(volcano, call, error, message):
    with pytest.raises(error, match=message):
        call(volcano)


def test_grid_fits_return_surfaces_of_the_grid_shape(volcano):
    m, n = volcano.shape[:2]
    s = vn.NurbsSurface.interpolate_grid(volcano)
    assert s.control_points.shape == (m, n, 3)
    np.testing.assert_allclose(s.evaluate(1.0, 1.0), volcano[-1, -1], atol=1e-9)
    assert vn.NurbsSurface.approximate_grid(volcano, 12, 16, degree_u=3, degree_v=2).control_points.shape == (12, 16, 3)
