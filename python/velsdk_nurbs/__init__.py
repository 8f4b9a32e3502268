"""VelSDK.Nurbs from Python: NURBS curves and surfaces with NumPy arrays.

Points are float64 arrays of shape (k, 3). Parameter arrays may have any shape; results
append the point dimension to it (a scalar parameter gives shape (3,)). Vectorised calls run
in C++ with the GIL released.

Classes: NurbsCurve, NurbsSurface (immutable values), FittedCurve (a curve that fits itself to
data points, segments itself and projects points). Functions: interpolate, approximate, the
parameter and knot generators, save_xml / load_xml. Plotting helpers: velsdk_nurbs.plot
(needs matplotlib).
"""

from __future__ import annotations

import os
from typing import Union

from ._core import (
    CoincidentPointsError,
    FittedCurve,
    KnotsGeneration,
    NurbsCurve,
    NurbsError,
    NurbsSurface,
    Parametrization,
    RCode,
    RCodeError,
    approximate,
    chord_length_parameters,
    interpolate,
    knot_averaging,
    knot_averaging_closed,
    knot_averaging_with_end_derivatives,
    uniform_knots,
    uniform_knots_closed,
    uniform_parameters,
)

__all__ = [
    "CoincidentPointsError",
    "FittedCurve",
    "KnotsGeneration",
    "NurbsCurve",
    "NurbsError",
    "NurbsSurface",
    "Parametrization",
    "RCode",
    "RCodeError",
    "approximate",
    "chord_length_parameters",
    "interpolate",
    "knot_averaging",
    "knot_averaging_closed",
    "knot_averaging_with_end_derivatives",
    "load_xml",
    "save_xml",
    "uniform_knots",
    "uniform_knots_closed",
    "uniform_parameters",
]

PathLike = Union[str, "os.PathLike[str]"]


def save_xml(curve: FittedCurve, path: PathLike) -> None:
    """Write a fitted curve to an XML file (UTF-8, root element NURBS_CURVE)."""
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(curve.to_xml())


def load_xml(path: PathLike) -> FittedCurve:
    """Read a fitted curve from an XML file written by save_xml.

    Raises ValueError for a malformed document and RCodeError when the stored curve cannot
    be rebuilt.
    """
    with open(path, "r", encoding="utf-8", newline="") as f:
        return FittedCurve.from_xml(f.read())
