"""VelSDK.Nurbs from Python: NURBS curves and surfaces with NumPy arrays.

Points are float64 arrays of shape (k, 3). Planar data may be given as (k, 2): every function
that takes points reads it with z = 0. Parameter arrays may have any shape; results append the
point dimension to it (a scalar parameter gives shape (3,)), and methods that return points
take dims=2 to return (x, y) only, e.g. curve.evaluate(u, dims=2). Vectorised calls run in C++
with the GIL released.

Classes: NurbsCurve, NurbsSurface (immutable values), FittedCurve (a curve that fits itself to
data points, segments itself and projects points). Functions: read_points (point files, read
as the nurbs program reads them), interpolate, approximate, the parameter and knot
generators, save_xml / load_xml. Many curves at once: fit_many, segment_many, project_many
(all cores, GIL released, one result or exception per item) and velsdk_nurbs.dask (the same
fits on a Dask cluster). Plotting helpers: velsdk_nurbs.plot (needs matplotlib).
"""

import os as _os
import sys as _sys

from . import _core
from ._core import *  # noqa: F401,F403  (the compiled API; its names are listed in __all__)

# The public API, one name per line. A function bound in C++ (python/src) is added here and
# in _core.pyi; a function written in Python below is added here too. dir(velsdk_nurbs) shows
# exactly these names (and the plot submodule); everything else in this file is private.
__all__ = [
    "ApproximationReport",
    "CoincidentPointsError",
    "CurveLocator",
    "FittedCurve",
    "KnotsGeneration",
    "NurbsCurve",
    "NurbsError",
    "NurbsSurface",
    "Parametrization",
    "RCode",
    "RCodeError",
    "SurfaceFitReport",
    "SurfaceLocator",
    "approximate",
    "approximate_surface",
    "approximate_to_tolerance",
    "chord_length_parameters",
    "fit_many",
    "fit_scattered",
    "interpolate",
    "knot_averaging",
    "knot_averaging_closed",
    "knot_averaging_with_end_derivatives",
    "load_iges",
    "load_step",
    "load_xml",
    "project_many",
    "read_points",
    "save_iges",
    "save_step",
    "save_xml",
    "segment_many",
    "tessellate",
    "uniform_knots",
    "uniform_knots_closed",
    "uniform_parameters",
]


def read_points(path: "str | _os.PathLike[str]") -> "_core.FloatArray":
    """Points of a text file as a float64 array of shape (N, 3), or (N, 2) when the file has
    two columns: read exactly as the nurbs program reads point files (the same reader).

    One point per line, 2 or 3 numbers separated by commas (or semicolons), or by blanks
    (spaces, tabs); every line has as many numbers as the first. '#' starts a comment (a
    whole line or the rest of one); blank lines are skipped; the first line that is not a
    comment may be a header whose fields are not numbers (e.g. "x,y,z"). A UTF-8 byte order
    mark and CRLF line ends are accepted. path "-" reads standard input.

    Raises OSError (FileNotFoundError, IsADirectoryError, ...) when the file cannot be read
    and ValueError "path:line: problem" for contents that are not such points (a word, a
    number that is not finite, a ragged row, no points at all).

    The result goes straight into every function that takes points: (N, 2) is planar data
    with z = 0.
    """
    if isinstance(path, str) and path == "-":
        return _core._parse_points(_sys.stdin.buffer.read(), "-")
    name = _os.fsdecode(path)
    with open(name, "rb") as f:
        return _core._parse_points(f.read(), name)


def save_xml(curve: "FittedCurve", path: "str | _os.PathLike[str]") -> None:
    """Write a fitted curve to an XML file (UTF-8, root element NURBS_CURVE)."""
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(curve.to_xml())


def load_xml(path: "str | _os.PathLike[str]") -> "FittedCurve":
    """Read a fitted curve from an XML file written by save_xml.

    Raises ValueError for a malformed document and RCodeError when the stored curve cannot
    be rebuilt.
    """
    with open(path, "r", encoding="utf-8", newline="") as f:
        return FittedCurve.from_xml(f.read())  # noqa: F405  (from _core)


def project_many(curve, points, tolerance: float = 1e-9, threads: int = 0, **options):
    """Projects many points onto one curve or surface on threads threads (0 = every hardware
    thread) with the GIL released: curve.project(points, tolerance=tolerance, threads=threads,
    **options), bit for bit the same result for any thread count.

    FittedCurve: parameters (k,), NaN where no projection converged (the per-point error).
    NurbsCurve: (parameters (k,), feet (k, 3)); NurbsSurface: (uv (k, 2), feet (k, 3)); options
    such as max_iterations go to their project.
    """
    return curve.project(points, tolerance=tolerance, threads=threads, **options)


def __getattr__(name: str):
    # velsdk_nurbs.plot (needs matplotlib) and velsdk_nurbs.dask (needs dask) are imported on
    # first use.
    if name in ("plot", "dask"):
        import importlib

        return importlib.import_module("." + name, __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__():
    # Only the API: not the helper modules imported above, nor the compiled module _core.
    return sorted(__all__ + ["dask", "plot"])
