// Batch segmentation: each item segments its own copy of the fitted curve, because Segment
// clamps the held curve in place.
#include <VelSDK/BatchSegmentation.h>

#include "math/ParallelFor.h"

#include <cmath>
#include <exception>
#include <new>

namespace VelSDK {
namespace Batch {

std::vector<SegmentResult> SegmentMany(const std::vector<const V3dCurveNurbsPlus*>& curves, double tolerance,
                                       std::size_t threads) {
    std::vector<SegmentResult> results(curves.size());
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) {
        for (SegmentResult& r : results) r.error = "the tolerance must be a positive finite number";
        return results;
    }
    Math::ParallelFor(curves.size(), threads, 1, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            SegmentResult& r = results[i];
            try {
                if (curves[i] == nullptr) {
                    r.error = "no curve";
                    continue;
                }
                if (!curves[i]->IsValid()) {
                    r.error = "the curve is not valid";
                    continue;
                }
                const V3dCurveNurbsPlus copy(*curves[i]);
                r.code = copy.Segment(r.parameters, tolerance, false);
                if (r.code != V3dCurve::Success) {
                    r.parameters.clear();
                    r.error = "the polyline would exceed the segmentation limit";
                }
            } catch (const std::bad_alloc&) {
                r = SegmentResult();
                r.error = "out of memory";
            } catch (const std::exception& e) {
                r = SegmentResult();
                r.error = e.what();
            }
        }
    });
    return results;
}

std::vector<SegmentResult> SegmentMany(const std::vector<V3dCurveNurbsPlus>& curves, double tolerance,
                                       std::size_t threads) {
    std::vector<const V3dCurveNurbsPlus*> pointers(curves.size());
    for (std::size_t i = 0; i < curves.size(); ++i) pointers[i] = &curves[i];
    return SegmentMany(pointers, tolerance, threads);
}

}  // namespace Batch
}  // namespace VelSDK
