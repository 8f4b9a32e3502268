// Named tolerances of the test suite, one place for every comparison that is not bit for bit.
// Each is the bound of a stated error source, not a guess; a test that needs a looser bound
// names its own reason beside it.
#pragma once

namespace VelSDK {
namespace test {
namespace tolerance {

/// Two ways of summing the same few basis-weighted terms of unit-sized data (the library's
/// triangle against Cox-de Boor summation): a few hundred ulps of 1.
constexpr double kEvaluation = 1e-12;
/// Round-off of a short sum of unit-sized terms, such as a partition of unity.
constexpr double kRoundOff = 1e-14;
/// A banded solve of a well-conditioned system against its dense or literal counterpart.
constexpr double kSolve = 1e-10;
/// A Newton foot point against the minimum of dense sampling (limited by the sampling).
constexpr double kFootPoint = 1e-6;
/// Central finite differences with step 1e-5 of the range: O(h^2) truncation.
constexpr double kFiniteDifference = 1e-4;

}  // namespace tolerance
}  // namespace test
}  // namespace VelSDK
