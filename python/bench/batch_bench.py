#!/usr/bin/env python3
"""Many curves at once: 10,000 GPS tracks fitted serially, by fit_many on 1 and 2 threads, and
by velsdk_nurbs.dask on a LocalCluster of 2 worker processes; next to the C++ batch.

  PYTHONPATH=build/python /usr/bin/python3 python/bench/batch_bench.py \\
      [--tracks 10000] [--partition 1000] [--cpp build/bench/batch_bench] [--no-dask]

Workload: examples/python/gps_tracks.py, tracks 0..N-1 (300-400 points each, open cubic fits
with one control point per point, as FittedCurve(order=4).fit). Each timing is the best of a
few runs (wall clock). Reported: tracks/s and the ratios the batch work aims at:
  fit_many(2 threads) / serial loop, fit_many(1 thread) vs the C++ FitMany(1) (the binding's
  overhead is per batch, not per curve), Dask 2 workers against one process (partitions of
  --partition tracks; the cluster start is not timed): once with the tracks sent from here and
  the curves sent back (pickled), once with the tracks made on the workers and only a count
  returned, as when workers read their files and write their results themselves.
--cpp runs the C++ benchmark (bench/batch_bench.cpp) on the same track count and adds its
numbers to the table.
"""

from __future__ import annotations

import argparse
import json
import os
import pathlib
import subprocess
import sys
import time
from typing import Callable, Dict, List

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "python"))
import gps_tracks  # noqa: E402

import velsdk_nurbs as vn  # noqa: E402


def best_time(fn: Callable[[], object], repeats: int) -> float:
    best = float("inf")
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def serial(tracks: List) -> List:
    curves = []
    for t in tracks:
        c = vn.FittedCurve(order=4)
        c.fit(t)
        curves.append(c)
    return curves


def _make_tracks(ks) -> List:
    # Runs in a Dask worker: the tracks are made where they are fitted (like files read there).
    import gps_tracks as g

    loop, walk = g.load_sources()
    return [g.track(k, loop, walk) for k in ks]


def _count_fitted(curves) -> List[int]:
    return [sum(isinstance(c, vn.FittedCurve) for c in curves)]


