// The subcommands of the nurbs program: their options and entry points.
//
// Each Add…Command function registers one subcommand (options, help text, examples) on a
// CLI11 application; its callback runs the command after the whole line is parsed and stores
// the exit code. Each Run* function returns the exit code on success (0) and throws InputError (exit 1)
// for a file that cannot be read or used, UsageError (exit 2) for option values that make
// no sense together. CommandLine (CommandLine.cpp) parses the arguments into these structs.
#pragma once

#include <VelSDK/V3dCurveNurbsPlus.h>

#include <cstddef>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace nurbs_tool {

struct FitOptions {
    std::string points;
    std::string output;
    bool closed = false;
    int order = 4;
    std::string param = "chord";    ///< chord | uniform
    std::string knots = "average";  ///< average | uniform
    std::vector<double> startTangent;
    std::vector<double> endTangent;
    bool rawTangents = false;  ///< tangents are derivatives as given, not directions
    bool quiet = false;
    bool hasTolerance = false;  ///< --tolerance given: approximate instead of interpolating
    double tolerance = 0.0;     ///< approximate within this distance (fewest control points)
    bool smooth = false;        ///< with a tolerance: smoothing fit instead of knot placement
    double lambda = -1.0;       ///< smoothing weight; negative: chosen from the tolerance
};

/// nurbs fit --tolerance T: approximation within a distance, with the distance report.
int RunFitTolerance(const FitOptions& o);

/// nurbs fit --batch: every point file of a folder, one curve document each.
struct FitBatchOptions {
    std::string folder;
    std::string output;   ///< folder for the curves and summary.csv
    bool closed = false;  ///< for files without a "# kind:" header line
    int order = 4;
    std::string param = "chord";
    std::string knots = "average";
    std::string format = "xml";  ///< xml | nrb
    std::size_t jobs = 0;        ///< threads; 0 = every hardware thread
    bool quiet = false;
};

struct InfoOptions {
    std::string curve;
};

struct EvalOptions {
    std::string curve;
    std::vector<double> at;
    std::size_t samples = 0;
    int derivatives = 0;
    bool curvature = false;  ///< curvature and torsion columns
    bool frames = false;     ///< rotation-minimising frame columns
    std::string output;
};

/// nurbs reduce: data reduction by knot removal within a tolerance.
struct ReduceOptions {
    std::string input;
    std::string output;
    double tolerance = 0.0;
    bool quiet = false;
};

struct SegmentOptions {
    std::string curve;
    double tolerance = 0.0;
    std::vector<double> keep;
    std::string output;
};

struct ProjectOptions {
    std::string curve;
    std::string points;
    bool local = false;  // the fitted curve's own Newton projection instead of the global nearest point
    double tolerance = 1e-9;
    std::string output;
};

struct SplitOptions {
    std::string curve;
    double at = 0.0;
    std::vector<std::string> outputs;
};

struct ConvertOptions {
    std::string input;
    std::string output;
};

struct SurfaceFitOptions {
    std::string grid;
    std::string output;
    std::vector<int> degree{3, 3};
    std::vector<std::size_t> count;  ///< empty: interpolation
    bool quiet = false;
    double tolerance = 0.0;         ///< > 0: approximation to this distance (ApproximateSurface)
    std::string param = "uniform";  ///< with a tolerance: "uniform" or "chord" parameters
    std::string report;             ///< with a tolerance: CSV of every point's distance and foot
    std::string errorSvg;           ///< with a tolerance: colour map of the distances
    std::string scattered;          ///< scattered points instead of GRID (FitHeightField / FitPointCloud)
    bool cloud = false;             ///< with scattered: a 3-D cloud, not a height field
    double smoothing = -1.0;        ///< with scattered: thin-plate weight (< 0: chosen)
};

struct SurfaceEvalOptions {
    std::string surface;
    std::vector<double> at;  ///< u,v pairs
    std::vector<std::size_t> samples;
    int derivatives = 0;
    std::string output;
};

struct SurfaceProjectOptions {
    std::string surface;
    std::string points;
    bool local = false;  // the surface's own Newton projection instead of the global nearest point
    double tolerance = 1e-9;
    std::size_t iterations = 50;
    std::string output;
};

struct PlotOptions {
    std::string input;
    std::string points;
    std::string output;
    double tolerance = 0.0;    ///< 0: a thousandth of the drawing's extent
    std::string view = "top";  ///< curves: top | front | side | oblique
    std::string title;
    std::size_t lines = 24;  ///< surfaces: iso-curves per direction
    bool project = false;    ///< curves: connect each data point with its nearest curve point
    bool curvature = false;  ///< curves: draw the curvature comb
    bool error = false;      ///< curves: colour the data points by their distance to the curve
    std::string overlay;     ///< curves: a second curve drawn under the first
};

/// UsageError when a chord tolerance is below 1e-12 of the curve's extent.
void CheckTolerance(const V3dCurveNurbsPlus& curve, double tolerance);

void AddFitCommand(CLI::App& app, int& exitCode);
void AddInfoCommand(CLI::App& app, int& exitCode);
void AddEvalCommand(CLI::App& app, int& exitCode);
void AddSegmentCommand(CLI::App& app, int& exitCode);
void AddProjectCommand(CLI::App& app, int& exitCode);
void AddSplitCommand(CLI::App& app, int& exitCode);
void AddConvertCommand(CLI::App& app, int& exitCode);
void AddSurfaceCommand(CLI::App& app, int& exitCode);  ///< "surface" with fit, eval, project
void AddPlotCommand(CLI::App& app, int& exitCode);
void AddReduceCommand(CLI::App& app, int& exitCode);
void AddMeshCommand(CLI::App& app, int& exitCode);  ///< MeshCommand.cpp

int RunFit(const FitOptions& options);
int RunFitBatch(const FitBatchOptions& options);
int RunInfo(const InfoOptions& options);
int RunEval(const EvalOptions& options);
int RunSegment(const SegmentOptions& options);
int RunProject(const ProjectOptions& options);
int RunSplit(const SplitOptions& options);
int RunConvert(const ConvertOptions& options);
int RunSurfaceFit(const SurfaceFitOptions& options);
int RunSurfaceFitTolerance(const SurfaceFitOptions& options);
/// The options of `surface fit` that only approximation to a tolerance uses.
void AddSurfaceToleranceOptions(CLI::App& command, SurfaceFitOptions& options);
int RunSurfaceFitScattered(const SurfaceFitOptions& options);
/// The options of `surface fit` for scattered points.
void AddSurfaceScatteredOptions(CLI::App& command, SurfaceFitOptions& options);
int RunSurfaceEval(const SurfaceEvalOptions& options);
int RunSurfaceProject(const SurfaceProjectOptions& options);
int RunPlot(const PlotOptions& options);

}  // namespace nurbs_tool
