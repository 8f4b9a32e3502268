"""approximate_to_tolerance: the report against an independent distance (dense sampling of the
curve, then a SciPy bounded minimisation around the nearest sample), closed results periodic,
2-D input, weights and interpolated points honoured, bad input refused."""

from __future__ import annotations

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import load_csv

optimize = pytest.importorskip("scipy.optimize")


def true_distances(curve, points):
    a, b = curve.domain if hasattr(curve, "domain") else (curve.knots[curve.degree], curve.knots[-curve.degree - 1])
    u = np.linspace(a, b, 20001)
    samples = curve.evaluate(u)
    out = []
    for q in points:
        d = np.linalg.norm(samples - q, axis=1)
        i = int(np.argmin(d))
        lo, hi = u[max(i - 1, 0)], u[min(i + 1, len(u) - 1)]
        r = optimize.minimize_scalar(lambda t: np.linalg.norm(curve.evaluate(t) - q), bounds=(lo, hi), method="bounded",
                                     options={"xatol": 1e-13})
        out.append(min(d[i], r.fun))
    return np.array(out)


@pytest.mark.parametrize("name,closed,tol,at_most", [("gps_loop_3d.csv", True, 29.54, 40),
                                                      ("gps_open_3d.csv", False, 21.14, 26),
                                                      ("glyph_S.csv", True, 18.72, 25)])
def test_report_and_goal_counts(name, closed, tol, at_most):
    pts = load_csv(name)[0]
    curve, rep = vn.approximate_to_tolerance(pts, tol, closed=closed)
    assert rep.tolerance_met and rep.status == "tolerance_met"
    assert rep.max_error <= tol and rep.control_points <= at_most
    assert rep.params.shape == (len(pts),) and rep.errors.shape == (len(pts),)
    np.testing.assert_allclose(np.linalg.norm(curve.evaluate(rep.params) - pts, axis=1), rep.errors, rtol=0,
                               atol=1e-9 * np.abs(pts).max())
    assert np.all(true_distances(curve, pts) <= rep.errors + 1e-9 * np.abs(pts).max())
    assert rep.max_error == rep.errors.max() and rep.errors[rep.worst_index] == rep.max_error
    assert rep.rms == pytest.approx(np.sqrt(np.mean(rep.errors ** 2)), rel=1e-12)
    if closed:
        d0, d1 = curve.derivatives(0.0, 2), curve.derivatives(1.0, 2)
        np.testing.assert_allclose(d0, d1, rtol=1e-9, atol=1e-9 * np.abs(d0).max())
    assert "ApproximationReport(tolerance_met" in repr(rep)


def test_planar_input_weights_and_interpolated_points():
    pts = load_csv("glyph_S.csv")[0][:, :2]
    w = np.ones(len(pts))
    w[:20] = 10.0
    curve, rep = vn.approximate_to_tolerance(pts, 5.0, degree=2, closed=True, weights=w, interpolate=[0, 77])
    assert rep.tolerance_met and curve.degree == 2
    assert np.all(curve.control_points[:, 2] == 0.0)
    assert rep.errors[0] < 1e-9 and rep.errors[77] < 1e-9


def test_smoothing_method():
    pts = load_csv("gps_open_3d.csv")[0]
    curve, rep = vn.approximate_to_tolerance(pts, 10.0, method="smoothing")
    assert rep.tolerance_met and rep.smoothing > 0
    _, fixed = vn.approximate_to_tolerance(pts, 10.0, method="smoothing", smoothing=0.0)
    assert fixed.smoothing == 0.0


def test_bad_input_and_unreachable_tolerance():
    pts = load_csv("glyph_S.csv")[0]
    for args, kwargs in [((pts[:3], 1.0), {}), ((pts, 0.0), {}), ((pts, np.nan), {}), ((pts, 1.0), {"degree": 6}),
                         ((pts, 1.0), {"weights": np.ones(3)}), ((pts, 1.0), {"method": "spline"}),
                         ((np.vstack([pts[:5], pts[4:]]), 1.0), {})]:
        with pytest.raises(ValueError):
            vn.approximate_to_tolerance(*args, **kwargs)
    bad = pts.copy()
    bad[3, 0] = np.nan
    with pytest.raises(ValueError):
        vn.approximate_to_tolerance(bad, 1.0)
    curve, rep = vn.approximate_to_tolerance(pts, 1e-300, closed=True)
    assert rep.status == "tolerance_not_met" and not rep.tolerance_met
    assert rep.control_points == len(pts) and rep.max_error < 1e-6
