"""Type stubs of the compiled module velsdk_nurbs._core."""

from __future__ import annotations

import os
from typing import Any, ClassVar, Iterable, List, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

ArrayLike = npt.ArrayLike
FloatArray = npt.NDArray[np.float64]

class RCode:
    """Result codes of the fitted-curve operations (a pybind11 enumeration)."""

    Success: ClassVar[RCode]
    CoincidentPoints: ClassVar[RCode]
    Failure: ClassVar[RCode]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class NurbsError(RuntimeError):
    """An operation of the library reported failure (for example a singular fitting system)."""

class RCodeError(NurbsError):
    """A fitted-curve operation returned a result code other than RCode.Success."""

    rcode: RCode

class CoincidentPointsError(RCodeError):
    """RCode.CoincidentPoints: two consecutive data points lie closer than 2^-26."""

class Parametrization:
    """How a fit assigns parameters to data points (a pybind11 enumeration)."""

    CHORD_LENGTH: ClassVar[Parametrization]
    UNIFORM: ClassVar[Parametrization]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class KnotsGeneration:
    """How a fit builds the knot vector (a pybind11 enumeration)."""

    AVERAGING: ClassVar[KnotsGeneration]
    UNIFORM: ClassVar[KnotsGeneration]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

# --- Generators ---------------------------------------------------------------------------------

def uniform_parameters(count: int) -> FloatArray:
    """Equally spaced parameters i / (count - 1), shape (count,)."""

def chord_length_parameters(points: ArrayLike, closed: bool = False, degree: int = 3) -> FloatArray:
    """Chord-length parameters of points (k, 3): shape (k,) open, (k + degree,) closed."""

def uniform_knots(knot_count: int, degree: int) -> FloatArray:
    """Clamped uniform knot vector of knot_count knots."""

def uniform_knots_closed(knot_count: int, degree: int) -> FloatArray:
    """Periodic uniform knot vector whose domain is [0, 1]."""

def knot_averaging(params: ArrayLike, degree: int) -> FloatArray:
    """Clamped averaged knot vector, n + degree + 1 knots for n parameters."""

def knot_averaging_closed(params: ArrayLike, degree: int) -> FloatArray:
    """Periodic averaged knot vector for the wrapped parameters of a closed interpolation."""

def knot_averaging_with_end_derivatives(params: ArrayLike, degree: int) -> FloatArray:
    """Clamped averaged knot vector with two extra control points, n + degree + 3 knots."""

# --- Curves -------------------------------------------------------------------------------------

