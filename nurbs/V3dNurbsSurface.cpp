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
    : m_minParamU(std::numeric_limits<double>::max()),
      m_maxParamU(std::numeric_limits<double>::min()),
      m_minParamV(std::numeric_limits<double>::max()),
      m_maxParamV(std::numeric_limits<double>::min()),
      m_degreeU(std::numeric_limits<std::size_t>::max()),
      m_degreeV(std::numeric_limits<std::size_t>::max()) {}

V3dNurbsSurface::V3dNurbsSurface(VMatrix<P4> controlPoints, std::vector<double> knotsU, std::vector<double> knotsV,
                                 std::size_t degreeU, std::size_t degreeV)
    : m_controlPoints(std::move(controlPoints)),
      m_knotsU(std::move(knotsU)),
      m_minParamU(kNaN),
      m_maxParamU(kNaN),
      m_knotsV(std::move(knotsV)),
      m_minParamV(kNaN),
      m_maxParamV(kNaN),
      m_degreeU(degreeU),
      m_degreeV(degreeV) {
    // The range is read at U[p], U[nU], V[q], V[nV]. A grid without columns has no row
    // count, and a missing knot is not read: both leave NaN in the range field.
    if (m_controlPoints.ColumnCount() == 0) return;
    m_minParamU = KnotOrNaN(m_knotsU, m_degreeU);
    m_maxParamU = KnotOrNaN(m_knotsU, m_controlPoints.RowCount());
    m_minParamV = KnotOrNaN(m_knotsV, m_degreeV);
    m_maxParamV = KnotOrNaN(m_knotsV, m_controlPoints.ColumnCount());
}

V3dNurbsSurface::V3dNurbsSurface(const V3dNurbsSurface& other) = default;

V3dNurbsSurface::V3dNurbsSurface(V3dNurbsSurface&& other) noexcept
    : m_controlPoints(std::move(other.m_controlPoints)),
      m_knotsU(std::move(other.m_knotsU)),
      m_minParamU(other.m_minParamU),
      m_maxParamU(other.m_maxParamU),
      m_knotsV(std::move(other.m_knotsV)),
      m_minParamV(other.m_minParamV),
      m_maxParamV(other.m_maxParamV),
      m_degreeU(other.m_degreeU),
      m_degreeV(other.m_degreeV) {
    other.m_controlPoints.Elements().clear();
    other.m_knotsU.clear();
    other.m_knotsV.clear();
}

V3dNurbsSurface& V3dNurbsSurface::operator=(const V3dNurbsSurface& other) {
    if (this != &other) {
        m_controlPoints = other.m_controlPoints;
        m_knotsU = other.m_knotsU;
        m_minParamU = other.m_minParamU;
        m_maxParamU = other.m_maxParamU;
        m_knotsV = other.m_knotsV;
        m_minParamV = other.m_minParamV;
        m_maxParamV = other.m_maxParamV;
        m_degreeU = other.m_degreeU;
        m_degreeV = other.m_degreeV;
    }
    return *this;
}

V3dNurbsSurface& V3dNurbsSurface::operator=(V3dNurbsSurface&& other) noexcept {
    if (this != &other) {
        m_controlPoints = std::move(other.m_controlPoints);
        m_knotsU = std::move(other.m_knotsU);
        m_minParamU = other.m_minParamU;
        m_maxParamU = other.m_maxParamU;
        m_knotsV = std::move(other.m_knotsV);
        m_minParamV = other.m_minParamV;
        m_maxParamV = other.m_maxParamV;
        m_degreeU = other.m_degreeU;
        m_degreeV = other.m_degreeV;
        other.m_controlPoints.Elements().clear();
        other.m_knotsU.clear();
        other.m_knotsV.clear();
    }
    return *this;
}

V3dNurbsSurface::~V3dNurbsSurface() = default;

// --- Validity and accessors -------------------------------------------------------------

bool V3dNurbsSurface::IsValid() const {
    const std::size_t nU = m_controlPoints.RowCount();  // 0 for a grid without columns
    if (nU == 0) return false;
    if (m_knotsU.size() != nU + m_degreeU + 1) return false;
    if (m_knotsV.size() != m_controlPoints.ColumnCount() + m_degreeV + 1) return false;
    return true;
}

