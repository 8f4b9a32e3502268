"""velsdk_nurbs.dask on a LocalCluster of two worker processes: the same curves as the serial
fits, byte for byte, and a bad track reported in its own place."""

from __future__ import annotations

import pathlib
import pickle
import sys

import pytest

import velsdk_nurbs as vn

distributed = pytest.importorskip("dask.distributed")
import dask.bag as db  # noqa: E402

from velsdk_nurbs.dask import fit_bag, fit_lists, segment_bag  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "python"))
import gps_tracks  # noqa: E402


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=":0"
    )
    c = distributed.Client(cluster)
    yield c
    c.close()
    cluster.close()


@pytest.fixture(scope="module")
def tracks():
    t = gps_tracks.tracks(240)
    t[101] = t[101][:2]  # one bad track: fewer points than the order
    return t


def test_cluster_fits_equal_serial_fits_byte_for_byte(client, tracks):
    serial = []
    for t in tracks:
        c = vn.FittedCurve()
        try:
            c.fit(t)
            serial.append(c)
        except vn.RCodeError as e:
            # Compared without the traceback of the raise (the batch returns, it does not raise).
            serial.append(e.with_traceback(None))
    # Partitions of 50: the bad track sits inside the third partition.
    remote = fit_lists(tracks, partition_size=50, client=client)
    assert len(remote) == len(tracks)
    assert [k for k, r in enumerate(remote) if not isinstance(r, vn.FittedCurve)] == [101]
    assert isinstance(remote[101], vn.RCodeError) and remote[101].rcode == vn.RCode.Failure
    assert "2 points are fewer than the order 3" in str(remote[101])
    for k, (a, b) in enumerate(zip(remote, serial)):
        assert pickle.dumps(a) == pickle.dumps(b), k


def test_bags_compose_with_the_default_client(client, tracks):
    # With a client active, plain compute() runs on the cluster (the remote-scheduler recipe).
    bag = db.from_sequence(tracks[:60], partition_size=20)
    curves = fit_bag(bag, closed=True, order=4).compute()
    params = segment_bag(db.from_sequence(curves, partition_size=20), 1.0).compute()
    local = vn.fit_many(tracks[:60], closed=True, order=4)
    assert [pickle.dumps(c) for c in curves] == [pickle.dumps(c) for c in local]
    for p, c in zip(params, local):
        assert (p == c.segment(1.0)).all()
