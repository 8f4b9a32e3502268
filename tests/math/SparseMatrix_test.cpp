// SparseMatrix and SolveLinearSystem: store rule, matrix operations, pivoting, and bitwise
// equivalence with the literal cubic reference on many random systems.
#include "math/SparseLU.h"
#include "math/SparseMatrix.h"
#include "support/LiteralSolver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

using namespace VelSDK::NURBS;
using namespace VelSDK::Math;
using reference::LiteralSolve;
using reference::LiteralSparseMatrix;

namespace {

using Rhs = std::vector<std::vector<double>>;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof(double)) == 0; }

// The same sequence of Set calls applied to both matrices.
struct SetCall {
    std::size_t row, column;
    double value;
};

struct System {
    std::size_t rows, columns, bandwidth;
    std::vector<SetCall> sets;
    Rhs B;
};

SparseMatrix BuildFast(const System& s) {
    SparseMatrix m(s.rows, s.columns, s.bandwidth);
    for (const auto& c : s.sets) m.Set(c.row, c.column, c.value);
    return m;
}
LiteralSparseMatrix BuildLiteral(const System& s) {
    LiteralSparseMatrix m(s.rows, s.columns, s.bandwidth);
    for (const auto& c : s.sets) m.Set(c.row, c.column, c.value);
    return m;
}

// Exact comparison of the stored rows: same columns and value bits in the same order.
void ExpectSameRows(const SparseMatrix& fast, const LiteralSparseMatrix& lit) {
    ASSERT_EQ(fast.RowCount(), lit.RowCount());
    ASSERT_EQ(fast.ColumnCount(), lit.ColumnCount());
    ASSERT_EQ(fast.Bandwidth(), lit.Bandwidth());
    for (std::size_t i = 0; i < lit.RowCount(); ++i) {
        const auto& row = lit.Row(i);
        ASSERT_EQ(fast.RowLength(i), row.size()) << "row " << i;
        const SparseMatrix::Entry* e = fast.RowEntries(i);
        for (std::size_t q = 0; q < row.size(); ++q) {
            EXPECT_EQ(e[q].column, row[q].first) << "row " << i << " entry " << q;
            EXPECT_TRUE(SameBits(e[q].value, row[q].second)) << "row " << i << " entry " << q;
        }
    }
}

// Builds both matrices (the same stored rows), solves with both solvers and compares the
// return value and every bit of the result. Returns the common result.
bool ExpectSameSolve(const System& s, const char* what) {
    SparseMatrix fast = BuildFast(s);
    LiteralSparseMatrix lit = BuildLiteral(s);
    ExpectSameRows(fast, lit);
    Rhs bf = s.B, bl = s.B;
    const bool rf = SolveLinearSystem(fast, bf);
    const bool rl = LiteralSolve(lit, bl);
    EXPECT_EQ(rf, rl) << what;
    if (!rf) {
        // On failure the right-hand sides are untouched.
        for (std::size_t i = 0; i < bf.size(); ++i)
            EXPECT_EQ(0, std::memcmp(bf[i].data(), s.B[i].data(), bf[i].size() * sizeof(double))) << what;
    }
    if (rf != rl) return rf;
    EXPECT_EQ(bf.size(), bl.size()) << what;
    for (std::size_t i = 0; i < bf.size() && i < bl.size(); ++i) {
        EXPECT_EQ(bf[i].size(), bl[i].size()) << what;
        if (bf[i].size() != bl[i].size()) continue;
        EXPECT_EQ(0, std::memcmp(bf[i].data(), bl[i].data(), bf[i].size() * sizeof(double)))
            << what << ": row " << i << " first value " << bf[i][0] << " vs " << bl[i][0];
    }
    return rf;
}

class RandomSystems {
public:
    explicit RandomSystems(std::uint64_t seed) : m_rng(seed) {}

    std::size_t Int(std::size_t lo, std::size_t hi) {
        return std::uniform_int_distribution<std::size_t>(lo, hi)(m_rng);
    }
    double Real(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(m_rng); }
    bool Chance(double p) { return Real(0.0, 1.0) < p; }

    // Values of several kinds: small integers (exact cancellation, so updates fall below
    // DBL_EPSILON), widely spread magnitudes (multipliers below DBL_EPSILON, row swaps),
    // plain uniform values, and now and then a value that Set ignores.
    double Value(int kind) {
        const double sign = Chance(0.5) ? -1.0 : 1.0;
        switch (kind) {
            case 0:
                return static_cast<double>(static_cast<long>(Int(1, 3))) * sign;
            case 1:
                return sign * (Chance(0.3) ? std::pow(10.0, Real(-9.0, 9.0)) : Real(0.5, 2.0));
            default:
                if (Chance(0.02)) return sign * 1e-17;
                return Real(-1.0, 1.0);
        }
    }