class NurbsCurve:
    """An immutable NURBS curve in 3-D: control points, knots and a degree."""

    def __init__(
        self,
        control_points: ArrayLike,
        knots: ArrayLike,
        degree: int,
        weights: Optional[ArrayLike] = None,
    ) -> None:
        """control_points (n, 3) (or planar (n, 2), z = 0) with optional weights (n,), or homogeneous
        (n, 4); knots (n + degree + 1,)."""
    @property
    def degree(self) -> int: ...
    @property
    def order(self) -> int: ...
    @property
    def knots(self) -> FloatArray:
        """Shape (n + degree + 1,)."""
    @property
    def control_points(self) -> FloatArray:
        """Cartesian control points, shape (n, 3)."""
    @property
    def weights(self) -> FloatArray:
        """Shape (n,)."""
    @property
    def homogeneous_control_points(self) -> FloatArray:
        """(w*x, w*y, w*z, w), shape (n, 4)."""
    @property
    def num_control_points(self) -> int: ...
    @property
    def domain(self) -> Tuple[float, float]: ...
    @property
    def is_clamped(self) -> bool: ...
    @property
    def is_rational(self) -> bool: ...
    def evaluate(self, u: ArrayLike, dims: int = 3, threads: int = 1) -> FloatArray:
        """Points at u; shape u.shape + (3,), or u.shape + (2,) with dims=2 (x, y); threads
        (0 = all) spreads the points, same result for any count."""
    def __call__(self, u: ArrayLike, dims: int = 3, threads: int = 1) -> FloatArray: ...
    def evaluate_homogeneous(self, u: ArrayLike) -> FloatArray:
        """Homogeneous points at u; shape u.shape + (4,)."""
    def derivatives(self, u: ArrayLike, order: int = 1, dims: int = 3, threads: int = 1) -> FloatArray:
        """Point and derivatives 0..order; shape u.shape + (order + 1, 3)."""
    @overload
    def project(
        self,
        points: Sequence[float],
        max_iterations: int = 100,
        tolerance: float = 1e-9,
        dims: int = 3,
        threads: int = 1,
    ) -> Tuple[float, FloatArray]: ...
    @overload
    def project(
        self, points: ArrayLike, max_iterations: int = 100, tolerance: float = 1e-9, dims: int = 3, threads: int = 1
    ) -> Tuple[Union[float, FloatArray], FloatArray]:
        """(3,) -> (u, point (3,)); (k, 3) -> (u (k,), points (k, 3)); (2,), (k, 2): z = 0;
        dims=2 returns the points as (x, y)."""
    def insert_knots(self, knots: ArrayLike) -> NurbsCurve: ...
    def split(self, u: float) -> Tuple[NurbsCurve, NurbsCurve]: ...
    def clamp(self) -> NurbsCurve: ...
    @overload
    def nearest(self, points: Sequence[float], dims: int = 3, threads: int = 1) -> Tuple[float, FloatArray, float]: ...
    @overload
    def nearest(
        self, points: ArrayLike, dims: int = 3, threads: int = 1
    ) -> Tuple[Union[float, FloatArray], FloatArray, Union[float, FloatArray]]:
        """Global nearest points: (3,) -> (u, point (3,), distance); (k, 3) -> (u (k,), points (k, 3),
        distances (k,)); (2,), (k, 2): z = 0; dims=2 returns the points as (x, y)."""
    # --- Analysis and editing (results of bad input raise ValueError) ---
    @overload
    def length(self, a: Optional[float] = None, b: Optional[float] = None, rel_accuracy: float = 1e-12) -> float: ...
    @overload
    def length(
        self, a: Optional[float], b: Optional[float], rel_accuracy: float, with_error: bool
    ) -> Union[float, Tuple[float, float]]:
        """Arc length of the domain or of [a, b]; with_error=True gives (length, error_estimate)."""
    def param_at_length(self, s: ArrayLike, rel_accuracy: float = 1e-12) -> Union[float, FloatArray]:
        """Parameters at arc lengths s (from the domain start), same shape as s."""
    def divide(
        self, count: Optional[int] = None, spacing: Optional[float] = None, rel_accuracy: float = 1e-12
    ) -> FloatArray:
        """Parameters of an equal-length division (exactly one of count and spacing)."""
    def curvature(self, u: ArrayLike, torsion: bool = False) -> Union[float, FloatArray, Tuple[FloatArray, FloatArray]]:
        """Curvature at u (NaN at zero speed); torsion=True returns (curvature, torsion)."""
    def frames(
        self, u: ArrayLike, kind: str = "rotation_minimizing", initial_normal: Optional[ArrayLike] = None
    ) -> dict:
        """{'points', 'tangents', 'normals', 'binormals': (k, 3) arrays, 'closing_twist': float}; kind
        'rotation_minimizing' (double reflection) or 'frenet'."""
    def bounding_box(self, slack: float = 1e-9) -> Tuple[FloatArray, FloatArray]:
        """Tight axis-aligned box (lower, upper) within slack of the exact one."""
    def elevate_degree(self, t: int = 1) -> NurbsCurve: ...
    def remove_knots(
        self, tolerance: float, u: Optional[float] = None, count: int = 1
    ) -> Tuple[NurbsCurve, int, float]:
        """(curve, removed, deviation_bound): every removable knot (u=None) or knot u up to count times."""
    def reverse(self) -> NurbsCurve: ...
    def reparametrize(self, a: float, b: float) -> NurbsCurve: ...
    def bezier_pieces(self) -> List[Tuple[float, float, NurbsCurve]]: ...
    def join(
        self, other: NurbsCurve, tolerance: float = 1e-9, angle_tolerance: float = 1e-9
    ) -> Tuple[NurbsCurve, dict]:
        """(joined curve, {'gap', 'tangent_angle', 'g1'})."""
    def __eq__(self, other: object) -> bool: ...

