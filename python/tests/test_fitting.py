"""interpolate / approximate on real data, cross-checked against SciPy (same parameters and
knots give the same linear system) and against a dense constrained least-squares solve."""

from __future__ import annotations

import numpy as np
import pytest

import velsdk_nurbs as vn

scipy_interpolate = pytest.importorskip("scipy.interpolate")


def relative_error(a, b):
    return np.max(np.abs(np.asarray(a) - np.asarray(b))) / np.max(np.abs(b))


@pytest.mark.parametrize("degree", [1, 2, 3, 5])
def test_control_points_match_make_interp_spline(gps_open, airfoil_upper, degree):
    for pts in (gps_open[0], airfoil_upper):
        u = vn.chord_length_parameters(pts)
        knots = vn.knot_averaging(u, degree)
        curve = vn.interpolate(pts, params=u, knots=knots, degree=degree)
        ref = scipy_interpolate.make_interp_spline(u, pts, k=degree, t=knots)
        assert relative_error(curve.control_points, ref.c) < 1e-12
        assert not curve.is_rational and curve.is_clamped
    assert vn.interpolate(pts) == vn.interpolate(pts, params=u, knots=vn.knot_averaging(u, 3))  # the defaults


def test_approximation_matches_a_dense_constrained_least_squares_solve(gps_open):
    pts = gps_open[0]
    n, p = 40, 3
    u = vn.chord_length_parameters(pts)
    curve = vn.approximate(pts, n, degree=p)
    np.testing.assert_array_equal(curve.knots, vn.uniform_knots(n + p + 1, p))
    # Fixed end control points; the interior ones by QR least squares on the basis matrix.
    A = scipy_interpolate.BSpline.design_matrix(u, curve.knots, p).toarray()
    R = pts - np.outer(A[:, 0], pts[0]) - np.outer(A[:, -1], pts[-1])
    inner, *_ = np.linalg.lstsq(A[1:-1, 1:-1], R[1:-1], rcond=None)
    assert relative_error(curve.control_points, np.vstack([pts[0], inner, pts[-1]])) < 1e-9


def test_closed_and_end_derivative_flags_reach_the_fit(glyph_s, gps_open):
    # The fits themselves are proven by the C++ tests; here: the flags and tuples reach them.
    curve = vn.interpolate(glyph_s, closed=True, degree=3)
    assert curve.num_control_points == len(glyph_s) + 3
    np.testing.assert_array_equal(curve.homogeneous_control_points[-3:], curve.homogeneous_control_points[:3])
    ends = ([0.0, 500.0, 0.0], [1000.0, 0.0, 0.0])
    curve = vn.interpolate(gps_open[0], end_derivatives=ends)
    assert curve.num_control_points == len(gps_open[0]) + 2
    np.testing.assert_allclose(curve.derivatives([0.0, 1.0], 1)[:, 1], ends, rtol=1e-9, atol=1e-6)


def test_parameters_and_knot_generators(gps_loop, airfoil_upper):
    closed = vn.chord_length_parameters(gps_loop, closed=True, degree=3)
    np.testing.assert_array_equal(vn.FittedCurve(order=4).fit(gps_loop, closed=True), closed[: len(gps_loop)])
    u = [0, 0.25, 0.5, 0.75, 1]
    for got, expected in [(vn.uniform_parameters(5), u), (vn.knot_averaging(u, 3), [0, 0, 0, 0, 0.5, 1, 1, 1, 1]),
                          (vn.knot_averaging_with_end_derivatives(u, 3), [0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1]),
                          (vn.knot_averaging_closed(u, 2), [-0.875, -0.625, 0, 0.125, 0.375, 1, 1.125, 1.375]),
                          (vn.uniform_knots_closed(10, 3), (np.arange(10) - 3) * (1 / 3))]:
        np.testing.assert_array_equal(got, expected)


@pytest.mark.parametrize("call, error, message", [
    (lambda p: vn.interpolate(p[:10], params=np.zeros(10)), vn.NurbsError, "singular"),
    (lambda p: vn.interpolate(p[:10], knots=np.linspace(0, 1, 10)), ValueError, "knots must hold"),
    (lambda p: vn.interpolate(p[:3], degree=3), ValueError, "degree"),
    (lambda p: vn.interpolate(p[:, :1]), ValueError, "shape"),  # (N, 2) is planar data, (N, 1) nothing
    (lambda p: vn.interpolate(p, closed=True, end_derivatives=([1, 0, 0], [1, 0, 0])), ValueError, "closed"),
    (lambda p: vn.approximate(p[:10], 11), ValueError, "exceed"),
    (lambda p: vn.interpolate(p[:8], knots=2 * vn.knot_averaging_with_end_derivatives(vn.chord_length_parameters(
        p[:8]), 3), end_derivatives=([1, 0, 0], [1, 0, 0])), ValueError, "0.0 and end at 1.0"),
    (lambda p: vn.uniform_knots(6, 3), ValueError, ""),
    (lambda p: vn.knot_averaging([0, 1], 0), ValueError, ""),
    (lambda p: vn.knot_averaging([0, 1], 3), ValueError, ""),
    (lambda p: vn.approximate(p, 3, degree=3), ValueError, "at least degree"),
    # Uniform knots with all parameters in one span leave control points without data.
    (lambda p: vn.approximate(p, 20, params=np.r_[0.0, np.full(len(p) - 2, 0.05), 1.0]), vn.NurbsError, "singular"),
])
def test_failures(airfoil_upper, call, error, message):
    with pytest.raises(error, match=message):
        call(airfoil_upper)
