// Binary record of a V3dCurveNurbsPlus on standard byte streams.
#pragma once

#include <VelSDK/Export.h>

#include <istream>
#include <ostream>

class V3dCurveNurbsPlus;

/// Writes the record of the curve: minimum and maximum parameter (double), closed-loop flag
/// (1 byte), order (1 byte), number of control points N (uint64), valid flag (1 byte); when
/// valid, then N control points (w*x, w*y, w*z, w as doubles), the knot count K (uint64) and
/// K knots (doubles). Little-endian throughout; 27 bytes for a curve that is not valid.
/// For a valid curve N is the held curve's own control-point count, so that every record
/// written can be read back even after SetNumberControlPoints changed the stored count.
VELSDK_NURBS_API std::ostream& operator<<(std::ostream& stream, const V3dCurveNurbsPlus& curve);

/// Reads a record written by operator<< and rebuilds the curve through Reset. The range,
/// order and N are applied as read; a record whose valid flag is 0 invalidates the curve.
/// A stream that ends early leaves zeros in place of the missing values (the stream's
/// failbit stays set) and Reset acts on them, up to 2^24 control points and 2^24 + 256 knots
/// whatever the number of bytes present. A larger count is read as far as the data go; if the
/// stream ends first, failbit is set and std::length_error thrown instead of allocating gigabytes
/// of zeros (the range, order and count fields are then applied, the held curve is unchanged).
VELSDK_NURBS_API std::istream& operator>>(std::istream& stream, V3dCurveNurbsPlus& curve);
