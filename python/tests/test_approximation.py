"""approximate_to_tolerance: the report against an independent distance (dense sampling of the
curve, then a SciPy bounded minimisation around the nearest sample), closed results periodic,
2-D input, weights and interpolated points honoured, bad input refused."""

from __future__ import annotations

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import load_csv, sampled_distances

pytest.importorskip("scipy.optimize")


@pytest.mark.parametrize("name, closed, tol", [("gps_loop_3d.csv", True, 29.54), ("gps_open_3d.csv", False, 21.14)])
def test_report_against_independent_distances(name, closed, tol):
    pts = load_csv(name)[0]
    curve, rep = vn.approximate_to_tolerance(pts, tol, closed=closed)
    assert rep.tolerance_met and rep.status == "tolerance_met" and rep.max_error <= tol
    assert rep.params.shape == rep.errors.shape == (len(pts),) and "ApproximationReport(tolerance_met" in repr(rep)
    scale = 1e-9 * np.abs(pts).max()
    np.testing.assert_allclose(np.linalg.norm(curve.evaluate(rep.params) - pts, axis=1), rep.errors, atol=scale)
    assert np.all(sampled_distances(curve, pts) <= rep.errors + scale)
    assert rep.errors[rep.worst_index] == rep.max_error == rep.errors.max()
    assert rep.rms == pytest.approx(np.sqrt(np.mean(rep.errors ** 2)), rel=1e-12)


def test_arguments_reach_the_fit():
    pts = load_csv("glyph_S.csv")[0]
    w = np.where(np.arange(len(pts)) < 20, 10.0, 1.0)
    curve, rep = vn.approximate_to_tolerance(pts[:, :2], 5.0, degree=2, closed=True, weights=w, interpolate=[0, 77])
    assert rep.tolerance_met and curve.degree == 2 and np.all(curve.control_points[:, 2] == 0.0)
    assert rep.errors[0] < 1e-9 and rep.errors[77] < 1e-9
    assert vn.approximate_to_tolerance(pts, 10.0, method="smoothing", smoothing=0.0)[1].smoothing == 0.0
    _, rep = vn.approximate_to_tolerance(pts, 1e-300, closed=True)
    assert rep.status == "tolerance_not_met" and not rep.tolerance_met


@pytest.mark.parametrize("args, kwargs", [
    ((3, 1.0), {}), ((None, 0.0), {}), ((None, np.nan), {}), ((None, 1.0), {"degree": 6}),
    ((None, 1.0), {"weights": np.ones(3)}), ((None, 1.0), {"method": "spline"}), (("dup", 1.0), {}),
    (("nan", 1.0), {})])
def test_bad_input(args, kwargs):
    pts = load_csv("glyph_S.csv")[0]
    bad = {None: pts, 3: pts[:3], "dup": np.insert(pts, 4, pts[4], 0), "nan": np.where(pts == pts[3, 0], np.nan, pts)}
    with pytest.raises(ValueError):
        vn.approximate_to_tolerance(bad[args[0]], args[1], **kwargs)
