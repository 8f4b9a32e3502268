"""fit_scattered: height fields checked by evaluating the returned surface at the points and
against SciPy's LSQBivariateSpline on the same knots (the same least squares when smoothing=0),
clouds with given parameters, bad input refused."""

from __future__ import annotations

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import load_csv

interpolate = pytest.importorskip("scipy.interpolate")


def test_height_field_to_tolerance_and_lsq_peer():
    pts, _ = load_csv("dem_volcano_scattered30.csv")
    tol = 0.01 * np.ptp(pts[:, 2])
    surface, report = vn.fit_scattered(pts, tol=tol)
    assert report.tolerance_met and report.max_error <= tol
    z = surface.evaluate(pts[:, 0], pts[:, 1])
    np.testing.assert_allclose(z[:, :2], pts[:, :2], atol=1e-9)
    np.testing.assert_allclose(np.abs(z[:, 2] - pts[:, 2]), report.errors, atol=1e-9)
    # Without smoothing on a given net: the least squares FITPACK solves on the same knots.
    surface, report = vn.fit_scattered(pts, smoothing=0.0, control_points=(9, 11))
    tx, ty = np.unique(surface.knots_u), np.unique(surface.knots_v)
    peer = interpolate.LSQBivariateSpline(pts[:, 0], pts[:, 1], pts[:, 2], tx[1:-1], ty[1:-1],
                                          bbox=[tx[0], tx[-1], ty[0], ty[-1]])
    u, v = np.linspace(tx[0], tx[-1], 23), np.linspace(ty[0], ty[-1], 19)
    np.testing.assert_allclose(surface.evaluate(*np.meshgrid(u, v, indexing="ij"))[..., 2], peer(u, v), atol=1e-6)


def test_cloud_with_parameters_and_bad_input():
    rng = np.random.default_rng(5)
    s, t = rng.uniform(-1, 1, (2, 800))
    pts = np.column_stack([np.cos(s), np.sin(s), t + 0.1 * s * s])  # a bent sheet, not a height field
    surface, report = vn.fit_scattered(pts, tol=1e-4, params=np.column_stack([s, t]))
    assert report.max_error <= 1e-4 and len(report.max_error_per_round) == 4
    np.testing.assert_allclose(np.linalg.norm(surface.evaluate(report.u, report.v) - pts, axis=1), report.errors,
                               atol=1e-12)
    for kw, msg in [(dict(points=pts * np.nan), "finite"), (dict(smoothing=-2), "smooth"), (dict(kind="mesh"), "kind"),
                    (dict(solver="qr"), "solver"), (dict(points=pts[:, [0, 0, 1]] * [1, 1, 0]), "one line")]:
        with pytest.raises(ValueError, match=msg):
            vn.fit_scattered(**{"points": pts, **kw})
