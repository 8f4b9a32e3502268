"""NurbsCurve: construction checks, array shapes, evaluation and derivatives against SciPy's
B-splines, knot operations and projection."""

from __future__ import annotations

import pickle

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import random_clamped_knots

scipy_interpolate = pytest.importorskip("scipy.interpolate")
BSpline = scipy_interpolate.BSpline


def random_curve(rng, n=9, p=3, rational=False, repeat=False):
    pts = np.cumsum(rng.uniform(0.2, 1.0, (n, 3)), axis=0)  # monotone: no loops
    w = rng.uniform(0.5, 2.0, n) if rational else None
    knots = random_clamped_knots(rng, n, p, repeat)
    return vn.NurbsCurve(pts, knots, p, weights=w), pts, knots, w


def test_accepts_cartesian_weighted_and_homogeneous_and_pickles():
    pts = [[0, 0, 0], [1, 2, 0], [2, 0, 0]]
    c = vn.NurbsCurve(pts, [0, 0, 0, 1, 1, 1], 2)
    assert (c.degree, c.order, c.num_control_points, c.domain, c.is_clamped, c.is_rational) == (
        2, 3, 3, (0.0, 1.0), True, False)
    w = vn.NurbsCurve(pts, [0, 0, 0, 1, 1, 1], 2, weights=[1, 2, 1])
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


@pytest.mark.parametrize("p, repeat", [(1, False), (2, True), (3, False), (5, True)])
def test_points_and_derivatives_match_scipy(rng, p, repeat):
    c, pts, knots, _ = random_curve(rng, n=p + 6, p=p, repeat=repeat)
    ref = BSpline(knots, pts, p)
    u = np.concatenate([rng.uniform(0, 1, 200), knots])
    np.testing.assert_allclose(c.evaluate(u), ref(u), rtol=0, atol=1e-12)
    d = c.derivatives(u, p + 1)
    for k in range(1, p + 1):
        np.testing.assert_allclose(d[:, k], ref(u, nu=k), rtol=1e-9, atol=1e-8 * 10**k)
    np.testing.assert_array_equal(d[:, p + 1], 0.0)  # above the degree


def test_rational_curve_is_the_quotient_of_its_homogeneous_spline(rng):
    c, pts, knots, w = random_curve(rng, rational=True)
    h = BSpline(knots, np.column_stack([pts * w[:, None], w]), 3)(u := rng.uniform(0, 1, 300))
    np.testing.assert_allclose(c.evaluate_homogeneous(u), h, atol=1e-12)
    np.testing.assert_allclose(c.evaluate(u), h[:, :3] / h[:, 3:], atol=1e-12)


@pytest.mark.parametrize("call, message", [
    (lambda c: c.insert_knots([0.5, 0.2]), "sorted"), (lambda c: c.insert_knots([1.5]), "domain"),
    (lambda c: c.insert_knots([0.0]), "multiplicity"), (lambda c: c.split(0.0), "strictly inside"),
    (lambda c: c.split(1.0), "strictly inside"), (lambda c: c.split(2.0), "strictly inside"),
    (lambda c: c.project([0, 0, 0], tolerance=0.0), "tolerance")])
def test_refusals(rng, call, message):
    with pytest.raises(ValueError, match=message):
        call(random_curve(rng)[0])
