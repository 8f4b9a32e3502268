"""interpolate / approximate on real data, cross-checked against SciPy (same parameters and
knots give the same linear system) and against a dense constrained least-squares solve."""

from __future__ import annotations

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import end_tangents

scipy_interpolate = pytest.importorskip("scipy.interpolate")


def relative_error(a, b):
    return np.max(np.abs(np.asarray(a) - np.asarray(b))) / np.max(np.abs(b))


class TestOpenInterpolation:
    @pytest.mark.parametrize("degree", [1, 2, 3, 5])
    def test_control_points_match_make_interp_spline(self, gps_open, airfoil_upper, degree):
        for pts in (gps_open[0], airfoil_upper):
            u = vn.chord_length_parameters(pts)
            knots = vn.knot_averaging(u, degree)
            curve = vn.interpolate(pts, params=u, knots=knots, degree=degree)
            ref = scipy_interpolate.make_interp_spline(u, pts, k=degree, t=knots)
            assert relative_error(curve.control_points, ref.c) < 1e-12
            assert relative_error(curve.evaluate(u), pts) < 1e-12
            assert not curve.is_rational and curve.is_clamped

    def test_defaults_are_chord_length_and_averaged_knots(self, airfoil_upper):
        u = vn.chord_length_parameters(airfoil_upper)
        explicit = vn.interpolate(airfoil_upper, params=u, knots=vn.knot_averaging(u, 3))
        assert vn.interpolate(airfoil_upper) == explicit

class TestClosedAndEndDerivatives:
    # The fits themselves are proven by the C++ tests; here: the flags and tuples reach them.
    def test_closed_loop_wraps_its_control_points(self, glyph_s):
        p, n = 3, len(glyph_s)
        curve = vn.interpolate(glyph_s, closed=True, degree=p)
        assert curve.num_control_points == n + p
        np.testing.assert_array_equal(curve.homogeneous_control_points[-p:], curve.homogeneous_control_points[:p])
        u = vn.chord_length_parameters(glyph_s, closed=True, degree=p)
        assert u.shape == (n + p,) and u[n] == pytest.approx(1.0, abs=1e-15)
        assert relative_error(curve.evaluate(u[:n]), glyph_s) < 1e-12

    def test_prescribed_end_derivatives_are_met(self, gps_open):
        pts, meta = gps_open
        d0, d1 = (1000.0 * t for t in end_tangents(meta))
        curve = vn.interpolate(pts, end_derivatives=(d0, d1))
        assert curve.num_control_points == len(pts) + 2
        np.testing.assert_allclose(curve.derivatives([0.0, 1.0], 1)[:, 1], [d0, d1], rtol=1e-9, atol=1e-6)

    def test_knots_must_be_clamped_on_the_unit_interval(self, gps_open):
        pts = gps_open[0][:8]
        knots = 2.0 * vn.knot_averaging_with_end_derivatives(vn.chord_length_parameters(pts), 3)
        with pytest.raises(ValueError, match="0.0 and end at 1.0"):
            vn.interpolate(pts, knots=knots, end_derivatives=([1, 0, 0], [1, 0, 0]))


class TestApproximation:
    def test_reproduces_the_curve_its_points_come_from(self, rng):
        n, p = 8, 3
        knots = vn.uniform_knots(n + p + 1, p)
        truth = vn.NurbsCurve(rng.uniform(-5, 5, (n, 3)), knots, p)
        u = np.linspace(0, 1, 200)
        fit = vn.approximate(truth.evaluate(u), n, params=u, knots=knots, degree=p)
        np.testing.assert_allclose(fit.control_points, truth.control_points, atol=1e-10)

    def test_matches_a_dense_constrained_least_squares_solve(self, gps_open):
        pts = gps_open[0]
        n, p = 40, 3
        u = vn.chord_length_parameters(pts)
        curve = vn.approximate(pts, n, degree=p)
        np.testing.assert_array_equal(curve.knots, vn.uniform_knots(n + p + 1, p))
        # Fixed end control points; the interior ones by QR least squares on the basis matrix.
        A = scipy_interpolate.BSpline.design_matrix(u, curve.knots, p).toarray()
        R = pts - np.outer(A[:, 0], pts[0]) - np.outer(A[:, -1], pts[-1])
        inner, *_ = np.linalg.lstsq(A[1:-1, 1:-1], R[1:-1], rcond=None)
        expected = np.vstack([pts[0], inner, pts[-1]])
        assert relative_error(curve.control_points, expected) < 1e-9

class TestParameters:
    def test_chord_length_is_the_fitted_curves_rule(self, gps_loop, airfoil_upper):
        fc = vn.FittedCurve(order=4)
        np.testing.assert_array_equal(fc.fit(airfoil_upper), vn.chord_length_parameters(airfoil_upper))
        fc = vn.FittedCurve(order=4)
        closed = vn.chord_length_parameters(gps_loop, closed=True, degree=3)
        np.testing.assert_array_equal(fc.fit(gps_loop, closed=True), closed[: len(gps_loop)])
        d = np.linalg.norm(np.diff(airfoil_upper, axis=0), axis=1)
        np.testing.assert_allclose(vn.chord_length_parameters(airfoil_upper)[1:], np.cumsum(d) / d.sum(), atol=1e-15)

    def test_generators(self):
        u = [0, 0.25, 0.5, 0.75, 1]
        np.testing.assert_array_equal(vn.uniform_parameters(5), u)
        np.testing.assert_array_equal(vn.knot_averaging(u, 3), [0, 0, 0, 0, 0.5, 1, 1, 1, 1])
        np.testing.assert_array_equal(
            vn.knot_averaging_with_end_derivatives(u, 3), [0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1]
        )
        np.testing.assert_array_equal(
            vn.knot_averaging_closed(u, 2), [-0.875, -0.625, 0, 0.125, 0.375, 1, 1.125, 1.375]
        )
        np.testing.assert_array_equal(vn.uniform_knots_closed(10, 3), (np.arange(10) - 3) * (1 / 3))
        for bad in (lambda: vn.uniform_knots(6, 3), lambda: vn.knot_averaging([0, 1], 0),
                    lambda: vn.knot_averaging([0, 1], 3)):
            with pytest.raises(ValueError):
                bad()


@pytest.mark.parametrize("call, error, message", [
    (lambda p: vn.interpolate(p[:10], params=np.zeros(10)), vn.NurbsError, "singular"),
    (lambda p: vn.interpolate(p[:10], knots=np.linspace(0, 1, 10)), ValueError, "knots must hold"),
    (lambda p: vn.interpolate(p[:3], degree=3), ValueError, "degree"),
    (lambda p: vn.interpolate(p[:, :1]), ValueError, "shape"),  # (N, 2) is planar data, (N, 1) nothing
    (lambda p: vn.interpolate(p, closed=True, end_derivatives=([1, 0, 0], [1, 0, 0])), ValueError, "closed"),
    (lambda p: vn.approximate(p[:10], 11), ValueError, "exceed"),
    (lambda p: vn.approximate(p, 3, degree=3), ValueError, "at least degree"),
    # Uniform knots with all parameters in one span leave control points without data.
    (lambda p: vn.approximate(p, 20, params=np.r_[0.0, np.full(len(p) - 2, 0.05), 1.0]), vn.NurbsError, "singular"),
])
def test_failures(airfoil_upper, call, error, message):
    with pytest.raises(error, match=message):
        call(airfoil_upper)