def interpolate(
    points: ArrayLike,
    params: Optional[ArrayLike] = None,
    knots: Optional[ArrayLike] = None,
    degree: int = 3,
    closed: bool = False,
    end_derivatives: Optional[Tuple[ArrayLike, ArrayLike]] = None,
) -> NurbsCurve:
    """Global interpolation of points (N, 3) or (N, 2) (z = 0): open, closed, or with end derivatives."""

def approximate(
    points: ArrayLike,
    num_control_points: Optional[int] = None,
    params: Optional[ArrayLike] = None,
    knots: Optional[ArrayLike] = None,
    degree: int = 3,
) -> NurbsCurve:
    """Least-squares approximation of points (N, 3) or (N, 2) (z = 0) with fixed end points."""

class ApproximationReport:
    """What approximate_to_tolerance achieved: distances of the points to the curve."""

    @property
    def status(self) -> str: ...
    @property
    def tolerance_met(self) -> bool: ...
    @property
    def message(self) -> str: ...
    @property
    def tolerance(self) -> float: ...
    @property
    def max_error(self) -> float: ...
    @property
    def rms(self) -> float: ...
    @property
    def worst_index(self) -> int: ...
    @property
    def params(self) -> FloatArray: ...
    @property
    def errors(self) -> FloatArray: ...
    @property
    def control_points(self) -> int: ...
    @property
    def fits(self) -> int: ...
    @property
    def smoothing(self) -> float: ...

def approximate_to_tolerance(
    points: ArrayLike,
    tol: float,
    degree: int = 3,
    closed: bool = False,
    weights: Optional[ArrayLike] = None,
    interpolate: Optional[Sequence[int]] = None,
    start_tangent: Optional[ArrayLike] = None,
    end_tangent: Optional[ArrayLike] = None,
    method: str = "knots",
    smoothing: Optional[float] = None,
) -> Tuple[NurbsCurve, ApproximationReport]:
    """A compact B-spline curve within distance tol of every point: (curve, report)."""

class SurfaceFitReport:
    """What a surface fit achieved: distances of the points to the surface (row-major for a grid)."""

    @property
    def status(self) -> str: ...
    @property
    def tolerance_met(self) -> bool: ...
    @property
    def message(self) -> str: ...
    @property
    def tolerance(self) -> float: ...
    @property
    def max_error(self) -> float: ...
    @property
    def rms(self) -> float: ...
    @property
    def worst_index(self) -> int: ...
    @property
    def errors(self) -> FloatArray: ...
    @property
    def u(self) -> FloatArray: ...
    @property
    def v(self) -> FloatArray: ...
    @property
    def control_points_u(self) -> int: ...
    @property
    def control_points_v(self) -> int: ...
    @property
    def fits(self) -> int: ...
    @property
    def smoothing(self) -> float: ...
    @property
    def max_error_per_round(self) -> FloatArray: ...
    @property
    def rms_per_round(self) -> FloatArray: ...

def approximate_surface(
    grid: ArrayLike,
    tol: float,
    degree_u: int = 3,
    degree_v: int = 3,
    params: Union[str, Tuple[ArrayLike, ArrayLike]] = "chord",
    weights: Optional[ArrayLike] = None,
    max_control_points: int = 1000000,
    max_fits: int = 400,
    remove_knots: bool = True,
    threads: int = 0,
) -> Tuple[NurbsSurface, SurfaceFitReport]:
    """A B-spline surface within distance tol of every point of the grid (m, n, 3): (surface, report)."""

def fit_scattered(
    points: ArrayLike,
    tol: Optional[float] = None,
    kind: str = "height",
    params: Optional[ArrayLike] = None,
    smoothing: Optional[float] = None,
    degree_u: int = 3,
    degree_v: int = 3,
    control_points: Optional[Tuple[int, int]] = None,
    weights: Optional[ArrayLike] = None,
    correction_rounds: int = 3,
    max_control_points: int = 40000,
    solver: str = "ldlt",
    threads: int = 0,
) -> Tuple[NurbsSurface, SurfaceFitReport]:
    """A B-spline surface fitted to scattered points (N, 3), a height field or a 3-D cloud: (surface, report)."""

# --- Surface ------------------------------------------------------------------------------------

