// Parameterization helpers shared by the curve fitting functions of the module.
#pragma once

#include "Common.h"

namespace velsdk_py {

/// Chord-length parameters of Q with the fitted curve's rule; for closed, Q is the wrapped
/// list (the first p points repeated at the end).
std::vector<double> ChordLengthParameters(const std::vector<Point3>& Q, std::size_t p, bool closed);

/// Q followed by copies of its first p points.
std::vector<Point3> WrapClosed(const std::vector<Point3>& Q, std::size_t p);

}  // namespace velsdk_py
