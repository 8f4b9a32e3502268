"""velsdk_nurbs.dask on a two-process LocalCluster: the serial fits byte for byte, a bad track in its place."""

import pickle

import gps_tracks
import numpy as np
import pytest

import velsdk_nurbs as vn

distributed = pytest.importorskip("dask.distributed")
import dask.bag as db  # noqa: E402

from velsdk_nurbs.dask import fit_bag, fit_lists, segment_bag  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=":0") as cluster, distributed.Client(cluster) as c:
        yield c


@pytest.fixture(scope="module")
def tracks():
    # One bad track: fewer points than the order.
    return [t[:2] if k == 101 else t for k, t in enumerate(gps_tracks.tracks(240))]


def test_cluster_fits_equal_serial_fits_byte_for_byte(client, tracks):
    # Partitions of 50: the bad track sits inside the third partition.
    remote = fit_lists(tracks, partition_size=50, client=client)
    assert [k for k, r in enumerate(remote) if not isinstance(r, vn.FittedCurve)] == [101]
    assert remote[101].rcode == vn.RCode.Failure and "2 points are fewer than the order 3" in str(remote[101])
    serial = vn.fit_many(tracks)  # proven equal to the single fits by test_batch
    assert len(remote) == len(tracks) and [pickle.dumps(r) for r in remote] == [pickle.dumps(r) for r in serial]


def test_bags_compose_with_the_default_client(client, tracks):
    # With a client active, plain compute() runs on the cluster (the remote-scheduler recipe).
    curves = fit_bag(db.from_sequence(tracks[:60], partition_size=20), closed=True, order=4).compute()
    params = segment_bag(db.from_sequence(curves, partition_size=20), 1.0).compute()
    local = vn.fit_many(tracks[:60], closed=True, order=4)
    assert [pickle.dumps(c) for c in curves] == [pickle.dumps(c) for c in local]
    assert all(np.array_equal(p, c.segment(1.0)) for p, c in zip(params, local))
