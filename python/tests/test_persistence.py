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


class TestBinaryRecord:
    def test_layout(self, fitted):
        data = fitted.to_bytes()
        n, k = fitted.num_control_points, len(fitted.knots)
        assert len(data) == 27 + 32 * n + 8 + 8 * k
        lo, hi, closed, order, count, valid = struct.unpack_from("<dd?BQB", data)
        assert (lo, hi, closed, order, count, valid) == (0.0, 1.0, False, 4, n, 1)
        points = np.frombuffer(data, "<f8", 4 * n, 27).reshape(n, 4)
        np.testing.assert_array_equal(points, fitted.homogeneous_control_points)
        (kcount,) = struct.unpack_from("<Q", data, 27 + 32 * n)
        np.testing.assert_array_equal(np.frombuffer(data, "<f8", kcount, 35 + 32 * n), fitted.knots)

    def test_round_trips(self, fitted, glyph_s, tmp_path):
        back = vn.FittedCurve.from_bytes(fitted.to_bytes())
        assert back == fitted and back.to_bytes() == fitted.to_bytes()
        invalid = vn.FittedCurve.from_bytes(vn.FittedCurve(order=5).to_bytes())
        assert not invalid.is_valid and invalid.order == 5 and len(invalid.to_bytes()) == 27
        doc = fitted.to_xml()
        assert "<NURBS_CURVE>" in doc and "<Order>4</Order>" in doc
        assert vn.FittedCurve.from_xml(doc) == fitted
        vn.save_xml(fitted, tmp_path / "curve.xml")
        assert vn.load_xml(tmp_path / "curve.xml") == fitted
        closed = vn.FittedCurve(order=3)
        closed.fit(glyph_s, closed=True)
        back = vn.FittedCurve.from_xml(closed.to_xml())
        assert back == closed and back.is_closed and back.domain == (0.0, 1.0)

    def test_damaged_records_raise(self, fitted):
        data = fitted.to_bytes()
        with pytest.raises(ValueError, match="ends early"):
            vn.FittedCurve.from_bytes(data[:-3])
        with pytest.raises(ValueError, match="extra bytes"):
            vn.FittedCurve.from_bytes(data + b"\0")
        refused = bytearray(data)
        refused[17] = 1  # order 1 with the valid flag set
        with pytest.raises(vn.RCodeError, match=r"RCode\.Failure"):
            vn.FittedCurve.from_bytes(bytes(refused))
        huge = bytearray(data)
        huge[18:26] = struct.pack("<Q", 2**60)
        with pytest.raises(ValueError):
            vn.FittedCurve.from_bytes(bytes(huge))


class TestXml:
    def test_bad_documents(self, fitted):
        with pytest.raises(ValueError, match="line"):
            vn.FittedCurve.from_xml("<NURBS_CURVE><Order>4</Order>")
        with pytest.raises(ValueError):
            vn.FittedCurve.from_xml(fitted.to_xml().replace("<Dim>4</Dim>", "<Dim>3</Dim>"))
        with pytest.raises(vn.RCodeError):
            vn.FittedCurve.from_xml(fitted.to_xml().replace("<Order>4</Order>", "<Order>1</Order>"))
        with pytest.raises(vn.RCodeError, match="not valid"):
            vn.FittedCurve().to_xml()


class TestPickle:
    def test_fitted_curve_with_settings(self, fitted):
        fitted.knots_generation = "uniform"
        for back in (pickle.loads(pickle.dumps(fitted)), copy.deepcopy(fitted), copy.copy(fitted)):
            assert back == fitted and back is not fitted
            assert back.parametrization == vn.Parametrization.UNIFORM
            assert back.knots_generation == vn.KnotsGeneration.UNIFORM

    def test_curve_and_surface(self, fitted):
        curve = fitted.to_nurbs()
        assert pickle.loads(pickle.dumps(curve)) == curve
        s = vn.NurbsSurface(np.arange(24.0).reshape(2, 4, 3), [0, 0, 1, 1], [0, 0, 0, 0.5, 1, 1, 1], 1, 2)
        assert pickle.loads(pickle.dumps(s)) == s
