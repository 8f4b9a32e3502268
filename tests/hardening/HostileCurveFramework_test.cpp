// The documented answers of the curve framework (V3dCurve through V3dCurveNurbsPlus) on hostile
// input, one table of objects × members: objects that are not valid answer Failure with their
// outputs untouched, indices beyond the lists answer NaN, refused tolerances and cuts leave the
// lists and targets as given, and the segmentation ends at the rounding noise of the positions
// or throws std::length_error at its (here lowered) limit with the list as given. (Reset's
// refusals, copies and moves: tests/curve; malformed data through Reset and arbitrary calls:
// the fuzz targets fuzz_curve_stream, fuzz_curve_document and fuzz_curve_fit.)
//
// The documented answers of the two readers of the fitted curve on hostile input (arbitrary
// bytes are the fuzz targets' fuzz_curve_stream and fuzz_curve_document): a binary record whose
// count the data cannot hold throws std::length_error with the held curve unchanged; a document
// that is refused (absurd counts or orders, a document type, a cut) leaves the curve as it was
// and names the problem. (Broken text in the conversions: tests/persistence.)
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>

using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using hostile::kInf;
using hostile::kNaN;
using hostile::Same;

namespace {

std::vector<P3> Helix(std::size_t n, double scale = 1.0, P3 shift = P3{0, 0, 0}) {
    std::vector<P3> q;
    for (double a = 0; q.size() < n; a += 0.6) q.push_back(P3{std::cos(a), std::sin(a), 0.1 * a} * scale + shift);
    return q;
}

V3dCurveNurbsPlus Fitted(bool closed, unsigned char order = 4, double scale = 1.0, P3 shift = P3{0, 0, 0}) {
    V3dCurveNurbsPlus c;
    c.SetOrder(order);
    EXPECT_EQ(c.Fit(Helix(9, scale, shift), closed), V3dCurve::Success);
    return c;
}

// Segments; a list beyond the limit throws std::length_error and is left as given (returns 0).
template <class List, class Call>
std::size_t SegmentedSize(List& list, Call&& call) {
    const List given = list;
    try {
        EXPECT_EQ(call(), V3dCurve::Success);
        return list.size();
    } catch (const std::length_error&) {
        EXPECT_TRUE(Same(list, given));
        return 0;
    }
}

V3dCurveNurbsPlus OpenCubic() {
    V3dCurveNurbsPlus c;
    EXPECT_EQ(c.Reset({P4{0, 0, 0, 1}, P4{1, 2, 0, 1}, P4{2, -1, 0.5, 1}, P4{3, 1, 1, 1}, P4{4, 0, 0, 1}},
                      {0, 0, 0, 0, 0.5, 1, 1, 1, 1}, 4, false),
              V3dCurve::Success);
    return c;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    const std::size_t at = s.find(from);  // a document left whole would load and fail the test
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

}  // namespace

TEST(HostileCurveFramework, EveryMemberOnEveryObject) {
    // Fresh, invalidated, after a failed fit, open, closed.
    std::vector<V3dCurveNurbsPlus> objects = {V3dCurveNurbsPlus(), Fitted(false), Fitted(false), Fitted(false),
                                              Fitted(true)};
    objects[1].Invalidate();
    EXPECT_EQ(objects[2].Fit(Helix(2), false), V3dCurve::Failure);  // fewer points than the order
    const std::vector<P3> queries = {{1, 1, 1}, {kNaN, 0, 0}, {kInf, 0, -kInf}, {1e300, -1e300, 0}};
    for (std::size_t index = 0; index < objects.size(); ++index) {
        SCOPED_TRACE(index);
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        V3dCurveNurbsPlus c(objects[index]);  // the segmentation may clamp the held curve in place
        const bool valid = c.IsValid();
        constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
        for (std::size_t index : {c.GetControlPoints().size(), kMax})
            EXPECT_TRUE(std::isnan(c.GetControlPoint(index)[0]) && std::isnan(c.GetControlPoint(index)[3]));
        for (std::size_t index : {c.GetKnots().size(), kMax}) EXPECT_TRUE(std::isnan(c.GetKnot(index)));
        EXPECT_TRUE(valid || (std::isnan(c.GetKnot(0)) && c.GetNumberKnots() == 0u && !c.IsClamped() &&
                              Same(c.GetFirstPoint(), P3{0, 0, 0})));
        std::vector<double> ts = hostile::Numbers();
        ts.insert(ts.end(), {c.GetMinParameter(), c.GetMaxParameter()});
        for (double t : ts) {
            P3 p{7, 7, 7}, d1{7, 7, 7}, d2{7, 7, 7};
            const V3dCurve::RCode r[] = {c.EvaluatePosition(p, t), c.EvaluateSpeed(p, d1, t),
                                         c.EvaluateAcceleration(p, d1, d2, t)};
            EXPECT_EQ(r[0], valid ? V3dCurve::Success : V3dCurve::Failure);
            EXPECT_EQ(r[2], r[0]);
            EXPECT_TRUE(valid || (r[1] == V3dCurve::Failure && Same(p, P3{7, 7, 7}) && Same(d2, P3{7, 7, 7})));
            // Splitting: refused with the targets untouched, or two valid, open pieces.
            V3dCurveNurbsPlus first, second;
            first.SetOrder(9);
            EXPECT_TRUE(c.Split(first, second, t) == V3dCurve::Success
                            ? valid && first.IsValid() && second.IsValid() && !first.IsClosedLoop() &&
                                  !second.IsClosedLoop()
                            : !first.IsValid() && first.GetOrder() == 9);
        }
        // A projection that fails writes no parameter when it had no start.
        for (const P3& q : queries)
            for (double tol : {1e-9, 0.0, -1.0, kNaN, kInf})
                for (double start : {0.5, kNaN, -1e300}) {
                    double t = start;
                    EXPECT_TRUE(c.ProjectPoint(t, q, tol, false) == V3dCurve::Success || Same(t, start));
                }
        // Refused tolerances leave the lists as given.
        for (double tol : {0.0, -1.0, kNaN, kInf, -kInf}) {
            std::vector<double> list = {0.25, 0.5};
            std::vector<P3> points = {P3{1, 2, 3}};
            EXPECT_TRUE(c.Segment(list, tol, true) == V3dCurve::Failure && c.Segment(points, tol) == V3dCurve::Failure);
            EXPECT_TRUE(list == std::vector<double>({0.25, 0.5}) && points.size() == 1u);
        }
        std::vector<double> list;
        EXPECT_EQ(SegmentedSize(list, [&] { return c.Segment(list, 1e-3, false); }) == 0, !valid);
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
}

TEST(HostileCurveFramework, SegmentationEndsAtTheNoiseOrAtTheLimit) {
    // A positive tolerance below the rounding noise of the positions (16 units in the last place
    // of their largest coordinate, 1.9e-9 at 10^6) gives the list that noise decides, the same
    // for every such tolerance, instead of halving down to the bits of the parameter.
    for (bool closed : {false, true})
        for (unsigned char order : {3, 4, 6}) {
            SCOPED_TRACE(std::to_string(order) + (closed ? " closed" : " open"));
            const V3dCurveNurbsPlus c = Fitted(closed, order, 1e-3, P3{1e6, -5e5, 2e5});
            hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
            std::vector<double> belowNoise;
            ASSERT_EQ(c.Segment(belowNoise, 1e-15, false), V3dCurve::Success);
            EXPECT_TRUE(belowNoise.size() > 100u && belowNoise.size() < 100000u) << belowNoise.size();
            for (double tol : {1e-30, 1e-300, 5e-324}) {
                std::vector<double> list;
                EXPECT_EQ(c.Segment(list, tol, false), V3dCurve::Success) << tol;
                EXPECT_EQ(list, belowNoise) << tol;
            }
            EXPECT_EQ(ceiling.Refused(), 0u);
        }
    // Near the origin the noise is finer, and a range of 1e100 extrapolates a polynomial over a
    // hundred orders of magnitude: lists beyond the (lowered) limit of 2^20 parameters throw
    // std::length_error, the list left as given, no block above 32 MiB.
    hostile::Ceiling ceiling(hostile::kSegmentationCeiling);
    std::vector<double> list = {42.0};
    EXPECT_EQ(SegmentedSize(list, [&] { return Fitted(false).Segment(list, 1e-300, false); }), 0u);
    for (bool closed : {false, true}) {
        V3dCurveNurbsPlus c = Fitted(closed);
        c.SetMaxParameter(1e100);
        EXPECT_LE(SegmentedSize(list, [&] { return c.Segment(list, 1e-3, false); }), std::size_t{1} << 20);
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileReaders, RecordCountsBeyondTheDataThrowLengthError) {
    std::ostringstream out(std::ios::binary);
    out << OpenCubic();
    const std::string full = out.str();  // 27 + 5 * 32 + 8 + 9 * 8 bytes
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    for (std::size_t at : {std::size_t{18}, std::size_t{27 + 5 * 32}})  // the control-point and the knot count
        for (std::uint64_t n : {(std::uint64_t{1} << 24) + 300, std::uint64_t{1} << 60, ~std::uint64_t{0}}) {
            std::string r = full;
            for (int i = 0; i < 8; ++i) r[at + static_cast<std::size_t>(i)] = static_cast<char>(n >> (8 * i));
            V3dCurveNurbsPlus c = OpenCubic();
            std::istringstream in(r, std::ios::binary);
            EXPECT_THROW(in >> c, std::length_error) << at << " " << n;
            EXPECT_TRUE(in.fail());
            EXPECT_TRUE(hostile::Same(c.GetControlPoints(), OpenCubic().GetControlPoints()) &&
                        hostile::Same(c.GetKnots(), OpenCubic().GetKnots()));
        }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileReaders, RefusedDocumentsLeaveTheCurveAndNameTheProblem) {
    const std::string doc = V3dCurveNurbsPlusDocument::Save(OpenCubic(), "curve");
    std::vector<std::string> docs = {"", "<NURBS_CURVE/>", doc.substr(0, doc.find("</Knots>")),
                                     "<!DOCTYPE x SYSTEM \"file:///etc/passwd\"><NURBS_CURVE/>",
                                     "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"aaaa\">]>"
                                     "<NURBS_CURVE><Order>&a;</Order></NURBS_CURVE>"};
    for (const char* count : {"4294967295", "18446744073709551615", "99999999999999999999999", "-1", "NaN"}) {
        docs.push_back(Replace(doc, "<Count>5</Count>", std::string("<Count>") + count + "</Count>"));
        docs.push_back(Replace(doc, "<Count>9</Count>", std::string("<Count>") + count + "</Count>"));
    }
    for (const char* order : {"256", "-4", "four"})
        docs.push_back(Replace(doc, "<Order>4</Order>", std::string("<Order>") + order + "</Order>"));
    docs.push_back(Replace(doc, "VelSAX.size=\"160\"", "VelSAX.size=\"18446744073709551615\""));
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    for (const std::string& d : docs) {
        V3dCurveNurbsPlus c = OpenCubic();
        c.SetOrder(3);  // a field Reset would overwrite
        const V3dCurveNurbsPlus before(c);
        const VelSAX::VSAXReadResult result = V3dCurveNurbsPlusDocument::Load(d, c);
        EXPECT_FALSE(result.ok) << d.substr(0, 200);
        EXPECT_FALSE(result.message.empty());
        EXPECT_TRUE(c == before && c.GetOrder() == 3) << d.substr(0, 200);
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}
