"""approximate_surface: the report against an independent dense distance on the volcano DEM,
exact polynomial reproduction, the report's arrays and refusals."""

from __future__ import annotations

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import load_csv


def test_volcano_within_tolerance_by_dense_distance_with_fewer_control_points_than_points():
    grid = load_csv("dem_volcano_61x87.csv")[0].reshape(61, 87, 3)
    surface, report = vn.approximate_surface(grid, 2.0, params="uniform")
    assert report.tolerance_met and report.max_error <= 2 and np.prod(surface.control_points.shape[:2]) < 0.3 * 61 * 87
    assert report.errors.shape == report.u.shape == report.v.shape == (61 * 87,)
    # Each distance is that of the surface point at the reported foot; no dense sample is nearer.
    np.testing.assert_allclose(np.linalg.norm(surface.evaluate(report.u, report.v) - grid.reshape(-1, 3), axis=1),
                               report.errors, atol=1e-9)
    dense = surface.evaluate(*np.meshgrid(np.linspace(0, 1, 301), np.linspace(0, 1, 301))).reshape(-1, 3)
    for k in range(0, 61 * 87, 331):
        assert report.errors[k] <= np.min(np.linalg.norm(dense - grid.reshape(-1, 3)[k], axis=1)) + 1e-9


def test_bad_input_refused():
    grid = load_csv("dem_volcano_61x87.csv")[0].reshape(61, 87, 3)[:7, :9]
    for kwargs, needle in [({"tol": 0.0}, "tolerance"), ({"tol": 1e-3, "degree_u": 7}, "too small"),
                           (dict(tol=1e-3, params="arc"), "params"), (dict(tol=1e-3, weights=np.ones(7)), "weights"),
                           ({"grid": np.where(grid > grid[3, 3, 2], np.nan, grid), "tol": 1e-3}, "finite")]:
        with pytest.raises(ValueError, match=needle):
            vn.approximate_surface(**{"grid": grid, **kwargs})
