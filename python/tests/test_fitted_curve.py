"""FittedCurve: fits of real data, result codes as exceptions, evaluation against finite
differences, segmentation within its tolerance, projection, splitting, threads."""

from __future__ import annotations

import threading

import numpy as np
import pytest

import velsdk_nurbs as vn


@pytest.fixture
def glyph_curve(glyph_s):
    c = vn.FittedCurve(order=4)
    c.fit(glyph_s, closed=True)
    return c


class TestFit:
    def test_open_fit_passes_through_every_point(self, gps_open):
        pts = gps_open[0]
        c = vn.FittedCurve(order=4, parametrization="uniform")
        u = c.fit(pts)
        assert c.is_valid and not c.is_closed and c.domain == (0.0, 1.0)
        assert u.shape == (len(pts),) and u[0] == 0.0 and u[-1] == 1.0
        np.testing.assert_array_equal(u, vn.uniform_parameters(len(pts)))
        assert c.num_control_points == len(pts) and c.knots.shape == (len(pts) + 4,)
        assert np.max(np.abs(c.evaluate(u) - pts)) < 1e-9 * np.max(np.abs(pts))

    def test_closed_fit(self, glyph_s, glyph_curve):
        c = glyph_curve
        assert c.is_closed and c.num_control_points == len(glyph_s) + 3
        np.testing.assert_allclose(c.first_point, c.last_point, atol=1e-9)
        u = vn.chord_length_parameters(glyph_s, closed=True, degree=3)[: len(glyph_s)]
        np.testing.assert_allclose(c.evaluate(u), glyph_s, atol=1e-9)

    def test_fit_with_end_derivatives(self, airfoil_upper):
        c = vn.FittedCurve(order=4)
        u = c.fit_with_end_derivatives(airfoil_upper, [0, 1, 0], [1, 0, 0])
        assert u.shape == (len(airfoil_upper),)
        np.testing.assert_allclose(c.speed([0.0, 1.0]), [[0, 1, 0], [1, 0, 0]], atol=1e-9)

    def test_coincident_points_raise_and_leave_the_curve(self, glyph_curve):
        before = glyph_curve.to_bytes()
        pts = np.array([[0, 0, 0], [1e-9, 0, 0], [1, 0, 0], [2, 1, 0]], dtype=float)
        with pytest.raises(vn.CoincidentPointsError, match=r"RCode\.CoincidentPoints.*points 0 and 1") as e:
            glyph_curve.fit(pts)
        assert e.value.rcode == vn.RCode.CoincidentPoints
        assert isinstance(e.value, vn.RCodeError) and isinstance(e.value, vn.NurbsError)
        assert glyph_curve.to_bytes() == before

    def test_failures_name_the_result_code(self, glyph_s, gps_loop):
        c = vn.FittedCurve(order=4)
        with pytest.raises(vn.RCodeError, match=r"RCode\.Failure.*fewer than the order") as e:
            c.fit(glyph_s[:3])
        assert e.value.rcode == vn.RCode.Failure and not c.is_valid
        c.fit(glyph_s, closed=True)
        with pytest.raises(vn.RCodeError, match="num_control_points"):
            c.fit(glyph_s)  # the closed fit left N + 3 control points
        c.num_control_points = 0
        c.fit(glyph_s)
        with pytest.raises(vn.RCodeError, match="averaging"):
            vn.FittedCurve(order=4, knots_generation="uniform").fit(gps_loop, closed=True)

    def test_settings(self):
        c = vn.FittedCurve(order=5, parametrization=vn.Parametrization.UNIFORM, knots_generation="uniform")
        assert (c.order, c.parametrization, c.knots_generation) == (5, vn.Parametrization.UNIFORM,
                                                                    vn.KnotsGeneration.UNIFORM)
        for bad in (lambda: setattr(c, "order", 1), lambda: setattr(c, "parametrization", "chordal"),
                    lambda: vn.FittedCurve(knots_generation=3)):
            with pytest.raises(ValueError):
                bad()

    def test_not_fitted_curve_raises(self):
        c = vn.FittedCurve()
        for call in (lambda: c.evaluate(0.5), lambda: c.segment(1.0), lambda: c.project([0, 0, 0]),
                     lambda: c.split(0.5), lambda: c.to_nurbs()):
            with pytest.raises(vn.RCodeError, match=r"RCode\.Failure.*not valid"):
                call()


class TestEvaluation:
    def test_speed_and_acceleration_by_finite_differences(self, glyph_curve):
        t = np.linspace(0.05, 0.95, 37)
        h = 1e-6
        p, s, a = glyph_curve.evaluate(t), glyph_curve.speed(t), glyph_curve.acceleration(t)
        assert p.shape == s.shape == a.shape == (37, 3)
        fd1 = (glyph_curve(t + h) - glyph_curve(t - h)) / (2 * h)
        fd2 = (glyph_curve.speed(t + h) - glyph_curve.speed(t - h)) / (2 * h)
        np.testing.assert_allclose(s, fd1, rtol=1e-5, atol=1e-5 * np.abs(s).max())
        np.testing.assert_allclose(a, fd2, rtol=1e-5, atol=1e-5 * np.abs(a).max())

    def test_matches_the_nurbs_curve_it_holds(self, glyph_curve):
        nurbs = glyph_curve.to_nurbs()
        t = np.linspace(0, 1, 101)
        np.testing.assert_array_equal(glyph_curve.evaluate(t), nurbs.evaluate(t))
        np.testing.assert_array_equal(glyph_curve.speed(t), nurbs.derivatives(t, 1)[:, 1])
        again = vn.FittedCurve.from_nurbs(nurbs, closed=True)
        assert again == glyph_curve


