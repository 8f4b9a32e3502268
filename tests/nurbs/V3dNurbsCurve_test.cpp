#include <VelSDK/Nurbs.h>
#include "support/TestAccess.h"
#include <gtest/gtest.h>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using TA = V3dNurbsCurveTestAccess;

TEST(CurveSmoke, BezierMid) {
    V3dNurbsCurve c({{0, 0, 0, 1}, {1, 2, 0, 1}, {2, 0, 0, 1}}, {0, 0, 0, 1, 1, 1}, 2);
    auto p = c.EvaluateAt(0.5);
    EXPECT_EQ(p[0], 1.0);
    EXPECT_EQ(p[1], 1.0);
    auto d = c.DeriveAt(0.5, 3);
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[1][0], 2.0);
    EXPECT_EQ(d[2][1], -8.0);
}
