"""Curve fits on real data against SciPy (the same system), a dense least-squares solve, independent distances."""

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import AIRFOIL, GLYPH, GPS_LOOP, GPS_OPEN, load_csv, sampled_distances

scipy_interpolate = pytest.importorskip("scipy.interpolate")
to_tolerance = vn.approximate_to_tolerance


@pytest.mark.parametrize("degree", [1, 2, 3, 5])
@pytest.mark.parametrize("pts", [GPS_OPEN, AIRFOIL], ids=["gps", "airfoil"])
def test_control_points_match_make_interp_spline(pts, degree):
    u = vn.chord_length_parameters(pts)
    knots = vn.knot_averaging(u, degree)
    curve = vn.interpolate(pts, params=u, knots=knots, degree=degree)
    ref = scipy_interpolate.make_interp_spline(u, pts, k=degree, t=knots)
    np.testing.assert_allclose(curve.control_points, ref.c, rtol=0, atol=1e-12 * np.abs(ref.c).max())
    assert degree != 3 or vn.interpolate(pts) == curve  # the defaults


def test_approximation_matches_a_dense_constrained_least_squares_solve():
    n, p, u = 40, 3, vn.chord_length_parameters(GPS_OPEN)
    curve = vn.approximate(GPS_OPEN, n, degree=p)
    np.testing.assert_array_equal(curve.knots, vn.uniform_knots(n + p + 1, p))
    # Fixed end control points; the interior ones by QR least squares on the basis matrix.
    A = scipy_interpolate.BSpline.design_matrix(u, curve.knots, p).toarray()
    R = GPS_OPEN - np.outer(A[:, 0], GPS_OPEN[0]) - np.outer(A[:, -1], GPS_OPEN[-1])
    inner, *_ = np.linalg.lstsq(A[1:-1, 1:-1], R[1:-1], rcond=None)
    ref = np.vstack([GPS_OPEN[0], inner, GPS_OPEN[-1]])
    np.testing.assert_allclose(curve.control_points, ref, rtol=0, atol=1e-9 * np.abs(ref).max())


def test_closed_and_end_derivative_flags_reach_the_fit():
    # The fits themselves are proven by the C++ tests; here: the flags and tuples reach them.
    curve = vn.interpolate(GLYPH, closed=True, degree=3)
    assert curve.num_control_points == len(GLYPH) + 3
    np.testing.assert_array_equal(curve.homogeneous_control_points[-3:], curve.homogeneous_control_points[:3])
    ends = ([0.0, 500.0, 0.0], [1000.0, 0.0, 0.0])
    curve = vn.interpolate(GPS_OPEN, end_derivatives=ends)
    assert curve.num_control_points == len(GPS_OPEN) + 2
    np.testing.assert_allclose(curve.derivatives([0.0, 1.0], 1)[:, 1], ends, rtol=1e-9, atol=1e-6)


def test_parameters_and_knot_generators():
    closed = vn.chord_length_parameters(GPS_LOOP, closed=True, degree=3)
    np.testing.assert_array_equal(vn.FittedCurve(order=4).fit(GPS_LOOP, closed=True), closed[: len(GPS_LOOP)])
    u = [0, 0.25, 0.5, 0.75, 1]
    for got, expected in [(vn.uniform_parameters(5), u), (vn.knot_averaging(u, 3), [0, 0, 0, 0, 0.5, 1, 1, 1, 1]),
                          (vn.knot_averaging_with_end_derivatives(u, 3), [0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1]),
                          (vn.knot_averaging_closed(u, 2), [-0.875, -0.625, 0, 0.125, 0.375, 1, 1.125, 1.375]),
                          (vn.uniform_knots_closed(10, 3), (np.arange(10) - 3) * (1 / 3))]:
        np.testing.assert_array_equal(got, expected)


@pytest.mark.parametrize("name, closed, tol", [("gps_loop_3d.csv", True, 29.54), ("gps_open_3d.csv", False, 21.14)])
def test_approximate_to_tolerance_against_independent_distances(name, closed, tol):
    pts = load_csv(name)[0]
    curve, rep = vn.approximate_to_tolerance(pts, tol, closed=closed)
    assert rep.tolerance_met and rep.status == "tolerance_met" and rep.max_error <= tol
    assert rep.params.shape == rep.errors.shape == (len(pts),) and "ApproximationReport(tolerance_met" in repr(rep)
    scale = 1e-9 * np.abs(pts).max()
    np.testing.assert_allclose(np.linalg.norm(curve.evaluate(rep.params) - pts, axis=1), rep.errors, atol=scale)
    assert np.all(sampled_distances(curve, pts) <= rep.errors + scale)
    assert rep.errors[rep.worst_index] == rep.max_error == rep.errors.max()
    assert rep.rms == pytest.approx(np.sqrt(np.mean(rep.errors ** 2)), rel=1e-12)