class NurbsSurface:
    """An immutable tensor-product NURBS surface; control grid (nu, nv), rows along u."""

    def __init__(
        self,
        control_points: ArrayLike,
        knots_u: ArrayLike,
        knots_v: ArrayLike,
        degree_u: int,
        degree_v: int,
        weights: Optional[ArrayLike] = None,
    ) -> None:
        """control_points (nu, nv, 3) (or (nu, nv, 2), z = 0) with optional weights (nu, nv), or
        homogeneous (nu, nv, 4)."""
    @property
    def degree_u(self) -> int: ...
    @property
    def degree_v(self) -> int: ...
    @property
    def knots_u(self) -> FloatArray: ...
    @property
    def knots_v(self) -> FloatArray: ...
    @property
    def control_points(self) -> FloatArray:
        """Shape (nu, nv, 3)."""
    @property
    def weights(self) -> FloatArray:
        """Shape (nu, nv)."""
    @property
    def homogeneous_control_points(self) -> FloatArray:
        """Shape (nu, nv, 4)."""
    @property
    def domain_u(self) -> Tuple[float, float]: ...
    @property
    def domain_v(self) -> Tuple[float, float]: ...
    def evaluate(self, u: ArrayLike, v: Optional[ArrayLike] = None, threads: int = 1) -> FloatArray:
        """Points at broadcast (u, v), or at pairs u (..., 2); shape + (3,)."""
    def __call__(self, u: ArrayLike, v: Optional[ArrayLike] = None, threads: int = 1) -> FloatArray: ...
    def derivatives(
        self, u: ArrayLike, v: Optional[ArrayLike] = None, order: int = 1, threads: int = 1
    ) -> FloatArray:
        """Mixed partials; shape + (order + 1, order + 1, 3), [..., k, l, :] = d^(k+l) S / du^k dv^l."""
    def project(
        self, points: ArrayLike, max_iterations: int = 100, tolerance: float = 1e-9, threads: int = 1
    ) -> Tuple[Union[Tuple[float, float], FloatArray], FloatArray]:
        """(3,) -> ((u, v), point (3,)); (k, 3) -> (uv (k, 2), points (k, 3)); (2,), (k, 2): z = 0."""
    @overload
    def nearest(self, points: Sequence[float], threads: int = 1) -> Tuple[float, float, FloatArray, float]: ...
    @overload
    def nearest(self, points: ArrayLike, threads: int = 1) -> Tuple[FloatArray, FloatArray, FloatArray]:
        """Global nearest points: (3,) -> (u, v, point (3,), distance); (k, 3) -> (uv (k, 2),
        points (k, 3), distances (k,))."""
    # --- Analysis and editing ---
    def normal(self, u: ArrayLike, v: ArrayLike) -> FloatArray:
        """Unit normals, shape (..., 3); NaN where Su x Sv vanishes."""
    def curvatures(self, u: ArrayLike, v: ArrayLike) -> dict:
        """{'k1', 'k2', 'gaussian', 'mean', 'degenerate': (...), 'normal', 'direction1', 'direction2': (..., 3)}."""
    def insert_knots(self, knots: ArrayLike, direction: str = "u") -> NurbsSurface: ...
    def sub_patch(self, u0: float, u1: float, v0: float, v1: float) -> NurbsSurface: ...
    def bezier_patches(self) -> List[Tuple[float, float, float, float, NurbsSurface]]: ...
    def bounding_box(self, slack: float = 1e-9) -> Tuple[FloatArray, FloatArray]:
        """Tight axis-aligned box (lower, upper) within slack of the exact one."""
    def __eq__(self, other: object) -> bool: ...
    @staticmethod
    def interpolate_grid(
        points: ArrayLike,
        params_u: Optional[ArrayLike] = None,
        params_v: Optional[ArrayLike] = None,
        knots_u: Optional[ArrayLike] = None,
        knots_v: Optional[ArrayLike] = None,
        degree_u: int = 3,
        degree_v: int = 3,
    ) -> NurbsSurface:
        """Surface through every point of the grid points (m, n, 3) (or (m, n, 2), z = 0)."""
    @staticmethod
    def approximate_grid(
        points: ArrayLike,
        count_u: int,
        count_v: int,
        params_u: Optional[ArrayLike] = None,
        params_v: Optional[ArrayLike] = None,
        knots_u: Optional[ArrayLike] = None,
        knots_v: Optional[ArrayLike] = None,
        degree_u: int = 3,
        degree_v: int = 3,
    ) -> NurbsSurface:
        """Least-squares surface with a (count_u, count_v) control grid."""