def chord_deviation(curve, t, samples=33):
    """Largest distance of the curve between consecutive parameters from the chord (at the
    interval midpoints only when samples is 3)."""
    worst = 0.0
    for a, b in zip(t[:-1], t[1:]):
        s = np.linspace(a, b, samples)
        pts = curve.evaluate(s)
        d = pts[-1] - pts[0]
        q = pts - pts[0]
        lam = np.clip(q @ d / max(d @ d, 1e-300), 0.0, 1.0)
        worst = max(worst, np.max(np.linalg.norm(q - lam[:, None] * d, axis=1)))
    return worst


class TestSegmentation:
    # An open cubic is cut into Bezier pieces whose control polygons bound the curve: the whole
    # curve stays within the tolerance. A closed curve is refined at interval midpoints: the
    # midpoints do.
    @pytest.mark.parametrize("closed, samples", [(False, 33), (True, 3)])
    def test_polyline_stays_within_tolerance(self, glyph_s, closed, samples):
        c = vn.FittedCurve(order=4)
        c.fit(glyph_s, closed=closed)
        for tol in (1.0, 0.01):
            t = c.segment(tol)
            assert t[0] == 0.0 and t[-1] == 1.0 and np.all(np.diff(t) > 0)
            assert chord_deviation(c, t, samples) <= tol
        assert len(c.segment(0.01)) > len(c.segment(1.0))
        np.testing.assert_array_equal(c.segment_points(2.0), c.evaluate(c.segment(2.0)))

    def test_break_points_are_kept(self, airfoil_upper):
        c = vn.FittedCurve(order=4)
        c.fit(airfoil_upper)
        t = c.segment(1e-3, parameters=[0.123, 0.5])
        assert 0.123 in t and 0.5 in t
        with pytest.raises(ValueError, match="tolerance"):
            c.segment(0.0)
        with pytest.raises(ValueError, match="domain"):
            c.segment(1e-3, parameters=[1.5])


class TestProjection:
    def test_noisy_points_project_to_local_feet(self, gps_loop):
        from conftest import load_csv

        q = load_csv("proj_gps_loop_3d.csv")[0]
        c = vn.FittedCurve(order=4)
        c.fit(gps_loop, closed=True)
        t = c.project(q[:40])
        dist = c.distance(q[:40])
        assert t.shape == dist.shape == (40,)
        ok = ~np.isnan(t)
        assert ok.sum() >= 30
        feet = c.evaluate(t[ok])
        np.testing.assert_allclose(np.linalg.norm(feet - q[:40][ok], axis=1), dist[ok], rtol=1e-6, atol=1e-6)
        # At a foot the distance vector is perpendicular to the tangent.
        r = q[:40][ok] - feet
        tan = c.speed(t[ok])
        cos = np.abs(np.einsum("ij,ij->i", r, tan)) / (np.linalg.norm(r, axis=1) * np.linalg.norm(tan, axis=1))
        assert np.all(cos < 1e-6)

    def test_single_point(self, glyph_curve):
        p = glyph_curve.evaluate(0.3)
        assert glyph_curve.project(p) == pytest.approx(0.3, abs=1e-9)
        assert glyph_curve.distance(p) == pytest.approx(0.0, abs=1e-6)
        assert glyph_curve.project(p, start=0.31) == pytest.approx(0.3, abs=1e-9)


class TestSplit:
    def test_pieces_are_open_and_rescaled(self, glyph_s):
        c = vn.FittedCurve(order=4, parametrization="uniform")
        c.fit(glyph_s)
        first, second = c.split(0.25)
        for piece in (first, second):
            assert piece.is_valid and not piece.is_closed and piece.domain == (0.0, 1.0)
            assert piece.parametrization == vn.Parametrization.UNIFORM
        np.testing.assert_allclose(first.evaluate(np.linspace(0, 1, 9)), c.evaluate(np.linspace(0, 0.25, 9)),
                                   atol=1e-9)
        with pytest.raises(vn.RCodeError):
            c.split(1.0)


def test_concurrent_use_from_threads(glyph_s):
    c = vn.FittedCurve(order=4)
    c.fit(glyph_s, closed=True)
    t = np.linspace(0, 1, 20000)
    expected = c.evaluate(t)
    errors = []

    def evaluate():
        for _ in range(5):
            if not np.array_equal(c.evaluate(t), expected):
                errors.append("evaluate")

    def refit():
        for _ in range(5):
            c.fit(glyph_s, closed=True)  # the same fit: results stay identical
            c.segment(5.0)

    threads = [threading.Thread(target=evaluate) for _ in range(3)] + [threading.Thread(target=refit)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert errors == []
