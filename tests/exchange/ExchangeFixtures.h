// Curves and surfaces that the exchange tests write and read: rational and not, clamped and
// not, closed and open, with multiple interior knots, low and high degrees; the two file
// formats behind one interface, and the checks every reader's refusal must pass.
#pragma once

#include <VelSDK/Nurbs.h>

#include "exchange/ExchangeGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace exchange_test {

using VelSDK::Exchange::CadModel;
using VelSDK::Exchange::ExchangeReport;
using VelSDK::Exchange::LengthUnit;
using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

inline P4 H(double x, double y, double z, double w = 1.0) { return P4{x * w, y * w, z * w, w}; }

/// Full circle of radius r about c in a plane z = const: nine quadratic rational arcs' points
/// (The NURBS Book, Ex. 7.2, knots {0,0,0,1/4,1/4,1/2,1/2,3/4,3/4,1,1,1}).
inline V3dNurbsCurve Circle(double r, const P3& c = P3{0, 0, 0}) {
    const double s = std::sqrt(0.5);
    const double xy[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
    std::vector<P4> P;
    for (int i = 0; i < 9; ++i) P.push_back(H(c[0] + r * xy[i][0], c[1] + r * xy[i][1], c[2], i % 2 ? s : 1.0));
    return V3dNurbsCurve(P, {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1}, 2);
}

/// Unit sphere about c: the circle revolved with a meridian half circle from pole to pole (The
/// NURBS Book, 8.5); its rows at v = 0 and v = 1 collapse to the poles.
inline V3dNurbsSurface Sphere(const P3& c = P3{0, 0, 0}) {
    const double s = std::sqrt(0.5), rz[5][3] = {{0, -1, 1}, {1, -1, s}, {1, 0, 1}, {1, 1, s}, {0, 1, 1}};
    const V3dNurbsCurve circle = Circle(1.0);
    VMatrix<P4> net(9, 5, P4{});
    for (std::size_t i = 0; i < 9; ++i)
        for (std::size_t j = 0; j < 5; ++j) {
            const P4& q = circle.GetControlPoints()[i];  // x and y are -1, 0 or 1
            net(i, j) =
                H(c[0] + rz[j][0] * q[0] / q[3], c[1] + rz[j][0] * q[1] / q[3], c[2] + rz[j][1], q[3] * rz[j][2]);
        }
    return V3dNurbsSurface(net, circle.GetKnots(), {0, 0, 0, 0.5, 0.5, 1, 1, 1}, 2, 2);
}

/// Cylinder of radius r and height h: rows along U follow the circle, two columns along V.
inline V3dNurbsSurface Cylinder(double r, double h) {
    const V3dNurbsCurve c = Circle(r);
    VMatrix<P4> net(9, 2, P4{});
    for (std::size_t i = 0; i < 9; ++i) {
        const P4 p = net(i, 0) = c.GetControlPoints()[i];
        net(i, 1) = P4{p[0], p[1], h * p[3], p[3]};
    }
    return V3dNurbsSurface(net, c.GetKnots(), {0, 0, 1, 1}, 2, 1);
}

/// The fixtures, named: an open cubic, a circle, a closed periodic cubic, a line and a rational
/// curve (curves 0 to 4), a cylinder and a rational surface with multiple knots.
inline CadModel AllObjects() {
    CadModel m;
    m.curves = {V3dNurbsCurve({H(0, 0, 0), H(1, 2, 0), H(2, -1, 0.5), H(3, 1, 1), H(4, 0, 0)},
                              {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 3),
                Circle(2.5, P3{0, 0, 0.125}),
                // Unclamped uniform cubic whose last three control points repeat the first three.
                V3dNurbsCurve(
                    {H(0, 0, 0), H(2, 0, 1), H(3, 2, 0), H(1, 3, -1), H(-1, 1, 0), H(0, 0, 0), H(2, 0, 1), H(3, 2, 0)},
                    VelSDK::NURBS::UniformKnotsClosed(12, 3), 3),
                V3dNurbsCurve({H(-1e-300, 0, 1e300), H(1.0 / 3.0, 2.0 / 7.0, 0.1)}, {0, 0, 1, 1}, 1),
                // Rational, multiple interior knot, awkward weights and coordinates.
                V3dNurbsCurve({H(0.1, 0.2, 0.3, 0.7), H(1.1, 2.2, -0.3, 1.3), H(2.5, -1.25, 0.5, 0.9),
                               H(3.3, 1.7, 1.1, 2.1), H(4.9, 0.01, -0.02, 1.0), H(6, 1, 2, 0.35)},
                              {-2, -2, -2, -0.75, -0.75, 1.5, 3, 3, 3}, 2)};
    m.curveNames = {"open cubic", "circle", "closed periodic cubic", "line", "rational with double knot"};
    VMatrix<P4> net(6, 5, P4{});
    for (std::size_t i = 0; i < 6; ++i)
        for (std::size_t j = 0; j < 5; ++j)
            net(i, j) = H(0.3 * i, -0.7 * j, 0.1 * i * j - 0.2, 0.5 + 0.25 * ((i + 2 * j) % 3));
    m.surfaces = {Cylinder(1.5, 4.0),
                  V3dNurbsSurface(net, {1, 1, 1, 2, 2, 3, 4, 4, 4}, {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 2, 3)};
    m.surfaceNames = {"cylinder", "rational with multiple knots"};
    return m;
}

/// The largest Cartesian coordinate (absolute) of the control points.
inline double Size(const std::vector<P4>& P) {
    double s = 0.0;
    for (const P4& h : P)
        for (int k = 0; k < 3; ++k) s = std::max(s, std::fabs(h[k] / h[3]));
    return s;
}

inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

/// One file format as the tests drive it: the writer (with a fixed time stamp) and the reader.
struct Format {
    const char* name;
    ExchangeReport (*writeTo)(std::ostream&, const CadModel&, LengthUnit);
    ExchangeReport (*read)(const std::string&, CadModel&);

    std::string Write(const CadModel& m, LengthUnit unit = LengthUnit::Millimetre) const {
        std::ostringstream out;
        const ExchangeReport r = writeTo(out, m, unit);
        EXPECT_TRUE(r.ok) << r.error;
        return out.str();
    }
};

template <typename Options, ExchangeReport (*write)(std::ostream&, const CadModel&, const Options&)>
ExchangeReport Stamped(std::ostream& out, const CadModel& m, LengthUnit unit) {
    Options o;
    o.unit = unit;
    o.timeStamp = "20260101.000000";
    return write(out, m, o);
}

inline const Format kIges{"IGES", Stamped<VelSDK::Exchange::IgesWriteOptions, VelSDK::Exchange::WriteIges>,
                          VelSDK::Exchange::ReadIges};
inline const Format kStep{"STEP", Stamped<VelSDK::Exchange::StepWriteOptions, VelSDK::Exchange::WriteStep>,
                          VelSDK::Exchange::ReadStep};

/// A file a reader must refuse: the error names `line` (also as its "line N: " prefix) and holds
/// `words`, and the model that held a curve before is left empty.
struct Refusal {
    const char* what;
    std::string text;
    std::size_t line;
    const char* words;
};

inline void ExpectRefused(const Format& f, const std::vector<Refusal>& cases) {
    for (const Refusal& c : cases) {
        CadModel m;
        m.curves.push_back(AllObjects().curves[0]);
        m.curveNames.push_back("before");
        const ExchangeReport r = f.read(c.text, m);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.line, c.line) << c.what << ": " << r.error;
        EXPECT_EQ(r.error.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << c.what << ": " << r.error;
        EXPECT_NE(r.error.find(c.words), std::string::npos) << c.what << ": " << r.error;
        EXPECT_TRUE(m.curves.empty() && m.surfaces.empty() && m.curveNames.empty()) << c.what;
    }
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

inline std::string Join(const std::vector<std::string>& lines, const char* end = "\n") {
    std::string s;
    for (const auto& l : lines) s += l + end;
    return s;
}

}  // namespace exchange_test
