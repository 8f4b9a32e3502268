// V3dNurbsSurface: representation, validity, span search and basis functions per
// direction, point evaluation and mixed derivatives (kernels in nurbs/SurfaceKernels.h).
// Fitting through grids of points lives in V3dNurbsSurfaceFitting.cpp, point projection in
// V3dNurbsSurfaceProjection.cpp.
#include <VelSDK/V3dNurbsSurface.h>

#include "nurbs/SurfaceKernels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace VelSDK {
namespace NURBS {

using Math::BinomialTable;
using Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

using namespace detail::surface;

// --- Construction -----------------------------------------------------------------------

V3dNurbsSurface::V3dNurbsSurface()
    : _minParamU(std::numeric_limits<double>::max()),
      _maxParamU(std::numeric_limits<double>::min()),
      _minParamV(std::numeric_limits<double>::max()),
      _maxParamV(std::numeric_limits<double>::min()),
      _degreeU(static_cast<std::size_t>(-1)),
      _degreeV(static_cast<std::size_t>(-1)) {}

V3dNurbsSurface::V3dNurbsSurface(VMatrix<P4> controlPoints, std::vector<double> knotsU, std::vector<double> knotsV,
                                 std::size_t degreeU, std::size_t degreeV)
    : _controlPoints(std::move(controlPoints)),
      _knotsU(std::move(knotsU)),
      _minParamU(kNaN),
      _maxParamU(kNaN),
      _knotsV(std::move(knotsV)),
      _minParamV(kNaN),
      _maxParamV(kNaN),
      _degreeU(degreeU),
      _degreeV(degreeV) {
    // The range is read at U[p], U[nU], V[q], V[nV]. A grid without columns has no row
    // count, and a missing knot is not read: both leave NaN in the range field.
    if (_controlPoints.ColumnCount() == 0) return;
    _minParamU = KnotOrNaN(_knotsU, _degreeU);
    _maxParamU = KnotOrNaN(_knotsU, _controlPoints.RowCount());
    _minParamV = KnotOrNaN(_knotsV, _degreeV);
    _maxParamV = KnotOrNaN(_knotsV, _controlPoints.ColumnCount());
}

V3dNurbsSurface::V3dNurbsSurface(const V3dNurbsSurface& other) = default;

V3dNurbsSurface::V3dNurbsSurface(V3dNurbsSurface&& other) noexcept
    : _controlPoints(std::move(other._controlPoints)),
      _knotsU(std::move(other._knotsU)),
      _minParamU(other._minParamU),
      _maxParamU(other._maxParamU),
      _knotsV(std::move(other._knotsV)),
      _minParamV(other._minParamV),
      _maxParamV(other._maxParamV),
      _degreeU(other._degreeU),
      _degreeV(other._degreeV) {
    other._controlPoints.Elements().clear();
    other._knotsU.clear();
    other._knotsV.clear();
}

V3dNurbsSurface& V3dNurbsSurface::operator=(const V3dNurbsSurface& other) {
    if (this != &other) {
        _controlPoints = other._controlPoints;
        _knotsU = other._knotsU;
        _minParamU = other._minParamU;
        _maxParamU = other._maxParamU;
        _knotsV = other._knotsV;
        _minParamV = other._minParamV;
        _maxParamV = other._maxParamV;
        _degreeU = other._degreeU;
        _degreeV = other._degreeV;
    }
    return *this;
}

V3dNurbsSurface& V3dNurbsSurface::operator=(V3dNurbsSurface&& other) noexcept {
    if (this != &other) {
        _controlPoints = std::move(other._controlPoints);
        _knotsU = std::move(other._knotsU);
        _minParamU = other._minParamU;
        _maxParamU = other._maxParamU;
        _knotsV = std::move(other._knotsV);
        _minParamV = other._minParamV;
        _maxParamV = other._maxParamV;
        _degreeU = other._degreeU;
        _degreeV = other._degreeV;
        other._controlPoints.Elements().clear();
        other._knotsU.clear();
        other._knotsV.clear();
    }
    return *this;
}

V3dNurbsSurface::~V3dNurbsSurface() = default;

// --- Validity and accessors -------------------------------------------------------------

bool V3dNurbsSurface::IsValid() const {
    const std::size_t nU = _controlPoints.RowCount();  // 0 for a grid without columns
    if (nU == 0) return false;
    if (_knotsU.size() != nU + _degreeU + 1) return false;
    if (_knotsV.size() != _controlPoints.ColumnCount() + _degreeV + 1) return false;
    return true;
}

const VMatrix<P4>& V3dNurbsSurface::GetControlPoints() const { return _controlPoints; }
const std::vector<double>& V3dNurbsSurface::GetKnotsU() const { return _knotsU; }
const std::vector<double>& V3dNurbsSurface::GetKnotsV() const { return _knotsV; }
std::size_t V3dNurbsSurface::GetDegreeU() const { return _degreeU; }
std::size_t V3dNurbsSurface::GetDegreeV() const { return _degreeV; }
std::size_t V3dNurbsSurface::GetOrderU() const { return _degreeU + 1; }
std::size_t V3dNurbsSurface::GetOrderV() const { return _degreeV + 1; }
double V3dNurbsSurface::GetMinParamU() const { return _minParamU; }
double V3dNurbsSurface::GetMaxParamU() const { return _maxParamU; }
double V3dNurbsSurface::GetMinParamV() const { return _minParamV; }
double V3dNurbsSurface::GetMaxParamV() const { return _maxParamV; }
void V3dNurbsSurface::SetMinParamU(double value) { _minParamU = value; }
void V3dNurbsSurface::SetMaxParamU(double value) { _maxParamU = value; }
void V3dNurbsSurface::SetMinParamV(double value) { _minParamV = value; }
void V3dNurbsSurface::SetMaxParamV(double value) { _maxParamV = value; }

// --- Span search and basis functions per direction --------------------------------------

std::size_t V3dNurbsSurface::_FindKnotIntervalIndexU(double u) const {
    return SpanOrDegree(_knotsU, _controlPoints.RowCount(), _degreeU, u);
}

std::size_t V3dNurbsSurface::_FindKnotIntervalIndexV(double v) const {
    return SpanOrDegree(_knotsV, _controlPoints.ColumnCount(), _degreeV, v);
}

std::vector<double> V3dNurbsSurface::_EvaluateBasisFunctionsU(double u) const {
    return BasisVector(_knotsU, _controlPoints.RowCount(), _degreeU, u);
}

std::vector<double> V3dNurbsSurface::_EvaluateBasisFunctionsV(double v) const {
    return BasisVector(_knotsV, _controlPoints.ColumnCount(), _degreeV, v);
}

VMatrix<double> V3dNurbsSurface::_EvaluateDerivativesBasisFunctionsU(double u, std::size_t n) const {
    return BasisDerivativeTable(_knotsU, _controlPoints.RowCount(), _degreeU, u, n);
}

VMatrix<double> V3dNurbsSurface::_EvaluateDerivativesBasisFunctionsV(double v, std::size_t n) const {
    return BasisDerivativeTable(_knotsV, _controlPoints.ColumnCount(), _degreeV, v, n);
}

// --- Evaluation ---------------------------------------------------------------------------

// A surface that cannot be evaluated (not valid, or a degree not below its control-point
// count) gives a point of NaNs and reads nothing.
P4 V3dNurbsSurface::EvaluateAtH(double u, double v) const {
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return kNaN4;
    return EvaluateH(net, u, v);
}

P3 V3dNurbsSurface::EvaluateAt(double u, double v) const {
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return kNaN3;
    return Cartesian(EvaluateH(net, u, v));
}

// --- Derivatives --------------------------------------------------------------------------

// Both derivative members return a (d + 1) x (d + 1) grid; for a surface that cannot be
// evaluated every element is NaN.
VMatrix<P4> V3dNurbsSurface::DeriveAtH(double u, double v, std::size_t d) const {
    CheckDerivativeOrder(d);
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return VMatrix<P4>(d + 1, d + 1, kNaN4);
    VMatrix<P4> A(d + 1, d + 1, kZero4);
    DeriveH(net, u, v, d, A.Elements().data(), d + 1);
    return A;
}

VMatrix<P3> V3dNurbsSurface::DeriveAt(double u, double v, std::size_t d) const {
    CheckDerivativeOrder(d);
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return VMatrix<P3>(d + 1, d + 1, kNaN3);
    VMatrix<P3> SKL(d + 1, d + 1, kZero3);
    const BinomialTable bin(d);
    DeriveCartesian(net, u, v, d, bin, SKL.Elements().data());
    return SKL;
}

}  // namespace NURBS
}  // namespace VelSDK
