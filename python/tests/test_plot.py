"""Plotting helpers and the example script (matplotlib, Agg backend)."""

import subprocess
import sys

import numpy as np
import pytest

import velsdk_nurbs as vn
from conftest import GLYPH, GPS_LOOP, ROOT

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
plot = pytest.importorskip("velsdk_nurbs.plot")


def test_curves_and_surfaces():
    import matplotlib.pyplot as plt

    xy = GLYPH[:, :2]
    ax = plot.plot_curve(vn.interpolate(xy, closed=True), points=xy, segmentation=np.linspace(0, 1, 9))
    assert ax.name == "rectilinear"  # planar data: a 2-D plot, the points drawn as given
    dots = next(line for line in ax.get_lines() if line.get_label() == "data points")
    np.testing.assert_array_equal(np.column_stack([dots.get_xdata(), dots.get_ydata()]), xy)
    ax3 = plot.plot_curve(vn.fit_many([GPS_LOOP], closed=True)[0], segmentation=10.0)
    assert ax3.name == "3d" and any(line.get_label().startswith("segmentation (") for line in ax3.get_lines())
    grid = np.stack(np.meshgrid(np.arange(5.0), np.arange(4.0), indexing="ij"), axis=-1)
    flat = plot.plot_surface(vn.NurbsSurface.interpolate_grid(grid), points=grid)
    np.testing.assert_array_equal(flat.collections[-1]._offsets3d[2], np.zeros(20))
    plt.close("all")
    with pytest.raises(ValueError, match="not valid"):
        plot.plot_curve(vn.FittedCurve())


def test_example_writes_its_png(tmp_path):
    script = ROOT / "examples" / "python" / "fit_demo.py"
    out = tmp_path / "demo.png"
    subprocess.run([sys.executable, str(script), "-o", str(out)], check=True, capture_output=True)
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
