"""NurbsCurve through the binding, against SciPy's B-splines (points, derivatives, curvature) and quad (length)."""

import pickle

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import random_curve

integrate = pytest.importorskip("scipy.integrate")
BSpline = pytest.importorskip("scipy.interpolate").BSpline


def test_accepts_cartesian_weighted_and_homogeneous_and_pickles():
    pts, knots = [[0, 0, 0], [1, 2, 0], [2, 0, 0]], [0, 0, 0, 1, 1, 1]
    c, w = vn.NurbsCurve(pts, knots, 2), vn.NurbsCurve(pts, knots, 2, weights=[1, 2, 1])
    assert (c.degree, c.order, c.num_control_points, c.domain, c.is_clamped, c.is_rational) == (
        2, 3, 3, (0.0, 1.0), True, False)
    np.testing.assert_array_equal(w.homogeneous_control_points[1], [2, 4, 0, 2])
    np.testing.assert_array_equal(w.control_points, pts)
    h, back = vn.NurbsCurve(w.homogeneous_control_points, w.knots, 2), pickle.loads(pickle.dumps(w))
    assert h == w and h.is_rational and back == w and back is not w


@pytest.mark.parametrize("pts, knots, degree, weights, message", [
    ([[0]], [0, 1], 0, None, "shape"),  # (n, 2) is planar, (n, 1) nothing
    ([[0, 0, 0], [1, 1, 1]], [0, 0, 1, 1, 1], 1, None, "knots must hold"),
    ([[0, 0, 0], [1, 1, 1]], [0, 1, 0.5, 1], 1, None, "non-decreasing"),
    ([[0, 0, 0], [1, 1, 1]], [0, 0, 1, 1], 2, None, r"at least p \+ 1"),
    ([[0, 0, 0], [1, 1, 1]], [0, 0, 1, 1], 1, [1, 0], "zero"),
    ([[0, 0, 0], [1, 1, np.nan]], [0, 0, 1, 1], 1, None, "finite"),
    ([[0, 0, 0], [1, 1, 1]], [0, 0, 0, 0], 1, None, "empty")])
def test_refuses_what_is_not_a_curve(pts, knots, degree, weights, message):
    with pytest.raises(ValueError, match=message):
        vn.NurbsCurve(pts, knots, degree, weights=weights)


@pytest.mark.parametrize("call, shape", [
    (lambda c: c.evaluate(0.5), (3,)), (lambda c: c.evaluate([0.1, 0.2]), (2, 3)),
    (lambda c: c.evaluate(np.zeros((2, 5))), (2, 5, 3)), (lambda c: c.evaluate(np.zeros(0)), (0, 3)),
    (lambda c: c.derivatives(0.5, 2), (3, 3)), (lambda c: c.derivatives(np.zeros((4, 2)), 3), (4, 2, 4, 3)),
    (lambda c: c.evaluate_homogeneous([0.5]), (1, 4)), (lambda c: c(np.zeros(3, np.float32)), (3, 3)),
    (lambda c: c.project(np.zeros((4, 3)))[1], (4, 3)), (lambda c: c.project(np.zeros(3))[1], (3,))])
def test_parameter_shapes_carry_over(rng, call, shape):
    r = call(random_curve(rng)[0])
    assert r.shape == shape and r.dtype == np.float64 and r.flags.c_contiguous


def test_other_dtypes_and_strides_give_the_same_points(rng):
    c = random_curve(rng)[0]
    u, f32 = np.linspace(0, 1, 40), np.linspace(0, 1, 40, dtype=np.float32)
    for got, same in [(u[::2], np.ascontiguousarray(u[::2])), (np.array([0, 1]), [0.0, 1.0]), (f32, f32.astype(float))]:
        np.testing.assert_array_equal(c(got), c.evaluate(same))


@pytest.mark.parametrize("p, repeat, rational", [(1, 0, 0), (2, 1, 1), (3, 0, 1), (5, 1, 0)])
def test_points_and_derivatives_match_scipy(rng, p, repeat, rational):
    c, pts, knots, w = random_curve(rng, n=p + 6, p=p, rational=rational, repeat=repeat)
    u = np.concatenate([rng.uniform(0, 1, 200), knots])
    if rational:  # the quotient of its homogeneous spline
        h = BSpline(knots, np.column_stack([pts * w[:, None], w]), p)(u)
        np.testing.assert_allclose(c.evaluate_homogeneous(u), h, atol=1e-12)
        np.testing.assert_allclose(c.evaluate(u), h[:, :3] / h[:, 3:], atol=1e-12)
    else:
        ref, d = BSpline(knots, pts, p), c.derivatives(u, p + 1)
        np.testing.assert_allclose(c.evaluate(u), ref(u), rtol=0, atol=1e-12)
        for k in range(1, p + 1):
            np.testing.assert_allclose(d[:, k], ref(u, nu=k), rtol=1e-9, atol=1e-8 * 10**k)
        np.testing.assert_array_equal(d[:, p + 1], 0.0)  # above the degree


