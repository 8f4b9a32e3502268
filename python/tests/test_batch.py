"""Batch calls: every item bit for bit the single call for any thread count, a bad item
reported in its own place, the inputs left as they were."""

from __future__ import annotations

import pathlib
import pickle
import sys

import numpy as np
import pytest

import velsdk_nurbs as vn

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "python"))
import gps_tracks  # noqa: E402

THREADS = [1, 2, 7]


@pytest.fixture(scope="module")
def tracks():
    """31 derived GPS tracks (uneven chunks on 2 and 7 threads), shortened to keep the suite fast."""
    return [t[: 40 + 7 * k] for k, t in enumerate(gps_tracks.tracks(31))]


def single_fit(points, closed=False, **settings):
    """FittedCurve.fit, or the exception it raises."""
    curve = vn.FittedCurve(**settings)
    try:
        curve.fit(points, closed=closed)
    except Exception as e:  # noqa: BLE001  (compared with the batch's exception object)
        return e.with_traceback(None)
    return curve


def same(a, b) -> bool:
    """Byte-equal pickles: the curve records, or the exception class, message and rcode."""
    return pickle.dumps(a) == pickle.dumps(b)


def test_derived_tracks_follow_the_documented_rule():
    # The rule of the module description, point by point with Python integers (the module
    # itself hashes whole tracks with NumPy arrays).
    loop, walk = gps_tracks.load_sources()
    assert gps_tracks.splitmix64(0) == 0xE220A8397B1DCDAF  # the published first output for seed 0
    for k, t in enumerate(gps_tracks.tracks(5, first=9997)):
        k += 9997
        h = [gps_tracks.splitmix64(k * 2**20 + 2**19 + i) >> 11 for i in (0, 1)]
        assert len(t) == 300 + h[0] % 101
        for j in (0, 1, 150, len(t) - 1):
            if k % 2 == 0:
                base = loop[(h[1] % 358 + j) % 358]
            else:
                i = (h[1] % 672 + j) % 672
                base = walk[i if i < 337 else 672 - i]
            for c in range(3):
                u = (gps_tracks.splitmix64(k * 2**20 + 3 * j + c) >> 11) * 2.0**-53
                assert t[j, c] == base[c] + 0.5 * (2.0 * u - 1.0)


@pytest.mark.parametrize("threads", THREADS)
@pytest.mark.parametrize(
    "closed, settings",
    [
        (False, {}),
        (True, {}),
        (False, {"order": 4, "parametrization": "uniform"}),
        (True, {"order": 2, "knots_generation": "averaging"}),
    ],
)
def test_fit_many_is_the_single_fit(tracks, threads, closed, settings):
    batch = vn.fit_many(tracks, closed=closed, threads=threads, **settings)
    assert len(batch) == len(tracks)
    for k, (b, t) in enumerate(zip(batch, tracks)):
        assert isinstance(b, vn.FittedCurve), (k, b)
        assert same(b, single_fit(t, closed, **settings)), k


def test_bad_lists_fail_alone(tracks):
    lists = list(tracks[:8])
    lists[1] = tracks[1][:2]  # fewer points than the order
    lists[3] = np.vstack([tracks[3][:5], tracks[3][4:9]])  # points 4 and 5 coincide
    nan = tracks[5].copy()
    nan[10, 2] = np.nan
    lists[5] = nan
    lists[6] = np.zeros((4, 4))  # not points
    lists[7] = tracks[7][:, :2]  # planar: z = 0
    closed = [False, False, True, False, False, False, False, False]
    batch = vn.fit_many(lists, closed=closed, threads=2)
    for k in (0, 2, 4):
        assert same(batch[k], single_fit(lists[k], closed[k])), k
    # The exceptions are those of the single fit, returned instead of raised.
    for k in (1, 3):
        single = single_fit(lists[k])
        assert type(batch[k]) is type(single) and str(batch[k]) == str(single), k
        assert batch[k].rcode == single.rcode
    assert isinstance(batch[3], vn.CoincidentPointsError)
    assert "points 4 and 5 lie closer than 2^-26" in str(batch[3])
    assert isinstance(batch[5], vn.RCodeError) and batch[5].rcode == vn.RCode.Failure
    assert "point 10 is not finite" in str(batch[5])
    assert isinstance(batch[6], ValueError) and "(k, 3) or (k, 2)" in str(batch[6])
    flat = np.column_stack([tracks[7][:, :2], np.zeros(len(tracks[7]))])
    assert same(batch[7], single_fit(flat))


