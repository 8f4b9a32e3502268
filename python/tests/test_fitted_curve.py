"""FittedCurve through the binding: arrays, result codes as exceptions, threads, record, XML, pickle."""

import copy
import pickle
import struct
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import AIRFOIL, GLYPH, GPS_LOOP, GPS_OPEN, load_csv


def fitted(points, closed=False, **settings):
    c = vn.FittedCurve(**settings)
    c.fit(points, closed=closed)
    return c


@pytest.fixture
def glyph_curve():
    return fitted(GLYPH, True, order=4)


def test_fits_return_parameters(glyph_curve):
    c = vn.FittedCurve(order=4, parametrization="uniform")
    np.testing.assert_array_equal(c.fit(GPS_OPEN), vn.uniform_parameters(len(GPS_OPEN)))
    assert c.is_valid and not c.is_closed and c.domain == (0.0, 1.0) and c.knots.shape == (len(GPS_OPEN) + 4,)
    assert glyph_curve.is_closed and glyph_curve.num_control_points == len(GLYPH) + 3
    assert c.fit_with_end_derivatives(AIRFOIL, [0, 1, 0], [1, 0, 0]).shape == (len(AIRFOIL),)
    np.testing.assert_allclose(c.speed([0.0, 1.0]), [[0, 1, 0], [1, 0, 0]], atol=1e-9)
    nurbs, t = glyph_curve.to_nurbs(), np.linspace(0, 1, 101)  # evaluation is that of the NurbsCurve it holds
    d = nurbs.derivatives(t, 2)
    for got, k in [(glyph_curve.evaluate(t), 0), (glyph_curve(t), 0), (glyph_curve.speed(t), 1),
                   (glyph_curve.acceleration(t), 2)]:
        np.testing.assert_array_equal(got, d[:, k])
    assert vn.FittedCurve.from_nurbs(nurbs, closed=True) == glyph_curve


COINCIDENT = np.array([[0, 0, 0], [1e-9, 0, 0], [1, 0, 0], [2, 1, 0]], dtype=float)


@pytest.mark.parametrize("call, error, message", [
    (lambda c: c.fit(COINCIDENT), vn.CoincidentPointsError, r"RCode\.CoincidentPoints.*points 0 and 1"),
    (lambda c: vn.FittedCurve(order=4).fit(GLYPH[:3]), vn.RCodeError, r"RCode\.Failure.*fewer than the order"),
    (lambda c: c.fit(GLYPH), vn.RCodeError, "num_control_points"),  # the closed fit left N + 3
    (lambda c: vn.FittedCurve(knots_generation="uniform").fit(GPS_LOOP, closed=True), vn.RCodeError, "averaging"),
    (lambda c: vn.FittedCurve().evaluate(0.5), vn.RCodeError, r"RCode\.Failure.*not valid"),
    (lambda c: vn.FittedCurve().to_nurbs(), vn.RCodeError, "not valid"),
    (lambda c: vn.FittedCurve().to_xml(), vn.RCodeError, "not valid"), (lambda c: c.split(1.0), vn.RCodeError, "split"),
    (lambda c: c.segment(0.0), ValueError, "tolerance"), (lambda c: c.segment(1e-3, [1.5]), ValueError, "domain"),
    (lambda c: setattr(c, "order", 1), ValueError, "order"),
    (lambda c: vn.FittedCurve(knots_generation=3), ValueError, "knots_generation"),
    (lambda c: setattr(c, "parametrization", "chordal"), ValueError, "parametrization"),
    # Damaged records and documents: short, long, order 1 with the valid flag set, a count of 2^60.
    (lambda c: vn.FittedCurve.from_bytes(c.to_bytes()[:-3]), ValueError, "ends early"),
    (lambda c: vn.FittedCurve.from_bytes(c.to_bytes() + b"\0"), ValueError, "extra bytes"),
    (lambda c: vn.FittedCurve.from_bytes(c.to_bytes()[:17] + b"\1" + c.to_bytes()[18:]), vn.RCodeError, "Failure"),
    (lambda c: vn.FittedCurve.from_bytes(c.to_bytes()[:18] + struct.pack("<Q", 2**60) + c.to_bytes()[26:]), ValueError,
     "more data"),
    (lambda c: vn.FittedCurve.from_xml("<NURBS_CURVE><Order>4</Order>"), ValueError, "line"),
    (lambda c: vn.FittedCurve.from_xml(c.to_xml().replace("<Dim>4</Dim>", "<Dim>3</Dim>")), ValueError, ""),
    (lambda c: vn.FittedCurve.from_xml(c.to_xml().replace("<Order>4", "<Order>1")), vn.RCodeError, "from_xml")])