@pytest.mark.parametrize("p, rational", [(1, False), (3, True), (5, False), (7, True)])
def test_length_matches_scipy_quad(p, rational):
    c = random_curve(np.random.default_rng(10 * p + rational), n=p + 6, p=p, rational=rational, repeat=True)[0]
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
    c, pts, knots, _ = random_curve(rng, n=10, p=4, repeat=True)
    spl = BSpline(knots, pts, 4)
    u = rng.uniform(0, 1, (5, 6))
    d1, d2, d3 = spl(u, 1), spl(u, 2), spl(u, 3)
    cr = np.cross(d1, d2)
    assert c.curvature(u).shape == (5, 6)
    np.testing.assert_allclose(c.curvature(u), np.linalg.norm(cr, axis=2) / np.linalg.norm(d1, axis=2) ** 3, rtol=1e-10)
    _, t = c.curvature(u, torsion=True)
    np.testing.assert_allclose(t, np.einsum("...i,...i", cr, d3) / np.einsum("...i,...i", cr, cr), rtol=1e-8)


C = random_curve(np.random.default_rng(6), rational=True)[0]
U = np.linspace(0, 1, 7)
# Entry point, result, check of type/shape, and one value the result must reproduce.
CURVE_CALLS = [
    ("param_at_length", lambda: C.param_at_length(np.full((3, 4), 0.5 * C.length())),
     lambda r: r.shape == (3, 4) and C.length(0, r[0, 0]) == pytest.approx(0.5 * C.length(), rel=1e-11)),
    ("param_at_length_scalar", lambda: C.param_at_length(0.0), lambda r: isinstance(r, float) and r == 0.0),
    ("divide_count", lambda: C.divide(count=10), lambda r: r.shape == (11,) and (r[0], r[-1]) == (0.0, 1.0)),
    ("divide_spacing", lambda: C.divide(spacing=C.length() / 7.5), lambda r: r.shape == (8,)),
    ("frames", lambda: C.frames(U), lambda r: all(r[k].shape == (7, 3) for k in ("tangents", "normals", "binormals"))
     and np.isnan(r["closing_twist"]) and np.allclose(np.cross(r["tangents"], r["normals"]), r["binormals"])),
    ("frenet", lambda: C.frames(U, kind="frenet"), lambda r: np.allclose(r["tangents"], C.frames(U)["tangents"])),
    ("split_join", lambda: C.split(0.4), lambda r: np.allclose(r[1](0.4), C(0.4)) and r[0].domain == (0.0, 0.4)
     and r[0].join(r[1])[1]["g1"] and np.allclose(r[0].join(r[1])[0](U), C(U))),
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


@pytest.mark.parametrize("call, message", [
    (lambda c: c.insert_knots([0.5, 0.2]), "sorted"), (lambda c: c.insert_knots([1.5]), "domain"),
    (lambda c: c.insert_knots([0.0]), "multiplicity"), (lambda c: c.split(0.0), "strictly inside"),
    (lambda c: c.split(1.0), "strictly inside"), (lambda c: c.split(2.0), "strictly inside"),
    (lambda c: c.project([0, 0, 0], tolerance=0.0), "tolerance"),
    # Each analysis call translates its own status: one refusal per call (the statuses are the C++ tests').
    (lambda c: c.length(rel_accuracy=0.0), "length"), (lambda c: c.param_at_length(-1.0), "param_at_length"),
    (lambda c: c.divide(), "one of"), (lambda c: c.divide(count=0), "positive"), (lambda c: c.divide(spacing=-1.0), ""),
    (lambda c: c.frames([0.5, 0.2]), "frames"), (lambda c: c.frames([0.2], kind="twisted"), "kind"),
    (lambda c: c.elevate_degree(-1), ""), (lambda c: c.remove_knots(1e-3, u=0.123456), "remove_knots"),
    (lambda c: c.reparametrize(1.0, 1.0), ""), (lambda c: c.bounding_box(0.0), "bounding_box"),
    (lambda c: c.join(c.reverse().insert_knots([0.5]).split(0.5)[1], tolerance=1e-12), "do not meet")])
def test_refusals(call, message):
    with pytest.raises(ValueError, match=message):
        call(random_curve(np.random.default_rng(7), repeat=True)[0])