    Rhs RightHandSides(std::size_t n, std::size_t k) {
        Rhs B(n, std::vector<double>(k));
        for (auto& row : B)
            for (auto& x : row) {
                const double r = Real(0.0, 1.0);
                x = r < 0.1 ? 0.0 : r < 0.2 ? -0.0 : Real(-10.0, 10.0);
            }
        return B;
    }

    // Rows of a banded system: row i holds the columns lo(i) .. lo(i) + width - 1 with lo
    // non-decreasing (as the rows of a B-spline collocation matrix), stored in column
    // order or shuffled.
    System Banded(std::size_t n, std::size_t width, int kind) {
        System s{n, n, width == 0 ? 0 : width - 1, {}, RightHandSides(n, Int(1, 4))};
        if (Chance(0.3)) s.bandwidth = Int(0, s.bandwidth + 2);  // too small (or large) for the rows
        std::size_t lo = 0;
        for (std::size_t i = 0; i < n; ++i) {
            // Keep lo within reach of the diagonal, so most systems are regular.
            const std::size_t target = i * (n > width ? n - width : 0) / std::max<std::size_t>(n - 1, 1);
            if (lo < target && Chance(0.97)) lo = target;
            std::vector<std::size_t> cols;
            for (std::size_t c = lo; c < lo + width && c < n; ++c) cols.push_back(c);
            if (Chance(0.3)) std::shuffle(cols.begin(), cols.end(), m_rng);
            for (const std::size_t c : cols) s.sets.push_back({i, c, Value(kind)});
            if (Chance(0.05) && !cols.empty()) s.sets.push_back({i, cols[0], Value(kind)});  // overwrite
        }
        return s;
    }

    // A general sparse system with the given density; the diagonal is filled with
    // probability diag so that some systems are singular.
    System General(std::size_t n, double density, double diag, int kind) {
        System s{n, n, Int(0, n), {}, RightHandSides(n, Int(1, 4))};
        for (std::size_t i = 0; i < n; ++i) {
            std::vector<std::size_t> cols;
            for (std::size_t c = 0; c < n; ++c)
                if ((c == i && Chance(diag)) || Chance(density)) cols.push_back(c);
            std::shuffle(cols.begin(), cols.end(), m_rng);
            for (const std::size_t c : cols) s.sets.push_back({i, c, Value(kind)});
        }
        return s;
    }

    // One value of the system (a coefficient or a right-hand side) replaced by one that is not
    // finite or overflows on the way: 0.0 times it is NaN, so absent coefficients count.
    void Poison(System& s) {
        const double inf = std::numeric_limits<double>::infinity();
        const double bad[] = {inf, -inf, std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300};
        const double v = bad[Int(0, 4)];
        if (Chance(0.5) && !s.sets.empty()) {
            s.sets[Int(0, s.sets.size() - 1)].value = v;
        } else if (!s.B.empty()) {
            std::vector<double>& row = s.B[Int(0, s.B.size() - 1)];
            row[Int(0, row.size() - 1)] = v;
        }
    }

private:
    std::mt19937_64 m_rng;
};

}  // namespace

// --- Store rule and access ---------------------------------------------------------------

TEST(SparseMatrix, SetGetAndStoreRule) {
    SparseMatrix m(3, 4, 1);
    EXPECT_EQ(m.RowCount(), 3u);
    EXPECT_EQ(m.ColumnCount(), 4u);
    EXPECT_EQ(m.Get(1, 2), 0.0);
    m.Set(1, 2, 0.5);
    m.Set(1, 2, 1e-17);  // below DBL_EPSILON: the existing entry keeps 0.5
    EXPECT_EQ(m.Get(1, 2), 0.5);
    m.Set(0, 0, 2.0e-16);  // below DBL_EPSILON: no entry
    EXPECT_EQ(m.RowLength(0), 0u);
    m.Set(0, 0, DBL_EPSILON);  // exactly DBL_EPSILON is stored
    EXPECT_EQ(m.Get(0, 0), DBL_EPSILON);
    m.Set(1, 0, -3.0);
    m.Set(1, 2, 7.0);  // replaces in place
    m.Set(1, 3, 1.0);  // a third entry in a row reserved for two
    ASSERT_EQ(m.RowLength(1), 3u);
    EXPECT_EQ(m.RowEntries(1)[0].column, 2u);  // stored order, not column order
    EXPECT_EQ(m.RowEntries(1)[0].value, 7.0);
    EXPECT_EQ(m.RowEntries(1)[1].column, 0u);
    EXPECT_EQ(m.RowEntries(1)[2].column, 3u);
    EXPECT_EQ(m.Get(1, 0), -3.0);
    EXPECT_EQ(m.Get(2, 3), 0.0);
}

