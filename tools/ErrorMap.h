// A colour map of per-point errors (distances of measured points to a fitted surface) drawn
// over the points' x, y positions on an SVG chart: shared by the grid and scattered fits.
#pragma once

#include <string>
#include <vector>

namespace nurbs_tool {

struct ErrorMapOptions {
    std::string title = "Distance of the points to the surface";
    std::string subtitle;
    /// > 0: points beyond it get a red outline and the colour scale reaches at least to it.
    double tolerance = 0.0;
    /// Side of the square drawn at each point in data units; 0: from the point density
    /// (sqrt(area of the bounding box / points)), which fills an even grid.
    double cell = 0.0;
    std::string xName = "x";
    std::string yName = "y";
};

/// The SVG document: each point (x[k], y[k]) as a square coloured by errors[k] on a viridis
/// scale from 0 to the largest error (or the tolerance, whichever is larger), a colour bar
/// with ticks below the plot. Non-finite errors are drawn grey. x, y and errors have one
/// entry per point (the shortest length counts).
std::string ErrorMapSvg(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& errors,
                        const ErrorMapOptions& options);

}  // namespace nurbs_tool