def test_failures_raise_and_leave_the_curve(glyph_curve, call, error, message):
    before = glyph_curve.to_bytes()
    with pytest.raises(error, match=message) as e:
        call(glyph_curve)
    if error is vn.CoincidentPointsError:
        assert glyph_curve.to_bytes() == before  # a refused fit leaves the curve
    if isinstance(e.value, vn.RCodeError):  # a NurbsError carrying the code its message names
        assert isinstance(e.value, vn.NurbsError) and f"RCode.{e.value.rcode.name}" in str(e.value)


def test_segmentation_and_split():
    c = fitted(AIRFOIL, order=4)
    t = c.segment(1e-3, parameters=[0.123, 0.5])
    assert t.dtype == np.float64 and (t[0], t[-1]) == (0.0, 1.0) and np.all(np.diff(t) > 0) and {0.123, 0.5} <= set(t)
    np.testing.assert_array_equal(c.segment_points(2.0), c.evaluate(c.segment(2.0)))
    pieces = c.split(0.25)
    assert [(p.is_valid, p.is_closed, p.parametrization) for p in pieces] == [(True, False, c.parametrization)] * 2


def test_projection_shapes_and_misses(glyph_curve):
    q, c = load_csv("proj_gps_loop_3d.csv")[0][:40], fitted(GPS_LOOP, True, order=4)
    t, dist = c.project(q), c.distance(q)
    ok = ~np.isnan(t)  # NaN where the iteration found no foot
    assert t.shape == dist.shape == (40,) and ok.sum() >= 30 and np.allclose(
        np.linalg.norm(c.evaluate(t[ok]) - q[ok], axis=1), dist[ok], rtol=1e-6, atol=1e-6)
    assert glyph_curve.project(glyph_curve.evaluate(0.3), start=0.31) == pytest.approx(0.3, abs=1e-9)


def test_concurrent_use_from_threads(glyph_curve):
    expected = glyph_curve.evaluate(t := np.linspace(0, 1, 20000))

    def refit():
        for _ in range(5):
            glyph_curve.fit(GLYPH, closed=True)  # the same fit: results stay identical
            glyph_curve.segment(5.0)

    with ThreadPoolExecutor(4) as pool:
        evaluations = [pool.submit(lambda: [np.array_equal(glyph_curve.evaluate(t), expected) for _ in range(5)])
                       for _ in range(3)] + [pool.submit(refit)]
    assert all(all(f.result()) for f in evaluations[:3]) and evaluations[3].result() is None


def test_record_round_trips_and_pickle(glyph_curve, tmp_path):
    c = fitted(AIRFOIL, order=4, parametrization=vn.Parametrization.UNIFORM)  # an enum value, or its name
    d, n = c.to_bytes(), c.num_control_points  # the record's layout is proven by the C++ tests
    assert struct.unpack_from("<dd?BQB", d) == (0.0, 1.0, False, 4, n, 1) and len(d) == 35 + 32 * n + 8 * len(c.knots)
    np.testing.assert_array_equal(np.frombuffer(d, "<f8", 4 * n, 27).reshape(n, 4), c.homogeneous_control_points)
    c.knots_generation = "uniform"  # the setter; kept by pickle and copies
    vn.save_xml(c, tmp_path / "curve.xml")
    assert vn.load_xml(tmp_path / "curve.xml") == c and "<Order>4</Order>" in c.to_xml()
    for curve in (c, glyph_curve):
        for back in (vn.FittedCurve.from_bytes(curve.to_bytes()), vn.FittedCurve.from_xml(curve.to_xml())):
            assert back == curve and back.to_bytes() == curve.to_bytes() and back.is_closed == curve.is_closed
    invalid = vn.FittedCurve.from_bytes(vn.FittedCurve(order=5).to_bytes())
    assert not invalid.is_valid and invalid.order == 5 and len(invalid.to_bytes()) == 27
    for back in (pickle.loads(pickle.dumps(c)), copy.deepcopy(c), copy.copy(c)):
        assert back == c and back is not c
        assert (back.parametrization, back.knots_generation) == (vn.Parametrization.UNIFORM, vn.KnotsGeneration.UNIFORM)
