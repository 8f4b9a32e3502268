"""Analysis methods of NurbsCurve and NurbsSurface: arc length against SciPy's quad of |C'(u)|,
curvature and torsion against SciPy's B-spline derivatives, the types and shapes every other
analysis and editing entry point returns, surface curvatures of a paraboloid, bad input."""

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


@pytest.mark.parametrize("p, rational", [(1, False), (3, True), (5, False), (7, True)])
def test_length_matches_scipy_quad(p, rational):
    c = random_curve(np.random.default_rng(10 * p + rational), n=p + 6, p=p, rational=rational)
    knots = np.unique(c.knots)

    def quad(a, b):  # per knot span: the speed is smooth inside each
        speed = lambda u: np.linalg.norm(c.derivatives(u, 1)[..., 1, :], axis=-1)  # noqa: E731
        inner = knots[(knots > a) & (knots < b)]
        return integrate.quad(speed, a, b, epsabs=0, epsrel=1e-13, limit=200, points=inner if len(inner) else None)[0]

    exact = sum(quad(a, b) for a, b in zip(knots[:-1], knots[1:]))
    length, err = c.length(with_error=True)
    assert length == pytest.approx(exact, rel=1e-11) and err < 1e-10 * exact
    assert c.length(0.2, 0.7) == pytest.approx(quad(0.2, 0.7), rel=1e-10)


def test_curvature_and_torsion_against_scipy_derivatives():
    rng = np.random.default_rng(4)
    c = random_curve(rng, n=10, p=4)
    spl = BSpline(c.knots, c.control_points, 4)
    u = rng.uniform(0, 1, (5, 6))
    d1, d2, d3 = spl(u, 1), spl(u, 2), spl(u, 3)
    cr = np.cross(d1, d2)
    assert c.curvature(u).shape == (5, 6)
    np.testing.assert_allclose(c.curvature(u), np.linalg.norm(cr, axis=2) / np.linalg.norm(d1, axis=2) ** 3, rtol=1e-10)
    _, t = c.curvature(u, torsion=True)
    np.testing.assert_allclose(t, np.einsum("...i,...i", cr, d3) / np.einsum("...i,...i", cr, cr), rtol=1e-8)


C = random_curve(np.random.default_rng(6), rational=True, repeat=False)
U = np.linspace(0, 1, 7)
# Entry point, result, check of type/shape, and one value the result must reproduce.
CURVE_CALLS = [
    ("param_at_length", lambda: C.param_at_length(np.full((3, 4), 0.5 * C.length())),
     lambda r: r.shape == (3, 4) and C.length(0, r[0, 0]) == pytest.approx(0.5 * C.length(), rel=1e-11)),
    ("curvature_nan", lambda: C.curvature(np.nan), np.isnan),
    ("param_at_length_scalar", lambda: C.param_at_length(0.0), lambda r: isinstance(r, float) and r == 0.0),
    ("divide_count", lambda: C.divide(count=10), lambda r: r.shape == (11,) and (r[0], r[-1]) == (0.0, 1.0)),
    ("divide_spacing", lambda: C.divide(spacing=C.length() / 7.5), lambda r: r.shape == (8,)),
    ("frames", lambda: C.frames(U), lambda r: all(r[k].shape == (7, 3) for k in ("tangents", "normals", "binormals"))
     and np.isnan(r["closing_twist"]) and np.allclose(np.cross(r["tangents"], r["normals"]), r["binormals"])),
    ("frenet", lambda: C.frames(U, kind="frenet"), lambda r: np.allclose(r["tangents"], C.frames(U)["tangents"])),
    ("split", lambda: C.split(0.4), lambda r: np.allclose(r[1](0.4), C(0.4)) and r[0].domain == (0.0, 0.4)),
    ("join", lambda: C.split(0.4)[0].join(C.split(0.4)[1]), lambda r: r[1]["g1"] and np.allclose(r[0](U), C(U))),
    ("remove_knots", lambda: C.insert_knots([0.3, 0.3]).remove_knots(1e-9),
     lambda r: isinstance(r[0], vn.NurbsCurve) and r[1] >= 2 and r[2] <= 1e-9),
    ("insert_knots", lambda: C.insert_knots([0.3, 0.3]), lambda r: len(r.knots) == 15 and np.allclose(r(U), C(U))),
    ("clamp", lambda: vn.NurbsCurve(C.control_points, np.arange(13.0), 3).clamp(), lambda r: r.is_clamped
     and r.domain == (3.0, 9.0)),
    ("elevate_degree", lambda: C.elevate_degree(2), lambda r: r.degree == 5 and np.allclose(r(U), C(U))),
    ("reverse", lambda: C.reverse(), lambda r: np.allclose(r(1 - U), C(U))),
    ("reparametrize", lambda: C.reparametrize(2.0, 4.0), lambda r: np.allclose(r(2 + 2 * U), C(U))),
    ("bezier_pieces", lambda: C.bezier_pieces(), lambda r: np.allclose(r[1][2](r[1][0]), C(r[1][0]))),
    ("bounding_box", lambda: C.bounding_box(1e-8), lambda r: np.shape(r) == (2, 3) and np.all(r[0] <= C(U)) and
     np.all(C(U) <= r[1])),
]


@pytest.mark.parametrize("call, check", [c[1:] for c in CURVE_CALLS], ids=[c[0] for c in CURVE_CALLS])
def test_curve_entry_points(call, check):
    assert check(call())


def test_surface_curvatures_of_a_paraboloid():
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


@pytest.mark.parametrize("call", [
    lambda c: c.length(rel_accuracy=0.0), lambda c: c.length(0.5, 0.2), lambda c: c.param_at_length(-1.0),
    lambda c: c.param_at_length(np.nan), lambda c: c.divide(), lambda c: c.divide(count=0),
    lambda c: c.divide(spacing=-1.0), lambda c: c.frames([0.5, 0.2]), lambda c: c.frames([0.2], kind="twisted"),
    lambda c: c.elevate_degree(-1), lambda c: c.remove_knots(0.0), lambda c: c.remove_knots(1e-3, u=0.123456),
    lambda c: c.reparametrize(1.0, 1.0), lambda c: c.bounding_box(0.0),
    lambda c: c.join(c.reverse().insert_knots([0.5]).split(0.5)[1], tolerance=1e-12)])
def test_bad_input_raises_value_error(call):
    with pytest.raises(ValueError):
        call(random_curve(np.random.default_rng(7)))