// --- Solver: rules ---------------------------------------------------------------------

// Small systems built to reach each rule of the elimination, against the literal reference
// (same return value, same bits, right-hand sides untouched on failure).
TEST(SolveLinearSystem, HandMadeSystemsMatchLiteral) {
    const double above100 = std::nextafter(100.0, 200.0);
    const System cases[] = {
        // 1 x 1: one division per value; without a coefficient the last pivot is tested.
        {1, 1, 0, {{0, 0, 3.0}}, {{1.0, -2.0, 0.7}}},
        {1, 1, 0, {}, {{1.0}}},
        // The last row without a coefficient in the last column; a last pivot stored (above
        // DBL_EPSILON) but vanishing against its row scale (1.4e-16 of it).
        {2, 2, 1, {{0, 0, 1}, {1, 0, 1}}, {{1.0}, {2.0}}},
        {2, 2, 1, {{0, 0, 100}, {0, 1, 100}, {1, 0, 100}, {1, 1, above100}}, {{1.0}, {2.0}}},
        // Scaled pivoting: candidates 1/1000 and 1 pick row 1; with bandwidth 0 the scale scan
        // stops after the first entry, both scales are 1 and row 0 stays the pivot.
        {2, 2, 1, {{0, 0, 1}, {0, 1, 1000}, {1, 0, 1}, {1, 1, 1}}, {{1001.0}, {2.0}}},
        {2, 2, 0, {{0, 0, 1}, {0, 1, 1000}, {1, 0, 1}, {1, 1, 1}}, {{1001.0}, {2.0}}},
        // Swapped rows; a zero first column; the identity.
        {2, 2, 1, {{0, 1, 1}, {1, 0, 1}}, {{3.5, -1.0}, {-2.25, 8.0}}},
        {3, 3, 2, {{0, 1, 1}, {1, 2, 1}, {2, 1, 2}, {2, 2, 1}}, {{1, 2}, {3, 4}, {5, 6}}},
        {3, 3, 0, {{0, 0, 1}, {1, 1, 1}, {2, 2, 1}}, {{0.1, 1e300}, {-1.0, -0.0}, {2.0, 0.0}}},
        // A multiplier 1e-10 / 1e8 below DBL_EPSILON is not stored: the forward substitution
        // uses the eliminated coefficient 1e-10.
        {2, 2, 1, {{0, 0, 1e8}, {0, 1, 1.0}, {1, 0, 1e-10}, {1, 1, 1.0}}, {{1.0}, {2.0}}},
        // An update 1 - 1 = 0 is not stored: the coefficient keeps its value 1 and competes for
        // the next pivot.
        {3,
         3,
         2,
         {{0, 0, 1}, {0, 1, 1}, {0, 2, 1}, {1, 0, 1}, {1, 1, 1}, {1, 2, 2}, {2, 1, 1}, {2, 2, 1}},
         {{1.0}, {2.0}, {3.0}}},
        // Signed zeros: 0 * B[0] = -0.0 subtracted from -0.0 gives +0.0, forward and back.
        {3, 3, 1, {{0, 0, 1}, {1, 1, 1}, {2, 1, 2}, {2, 2, 1}}, {{-5.0}, {0.0}, {-0.0}}},
        {3, 3, 2, {{0, 0, 1}, {0, 1, 1}, {1, 1, 1}, {2, 2, 1}}, {{-0.0}, {0.0}, {-3.0}}},
    };
    int solved = 0;
    for (const System& s : cases) solved += ExpectSameSolve(s, "hand-made") ? 1 : 0;
    EXPECT_EQ(solved, 9);
    // The forward substitution of the signed-zero case gives +0.0, as the reference does.
    SparseMatrix a = BuildFast(cases[11]);
    Rhs B = cases[11].B;
    ASSERT_TRUE(SolveLinearSystem(a, B));
    EXPECT_FALSE(std::signbit(B[2][0]));
}