def test_fit_many_arguments():
    pts = np.array([[0.0, 0, 0], [1, 1, 0], [2, 0, 1], [3, 1, 1]])
    with pytest.raises(ValueError, match="closed holds 1 flags for 2"):
        vn.fit_many([pts, pts], closed=[True])
    with pytest.raises(ValueError, match="threads"):
        vn.fit_many([pts], threads=-1)
    with pytest.raises(ValueError, match="order"):
        vn.fit_many([pts], order=1)
    assert vn.fit_many([]) == []
    # Any iterable of lists, including a generator.
    assert same(vn.fit_many(p for p in [pts])[0], single_fit(pts))


@pytest.mark.parametrize("threads", THREADS)
def test_segment_many_segments_copies(tracks, threads):
    curves = vn.fit_many(tracks[:13], threads=2)
    curves.append(vn.FittedCurve())  # not fitted
    curves.append("not a curve")
    before = [c.to_bytes() for c in curves[:13]]
    result = vn.segment_many(curves, 0.05, threads=threads)
    for k in range(13):
        expected = vn.FittedCurve.from_bytes(before[k]).segment(0.05)
        assert np.array_equal(result[k], expected), k
        assert result[k].dtype == np.float64
        assert curves[k].to_bytes() == before[k]  # the caller's curve is not clamped or changed
    assert isinstance(result[13], vn.RCodeError) and "not valid" in str(result[13])
    assert isinstance(result[14], TypeError)
    with pytest.raises(ValueError, match="tolerance"):
        vn.segment_many(curves, 0.0)


def _surface():
    u = np.linspace(0, 1, 6)
    grid = np.array([[[x, y, np.sin(3 * x) * np.cos(2 * y)] for y in u] for x in u]).reshape(-1, 3)
    return vn.NurbsSurface.interpolate_grid(grid.reshape(6, 6, 3))


@pytest.mark.parametrize("threads", [0, 2, 7])
def test_threads_on_vectorised_calls_do_not_change_bits(tracks, threads):
    fitted = vn.fit_many([tracks[0]], threads=1)[0]
    curve = fitted.to_nurbs()
    surface = _surface()
    rng = np.random.default_rng(4)
    u = rng.uniform(-0.1, 1.1, size=(37, 29))
    u[3, 4] = np.nan
    assert np.array_equal(curve.evaluate(u, threads=threads), curve.evaluate(u), equal_nan=True)
    assert np.array_equal(curve.derivatives(u, 2, threads=threads), curve.derivatives(u, 2), equal_nan=True)
    uv = rng.uniform(0, 1, size=(501, 2))
    assert np.array_equal(surface.evaluate(uv, threads=threads), surface.evaluate(uv))
    assert np.array_equal(surface.derivatives(uv, order=2, threads=threads), surface.derivatives(uv, order=2))
    # project_many: the object's own project with threads; NaN marks points without an answer.
    pts = tracks[0][::3] + rng.normal(0, 5, size=(len(tracks[0][::3]), 3))
    pts[2] = [1e300, 0, 0]
    t1 = fitted.project(pts)
    tn = vn.project_many(fitted, pts, threads=threads)
    assert np.array_equal(tn, t1, equal_nan=True)
    for obj, args in ((curve, {"max_iterations": 50}), (surface, {})):
        a = vn.project_many(obj, pts, threads=threads, **args)
        b = obj.project(pts, **args)
        assert all(np.array_equal(x, y, equal_nan=True) for x, y in zip(a, b))
