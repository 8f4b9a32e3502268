"""Global nearest points and the locators against dense sampling refined by SciPy's bounded minimisers."""

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import random_clamped_knots, random_surface, sampled_distances

optimize = pytest.importorskip("scipy.optimize")


@pytest.fixture
def scribble(rng):
    """A cubic through 40 random control points: it passes close to itself many times."""
    return vn.NurbsCurve(rng.uniform(-1, 1, (40, 3)), random_clamped_knots(rng, 40, 3, repeat=True), 3)


def test_curve_nearest_matches_the_sampled_minimum(scribble, rng):
    queries = rng.uniform(-1.2, 1.2, (25, 3))
    u, feet, dist = scribble.nearest(queries)
    assert u.shape == (25,) and feet.shape == (25, 3) and dist.shape == (25,)
    np.testing.assert_allclose(scribble.evaluate(u), feet, rtol=0, atol=1e-12)
    np.testing.assert_allclose(np.linalg.norm(feet - queries, axis=-1), dist, rtol=1e-15)
    assert np.all(dist <= sampled_distances(scribble, queries, 4000, starts=6) * (1 + 1e-9) + 1e-12)


def test_shapes_threads_and_the_reusable_locator(scribble, rng):
    queries = rng.uniform(-1, 1, (101, 3))
    one = scribble.nearest(queries)
    for n in (0, 3):
        assert all(np.array_equal(x, y) for x, y in zip(one, vn.CurveLocator(scribble).nearest(queries, threads=n)))
    u, foot, d = scribble.nearest(queries[0])
    assert isinstance(u, float) and foot.shape == (3,) and d == one[2][0]
    assert scribble.nearest(queries[:, :2], dims=2)[1].shape == (101, 2)


def test_all_nearest_reports_both_branches():
    parabola = vn.NurbsCurve([[-2, 4, 0], [0, -4, 0], [2, 4, 0]], [0, 0, 0, 1, 1, 1], 2)
    both = vn.CurveLocator(parabola).all_nearest([0, 2, 0], rel_tol=1e-9)
    np.testing.assert_allclose([b[1][0] for b in both], [-np.sqrt(1.5), np.sqrt(1.5)], atol=1e-9)
    pts = np.array([[[-2, 0, 4], [-2, 1, 4]], [[0, 0, -4], [0, 1, -4]], [[2, 0, 4], [2, 1, 4]]], dtype=float)
    trough = vn.SurfaceLocator(vn.NurbsSurface(pts, [0, 0, 0, 1, 1, 1], [0, 0, 1, 1], 2, 1))
    both = trough.all_nearest([0, 0.5, 2])
    np.testing.assert_allclose([(b[2][0], b[3]) for b in both], [(-np.sqrt(1.5), np.sqrt(1.75)), (np.sqrt(1.5),
                               np.sqrt(1.75))], atol=1e-9)


def test_surface_nearest_matches_the_sampled_minimum(rng):
    s = random_surface(rng, 7, 6)[0]
    queries = np.column_stack([rng.uniform(-1, 7, 20), rng.uniform(-1, 6, 20), rng.uniform(-2, 2, 20)])
    uv, feet, dist = s.nearest(queries)
    assert uv.shape == (20, 2) and feet.shape == (20, 3)
    g = np.linspace(0, 1, 121)
    samples = s.evaluate(*np.meshgrid(g, g, indexing="ij")).reshape(-1, 3)
    for x, d in zip(queries, dist):
        k = np.argmin(np.linalg.norm(samples - x, axis=-1))
        r = optimize.minimize(lambda t: np.sum((s.evaluate(t[0], t[1]) - x) ** 2), [g[k // 121], g[k % 121]],
                              bounds=[(0, 1), (0, 1)], method="L-BFGS-B", options={"ftol": 1e-15, "gtol": 1e-12})
        assert d <= min(np.sqrt(r.fun), np.linalg.norm(samples - x, axis=-1).min()) * (1 + 1e-9) + 1e-12
    u, v, foot, d = vn.SurfaceLocator(s).nearest(queries[0])
    assert (u, v) == tuple(uv[0]) and d == dist[0]
