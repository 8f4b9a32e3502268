#!/usr/bin/env python3
"""Many curves at once: 10,000 GPS tracks fitted serially, by fit_many on 1 and 2 threads, and
by velsdk_nurbs.dask on a LocalCluster of 2 worker processes; next to the C++ batch.

  PYTHONPATH=build/python /usr/bin/python3 python/bench/batch_bench.py \\
      [--tracks 10000] [--partition 1000] [--cpp build/bench/batch_bench] [--no-dask]

Workload: examples/python/gps_tracks.py, tracks 0..N-1 (300-400 points each, open cubic fits
with one control point per point, as FittedCurve(order=4).fit). Each timing is the best of a
few runs (wall clock). Reported: tracks/s and the ratios the batch work aims at:
  fit_many(2 threads) / serial loop, fit_many(1 thread) vs the C++ FitMany(1) (the binding's
  overhead is per batch, not per curve), Dask 2 workers / serial loop (partitions of
  --partition tracks; the tracks travel to the workers inside the timed run, the cluster start
  does not).
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


def serial(tracks: List) -> None:
    for t in tracks:
        vn.FittedCurve(order=4).fit(t)


def cpp_rates(binary: str, count: int) -> Dict[str, float]:
    env = dict(os.environ, VELSDK_BATCH_TRACKS=str(count))
    out = subprocess.run(
        [binary, "--benchmark_filter=Fit", "--benchmark_format=json"], env=env, check=True, capture_output=True
    ).stdout
    rates = {}
    for b in json.loads(out)["benchmarks"]:
        name = b["name"].split("/min_time")[0]
        rates[name] = b["tracks/s"]
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
    rows.append(("Python loop of FittedCurve.fit", n / t_serial))
    t1 = best_time(lambda: vn.fit_many(tracks, threads=1, order=4), args.repeats)
    rows.append(("fit_many, 1 thread", n / t1))
    t2 = best_time(lambda: vn.fit_many(tracks, threads=2, order=4), args.repeats)
    rows.append(("fit_many, 2 threads", n / t2))
    ratios = [("fit_many 2 threads / Python loop", t_serial / t2), ("fit_many 1 thread / Python loop", t_serial / t1)]

    if args.cpp:
        cpp = cpp_rates(args.cpp, n)
        for name, label in (
            ("BM_FitLoopOfSingleCalls", "C++ loop of single fits"),
            ("BM_FitMany/1", "C++ FitMany, 1 thread"),
            ("BM_FitMany/2", "C++ FitMany, 2 threads"),
        ):
            if name in cpp:
                rows.append((label, cpp[name]))
        if "BM_FitMany/2" in cpp and "BM_FitLoopOfSingleCalls" in cpp:
            ratios.append(("C++ FitMany 2 threads / C++ loop", cpp["BM_FitMany/2"] / cpp["BM_FitLoopOfSingleCalls"]))
        if "BM_FitMany/1" in cpp:
            ratios.append(("fit_many 1 thread / C++ FitMany 1 thread", (n / t1) / cpp["BM_FitMany/1"]))
        if "BM_FitMany/2" in cpp:
            ratios.append(("fit_many 2 threads / C++ FitMany 2 threads", (n / t2) / cpp["BM_FitMany/2"]))

    if not args.no_dask:
        from dask.distributed import Client, LocalCluster

        from velsdk_nurbs.dask import fit_lists

        with LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=":0"
        ) as cluster, Client(cluster) as client:
            fit_lists(tracks[: 2 * args.partition], partition_size=args.partition, client=client, order=4)  # warm-up
            td = best_time(
                lambda: fit_lists(tracks, partition_size=args.partition, client=client, order=4), args.repeats
            )
        rows.append((f"Dask LocalCluster, 2 workers, {args.partition} tracks/partition", n / td))
        ratios.append(("Dask 2 workers / Python loop", t_serial / td))

    print(f"{n} tracks, {sum(len(t) for t in tracks)} points; load average {os.getloadavg()[0]:.1f}")
    print(f"{'run':60s} {'tracks/s':>10s}")
    for label, rate in rows:
        print(f"{label:60s} {rate:10.0f}")
    print()
    for label, r in ratios:
        print(f"{label:60s} {r:10.2f}")


if __name__ == "__main__":
    main()
