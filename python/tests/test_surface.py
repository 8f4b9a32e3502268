"""NurbsSurface and surface fits against SciPy (basis functions, LSQBivariateSpline), closed forms, dense distances."""

import pickle

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import VOLCANO, load_csv, random_surface

scipy_interpolate = pytest.importorskip("scipy.interpolate")


def basis(knots, degree, count, x, order=0):
    """Values (or derivatives) of every basis function at x, shape (len(x), count)."""
    spline = scipy_interpolate.BSpline(knots, np.eye(count), degree)
    return (spline.derivative(order) if order else spline)(x)


def test_points_and_mixed_partials_match_the_tensor_product_and_shapes(rng):
    s, pts, ku, kv = random_surface(rng)
    u, v = rng.uniform(0, 1, 100), rng.uniform(0, 1, 100)
    d = s.derivatives(u, v, 2)
    assert d.shape == (100, 3, 3, 3)
    for k, l in [(0, 0), (1, 0), (0, 1), (1, 1), (2, 0), (0, 2)]:
        ref = np.einsum("mi,mj,ijc->mc", basis(ku, 3, 6, u, k), basis(kv, 2, 5, v, l), pts)
        np.testing.assert_allclose(d[:, k, l], ref, rtol=1e-10, atol=1e-10)
    np.testing.assert_array_equal(d[:, 0, 0], s.evaluate(u, v))
    w = rng.uniform(0.5, 2.0, pts.shape[:2])  # rational: the quotient of the homogeneous tensor product
    r, h = vn.NurbsSurface(pts, ku, kv, 3, 2, weights=w), np.dstack([pts * w[..., None], w])
    h = np.einsum("mi,mj,ijc->mc", basis(ku, 3, 6, u), basis(kv, 2, 5, v), h)
    np.testing.assert_array_equal(r.weights, w)
    np.testing.assert_allclose(r.evaluate(u, v), h[:, :3] / h[:, 3:], atol=1e-12)
    # Broadcasting, (u, v) pairs, scalars.
    u, v = np.linspace(0, 1, 5), np.linspace(0, 1, 4)
    grid = s.evaluate(u[:, None], v[None, :])
    assert grid.shape == (5, 4, 3) and s(0.5, 0.5).shape == (3,)
    np.testing.assert_array_equal(s.evaluate(np.stack(np.meshgrid(u, v, indexing="ij"), axis=-1)), grid)
    (u1, _), foot = s.project(grid[1, 1] + 0.01)
    assert isinstance(u1, float) and foot.shape == (3,) and [a.shape for a in s.project(grid[0])] == [(4, 2), (4, 3)]
    assert pickle.loads(pickle.dumps(s)) == s


def test_curvatures_of_a_paraboloid():
    b = np.array([1.0, -1.0, 1.0])
    net = np.array([[[i - 1.0, j - 1.0, b[i] + b[j]] for j in range(3)] for i in range(3)])
    s = vn.NurbsSurface(net, [0, 0, 0, 1, 1, 1], [0, 0, 0, 1, 1, 1], 2, 2)
    u, v = np.linspace(0, 1, 5)[:, None], np.linspace(0, 1, 4)[None, :]
    q = 1 + 4 * (2 * u - 1) ** 2 + 4 * (2 * v - 1) ** 2
    d = s.curvatures(u, v)
    assert d["normal"].shape == (5, 4, 3) and not d["degenerate"].any()
    np.testing.assert_allclose(d["gaussian"], 4 / q**2, rtol=1e-12)
    np.testing.assert_allclose(d["mean"], (q + 1) / q**1.5, rtol=1e-12)
    np.testing.assert_allclose(s.normal(u, v)[..., 2], 1 / np.sqrt(q), rtol=1e-13)
    np.testing.assert_allclose(s.sub_patch(0.2, 0.6, 0.1, 0.9).evaluate(0.3, 0.5), s.evaluate(0.3, 0.5), atol=1e-14)
    assert len(s.insert_knots([0.5], direction="v").bezier_patches()) == 2 and np.shape(s.bounding_box(1e-9)) == (2, 3)
    flat = vn.NurbsSurface(np.zeros((2, 2, 3)), [0, 0, 1, 1], [0, 0, 1, 1], 1, 1)  # degenerate: NaN, flagged
    d = flat.curvatures(0.5, 0.5)
    assert d["degenerate"] and np.isnan(d["gaussian"]) and np.isnan(flat.normal(0.5, 0.5)).all()


def test_grid_fits_return_surfaces_of_the_grid_shape():
    s = vn.NurbsSurface.interpolate_grid(VOLCANO)
    assert s.control_points.shape == VOLCANO.shape
    np.testing.assert_allclose(s.evaluate(1.0, 1.0), VOLCANO[-1, -1], atol=1e-9)
    assert vn.NurbsSurface.approximate_grid(VOLCANO, 12, 16, degree_u=3, degree_v=2).control_points.shape == (12, 16, 3)


