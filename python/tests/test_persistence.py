"""Binary record, XML document and pickle of FittedCurve."""

from __future__ import annotations

import copy
import pickle
import struct

import numpy as np
import pytest

import velsdk_nurbs as vn


@pytest.fixture
def fitted(airfoil_upper):
    c = vn.FittedCurve(order=4, parametrization="uniform")
    c.fit(airfoil_upper)
    return c


def test_layout(fitted):
    d, n = fitted.to_bytes(), fitted.num_control_points
    assert len(d) == 27 + 32 * n + 8 + 8 * len(fitted.knots)  # the record's layout is proven by the C++ tests
    assert struct.unpack_from("<dd?BQB", d) == (0.0, 1.0, False, 4, n, 1)
    np.testing.assert_array_equal(np.frombuffer(d, "<f8", 4 * n, 27).reshape(n, 4), fitted.homogeneous_control_points)


def test_round_trips(fitted, glyph_s, tmp_path):
    vn.save_xml(fitted, tmp_path / "curve.xml")
    assert vn.load_xml(tmp_path / "curve.xml") == fitted
    for curve in (fitted, vn.fit_many([glyph_s], closed=True, order=3)[0]):
        for back in (vn.FittedCurve.from_bytes(curve.to_bytes()), vn.FittedCurve.from_xml(curve.to_xml())):
            assert back == curve and back.to_bytes() == curve.to_bytes() and back.is_closed == curve.is_closed
    invalid = vn.FittedCurve.from_bytes(vn.FittedCurve(order=5).to_bytes())
    assert not invalid.is_valid and invalid.order == 5 and len(invalid.to_bytes()) == 27
    assert "<Order>4</Order>" in fitted.to_xml()
    with pytest.raises(vn.RCodeError, match="not valid"):
        vn.FittedCurve().to_xml()


@pytest.mark.parametrize("load, damage, error, message", [
    ("from_bytes", lambda d, x: d[:-3], ValueError, "ends early"),
    ("from_bytes", lambda d, x: d + b"\0", ValueError, "extra bytes"),
    ("from_bytes", lambda d, x: d[:17] + b"\1" + d[18:], vn.RCodeError, r"RCode\.Failure"),  # order 1, valid flag set
    ("from_bytes", lambda d, x: d[:18] + struct.pack("<Q", 2**60) + d[26:], ValueError, ""),
    ("from_xml", lambda d, x: "<NURBS_CURVE><Order>4</Order>", ValueError, "line"),
    ("from_xml", lambda d, x: x.replace("<Dim>4</Dim>", "<Dim>3</Dim>"), ValueError, ""),
    ("from_xml", lambda d, x: x.replace("<Order>4</Order>", "<Order>1</Order>"), vn.RCodeError, "")])
def test_damaged_records_raise(fitted, load, damage, error, message):
    with pytest.raises(error, match=message):
        getattr(vn.FittedCurve, load)(damage(fitted.to_bytes(), fitted.to_xml()))


def test_pickle_keeps_settings_curves_and_surfaces(fitted):
    fitted.knots_generation = "uniform"
    for back in (pickle.loads(pickle.dumps(fitted)), copy.deepcopy(fitted), copy.copy(fitted)):
        assert back == fitted and back is not fitted
        assert (back.parametrization, back.knots_generation) == (vn.Parametrization.UNIFORM, vn.KnotsGeneration.UNIFORM)
    s = vn.NurbsSurface(np.arange(24.0).reshape(2, 4, 3), [0, 0, 1, 1], [0, 0, 0, 0.5, 1, 1, 1], 1, 2)
    for obj in (fitted.to_nurbs(), s):
        assert pickle.loads(pickle.dumps(obj)) == obj
