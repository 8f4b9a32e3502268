"""Matplotlib helpers: draw curves and surfaces with their control nets, data points and
segmentation.

matplotlib is imported when a function is called, so ``import velsdk_nurbs`` works without
it. Planar data (every z equal to 0) is drawn in 2-D with equal axes, anything else in 3-D;
``dims=2`` or ``dims=3`` forces one.
"""

from __future__ import annotations

from typing import Any, Optional, Sequence, Tuple, Union

import numpy as np

from ._core import FittedCurve, NurbsCurve, NurbsSurface

CurveLike = Union[NurbsCurve, FittedCurve]


def _pyplot() -> Any:
    try:
        import matplotlib.pyplot as plt
    except ImportError as exc:  # pragma: no cover - depends on the installation
        raise ImportError("velsdk_nurbs.plot needs matplotlib (Debian: python3-matplotlib)") from exc
    return plt


def _points3(points: Any) -> np.ndarray:
    """Data points (..., 3), or planar (..., 2) taken with z = 0, as a (k, 3) array."""
    a = np.asarray(points, dtype=float)
    if a.ndim >= 1 and a.shape[-1] == 2:
        a = np.concatenate([a, np.zeros(a.shape[:-1] + (1,))], axis=-1)
    return a.reshape(-1, 3)


def _is_planar(*arrays: Optional[np.ndarray]) -> bool:
    return all(a is None or a.size == 0 or np.all(a[..., 2] == 0.0) for a in arrays)


def _axes(ax: Any, dims: int) -> Any:
    if ax is not None:
        return ax
    plt = _pyplot()
    fig = plt.figure()
    if dims == 3:
        return fig.add_subplot(projection="3d")
    ax = fig.add_subplot()
    ax.set_aspect("equal", adjustable="datalim")
    return ax


def _draw(ax: Any, pts: np.ndarray, dims: int, *args: Any, **kwargs: Any) -> Any:
    if dims == 3:
        return ax.plot(pts[:, 0], pts[:, 1], pts[:, 2], *args, **kwargs)
    return ax.plot(pts[:, 0], pts[:, 1], *args, **kwargs)


def _choose_dims(dims: Optional[int], *arrays: Optional[np.ndarray]) -> int:
    if dims is None:
        return 2 if _is_planar(*arrays) else 3
    if dims not in (2, 3):
        raise ValueError("dims must be 2 or 3")
    return dims


def plot_curve(
    curve: CurveLike,
    ax: Any = None,
    *,
    samples: int = 500,
    control_net: bool = True,
    points: Optional[np.ndarray] = None,
    segmentation: Union[None, float, Sequence[float], np.ndarray] = None,
    dims: Optional[int] = None,
    label: Optional[str] = "curve",
    color: Optional[str] = None,
) -> Any:
    """Draw a NurbsCurve or a fitted FittedCurve and return the axes.

    samples: number of evenly spaced parameters over the domain.
    control_net: draw the control polygon.
    points: data points (k, 3), or planar (k, 2) with z = 0, to draw as dots.
    segmentation: a chord tolerance (the curve's segment() polyline is drawn with markers),
        or an array of parameters to mark.
    dims: 2 or 3 to force the kind of plot; by default planar data gives a 2-D plot.
    """
    if isinstance(curve, FittedCurve) and not curve.is_valid:
        raise ValueError("the fitted curve is not valid: fit it first")
    lo, hi = curve.domain
    t = np.linspace(lo, hi, samples)
    xyz = curve.evaluate(t)
    net = curve.control_points if control_net else None
    data = None if points is None else _points3(points)
    dims = _choose_dims(dims, xyz, net, data)
    ax = _axes(ax, dims)

    if data is not None:
        _draw(ax, data, dims, ".", color="0.35", ms=2.5, label="data points")
    (line,) = _draw(ax, xyz, dims, "-", color=color, lw=1.5, label=label)
    if net is not None:
        _draw(ax, net, dims, "--o", color=line.get_color(), lw=0.6, ms=2.5, alpha=0.5, label="control net")
    if segmentation is not None:
        if np.isscalar(segmentation):
            fitted = curve if isinstance(curve, FittedCurve) else FittedCurve.from_nurbs(curve)
            seg = fitted.segment_points(float(segmentation))  # type: ignore[arg-type]
            seg_label = f"segmentation ({len(seg)} points, tol {float(segmentation):g})"  # type: ignore[arg-type]
        else:
            seg = curve.evaluate(np.asarray(segmentation, dtype=float))
            seg_label = f"segmentation ({len(seg)} points)"
        _draw(ax, seg, dims, "-o", color="tab:red", lw=0.7, ms=2.5, mfc="none", mew=0.6, label=seg_label)
    return ax


def plot_surface(
    surface: NurbsSurface,
    ax: Any = None,
    *,
    samples: Tuple[int, int] = (40, 40),
    control_net: bool = True,
    points: Optional[np.ndarray] = None,
    cmap: str = "viridis",
) -> Any:
    """Draw a NurbsSurface as a shaded mesh with its control net and optional data points
    (any shape (..., 3), or (..., 2) with z = 0); returns the 3-D axes."""
    if ax is None:
        plt = _pyplot()
        ax = plt.figure().add_subplot(projection="3d")
    (u0, u1), (v0, v1) = surface.domain_u, surface.domain_v
    uu, vv = np.meshgrid(np.linspace(u0, u1, samples[0]), np.linspace(v0, v1, samples[1]), indexing="ij")
    xyz = surface.evaluate(uu, vv)
    ax.plot_surface(xyz[..., 0], xyz[..., 1], xyz[..., 2], cmap=cmap, linewidth=0, alpha=0.85)
    if control_net:
        net = surface.control_points
        ax.plot_wireframe(net[..., 0], net[..., 1], net[..., 2], color="k", lw=0.4, alpha=0.4)
    if points is not None:
        data = _points3(points)
        ax.scatter(data[:, 0], data[:, 1], data[:, 2], s=2, c="k")
    return ax
