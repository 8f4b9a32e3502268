"""Batch calls: each item the single call bit for bit on any thread count, bad items in their place."""

import pickle

import gps_tracks
import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import fitted, random_surface

THREADS = [1, 2, 7]


@pytest.fixture(scope="module")
def tracks():
    """31 derived GPS tracks (uneven chunks on 2 and 7 threads), shortened to keep the suite fast."""
    return [t[: 40 + 7 * k] for k, t in enumerate(gps_tracks.tracks(31))]


def single_fit(points, closed=False, **settings):
    """FittedCurve.fit, or the exception it raises."""
    try:
        return fitted(points, closed, **settings)
    except Exception as e:  # noqa: BLE001  (compared with the batch's exception object)
        return e.with_traceback(None)


def same(a, b):  # byte-equal pickles: the curve records, or the exception class, message and rcode
    return pickle.dumps(a) == pickle.dumps(b)


@pytest.mark.parametrize("threads", THREADS)
@pytest.mark.parametrize("closed, kw", [(False, {}), (True, {}), (False, dict(order=4, parametrization="uniform")),
                                              (True, dict(order=2, knots_generation="averaging"))])
def test_fit_many_is_the_single_fit(tracks, threads, closed, kw):
    batch = vn.fit_many(tracks, closed=closed, threads=threads, **kw)
    assert all(isinstance(b, vn.FittedCurve) for b in batch) and len(batch) == len(tracks)
    assert all(same(b, single_fit(t, closed, **kw)) for b, t in zip(batch, tracks))


def test_bad_lists_fail_alone(tracks):
    nan = tracks[5].copy()
    nan[10, 2] = np.nan
    # (list, closed, what the batch holds in its place: the single fit's result or exception)
    table = [(tracks[0], False, None), (tracks[1][:2], False, vn.RCodeError),  # fewer points than the order
             (tracks[2], True, None), (np.vstack([tracks[3][:5], tracks[3][4:9]]), False, vn.CoincidentPointsError),
             (nan, False, vn.RCodeError), (np.zeros((4, 4)), False, ValueError), (tracks[7][:, :2], False, None)]
    batch = vn.fit_many([t for t, _, _ in table], closed=[c for _, c, _ in table], threads=2)
    # Each item is the single fit's result or exception, but 4 and 5, which the batch refuses in its own words.
    for k, ((pts, closed, error), b) in enumerate(zip(table, batch)):
        assert isinstance(b, error or vn.FittedCurve) and (k in (4, 5) or same(b, single_fit(pts, closed))), k
    assert "point 10 is not finite" in str(batch[4]) and batch[4].rcode == vn.RCode.Failure


def test_fit_many_arguments():
    pts = np.array([[0.0, 0, 0], [1, 1, 0], [2, 0, 1], [3, 1, 1]])
    for kw, msg in [(dict(closed=[True]), "closed holds 1 flags for 2"), (dict(threads=-1), "threads"),
                    (dict(order=1), "order")]:
        with pytest.raises(ValueError, match=msg):
            vn.fit_many([pts, pts], **kw)
    assert vn.fit_many([]) == [] and same(vn.fit_many(p for p in [pts])[0], single_fit(pts))  # a generator too


@pytest.mark.parametrize("threads", THREADS)
def test_segment_many_segments_copies(tracks, threads):
    curves = vn.fit_many(tracks[:13], threads=2) + [vn.FittedCurve(), "not a curve"]  # not fitted, not a curve
    before = [c.to_bytes() for c in curves[:13]]
    result = vn.segment_many(curves, 0.05, threads=threads)
    for k in range(13):
        assert result[k].dtype == np.float64 and np.array_equal(result[k], curves[k].segment(0.05)), k
        assert curves[k].to_bytes() == before[k]  # the caller's curve is not clamped or changed
    assert isinstance(result[13], vn.RCodeError) and "not valid" in str(result[13])
    assert isinstance(result[14], TypeError)
    with pytest.raises(ValueError, match="tolerance"):
        vn.segment_many(curves, 0.0)


@pytest.mark.parametrize("threads", [0, 2, 7])
def test_threads_on_vectorised_calls_do_not_change_bits(tracks, threads):
    rng = np.random.default_rng(4)
    fc, surface = vn.fit_many([tracks[0]], threads=1)[0], random_surface(rng)[0]
    curve = fc.to_nurbs()
    u, uv = np.where(np.eye(37, 29) > 0, np.nan, rng.uniform(-0.1, 1.1, size=(37, 29))), rng.uniform(0, 1, (501, 2))
    pts = np.vstack([tracks[0][::3] + rng.normal(0, 5, size=(len(tracks[0][::3]), 3)), [1e300, 0, 0]])  # no answer: NaN
    for call in [lambda **t: curve.evaluate(u, **t), lambda **t: curve.derivatives(u, 2, **t),
                 lambda **t: surface.evaluate(uv, **t), lambda **t: surface.derivatives(uv, order=2, **t)]:
        assert np.array_equal(call(threads=threads), call(), equal_nan=True)
    # project_many: the object's own project with threads.
    for obj, args in ((fc, {}), (curve, {"max_iterations": 50}), (surface, {})):
        a, b = vn.project_many(obj, pts, threads=threads, **args), obj.project(pts, **args)
        a, b = (a, b) if isinstance(a, tuple) else ((a,), (b,))
        assert all(np.array_equal(x, y, equal_nan=True) for x, y in zip(a, b))
