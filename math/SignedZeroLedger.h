// SignedZeroLedger: what the terms a sparse substitution skips would have done to a -0.0.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace VelSDK {
namespace Math {

/// Prefix counts of sign bits, per right-hand-side column, of the values a substitution has
/// produced position by position.
///
/// A substitution that skips an absent coefficient skips the term t -= (+0.0) * x. That term
/// changes nothing, except that it turns t = -0.0 into +0.0 when x has its sign bit set
/// (-0.0 - (-0.0) = +0.0). A running value can only be -0.0 when some right-hand side holds
/// -0.0, so only then is the ledger kept: counts[c * k + j] is the number of sign bits among
/// the values of column j at the positions on one side of c (below c in the forward
/// substitution, from c on in the back substitution), and a -0.0 becomes +0.0 exactly when a
/// skipped range of positions holds a sign bit.
struct SignedZeroLedger {
    std::size_t k = 0;
    std::vector<std::size_t> counts;

    static bool IsNegativeZero(double x) { return x == 0.0 && std::signbit(x); }

    /// Counts for positions 0..n and k columns, all zero.
    void Reset(std::size_t n, std::size_t columns) {
        k = columns;
        counts.assign((n + 1) * k, 0);
    }

    /// Applies the skipped terms of the positions between from and to (either order) to t.
    void Skip(double* t, std::size_t from, std::size_t to) const {
        const std::size_t* a = counts.data() + from * k;
        const std::size_t* b = counts.data() + to * k;
        for (std::size_t j = 0; j < k; ++j)
            if (IsNegativeZero(t[j]) && a[j] != b[j]) t[j] = 0.0;
    }

    /// counts at position `at` = counts at position `next` plus the sign bits of t.
    void Record(std::size_t at, std::size_t next, const double* t) {
        std::size_t* a = counts.data() + at * k;
        const std::size_t* b = counts.data() + next * k;
        for (std::size_t j = 0; j < k; ++j) a[j] = b[j] + (std::signbit(t[j]) ? 1 : 0);
    }
};

}  // namespace Math
}  // namespace VelSDK
