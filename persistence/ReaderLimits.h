// How far the readers of a fitted curve fill missing data with zeros. Internal to the library.
#pragma once

#include <cstddef>

namespace VelSDK {
namespace PersistenceDetail {

// A record or document that announces more control points (knots) than it holds gets zeros in
// place of the missing ones, whatever the number of bytes present, up to 2^24 control points
// (512 MiB of zeros) and 2^24 + 256 knots (the longest knot vector of such a curve, order 255).
// Beyond that a count is believed only as far as the data go: a damaged count must not turn a
// few bytes of input into gigabytes of zeros (std::length_error).
constexpr std::size_t kZeroFillPoints = std::size_t{1} << 24;
constexpr std::size_t kZeroFillKnots = kZeroFillPoints + 256;

}  // namespace PersistenceDetail
}  // namespace VelSDK
