"""Analysis methods of NurbsCurve and NurbsSurface: arc length against SciPy's quad of |C'(u)|,
parameter at length and division against the length, curvature against SciPy's B-spline
derivatives, frames, editing by dense comparison, surface curvatures of a paraboloid, and the
errors for bad input."""

from __future__ import annotations

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import random_clamped_knots

integrate = pytest.importorskip("scipy.integrate")
BSpline = pytest.importorskip("scipy.interpolate").BSpline


def random_curve(rng, n=9, p=3, rational=False, repeat=True):
    pts = np.cumsum(rng.uniform(0.2, 1.0, (n, 3)), axis=0)
    w = rng.uniform(0.5, 2.0, n) if rational else None
    return vn.NurbsCurve(pts, random_clamped_knots(rng, n, p, repeat), p, weights=w)


def speed(c, u):
    return np.linalg.norm(c.derivatives(u, 1)[..., 1, :], axis=-1)


@pytest.mark.parametrize("p", [1, 2, 3, 5, 7])
@pytest.mark.parametrize("rational", [False, True])
def test_length_matches_scipy_quad(p, rational):
    rng = np.random.default_rng(10 * p + rational)
    c = random_curve(rng, n=p + 6, p=p, rational=rational)
    knots = np.unique(c.knots)
    # quad per knot span: the speed is smooth inside each.
    exact = sum(integrate.quad(lambda u: speed(c, u), a, b, epsabs=0, epsrel=1e-13, limit=200)[0]
                for a, b in zip(knots[:-1], knots[1:]))
    length, err = c.length(with_error=True)
    assert length == pytest.approx(exact, rel=1e-11)
    assert err < 1e-10 * exact
    a, b = 0.2, 0.7
    part = integrate.quad(lambda u: speed(c, u), a, b, epsabs=0, epsrel=1e-13, limit=200, points=knots)[0]
    assert c.length(a, b) == pytest.approx(part, rel=1e-10)


def test_param_at_length_and_divide_are_vectorised():
    rng = np.random.default_rng(3)
    c = random_curve(rng, rational=True)
    L = c.length()
    s = np.linspace(0, L, 12).reshape(3, 4)
    u = c.param_at_length(s)
    assert u.shape == (3, 4)
    back = np.array([c.length(0.0, x) for x in u.ravel()]).reshape(3, 4)
    np.testing.assert_allclose(back, s, rtol=1e-11, atol=1e-12)
    assert isinstance(c.param_at_length(0.5 * L), float)
    params = c.divide(count=10)
    assert params.shape == (11,) and params[0] == 0.0 and params[-1] == 1.0
    pieces = np.array([c.length(a, b) for a, b in zip(params[:-1], params[1:])])
    np.testing.assert_allclose(pieces, L / 10, rtol=1e-10)
    spaced = c.divide(spacing=L / 7.5)
    assert len(spaced) == 8


def test_curvature_against_scipy_derivatives():
    rng = np.random.default_rng(4)
    c = random_curve(rng, n=10, p=4)
    spl = BSpline(c.knots, c.control_points, 4)
    u = rng.uniform(0, 1, (5, 6))
    d1, d2 = spl(u, 1), spl(u, 2)
    expected = np.linalg.norm(np.cross(d1, d2), axis=-1) / np.linalg.norm(d1, axis=-1) ** 3
    k = c.curvature(u)
    assert k.shape == (5, 6)
    np.testing.assert_allclose(k, expected, rtol=1e-10)
    k, t = c.curvature(u, torsion=True)
    d3 = spl(u, 3)
    cr = np.cross(d1, d2)
    np.testing.assert_allclose(t, np.einsum("...i,...i", cr, d3) / np.einsum("...i,...i", cr, cr), rtol=1e-8)


def test_frames_are_orthonormal_and_rotation_minimizing():
    rng = np.random.default_rng(5)
    c = random_curve(rng, n=8, p=3, repeat=False)  # a smooth tangent everywhere
    u = np.linspace(0, 1, 801)
    f = c.frames(u)
    T, N, B = f["tangents"], f["normals"], f["binormals"]
    for a, b in [(T, N), (T, B), (N, B)]:
        np.testing.assert_allclose(np.einsum("ij,ij->i", a, b), 0, atol=1e-13)
    np.testing.assert_allclose(np.linalg.norm(N, axis=1), 1, atol=1e-14)
    # No spin about the tangent: the change of N has no component along B (to O(h^3), and
    # O(h^2) at the knots where the curvature's derivative jumps), unlike the Frenet frame's.
    def spin(N, B):
        return np.max(np.abs(np.einsum("ij,ij->i", N[1:] - N[:-1], 0.5 * (B[1:] + B[:-1]))))

    frenet = c.frames(u, kind="frenet")
    assert spin(N, B) < 1e-3 * spin(frenet["normals"], frenet["binormals"])
    assert np.isnan(f["closing_twist"])
    np.testing.assert_allclose(frenet["tangents"], T, atol=1e-14)