# --- Fitted curve -------------------------------------------------------------------------------

class CurveLocator:
    """Search structure of one curve for global nearest points (built once, queried many times)."""

    def __init__(self, curve: NurbsCurve) -> None: ...
    @overload
    def nearest(self, points: Sequence[float], dims: int = 3, threads: int = 1) -> Tuple[float, FloatArray, float]: ...
    @overload
    def nearest(
        self, points: ArrayLike, dims: int = 3, threads: int = 1
    ) -> Tuple[Union[float, FloatArray], FloatArray, Union[float, FloatArray]]: ...
    def all_nearest(self, point: ArrayLike, rel_tol: float = 1e-9) -> List[Tuple[float, FloatArray, float]]:
        """Every local minimum within rel_tol of the global one: [(u, point (3,), distance)], increasing u."""
    @property
    def piece_count(self) -> int: ...

class SurfaceLocator:
    """Search structure of one surface for global nearest points."""

    def __init__(self, surface: NurbsSurface) -> None: ...
    @overload
    def nearest(self, points: Sequence[float], threads: int = 1) -> Tuple[float, float, FloatArray, float]: ...
    @overload
    def nearest(self, points: ArrayLike, threads: int = 1) -> Tuple[FloatArray, FloatArray, FloatArray]: ...
    def all_nearest(self, point: ArrayLike, rel_tol: float = 1e-9) -> List[Tuple[float, float, FloatArray, float]]:
        """Every local minimum within rel_tol of the global one: [(u, v, point (3,), distance)], increasing (u, v)."""
    @property
    def patch_count(self) -> int: ...

class FittedCurve:
    """A NURBS curve that fits itself to data points, segments itself and projects points."""

    def __init__(
        self,
        order: int = 3,
        parametrization: Union[Parametrization, str] = "chord_length",
        knots_generation: Union[KnotsGeneration, str] = "averaging",
        num_control_points: int = 0,
    ) -> None: ...
    order: int
    parametrization: Parametrization
    knots_generation: KnotsGeneration
    num_control_points: int
    @property
    def is_valid(self) -> bool: ...
    @property
    def is_closed(self) -> bool: ...
    @property
    def is_clamped(self) -> bool: ...
    @property
    def domain(self) -> Tuple[float, float]: ...
    @property
    def knots(self) -> FloatArray: ...
    @property
    def control_points(self) -> FloatArray:
        """Shape (n, 3)."""
    @property
    def weights(self) -> FloatArray: ...
    @property
    def homogeneous_control_points(self) -> FloatArray:
        """Shape (n, 4)."""
    @property
    def first_point(self) -> FloatArray: ...
    @property
    def last_point(self) -> FloatArray: ...
    def fit(self, points: ArrayLike, closed: bool = False) -> FloatArray:
        """Fit to points (N, 3) or (N, 2) (z = 0); returns their parameters (N,). Raises RCodeError on failure."""
    def fit_with_end_derivatives(self, points: ArrayLike, start: ArrayLike, end: ArrayLike) -> FloatArray:
        """Open interpolation with first derivatives at both ends; returns the parameters (N,)."""
    def evaluate(self, t: ArrayLike, dims: int = 3) -> FloatArray:
        """Positions; shape t.shape + (3,)."""
    def __call__(self, t: ArrayLike, dims: int = 3) -> FloatArray: ...
    def speed(self, t: ArrayLike, dims: int = 3) -> FloatArray:
        """First derivatives; shape t.shape + (3,)."""
    def acceleration(self, t: ArrayLike, dims: int = 3) -> FloatArray:
        """Second derivatives; shape t.shape + (3,)."""
    def segment(self, tolerance: float, parameters: Optional[ArrayLike] = None) -> FloatArray:
        """Polyline parameters (k,) within tolerance of the curve."""
    def segment_points(self, tolerance: float, dims: int = 3) -> FloatArray:
        """Polyline points (k, 3), or (k, 2) with dims=2."""
    @overload
    def project(
        self, points: Sequence[float], tolerance: float = 1e-9, start: Optional[float] = None, threads: int = 1
    ) -> float: ...
    @overload
    def project(
        self, points: ArrayLike, tolerance: float = 1e-9, start: Optional[ArrayLike] = None, threads: int = 1
    ) -> Union[float, FloatArray]:
        """Parameter of the nearest point: float for (3,), (k,) with NaN where none converged."""
    @overload
    def distance(self, points: Sequence[float], tolerance: float = 1e-9) -> float: ...
    @overload
    def distance(self, points: ArrayLike, tolerance: float = 1e-9) -> Union[float, FloatArray]:
        """Distance to the curve: float for (3,), (k,) for (k, 3)."""
    def split(self, t: float) -> Tuple[FittedCurve, FittedCurve]: ...
    def invalidate(self) -> None: ...
    def to_nurbs(self) -> NurbsCurve: ...
    @staticmethod
    def from_nurbs(curve: NurbsCurve, closed: bool = False) -> FittedCurve: ...
    def to_bytes(self) -> bytes:
        """The binary record (27 bytes for a curve that is not valid)."""
    @staticmethod
    def from_bytes(data: bytes) -> FittedCurve: ...
    def to_xml(self) -> str: ...
    @staticmethod
    def from_xml(document: str) -> FittedCurve: ...
    def __eq__(self, other: object) -> bool: ...

