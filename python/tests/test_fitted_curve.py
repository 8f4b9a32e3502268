"""FittedCurve through the binding: parameters handed back as arrays, result codes as exceptions,
the curve it holds, segmentation and projection arguments and shapes, splitting, threads."""

from __future__ import annotations

from concurrent.futures import ThreadPoolExecutor

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
    np.testing.assert_array_equal(c.fit(pts), vn.uniform_parameters(len(pts)))
    assert c.is_valid and not c.is_closed and c.domain == (0.0, 1.0) and c.knots.shape == (len(pts) + 4,)
    assert glyph_curve.is_closed and glyph_curve.num_control_points == len(glyph_s) + 3
    assert c.fit_with_end_derivatives(airfoil_upper, [0, 1, 0], [1, 0, 0]).shape == (len(airfoil_upper),)
    np.testing.assert_allclose(c.speed([0.0, 1.0]), [[0, 1, 0], [1, 0, 0]], atol=1e-9)
    nurbs, t = glyph_curve.to_nurbs(), np.linspace(0, 1, 101)  # evaluation is that of the NurbsCurve it holds
    d = nurbs.derivatives(t, 2)
    for got, k in [(glyph_curve.evaluate(t), 0), (glyph_curve(t), 0), (glyph_curve.speed(t), 1),
                   (glyph_curve.acceleration(t), 2)]:
        np.testing.assert_array_equal(got, d[:, k])
    assert vn.FittedCurve.from_nurbs(nurbs, closed=True) == glyph_curve


COINCIDENT = np.array([[0, 0, 0], [1e-9, 0, 0], [1, 0, 0], [2, 1, 0]], dtype=float)


@pytest.mark.parametrize("call, error, message", [
    (lambda c, g, loop: c.fit(COINCIDENT), vn.CoincidentPointsError, r"RCode\.CoincidentPoints.*points 0 and 1"),
    (lambda c, g, loop: vn.FittedCurve(order=4).fit(g[:3]), vn.RCodeError, r"RCode\.Failure.*fewer than the order"),
    (lambda c, g, loop: c.fit(g), vn.RCodeError, "num_control_points"),  # the closed fit left N + 3
    (lambda c, g, loop: vn.FittedCurve(knots_generation="uniform").fit(loop, closed=True), vn.RCodeError, "averaging"),
    (lambda c, g, loop: vn.FittedCurve().evaluate(0.5), vn.RCodeError, r"RCode\.Failure.*not valid"),
    (lambda c, g, loop: vn.FittedCurve().to_nurbs(), vn.RCodeError, "not valid"),
    (lambda c, g, loop: c.split(1.0), vn.RCodeError, ""),
    (lambda c, g, loop: c.segment(0.0), ValueError, "tolerance"),
    (lambda c, g, loop: c.segment(1e-3, parameters=[1.5]), ValueError, "domain"),
    (lambda c, g, loop: setattr(c, "order", 1), ValueError, ""),
    (lambda c, g, loop: setattr(c, "parametrization", "chordal"), ValueError, ""),
    (lambda c, g, loop: vn.FittedCurve(knots_generation=3), ValueError, "")])
def test_failures_raise_and_leave_the_curve(glyph_curve, glyph_s, gps_loop, call, error, message):
    before = glyph_curve.to_bytes()
    with pytest.raises(error, match=message) as e:
        call(glyph_curve, glyph_s, gps_loop)
    if error is vn.CoincidentPointsError:
        assert glyph_curve.to_bytes() == before  # a refused fit leaves the curve
    assert not isinstance(e.value, vn.RCodeError) or isinstance(e.value, vn.NurbsError) and e.value.rcode in (
        vn.RCode.Failure, vn.RCode.CoincidentPoints)


def test_settings_segmentation_and_split(airfoil_upper):
    c = vn.FittedCurve(order=5, parametrization=vn.Parametrization.UNIFORM, knots_generation="uniform")
    assert (c.order, c.parametrization, c.knots_generation) == (5, vn.Parametrization.UNIFORM,
                                                                vn.KnotsGeneration.UNIFORM)
    c = vn.FittedCurve(order=4)
    c.fit(airfoil_upper)
    t = c.segment(1e-3, parameters=[0.123, 0.5])
    assert t.dtype == np.float64 and (t[0], t[-1]) == (0.0, 1.0) and np.all(np.diff(t) > 0) and {0.123, 0.5} <= set(t)
    np.testing.assert_array_equal(c.segment_points(2.0), c.evaluate(c.segment(2.0)))
    pieces = c.split(0.25)
    assert [(p.is_valid, p.is_closed, p.parametrization) for p in pieces] == [(True, False, c.parametrization)] * 2


def test_projection_shapes_and_misses(gps_loop, glyph_curve):
    q = load_csv("proj_gps_loop_3d.csv")[0][:40]
    c = vn.FittedCurve(order=4)
    c.fit(gps_loop, closed=True)
    t, dist = c.project(q), c.distance(q)
    ok = ~np.isnan(t)  # NaN where the iteration found no foot
    assert t.shape == dist.shape == (40,) and ok.sum() >= 30 and np.allclose(
        np.linalg.norm(c.evaluate(t[ok]) - q[ok], axis=1), dist[ok], rtol=1e-6, atol=1e-6)
    assert glyph_curve.project(glyph_curve.evaluate(0.3), start=0.31) == pytest.approx(0.3, abs=1e-9)


def test_concurrent_use_from_threads(glyph_curve, glyph_s):
    t = np.linspace(0, 1, 20000)
    expected = glyph_curve.evaluate(t)

    def refit():
        for _ in range(5):
            glyph_curve.fit(glyph_s, closed=True)  # the same fit: results stay identical
            glyph_curve.segment(5.0)

    with ThreadPoolExecutor(4) as pool:
        evaluations = [pool.submit(lambda: [np.array_equal(glyph_curve.evaluate(t), expected) for _ in range(5)])
                       for _ in range(3)] + [pool.submit(refit)]
    assert all(all(f.result()) for f in evaluations[:3]) and evaluations[3].result() is None
