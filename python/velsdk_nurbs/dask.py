"""Many fits on a Dask cluster: the fits of velsdk_nurbs.fit_many, one task per partition.

The same code runs on a LocalCluster and on a remote scheduler: the helpers only build Dask
collections, and compute() runs them wherever the active client (or the default scheduler)
sends them. On a real cluster (velsdk_nurbs installed on every worker):

    from dask.distributed import Client
    client = Client("tcp://scheduler.example:8786")
    curves = fit_bag(dask.bag.from_sequence(tracks, partition_size=1000)).compute()

Each partition is fitted by fit_many inside a worker, so every curve is bit for bit the one
FittedCurve.fit gives for its list, and a bad list yields its exception in its place (the
other lists of the partition are fitted as usual). Curves and exceptions travel between
processes pickled (a curve pickles as its binary record and fit settings). Partitions of
about a thousand lists keep the scheduling cost small next to the fitting.
"""

from __future__ import annotations

from typing import Any, Dict, Iterable, List, Optional, Sequence, Union

import dask.bag as _bag

__all__ = ["fit_bag", "fit_lists", "segment_bag"]


def _fit_partition(lists: Iterable[Any], closed: bool, threads: int, settings: Dict[str, Any]) -> List[Any]:
    # Imported inside the task: the worker process imports the package itself.
    from velsdk_nurbs import fit_many

    return fit_many(list(lists), closed=closed, threads=threads, **settings)


def _segment_partition(curves: Iterable[Any], tolerance: float, threads: int) -> List[Any]:
    from velsdk_nurbs import segment_many

    return segment_many(list(curves), tolerance, threads=threads)


def fit_bag(bag: _bag.Bag, closed: bool = False, threads: int = 1, **settings: Any) -> _bag.Bag:
    """A bag of the fits of every point list (array (k, 3) or (k, 2)) in bag: per list the
    FittedCurve or the exception its fit gives, in the bag's order.

    closed applies to every list. threads: threads per partition inside a worker (1: the
    cluster's workers provide the parallelism; 0 = every hardware thread of the worker).
    settings: order, parametrization, knots_generation, num_control_points as for FittedCurve.
    """
    return bag.map_partitions(_fit_partition, closed, threads, settings)


def segment_bag(bag: _bag.Bag, tolerance: float, threads: int = 1) -> _bag.Bag:
    """A bag with, per FittedCurve of bag, the parameters of curve.segment(tolerance) or the
    exception (segment_many on each partition)."""
    return bag.map_partitions(_segment_partition, tolerance, threads)


def fit_lists(
    lists: Sequence[Any],
    closed: bool = False,
    partition_size: int = 1000,
    client: Optional[Any] = None,
    scheduler: Optional[Union[str, Any]] = None,
    threads: int = 1,
    **settings: Any,
) -> List[Any]:
    """Fits lists on the cluster and returns the results in order: fit_bag over a bag of
    partition_size lists per partition, computed by client (a dask.distributed.Client), or by
    scheduler (e.g. "processes", "threads", "sync") when no client is given, or by the
    current default otherwise."""
    bag = _bag.from_sequence(list(lists), partition_size=partition_size)
    fits = fit_bag(bag, closed=closed, threads=threads, **settings)
    if client is not None:
        return client.compute(fits).result()
    if scheduler is not None:
        return fits.compute(scheduler=scheduler)
    return fits.compute()