def test_editing_preserves_the_shape():
    rng = np.random.default_rng(6)
    c = random_curve(rng, n=9, p=3, rational=True)
    u = np.linspace(0, 1, 301)
    e = c.elevate_degree(2)
    assert e.degree == 5
    np.testing.assert_allclose(e(u), c(u), atol=1e-12)
    np.testing.assert_allclose(c.reverse()(1 - u), c(u), atol=1e-12)
    r = c.reparametrize(2.0, 4.0)
    np.testing.assert_allclose(r(2 + 2 * u), c(u), atol=1e-12)
    pieces = c.bezier_pieces()
    for a, b, piece in pieces:
        w = np.linspace(a, b, 7)
        np.testing.assert_allclose(piece(w), c(w), atol=1e-12)
    left, right = c.split(0.4)
    joined, report = left.join(right)
    assert report["g1"] and report["gap"] < 1e-12
    np.testing.assert_allclose(joined(u), c(u), atol=1e-10)
    refined = c.insert_knots([0.3, 0.3, 0.55])
    reduced, removed, bound = refined.remove_knots(1e-9)
    assert removed >= 3 and bound <= 1e-9
    np.testing.assert_allclose(reduced(u), c(u), atol=1e-9)
    lo, hi = c.bounding_box(1e-8)
    dense = c(np.linspace(0, 1, 20001))
    assert np.all(lo <= dense.min(axis=0) + 1e-12) and np.all(hi >= dense.max(axis=0) - 1e-12)
    np.testing.assert_allclose(lo, dense.min(axis=0), atol=1e-6)


def test_surface_curvatures_of_a_paraboloid():
    b = np.array([1.0, -1.0, 1.0])
    net = np.array([[[i - 1.0, j - 1.0, b[i] + b[j]] for j in range(3)] for i in range(3)])
    s = vn.NurbsSurface(net, [0, 0, 0, 1, 1, 1], [0, 0, 0, 1, 1, 1], 2, 2)
    u = np.linspace(0, 1, 5)[:, None]
    v = np.linspace(0, 1, 4)[None, :]
    x, y = 2 * u - 1, 2 * v - 1
    q = 1 + 4 * x**2 + 4 * y**2
    d = s.curvatures(u, v)
    assert d["gaussian"].shape == (5, 4) and d["normal"].shape == (5, 4, 3)
    np.testing.assert_allclose(d["gaussian"], 4 / q**2, rtol=1e-12)
    np.testing.assert_allclose(d["mean"], (2 + 4 * x**2 + 4 * y**2) / q**1.5, rtol=1e-12)
    assert not d["degenerate"].any()
    np.testing.assert_allclose(s.normal(u, v)[..., 2], 1 / np.sqrt(q), rtol=1e-13)
    sub = s.sub_patch(0.2, 0.6, 0.1, 0.9)
    np.testing.assert_allclose(sub.evaluate(0.3, 0.5), s.evaluate(0.3, 0.5), atol=1e-14)
    ins = s.insert_knots([0.5], direction="v")
    np.testing.assert_allclose(ins.evaluate(0.3, 0.7), s.evaluate(0.3, 0.7), atol=1e-14)
    assert len(ins.bezier_patches()) == 2
    lo, hi = s.bounding_box(1e-9)
    np.testing.assert_allclose(lo, [-1, -1, 0], atol=1e-9)
    np.testing.assert_allclose(hi, [1, 1, 2], atol=1e-9)


def test_bad_input_raises_value_error():
    rng = np.random.default_rng(7)
    c = random_curve(rng)
    for call in [
        lambda: c.length(rel_accuracy=0.0),
        lambda: c.length(0.5, 0.2),
        lambda: c.param_at_length(-1.0),
        lambda: c.param_at_length(np.nan),
        lambda: c.divide(),
        lambda: c.divide(count=0),
        lambda: c.divide(spacing=-1.0),
        lambda: c.frames([0.5, 0.2]),
        lambda: c.frames([0.2], kind="twisted"),
        lambda: c.elevate_degree(-1),
        lambda: c.remove_knots(0.0),
        lambda: c.remove_knots(1e-3, u=0.123456),
        lambda: c.reparametrize(1.0, 1.0),
        lambda: c.bounding_box(0.0),
        lambda: c.join(c.reparametrize(0, 1).reverse().insert_knots([0.5]).split(0.5)[1], tolerance=1e-12),
    ]:
        with pytest.raises(ValueError):
            call()
    assert np.isnan(c.curvature(np.nan))
    flat = vn.NurbsSurface(np.zeros((2, 2, 3)), [0, 0, 1, 1], [0, 0, 1, 1], 1, 1)
    d = flat.curvatures(0.5, 0.5)
    assert d["degenerate"] and np.isnan(d["gaussian"])
    assert np.isnan(flat.normal(0.5, 0.5)).all()
