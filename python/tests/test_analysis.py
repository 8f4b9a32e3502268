"""Analysis methods of NurbsCurve and NurbsSurface: arc length against SciPy's quad of |C'(u)|,
parameter at length and division against the length, curvature against SciPy's B-spline
derivatives, the arrays and curves frames and editing return, surface curvatures of a paraboloid,
and the errors for bad input."""

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


def test_frames_and_editing_return_arrays_and_curves_of_the_same_shape():
    rng = np.random.default_rng(6)
    c = random_curve(rng, n=9, p=3, rational=True, repeat=False)
    u = np.linspace(0, 1, 301)
    f = c.frames(u)
    for key in ("tangents", "normals", "binormals"):
        assert f[key].shape == (301, 3)
    np.testing.assert_allclose(np.cross(f["tangents"], f["normals"]), f["binormals"], atol=1e-13)
    assert np.isnan(f["closing_twist"])
    np.testing.assert_allclose(c.frames(u, kind="frenet")["tangents"], f["tangents"], atol=1e-14)
    # Each edit gives a NurbsCurve on the same points (mapped through its new parameter).
    left, right = c.split(0.4)
    joined, report = left.join(right)
    assert report["g1"] and report["gap"] < 1e-12
    reduced, removed, bound = c.insert_knots([0.3, 0.3, 0.55]).remove_knots(1e-9)
    assert removed >= 3 and bound <= 1e-9
    assert c.elevate_degree(2).degree == 5
    for edited, w in [(c.elevate_degree(2), u), (c.reverse(), 1 - u), (c.reparametrize(2.0, 4.0), 2 + 2 * u),
                      (joined, u), (reduced, u)]:
        np.testing.assert_allclose(edited(w), c(u), atol=1e-9)
    for a, b, piece in c.bezier_pieces():
        np.testing.assert_allclose(piece(np.linspace(a, b, 7)), c(np.linspace(a, b, 7)), atol=1e-12)
    lo, hi = c.bounding_box(1e-8)
    dense = c(np.linspace(0, 1, 20001))
    np.testing.assert_allclose([lo, hi], [dense.min(axis=0), dense.max(axis=0)], atol=1e-6)


def test_surface_curvatures_of_a_paraboloid():
    b = np.array([1.0, -1.0, 1.0])
    net = np.array([[[i - 1.0, j - 1.0, b[i] + b[j]] for j in range(3)] for i in range(3)])
    s = vn.NurbsSurface(net, [0, 0, 0, 1, 1, 1], [0, 0, 0, 1, 1, 1], 2, 2)
    u, v = np.linspace(0, 1, 5)[:, None], np.linspace(0, 1, 4)[None, :]
    x, y = 2 * u - 1, 2 * v - 1
    q = 1 + 4 * x**2 + 4 * y**2
    d = s.curvatures(u, v)
    assert d["gaussian"].shape == (5, 4) and d["normal"].shape == (5, 4, 3)
    np.testing.assert_allclose(d["gaussian"], 4 / q**2, rtol=1e-12)
    np.testing.assert_allclose(d["mean"], (2 + 4 * x**2 + 4 * y**2) / q**1.5, rtol=1e-12)
    assert not d["degenerate"].any()
    np.testing.assert_allclose(s.normal(u, v)[..., 2], 1 / np.sqrt(q), rtol=1e-13)
    for edited in (s.sub_patch(0.2, 0.6, 0.1, 0.9), s.insert_knots([0.5], direction="v")):
        np.testing.assert_allclose(edited.evaluate(0.3, 0.5), s.evaluate(0.3, 0.5), atol=1e-14)
    assert len(s.insert_knots([0.5], direction="v").bezier_patches()) == 2
    np.testing.assert_allclose(s.bounding_box(1e-9), [[-1, -1, 0], [1, 1, 2]], atol=1e-9)


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
