// Reading of data points and point grids from text files (CSV or whitespace-separated).
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/VMatrix.h>

#include <cstddef>
#include <string>
#include <vector>

namespace nurbs_tool {

/// Points read from a file, with the line each came from (for error messages).
struct PointList {
    std::string file;
    std::vector<VelSDK::Math::point<double, 3>> points;
    std::vector<std::size_t> lines;
    std::size_t columns = 0;  ///< 2 or 3 (z = 0 for 2)
};

/// A grid of points: rows along U, columns along V, row-major.
struct PointGrid {
    std::string file;
    VelSDK::NURBS::VMatrix<VelSDK::Math::point<double, 3>> points;
    std::size_t rows = 0;
    std::size_t cols = 0;
};

/// Reads point files.
///
/// Point files: one point per line, 2 or 3 numbers (x, y[, z]; z = 0 for 2), separated by
/// commas or by blanks. '#' starts a comment (whole line or the rest of a line); blank lines
/// are skipped; the first non-comment line may be a header whose fields are all non-numbers
/// (e.g. "x,y,z"). Every row must have as many numbers as the first; numbers must be finite.
///
/// Grid files: either the shape first, as a line of two integers "rows,cols" or as the
/// comments "# rows: R" and "# cols: C", followed by rows * cols points one per line in
/// row-major order; or one row of the grid per line, each line holding the x,y,z triples of
/// its points (all lines with the same count).
///
/// Every problem throws InputError with "file:line: problem". The name "-" reads standard input.
class PointReader {
public:
    static PointList ReadPoints(const std::string& path);
    static PointGrid ReadGrid(const std::string& path);

    /// The same on text already in memory; name is used in messages.
    static PointList ParsePoints(const std::string& text, const std::string& name);
    static PointGrid ParseGrid(const std::string& text, const std::string& name);

    /// The whole file ("-" = standard input); InputError when it cannot be read.
    static std::string ReadFile(const std::string& path);
};

}  // namespace nurbs_tool
