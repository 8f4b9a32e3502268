// Batch segmentation: many fitted curves cut into polylines on several threads.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dCurve.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <cstddef>
#include <string>
#include <vector>

namespace VelSDK {
namespace Batch {

/// The outcome of one segmentation of a batch.
struct SegmentResult {
    V3dCurve::RCode code = V3dCurve::Failure;
    /// Empty on success; otherwise why.
    std::string error;
    /// The polyline's parameters (empty after a failure).
    std::vector<double> parameters;
};

/// Segments every curve under one chord tolerance. V3dCurveNurbsPlus::Segment clamps the held
/// curve in place, so each item segments its own copy: the caller's curves are only read (they
/// may be used by other readers meanwhile, but not changed) and come back untouched. result[i]
/// holds copy.Segment(parameters, tolerance, false), bit for bit that single call on a copy of
/// curves[i] (or on curves[i] itself, whose geometry the clamp keeps). A null pointer or a
/// curve that is not valid fails alone ("no curve", "the curve is not valid") without a call;
/// a tolerance that is not a positive finite number fails every item. threads as for FitMany;
/// an item that runs out of memory fails with "out of memory".
VELSDK_NURBS_API std::vector<SegmentResult> SegmentMany(const std::vector<const V3dCurveNurbsPlus*>& curves,
                                                        double tolerance, std::size_t threads);
VELSDK_NURBS_API std::vector<SegmentResult> SegmentMany(const std::vector<V3dCurveNurbsPlus>& curves, double tolerance,
                                                        std::size_t threads);

}  // namespace Batch
}  // namespace VelSDK