def test_approximate_surface_within_tolerance_by_dense_distance():
    surface, report = vn.approximate_surface(VOLCANO, 2.0, params="uniform")
    assert report.tolerance_met and report.max_error <= 2 and np.prod(surface.control_points.shape[:2]) < 0.3 * 61 * 87
    assert report.errors.shape == report.u.shape == report.v.shape == (61 * 87,)
    # Each distance is that of the surface point at the reported foot; no dense sample is nearer.
    flat = VOLCANO.reshape(-1, 3)
    np.testing.assert_allclose(np.linalg.norm(surface.evaluate(report.u, report.v) - flat, axis=1), report.errors,
                               atol=1e-9)
    dense = surface.evaluate(*np.meshgrid(np.linspace(0, 1, 301), np.linspace(0, 1, 301))).reshape(-1, 3)
    for k in range(0, 61 * 87, 331):
        assert report.errors[k] <= np.min(np.linalg.norm(dense - flat[k], axis=1)) + 1e-9


def test_fit_scattered_height_field_to_tolerance_and_lsq_peer():
    pts, _ = load_csv("dem_volcano_scattered30.csv")
    tol = 0.01 * np.ptp(pts[:, 2])
    surface, report = vn.fit_scattered(pts, tol=tol)
    assert report.tolerance_met and report.max_error <= tol
    z = surface.evaluate(pts[:, 0], pts[:, 1])
    np.testing.assert_allclose(z[:, :2], pts[:, :2], atol=1e-9)
    np.testing.assert_allclose(np.abs(z[:, 2] - pts[:, 2]), report.errors, atol=1e-9)
    # Without smoothing on a given net: the least squares FITPACK solves on the same knots.
    surface, report = vn.fit_scattered(pts, smoothing=0.0, control_points=(9, 11))
    tx, ty = np.unique(surface.knots_u), np.unique(surface.knots_v)
    peer = scipy_interpolate.LSQBivariateSpline(pts[:, 0], pts[:, 1], pts[:, 2], tx[1:-1], ty[1:-1],
                                                bbox=[tx[0], tx[-1], ty[0], ty[-1]])
    u, v = np.linspace(tx[0], tx[-1], 23), np.linspace(ty[0], ty[-1], 19)
    np.testing.assert_allclose(surface.evaluate(*np.meshgrid(u, v, indexing="ij"))[..., 2], peer(u, v), atol=1e-6)


S, T = np.random.default_rng(5).uniform(-1, 1, (2, 800))
SHEET = np.column_stack([np.cos(S), np.sin(S), T + 0.1 * S * S])  # a bent sheet, not a height field


def test_fit_scattered_cloud_with_parameters():
    surface, report = vn.fit_scattered(SHEET, tol=1e-4, params=np.column_stack([S, T]))
    assert report.max_error <= 1e-4 and len(report.max_error_per_round) == 4
    np.testing.assert_allclose(np.linalg.norm(surface.evaluate(report.u, report.v) - SHEET, axis=1), report.errors,
                               atol=1e-12)


G = VOLCANO[:7, :9]


@pytest.mark.parametrize("call, error, message", [
    (lambda: vn.NurbsSurface(np.zeros((2, 3, 1)), [0, 0, 1, 1], [0, 0, 0, 1, 1, 1], 1, 2), ValueError, "shape"),
    (lambda: vn.NurbsSurface(np.zeros((2, 3, 3)), [0, 0, 1, 1, 1], [0, 0, 0, 1, 1, 1], 1, 2), ValueError, "knots_u"),
    (lambda: vn.NurbsSurface(np.zeros((2, 3, 3)), [0, 0, 1, 1], [0, 0, 1, 0, 1, 1], 1, 2), ValueError,
     "non-decreasing"),
    (lambda: vn.NurbsSurface.interpolate_grid(VOLCANO[:4, :4]).evaluate(np.zeros((3, 3))), ValueError, ""),
    (lambda: vn.NurbsSurface.interpolate_grid(VOLCANO[..., :1]), ValueError, "shape"),  # (m, n, 2) is planar
    (lambda: vn.NurbsSurface.approximate_grid(VOLCANO[:5], 6, 6), ValueError, "more control points"),
    (lambda: vn.NurbsSurface.interpolate_grid(VOLCANO[:6, :6], params_u=np.zeros(6)), vn.NurbsError, "singular"),
    (lambda: vn.approximate_surface(G, 0.0), ValueError, "tolerance"),
    (lambda: vn.approximate_surface(G, 1e-3, degree_u=7), ValueError, "too small"),
    (lambda: vn.approximate_surface(G, 1e-3, params="arc"), ValueError, "params"),
    (lambda: vn.approximate_surface(G, 1e-3, weights=np.ones(7)), ValueError, "weights"),
    (lambda: vn.approximate_surface(np.where(G > G[3, 3, 2], np.nan, G), 1e-3), ValueError, "finite"),
    (lambda: vn.fit_scattered(SHEET * np.nan), ValueError, "finite"),
    (lambda: vn.fit_scattered(SHEET, smoothing=-2), ValueError, "smooth"),
    (lambda: vn.fit_scattered(SHEET, kind="mesh"), ValueError, "kind"),
    (lambda: vn.fit_scattered(SHEET, solver="qr"), ValueError, "solver"),
    (lambda: vn.fit_scattered(SHEET, params=np.zeros((800, 3))), ValueError, "params"),
    (lambda: vn.fit_scattered(SHEET[:, [0, 0, 1]] * [1, 1, 0]), ValueError, "one line")])
def test_refusals(call, error, message):
    with pytest.raises(error, match=message):
        call()
