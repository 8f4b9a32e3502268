"""FittedCurve through the binding: parameters handed back as arrays, result codes as exceptions,
the curve it holds, segmentation and projection arguments and shapes, splitting, threads."""

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
    def test_open_and_closed_fits_pass_through_every_point(self, gps_open, glyph_s, glyph_curve):
        pts = gps_open[0]
        c = vn.FittedCurve(order=4, parametrization="uniform")
        u = c.fit(pts)
        assert c.is_valid and not c.is_closed and c.domain == (0.0, 1.0)
        np.testing.assert_array_equal(u, vn.uniform_parameters(len(pts)))
        assert c.num_control_points == len(pts) and c.knots.shape == (len(pts) + 4,)
        assert np.max(np.abs(c.evaluate(u) - pts)) < 1e-9 * np.max(np.abs(pts))
        assert glyph_curve.is_closed and glyph_curve.num_control_points == len(glyph_s) + 3
        u = vn.chord_length_parameters(glyph_s, closed=True, degree=3)[: len(glyph_s)]
        np.testing.assert_allclose(glyph_curve.evaluate(u), glyph_s, atol=1e-9)

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
        for call in (lambda: vn.FittedCurve().evaluate(0.5), lambda: vn.FittedCurve().segment(1.0),
                     lambda: vn.FittedCurve().project([0, 0, 0]), lambda: vn.FittedCurve().split(0.5),
                     lambda: vn.FittedCurve().to_nurbs()):
            with pytest.raises(vn.RCodeError, match=r"RCode\.Failure.*not valid"):
                call()

    def test_settings(self):
        c = vn.FittedCurve(order=5, parametrization=vn.Parametrization.UNIFORM, knots_generation="uniform")
        assert (c.order, c.parametrization, c.knots_generation) == (5, vn.Parametrization.UNIFORM,
                                                                    vn.KnotsGeneration.UNIFORM)
        for bad in (lambda: setattr(c, "order", 1), lambda: setattr(c, "parametrization", "chordal"),
                    lambda: vn.FittedCurve(knots_generation=3)):
            with pytest.raises(ValueError):
                bad()


def test_evaluation_is_the_nurbs_curve_it_holds(glyph_curve):
    nurbs = glyph_curve.to_nurbs()
    t = np.linspace(0, 1, 101)
    np.testing.assert_array_equal(glyph_curve.evaluate(t), nurbs.evaluate(t))
    np.testing.assert_array_equal(glyph_curve(t), nurbs.evaluate(t))
    d = nurbs.derivatives(t, 2)
    np.testing.assert_array_equal(glyph_curve.speed(t), d[:, 1])
    np.testing.assert_array_equal(glyph_curve.acceleration(t), d[:, 2])
    assert vn.FittedCurve.from_nurbs(nurbs, closed=True) == glyph_curve


def test_segmentation_arguments(airfoil_upper):
    c = vn.FittedCurve(order=4)
    c.fit(airfoil_upper)
    t = c.segment(1e-3, parameters=[0.123, 0.5])
    assert t.dtype == np.float64 and t[0] == 0.0 and t[-1] == 1.0 and np.all(np.diff(t) > 0)
    assert 0.123 in t and 0.5 in t
    assert len(c.segment(1e-4)) > len(c.segment(1e-2))
    np.testing.assert_array_equal(c.segment_points(2.0), c.evaluate(c.segment(2.0)))
    with pytest.raises(ValueError, match="tolerance"):
        c.segment(0.0)
    with pytest.raises(ValueError, match="domain"):
        c.segment(1e-3, parameters=[1.5])


def test_projection_shapes_and_misses(gps_loop, glyph_curve):
    from conftest import load_csv

    q = load_csv("proj_gps_loop_3d.csv")[0][:40]
    c = vn.FittedCurve(order=4)
    c.fit(gps_loop, closed=True)
    t, dist = c.project(q), c.distance(q)
    assert t.shape == dist.shape == (40,)
    ok = ~np.isnan(t)  # NaN where the iteration found no foot
    assert ok.sum() >= 30
    np.testing.assert_allclose(np.linalg.norm(c.evaluate(t[ok]) - q[ok], axis=1), dist[ok], rtol=1e-6, atol=1e-6)
    p = glyph_curve.evaluate(0.3)
    assert glyph_curve.project(p) == pytest.approx(0.3, abs=1e-9)
    assert glyph_curve.project(p, start=0.31) == pytest.approx(0.3, abs=1e-9)
    assert glyph_curve.distance(p) == pytest.approx(0.0, abs=1e-6)


def test_split_pieces_are_open_and_rescaled(glyph_s):
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
