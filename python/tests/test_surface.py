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


class TestEvaluation:
    def test_points_and_mixed_partials_match_the_tensor_product(self, patch, rng):
        s, pts, ku, kv = patch
        u, v = rng.uniform(0, 1, 100), rng.uniform(0, 1, 100)
        d = s.derivatives(u, v, 2)
        assert d.shape == (100, 3, 3, 3)
        for k in range(3):
            for l in range(3):
                if k + l > 2:
                    np.testing.assert_array_equal(d[:, k, l], 0.0)
                    continue
                ref = np.einsum("mi,mj,ijc->mc", basis(ku, 3, 6, u, k), basis(kv, 2, 5, v, l), pts)
                np.testing.assert_allclose(d[:, k, l], ref, rtol=1e-10, atol=1e-10)
        np.testing.assert_array_equal(d[:, 0, 0], s.evaluate(u, v))

    def test_rational_surface_is_the_quotient(self, patch, rng):
        _, pts, ku, kv = patch
        w = rng.uniform(0.5, 2.0, pts.shape[:2])
        s = vn.NurbsSurface(pts, ku, kv, 3, 2, weights=w)
        u, v = rng.uniform(0, 1, 50), rng.uniform(0, 1, 50)
        Bu, Bv = basis(ku, 3, 6, u), basis(kv, 2, 5, v)
        num = np.einsum("mi,mj,ijc->mc", Bu, Bv, pts * w[..., None])
        den = np.einsum("mi,mj,ij->m", Bu, Bv, w)
        np.testing.assert_allclose(s.evaluate(u, v), num / den[:, None], atol=1e-12)
        np.testing.assert_array_equal(s.weights, w)

    def test_broadcasting_and_pairs(self, patch):
        s = patch[0]
        u, v = np.linspace(0, 1, 5), np.linspace(0, 1, 4)
        grid = s.evaluate(u[:, None], v[None, :])
        assert grid.shape == (5, 4, 3)
        pairs = np.stack(np.meshgrid(u, v, indexing="ij"), axis=-1)
        np.testing.assert_array_equal(s.evaluate(pairs), grid)
        assert s(0.5, 0.5).shape == (3,)
        with pytest.raises(ValueError):
            s.evaluate(np.zeros((3, 3)))

    @pytest.mark.parametrize(
        "shape, ku, kv, message",
        [((2, 3, 1), [0, 0, 1, 1], [0, 0, 0, 1, 1, 1], "shape"),
         ((2, 3, 3), [0, 0, 1, 1, 1], [0, 0, 0, 1, 1, 1], "knots_u"),
         ((2, 3, 3), [0, 0, 1, 1], [0, 0, 1, 0, 1, 1], "non-decreasing")],
    )
    def test_refuses_what_is_not_a_surface(self, shape, ku, kv, message):
        with pytest.raises(ValueError, match=message):
            vn.NurbsSurface(np.zeros(shape), ku, kv, 1, 2)


class TestFitting:
    def test_interpolation_of_the_elevation_model(self, volcano):
        s = vn.NurbsSurface.interpolate_grid(volcano)
        m, n = volcano.shape[:2]
        assert s.control_points.shape == (m, n, 3)
        u, v = vn.uniform_parameters(m), vn.uniform_parameters(n)
        back = s.evaluate(u[:, None], v[None, :])
        assert np.max(np.abs(back - volcano)) < 1e-9 * np.max(np.abs(volcano))

    def test_approximation_keeps_corners_and_reproduces_a_surface(self, patch, volcano):
        s = vn.NurbsSurface.approximate_grid(volcano, 12, 16, degree_u=3, degree_v=2)
        assert s.control_points.shape == (12, 16, 3)
        corners = volcano[[0, 0, -1, -1], [0, -1, 0, -1]]
        np.testing.assert_allclose(s.evaluate([0, 0, 1, 1], [0, 1, 0, 1]), corners, atol=1e-9)
        truth, _, ku, kv = patch
        u, v = np.linspace(0, 1, 30), np.linspace(0, 1, 25)
        samples = truth.evaluate(u[:, None], v[None, :])
        fit = vn.NurbsSurface.approximate_grid(samples, 6, 5, u, v, ku, kv, 3, 2)
        np.testing.assert_allclose(fit.control_points, truth.control_points, atol=1e-9)

    def test_failures(self, volcano):
        with pytest.raises(ValueError, match="shape"):
            vn.NurbsSurface.interpolate_grid(volcano[..., :1])  # (m, n, 2) is a planar grid
        with pytest.raises(ValueError, match="more control points"):
            vn.NurbsSurface.approximate_grid(volcano[:5], 6, 6)
        with pytest.raises(vn.NurbsError, match="singular"):
            vn.NurbsSurface.interpolate_grid(volcano[:6, :6], params_u=np.zeros(6))


def test_projection_finds_perpendicular_feet(patch, rng):
    s = patch[0]
    u0, v0 = rng.uniform(0.1, 0.9, 20), rng.uniform(0.1, 0.9, 20)
    d = s.derivatives(u0, v0, 1)
    normal = np.cross(d[:, 1, 0], d[:, 0, 1])
    normal /= np.linalg.norm(normal, axis=1)[:, None]
    q = d[:, 0, 0] + 0.01 * normal
    uv, feet = s.project(q, tolerance=1e-12)
    assert uv.shape == (20, 2) and feet.shape == (20, 3)
    np.testing.assert_allclose(uv, np.column_stack([u0, v0]), atol=1e-6)
    (u1, v1), foot = s.project(q[0], tolerance=1e-12)
    assert (u1, v1) == tuple(uv[0]) and foot.shape == (3,)
