"""FittedCurve through the binding: parameters handed back as arrays, result codes as exceptions,
the curve it holds, segmentation and projection arguments and shapes, splitting, threads."""

from __future__ import annotations

import threading

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import load_csv


@pytest.fixture
def glyph_curve(glyph_s):
    c = vn.FittedCurve(order=4)
    c.fit(glyph_s, closed=True)
    return c


def test_fits_return_parameters(gps_open, glyph_s, glyph_curve, airfoil_upper):
    pts = gps_open[0]
    c = vn.FittedCurve(order=4, parametrization="uniform")
    u = c.fit(pts)
    assert c.is_valid and not c.is_closed and c.domain == (0.0, 1.0) and c.knots.shape == (len(pts) + 4,)
    np.testing.assert_array_equal(u, vn.uniform_parameters(len(pts)))
    assert glyph_curve.is_closed and glyph_curve.num_control_points == len(glyph_s) + 3
    assert c.fit_with_end_derivatives(airfoil_upper, [0, 1, 0], [1, 0, 0]).shape == (len(airfoil_upper),)
    np.testing.assert_allclose(c.speed([0.0, 1.0]), [[0, 1, 0], [1, 0, 0]], atol=1e-9)
    before = glyph_curve.to_bytes()
    with pytest.raises(vn.CoincidentPointsError, match=r"RCode\.CoincidentPoints.*points 0 and 1") as e:
        glyph_curve.fit(np.array([[0, 0, 0], [1e-9, 0, 0], [1, 0, 0], [2, 1, 0]], dtype=float))
    assert e.value.rcode == vn.RCode.CoincidentPoints and isinstance(e.value, vn.NurbsError)
    assert glyph_curve.to_bytes() == before  # a failed fit leaves the curve


@pytest.mark.parametrize("call, message", [
    (lambda g, loop: vn.FittedCurve(order=4).fit(g[:3]), r"RCode\.Failure.*fewer than the order"),
    (lambda g, loop: vn.FittedCurve(order=4, knots_generation="uniform").fit(loop, closed=True), "averaging"),
    (lambda g, loop: vn.FittedCurve().evaluate(0.5), r"RCode\.Failure.*not valid"),
    (lambda g, loop: vn.FittedCurve().segment(1.0), "not valid"),
    (lambda g, loop: vn.FittedCurve().project([0, 0, 0]), "not valid"),
    (lambda g, loop: vn.FittedCurve().split(0.5), "not valid"),
    (lambda g, loop: vn.FittedCurve().to_nurbs(), "not valid")])
def test_failures_name_the_result_code(glyph_s, gps_loop, call, message):
    with pytest.raises(vn.RCodeError, match=message) as e:
        call(glyph_s, gps_loop)
    assert e.value.rcode == vn.RCode.Failure


def test_settings_and_control_point_count(glyph_curve, glyph_s):
    with pytest.raises(vn.RCodeError, match="num_control_points"):
        glyph_curve.fit(glyph_s)  # the closed fit left N + 3 control points
    glyph_curve.num_control_points = 0
    glyph_curve.fit(glyph_s)
    c = vn.FittedCurve(order=5, parametrization=vn.Parametrization.UNIFORM, knots_generation="uniform")
    assert (c.order, c.parametrization, c.knots_generation) == (5, vn.Parametrization.UNIFORM, vn.KnotsGeneration.UNIFORM)
    for attr, value in [("order", 1), ("parametrization", "chordal"), ("knots_generation", 3)]:
        with pytest.raises(ValueError):
            setattr(c, attr, value)


def test_evaluation_is_the_nurbs_curve_it_holds(glyph_curve):
    nurbs = glyph_curve.to_nurbs()
    t = np.linspace(0, 1, 101)
    d = nurbs.derivatives(t, 2)
    for got, expected in [(glyph_curve.evaluate(t), d[:, 0]), (glyph_curve(t), d[:, 0]),
                          (glyph_curve.speed(t), d[:, 1]), (glyph_curve.acceleration(t), d[:, 2])]:
        np.testing.assert_array_equal(got, expected)
    assert vn.FittedCurve.from_nurbs(nurbs, closed=True) == glyph_curve


def test_segmentation_arguments(airfoil_upper):
    c = vn.FittedCurve(order=4)  # an open curve: segments span the domain
    c.fit(airfoil_upper)
    t = c.segment(1e-3, parameters=[0.123, 0.5])
    assert t.dtype == np.float64 and t[0] == 0.0 and t[-1] == 1.0 and np.all(np.diff(t) > 0)
    assert 0.123 in t and 0.5 in t
    np.testing.assert_array_equal(c.segment_points(2.0), c.evaluate(c.segment(2.0)))
    with pytest.raises(ValueError, match="tolerance"):
        c.segment(0.0)
    with pytest.raises(ValueError, match="domain"):
        c.segment(1e-3, parameters=[1.5])


def test_projection_shapes_and_misses(gps_loop, glyph_curve):
    q = load_csv("proj_gps_loop_3d.csv")[0][:40]
    c = vn.FittedCurve(order=4)
    c.fit(gps_loop, closed=True)
    t, dist = c.project(q), c.distance(q)
    ok = ~np.isnan(t)  # NaN where the iteration found no foot
    assert t.shape == dist.shape == (40,) and ok.sum() >= 30
    np.testing.assert_allclose(np.linalg.norm(c.evaluate(t[ok]) - q[ok], axis=1), dist[ok], rtol=1e-6, atol=1e-6)
    assert glyph_curve.project(glyph_curve.evaluate(0.3), start=0.31) == pytest.approx(0.3, abs=1e-9)


def test_split_pieces_are_open(glyph_s):
    c = vn.FittedCurve(order=4, parametrization="uniform")
    c.fit(glyph_s)
    pieces = c.split(0.25)
    assert [(p.is_valid, p.is_closed, p.parametrization) for p in pieces] == [(True, False, vn.Parametrization.UNIFORM)] * 2
    with pytest.raises(vn.RCodeError):
        c.split(1.0)


def test_concurrent_use_from_threads(glyph_curve, glyph_s):
    t = np.linspace(0, 1, 20000)
    expected = glyph_curve.evaluate(t)
    errors = []

    def evaluate():
        errors.extend("evaluate" for _ in range(5) if not np.array_equal(glyph_curve.evaluate(t), expected))

    def refit():
        for _ in range(5):
            glyph_curve.fit(glyph_s, closed=True)  # the same fit: results stay identical
            glyph_curve.segment(5.0)

    threads = [threading.Thread(target=evaluate) for _ in range(3)] + [threading.Thread(target=refit)]
    [th.start() for th in threads]
    [th.join() for th in threads]
    assert errors == []