# --- Point files (read_points in the package) ---------------------------------------------------

def fit_many(
    point_lists: Iterable[ArrayLike],
    closed: Union[bool, Sequence[bool]] = False,
    threads: int = 0,
    order: int = 3,
    parametrization: Union[str, Parametrization] = "chord_length",
    knots_generation: Union[str, KnotsGeneration] = "averaging",
    num_control_points: int = 0,
) -> List[Union[FittedCurve, Exception]]:
    """One FittedCurve (bit for bit the single fit) or the exception of that fit per list;
    all cores with threads=0, GIL released."""

def segment_many(
    curves: Iterable[FittedCurve], tolerance: float, threads: int = 0
) -> List[Union[FloatArray, Exception]]:
    """Per curve the parameters of curve.segment(tolerance) or the exception; curves unchanged."""

def _parse_points(data: bytes, name: str) -> FloatArray:
    """Points (N, 2) or (N, 3) of the bytes of a point file; ValueError "name:line: problem"."""

# --- CAD exchange and tessellation ---------------------------------------------------------------

def save_step(
    path: Union[str, "os.PathLike[str]"],
    objects: Union[NurbsCurve, NurbsSurface, Iterable[Union[NurbsCurve, NurbsSurface]]],
    unit: str = "mm",
) -> None:
    """Write curves and surfaces into a STEP file (AP214; unit 'mm' or 'm'); exact round trip."""

def load_step(path: Union[str, "os.PathLike[str]"]) -> List[Union[NurbsCurve, NurbsSurface]]:
    """The B-spline curves (first) and surfaces of a STEP file; ValueError "path:line: problem"."""

def save_iges(
    path: Union[str, "os.PathLike[str]"],
    objects: Union[NurbsCurve, NurbsSurface, Iterable[Union[NurbsCurve, NurbsSurface]]],
    unit: str = "mm",
) -> None:
    """Write curves and surfaces into an IGES 5.3 file (entities 126 and 128)."""

def load_iges(path: Union[str, "os.PathLike[str]"]) -> List[Union[NurbsCurve, NurbsSurface]]:
    """The entities 126 (curves, first) and 128 (surfaces) of an IGES file."""

def tessellate(
    surface: NurbsSurface,
    tolerance: float,
    angle: float = 0.0,
    path: Optional[Union[str, "os.PathLike[str]"]] = None,
) -> Tuple[FloatArray, "np.ndarray[Any, np.dtype[np.int64]]", FloatArray]:
    """(vertices (n, 3), faces (m, 3), normals (n, 3)) of an adaptive crack-free mesh within the
    chord tolerance (angle: radians between cell normals, 0 = off); written to path (.stl, .ply,
    .obj) when given."""
