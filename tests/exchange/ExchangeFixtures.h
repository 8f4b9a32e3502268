// Curves and surfaces that the exchange tests write and read: rational and not, clamped and
// not, closed and open, with multiple interior knots, low and high degrees; the two file
// formats behind one interface, and the checks every reader's refusal must pass.
#pragma once

#include <VelSDK/CadModel.h>
#include <VelSDK/Generators.h>
#include <VelSDK/IgesExchange.h>
#include <VelSDK/StepExchange.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>

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

/// Full circle of radius r in the plane z = 0: nine quadratic rational arcs' points
/// (The NURBS Book, Ex. 7.2, knots {0,0,0,1/4,1/4,1/2,1/2,3/4,3/4,1,1,1}).
inline V3dNurbsCurve Circle(double r, double z = 0.0) {
    const double s = std::sqrt(0.5);
    const double xy[9][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
    std::vector<P4> P;
    for (int i = 0; i < 9; ++i) P.push_back(H(r * xy[i][0], r * xy[i][1], z, i % 2 ? s : 1.0));
    return V3dNurbsCurve(P, {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1}, 2);
}

struct NamedCurve {
    const char* name;
    V3dNurbsCurve curve;
};

inline std::vector<NamedCurve> Curves() {
    std::vector<NamedCurve> out;
    out.push_back({"open cubic", V3dNurbsCurve({H(0, 0, 0), H(1, 2, 0), H(2, -1, 0.5), H(3, 1, 1), H(4, 0, 0)},
                                               {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 3)});
    out.push_back({"circle", Circle(2.5, 0.125)});
    // Unclamped uniform cubic whose last three control points repeat the first three.
    out.push_back({"closed periodic cubic", V3dNurbsCurve({H(0, 0, 0), H(2, 0, 1), H(3, 2, 0), H(1, 3, -1), H(-1, 1, 0),
                                                           H(0, 0, 0), H(2, 0, 1), H(3, 2, 0)},
                                                          VelSDK::NURBS::UniformKnotsClosed(12, 3), 3)});
    out.push_back({"line", V3dNurbsCurve({H(-1e-300, 0, 1e300), H(1.0 / 3.0, 2.0 / 7.0, 0.1)}, {0, 0, 1, 1}, 1)});
    // Rational, multiple interior knot, awkward weights and coordinates.
    out.push_back({"rational with double knot",
                   V3dNurbsCurve({H(0.1, 0.2, 0.3, 0.7), H(1.1, 2.2, -0.3, 1.3), H(2.5, -1.25, 0.5, 0.9),
                                  H(3.3, 1.7, 1.1, 2.1), H(4.9, 0.01, -0.02, 1.0), H(6, 1, 2, 0.35)},
                                 {-2, -2, -2, -0.75, -0.75, 1.5, 3, 3, 3}, 2)});
    return out;
}

struct NamedSurface {
    const char* name;
    V3dNurbsSurface surface;
};

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

inline std::vector<NamedSurface> Surfaces() {
    std::vector<NamedSurface> out;
    out.push_back({"cylinder", Cylinder(1.5, 4.0)});
    {
        VMatrix<P4> net(6, 5, P4{});
        for (std::size_t i = 0; i < 6; ++i)
            for (std::size_t j = 0; j < 5; ++j)
                net(i, j) = H(0.3 * i, -0.7 * j, 0.1 * i * j - 0.2, 0.5 + 0.25 * ((i + 2 * j) % 3));
        out.push_back({"rational with multiple knots",
                       V3dNurbsSurface(net, {1, 1, 1, 2, 2, 3, 4, 4, 4}, {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 2, 3)});
    }
    return out;
}

inline CadModel AllObjects() {
    CadModel m;
    for (auto& c : Curves()) m.curves.push_back(c.curve), m.curveNames.push_back(c.name);
    for (auto& s : Surfaces()) m.surfaces.push_back(s.surface), m.surfaceNames.push_back(s.name);
    return m;
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

/// A refused file: the error names `line` (also as its "line N: " prefix) and holds `words`,
/// and the model that held a curve before is left empty.
inline void ExpectRefused(const Format& f, const std::string& text, std::size_t line, const std::string& words,
                          const std::string& what) {
    CadModel m;
    m.curves.push_back(Curves()[0].curve);
    m.curveNames.push_back("before");
    const ExchangeReport r = f.read(text, m);
    EXPECT_FALSE(r.ok) << what;
    EXPECT_EQ(r.line, line) << what << ": " << r.error;
    EXPECT_EQ(r.error.rfind("line " + std::to_string(line) + ": ", 0), 0u) << what << ": " << r.error;
    EXPECT_NE(r.error.find(words), std::string::npos) << what << ": " << r.error;
    EXPECT_TRUE(m.curves.empty() && m.surfaces.empty() && m.curveNames.empty()) << what;
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
