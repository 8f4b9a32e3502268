// Point and grid conventions that host programs rely on.
#include <VelSDK/Point.h>
#include <VelSDK/VMatrix.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

using VelSDK::Math::point;
using VelSDK::NURBS::VMatrix;
namespace M = VelSDK::Math;

TEST(Point, IsAPlainAggregateOfDoubles) {
    static_assert(std::is_trivially_copyable<point<double, 3>>::value, "");
    static_assert(sizeof(point<double, 3>) == 3 * sizeof(double), "");
    point<double, 3> p{1.0, 2.0, 3.0};
    p[1] = 5.0;
    EXPECT_EQ(p, (point<double, 3>{1, 5, 3}));
    EXPECT_EQ((std::vector<point<double, 4>>(5)[4]), (point<double, 4>{0, 0, 0, 0}));
    // Default initialisation (no braces) zeroes too, even over storage that held other bits.
    alignas(point<double, 3>) unsigned char storage[sizeof(point<double, 3>)];
    std::memset(storage, 0xff, sizeof storage);
    const point<double, 3>* d = new (storage) point<double, 3>;
    EXPECT_EQ(*d, (point<double, 3>{0, 0, 0}));
}

TEST(Point, HomogeneousProjectionAndSegmentParameter) {
    const point<double, 3> c = M::ToCartesian(point<double, 4>{2, 4, 6, 2});
    EXPECT_EQ(c, (point<double, 3>{1, 2, 3}));

    const point<double, 3> a{0, 0, 0}, b{2, 0, 0};
    EXPECT_EQ(M::SegmentParameter(point<double, 3>{1, 1, 0}, a, b), 0.5);
    EXPECT_GT(M::SegmentParameter(point<double, 3>{3, 0, 0}, a, b), 1.0);
    // Ends 1e-5 apart: squared length 1e-10 < 2^-26, the parameter is 0.5 whatever q is.
    EXPECT_EQ(M::SegmentParameter(point<double, 3>{100, -3, 7}, a, point<double, 3>{1e-5, 0, 0}), 0.5);
}

TEST(Point, ScaledLengthAvoidsOverflowAndUnderflow) {
    EXPECT_EQ(M::ScaledLength(point<double, 3>{0, 0, 0}), 0.0);
    EXPECT_EQ(M::ScaledLength(point<double, 3>{3, 4, 0}), 5.0);
    EXPECT_DOUBLE_EQ(M::ScaledLength(point<double, 3>{1e200, 1e200, 0}), std::sqrt(2.0) * 1e200);
    EXPECT_DOUBLE_EQ(M::ScaledLength(point<double, 3>{3e-200, 0, 4e-200}), 5e-200);
    EXPECT_DOUBLE_EQ(M::ScaledLength(point<double, 3>{1, 2, 2}), 3.0);
}

TEST(VMatrix, LayoutAndCounts) {
    VMatrix<double> m(2, 3, 0.5);
    EXPECT_EQ(m.RowCount(), 2u);
    EXPECT_EQ(m.ColumnCount(), 3u);
    m(1, 2) = 7.0;
    EXPECT_EQ(m.Elements()[5], 7.0);
    const VMatrix<double>& cm = m;
    EXPECT_EQ(cm(0, 0), 0.5);

    const VMatrix<double> empty;
    EXPECT_EQ(empty.ColumnCount(), 0u);
    EXPECT_EQ(empty.RowCount(), 0u);
    // Zero columns: the row count is 0, not a division by zero.
    const VMatrix<double> noColumns(5, 0, 1.0);
    EXPECT_EQ(noColumns.RowCount(), 0u);

    VMatrix<point<double, 3>> g(2, 2, point<double, 3>{1, 2, 3});
    VMatrix<point<double, 3>> moved(std::move(g));
    EXPECT_EQ(moved.RowCount(), 2u);
    EXPECT_TRUE(g.Elements().empty());
    EXPECT_EQ(g.ColumnCount(), 2u);
}