def cpp_rates(binary: str, count: int) -> Dict[str, float]:
    env = dict(os.environ, VELSDK_BATCH_TRACKS=str(count))
    out = subprocess.run(
        [binary, "--benchmark_filter=Fit", "--benchmark_format=json"], env=env, check=True, capture_output=True
    ).stdout
    rates = {}
    for b in json.loads(out)["benchmarks"]:
        name = b["name"].split("/min_time")[0]
        rates[name] = b["tracks/s"]
        rates[name + " cpu"] = b["cpu_us/track"]
    return rates


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tracks", type=int, default=10000)
    parser.add_argument("--partition", type=int, default=1000)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--cpp", help="path of the built bench/batch_bench program")
    parser.add_argument("--no-dask", action="store_true")
    args = parser.parse_args()

    tracks = gps_tracks.tracks(args.tracks)
    n = len(tracks)
    rows = []
    t_serial = best_time(lambda: serial(tracks), args.repeats)
    rows.append(("Python loop of FittedCurve.fit (curves kept)", n / t_serial))
    t1 = best_time(lambda: vn.fit_many(tracks, threads=1, order=4), args.repeats)
    rows.append(("fit_many, 1 thread", n / t1))
    c1 = time.process_time()
    vn.fit_many(tracks, threads=1, order=4)
    c1 = time.process_time() - c1
    t2 = best_time(lambda: vn.fit_many(tracks, threads=2, order=4), args.repeats)
    c2 = time.process_time()
    vn.fit_many(tracks, threads=2, order=4)
    c2 = time.process_time() - c2
    rows.append(("fit_many, 2 threads", n / t2))
    ratios = [
        ("fit_many 2 threads / Python loop", t_serial / t2),
        ("fit_many 1 thread / Python loop", t_serial / t1),
        ("fit_many 2 threads, idle-machine estimate 2 cpu(1)/cpu(2)", 2 * c1 / c2),
    ]

    if args.cpp:
        cpp = cpp_rates(args.cpp, n)
        for name, label in (
            ("BM_FitLoopOfSingleCalls", "C++ loop of single fits, each curve discarded"),
            ("BM_FitLoopKeepingResults", "C++ loop of single fits, curves kept"),
            ("BM_FitMany/1", "C++ FitMany, 1 thread"),
            ("BM_FitMany/2", "C++ FitMany, 2 threads"),
        ):
            if name in cpp:
                rows.append((label, cpp[name]))
        if "BM_FitMany/2" in cpp and "BM_FitMany/1" in cpp:
            ratios.append(("C++ FitMany 2 threads / FitMany 1 thread", cpp["BM_FitMany/2"] / cpp["BM_FitMany/1"]))
        if "BM_FitMany/2" in cpp and "BM_FitLoopKeepingResults" in cpp:
            ratios.append(
                ("C++ FitMany 2 threads / loop keeping curves", cpp["BM_FitMany/2"] / cpp["BM_FitLoopKeepingResults"])
            )
        if "BM_FitMany/1 cpu" in cpp and "BM_FitMany/2 cpu" in cpp:
            # Processor time of all threads: what the second thread adds, independent of other load.
            ratios.append(
                ("C++ FitMany 2 threads, idle-machine estimate 2 cpu(1)/cpu(2)",
                 2 * cpp["BM_FitMany/1 cpu"] / cpp["BM_FitMany/2 cpu"])
            )
        if "BM_FitMany/1" in cpp:
            ratios.append(("fit_many 1 thread / C++ FitMany 1 thread", (n / t1) / cpp["BM_FitMany/1"]))
        if "BM_FitMany/2" in cpp:
            ratios.append(("fit_many 2 threads / C++ FitMany 2 threads", (n / t2) / cpp["BM_FitMany/2"]))

    if not args.no_dask:
        from dask.distributed import Client, LocalCluster

        from velsdk_nurbs.dask import fit_lists

        import dask.bag as db

        from velsdk_nurbs.dask import fit_bag

        # The workers find gps_tracks (for the tracks made on the workers) through PYTHONPATH.
        here = str(pathlib.Path(__file__).resolve().parents[2] / "examples" / "python")
        os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [here, os.environ.get("PYTHONPATH")]))
        parts = max(1, n // args.partition)
        t_gen = best_time(lambda: gps_tracks.tracks(n), 1)
        with LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=":0"
        ) as cluster, Client(cluster) as client:
            fit_lists(tracks[: 2 * args.partition], partition_size=args.partition, client=client, order=4)  # warm-up
            td = best_time(
                lambda: fit_lists(tracks, partition_size=args.partition, client=client, order=4), args.repeats
            )
            on_workers = db.range(n, npartitions=parts).map_partitions(_make_tracks)
            counted = fit_bag(on_workers, order=4).map_partitions(_count_fitted)
            tw = best_time(lambda: counted.compute(), args.repeats)
        rows.append((f"Dask 2 workers, {args.partition}/partition, tracks and curves shipped", n / td))
        rows.append((f"Dask 2 workers, {args.partition}/partition, tracks made and curves kept on workers", n / tw))
        ratios.append(("Dask (shipped) / Python loop", t_serial / td))
        ratios.append(("Dask (on workers) / (make tracks + fit_many 1 thread)", (t_gen + t1) / tw))

    print(f"{n} tracks, {sum(len(t) for t in tracks)} points; load average {os.getloadavg()[0]:.1f}")
    print(f"{'run':72s} {'tracks/s':>10s}")
    for label, rate in rows:
        print(f"{label:72s} {rate:10.0f}")
    print()
    for label, r in ratios:
        print(f"{label:72s} {r:10.2f}")


if __name__ == "__main__":
    main()