const VMatrix<P4>& V3dNurbsSurface::GetControlPoints() const { return m_controlPoints; }
const std::vector<double>& V3dNurbsSurface::GetKnotsU() const { return m_knotsU; }
const std::vector<double>& V3dNurbsSurface::GetKnotsV() const { return m_knotsV; }
std::size_t V3dNurbsSurface::GetDegreeU() const { return m_degreeU; }
std::size_t V3dNurbsSurface::GetDegreeV() const { return m_degreeV; }
std::size_t V3dNurbsSurface::GetOrderU() const { return m_degreeU + 1; }
std::size_t V3dNurbsSurface::GetOrderV() const { return m_degreeV + 1; }
double V3dNurbsSurface::GetMinParamU() const { return m_minParamU; }
double V3dNurbsSurface::GetMaxParamU() const { return m_maxParamU; }
double V3dNurbsSurface::GetMinParamV() const { return m_minParamV; }
double V3dNurbsSurface::GetMaxParamV() const { return m_maxParamV; }
void V3dNurbsSurface::SetMinParamU(double value) { m_minParamU = value; }
void V3dNurbsSurface::SetMaxParamU(double value) { m_maxParamU = value; }
void V3dNurbsSurface::SetMinParamV(double value) { m_minParamV = value; }
void V3dNurbsSurface::SetMaxParamV(double value) { m_maxParamV = value; }

// --- Span search and basis functions per direction --------------------------------------

std::size_t V3dNurbsSurface::_FindKnotIntervalIndexU(double u) const {
    return SpanOrDegree(m_knotsU, m_controlPoints.RowCount(), m_degreeU, u);
}

std::size_t V3dNurbsSurface::_FindKnotIntervalIndexV(double v) const {
    return SpanOrDegree(m_knotsV, m_controlPoints.ColumnCount(), m_degreeV, v);
}

std::vector<double> V3dNurbsSurface::_EvaluateBasisFunctionsU(double u) const {
    return BasisVector(m_knotsU, m_controlPoints.RowCount(), m_degreeU, u);
}

std::vector<double> V3dNurbsSurface::_EvaluateBasisFunctionsV(double v) const {
    return BasisVector(m_knotsV, m_controlPoints.ColumnCount(), m_degreeV, v);
}

VMatrix<double> V3dNurbsSurface::_EvaluateDerivativesBasisFunctionsU(double u, std::size_t n) const {
    return BasisDerivativeTable(m_knotsU, m_controlPoints.RowCount(), m_degreeU, u, n);
}

VMatrix<double> V3dNurbsSurface::_EvaluateDerivativesBasisFunctionsV(double v, std::size_t n) const {
    return BasisDerivativeTable(m_knotsV, m_controlPoints.ColumnCount(), m_degreeV, v, n);
}

// --- Evaluation ---------------------------------------------------------------------------

// A surface that cannot be evaluated (not valid, or a degree not below its control-point
// count) gives a point of NaNs and reads nothing.
P4 V3dNurbsSurface::EvaluateAtH(double u, double v) const {
    Net net;
    if (!MakeNet(m_controlPoints, m_knotsU, m_knotsV, m_degreeU, m_degreeV, net)) return kNaN4;
    return EvaluateH(net, u, v);
}

P3 V3dNurbsSurface::EvaluateAt(double u, double v) const {
    Net net;
    if (!MakeNet(m_controlPoints, m_knotsU, m_knotsV, m_degreeU, m_degreeV, net)) return kNaN3;
    return Cartesian(EvaluateH(net, u, v));
}

// --- Derivatives --------------------------------------------------------------------------

// Both derivative members return a (d + 1) x (d + 1) grid; for a surface that cannot be
// evaluated every element is NaN.
VMatrix<P4> V3dNurbsSurface::DeriveAtH(double u, double v, std::size_t d) const {
    CheckDerivativeOrder(d);
    Net net;
    if (!MakeNet(m_controlPoints, m_knotsU, m_knotsV, m_degreeU, m_degreeV, net))
        return VMatrix<P4>(d + 1, d + 1, kNaN4);
    VMatrix<P4> A(d + 1, d + 1, kZero4);
    DeriveH(net, u, v, d, A.Elements().data(), d + 1);
    return A;
}

VMatrix<P3> V3dNurbsSurface::DeriveAt(double u, double v, std::size_t d) const {
    CheckDerivativeOrder(d);
    Net net;
    if (!MakeNet(m_controlPoints, m_knotsU, m_knotsV, m_degreeU, m_degreeV, net))
        return VMatrix<P3>(d + 1, d + 1, kNaN3);
    VMatrix<P3> SKL(d + 1, d + 1, kZero3);
    const BinomialTable bin(d);
    DeriveCartesian(net, u, v, d, bin, SKL.Elements().data());
    return SKL;
}

}  // namespace NURBS
}  // namespace VelSDK