def test_approximate_to_tolerance_arguments_reach_the_fit():
    w = np.where(np.arange(len(GLYPH)) < 20, 10.0, 1.0)
    curve, rep = vn.approximate_to_tolerance(GLYPH[:, :2], 5.0, degree=2, closed=True, weights=w, interpolate=[0, 77])
    assert rep.tolerance_met and curve.degree == 2 and np.all(curve.control_points[:, 2] == 0.0)
    assert rep.errors[0] < 1e-9 and rep.errors[77] < 1e-9
    assert vn.approximate_to_tolerance(GLYPH, 10.0, method="smoothing", smoothing=0.0)[1].smoothing == 0.0
    curve = vn.approximate_to_tolerance(GPS_OPEN, 50.0, start_tangent=[0, 2, 0], end_tangent=[3, 0, 0])[0]
    d = curve.derivatives([0.0, 1.0], 1)[:, 1]  # the end tangents point where they were told to
    np.testing.assert_allclose(d / np.linalg.norm(d, axis=1)[:, None], [[0, 1, 0], [1, 0, 0]], atol=1e-9)
    _, rep = vn.approximate_to_tolerance(GLYPH, 1e-300, closed=True)
    assert rep.status == "tolerance_not_met" and not rep.tolerance_met


@pytest.mark.parametrize("call, error, message", [
    (lambda p: vn.interpolate(p[:10], params=np.zeros(10)), vn.NurbsError, "singular"),
    (lambda p: vn.interpolate(p[:10], knots=np.linspace(0, 1, 10)), ValueError, "knots must hold"),
    (lambda p: vn.interpolate(p[:3], degree=3), ValueError, "degree"),
    (lambda p: vn.interpolate(p[:, :1]), ValueError, "shape"),  # (N, 2) is planar data, (N, 1) nothing
    (lambda p: vn.interpolate(np.zeros(5)), ValueError, "points"),
    (lambda p: vn.FittedCurve().fit(np.zeros((5, 4))), ValueError, "points"),
    (lambda p: vn.FittedCurve().fit(np.full((4, 2), np.nan)), ValueError, "points must be finite"),
    (lambda p: vn.interpolate(p, closed=True, end_derivatives=([1, 0, 0], [1, 0, 0])), ValueError, "closed"),
    (lambda p: vn.approximate(p[:10], 11), ValueError, "exceed"),
    (lambda p: vn.interpolate(p[:8], knots=2 * vn.knot_averaging_with_end_derivatives(vn.chord_length_parameters(
        p[:8]), 3), end_derivatives=([1, 0, 0], [1, 0, 0])), ValueError, "0.0 and end at 1.0"),
    (lambda p: vn.uniform_knots(6, 3), ValueError, ""), (lambda p: vn.knot_averaging([0, 1], 0), ValueError, "degree"),
    (lambda p: vn.knot_averaging([0, 1], 3), ValueError, ""),
    (lambda p: vn.approximate(p, 3, degree=3), ValueError, "at least degree"),
    # Uniform knots with all parameters in one span leave control points without data.
    (lambda p: vn.approximate(p, 20, params=np.r_[0.0, np.full(len(p) - 2, 0.05), 1.0]), vn.NurbsError, "singular"),
    (lambda p: to_tolerance(p[:3], 1.0), ValueError, ""), (lambda p: to_tolerance(p, 0.0), ValueError, ""),
    (lambda p: to_tolerance(p, np.nan), ValueError, ""), (lambda p: to_tolerance(p, 1.0, degree=6), ValueError, ""),
    (lambda p: to_tolerance(p, 1.0, weights=np.ones(3)), ValueError, ""),
    (lambda p: to_tolerance(p, 1.0, method="spline"), ValueError, "method"),
    (lambda p: to_tolerance(p, 1.0, smoothing=-1.0, method="smoothing"), ValueError, "smoothing"),
    (lambda p: to_tolerance(np.insert(p, 4, p[4], 0), 1.0), ValueError, ""),
    (lambda p: to_tolerance(np.where(p == p[3, 0], np.nan, p), 1.0), ValueError, "finite")])
def test_failures(call, error, message):
    with pytest.raises(error, match=message):
        call(AIRFOIL)