TEST(SolveLinearSystem, RefusesWhatItCannotSolve) {
    SparseMatrix a(0, 0, 0);
    Rhs empty;
    EXPECT_FALSE(SolveLinearSystem(a, empty));
    // Fewer matrix rows than right-hand sides, and ragged right-hand sides.
    SparseMatrix small(1, 2, 1);
    small.Set(0, 0, 1.0);
    Rhs B{{1.0}, {1.0}};
    EXPECT_FALSE(SolveLinearSystem(small, B));
    SparseMatrix id(2, 2, 0);
    id.Set(0, 0, 1.0);
    id.Set(1, 1, 1.0);
    Rhs ragged{{1.0, 2.0}, {3.0}};
    EXPECT_FALSE(SolveLinearSystem(id, ragged));
    EXPECT_EQ(ragged[1].size(), 1u);
}

// Factorised once and solved column by column (stride 2, the values between untouched): the
// bits of the one-call solve of all columns; the factors handed back leave the object empty.
TEST(SolveLinearSystem, FactorisedOnceSolvedColumnByColumnGivesTheBitsOfOneSolve) {
    RandomSystems gen(5);
    for (int trial = 0; trial < 20; ++trial) {
        System s = gen.Banded(gen.Int(2, 40), gen.Int(2, 5), 2);
        s.B = gen.RightHandSides(s.rows, 3);
        SparseMatrix all = BuildFast(s);
        Rhs B = s.B;
        const bool ok = SolveLinearSystem(all, B);
        SparseLU lu;
        ASSERT_EQ(lu.Compute(BuildFast(s), s.rows), ok);
        for (std::size_t j = 0; j < 3 && ok; ++j) {
            std::vector<double> col(2 * s.rows, 7.0);
            for (std::size_t i = 0; i < s.rows; ++i) col[2 * i] = s.B[i][j];
            ASSERT_TRUE(lu.Solve(col.data(), 1, 2));
            for (std::size_t i = 0; i < s.rows; ++i)
                EXPECT_TRUE(SameBits(B[i][j], col[2 * i]) && col[2 * i + 1] == 7.0);
        }
        lu.TakeFactors();
        EXPECT_TRUE(lu.Size() == 0 && !lu.Ok());
    }
}

// --- Solver: equivalence with the literal reference ----------------------------------------

// Banded systems (some with a bandwidth too small or large for their rows), general sparse
// systems, and banded systems made singular or nearly so (a row copied, a row copied with a
// perturbation near the singularity threshold, a column emptied); every fourth with a value
// that is infinite, NaN or overflows on the way.
TEST(SolveLinearSystem, RandomSystemsMatchLiteralBitForBit) {
    RandomSystems gen(20240601), poison(5);
    int solved = 0, failed = 0;
    for (int trial = 0; trial < 2400; ++trial) {
        const int kind = trial % 3, part = trial % 8;
        System s;
        if (part < 5) {
            s = gen.Banded(trial % 80 == 0 ? gen.Int(100, 300) : gen.Int(1, 40), gen.Int(1, 7), kind);
        } else if (part < 7) {
            const std::size_t n = trial % 160 == 5 ? gen.Int(60, 120) : gen.Int(1, 25);
            const double density = gen.Real(0.02, trial % 5 == 0 ? 1.0 : 0.3);
            s = gen.General(n, density, gen.Chance(0.8) ? 1.0 : 0.7, kind);
        } else {
            s = gen.Banded(gen.Int(2, 30), gen.Int(2, 5), kind);
            const std::size_t a = gen.Int(0, s.rows - 1), b = gen.Int(0, s.rows - 1);
            std::vector<SetCall> extra;
            for (const auto& c : s.sets)
                if (c.row == a && trial % 3 != 2)
                    extra.push_back({b, c.column, c.value * (1.0 + (trial % 3) * gen.Real(-1e-15, 1e-15))});
            if (trial % 3 == 2)
                s.sets.erase(
                    std::remove_if(s.sets.begin(), s.sets.end(), [&](const SetCall& c) { return c.column == a; }),
                    s.sets.end());
            if (a != b) {
                s.sets.erase(std::remove_if(s.sets.begin(), s.sets.end(), [&](const SetCall& c) { return c.row == b; }),
                             s.sets.end());
                s.sets.insert(s.sets.end(), extra.begin(), extra.end());
            }
        }
        if ((trial / 8) % 4 == 3 && part < 7) poison.Poison(s);  // infinite, NaN or overflowing values
        (ExpectSameSolve(s, "random") ? solved : failed)++;
        if (HasFailure()) {
            ADD_FAILURE() << "trial " << trial;
            return;
        }
    }
    // Both outcomes occur, so both paths are compared.
    EXPECT_GT(solved, 1300);
    EXPECT_GT(failed, 300);
}
