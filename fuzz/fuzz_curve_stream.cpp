// Reads arbitrary bytes as a sequence of fitted-curve records. Reading must stay inside its
// buffers, allocate in proportion to its input (counts beyond that end in
// std::length_error) and terminate; a valid curve read must write and read back to the same
// bits, and every member of the curve read must work on it (UseCurve).
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusStream.h>

#include "UseCurve.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    for (int record = 0; record < 8 && in.good(); ++record) {
        V3dCurveNurbsPlus curve;
        try {
            in >> curve;
        } catch (const std::length_error&) {
            if (!in.fail()) std::abort();  // only a short stream may announce too much
            return 0;
        }
        fuzz::UseCurve(curve);
        if (!curve.IsValid()) continue;
        std::stringstream copy;
        copy << curve;
        V3dCurveNurbsPlus back;
        copy >> back;
        const auto& pa = curve.GetControlPoints();
        const auto& pb = back.GetControlPoints();
        if (!back.IsValid() || pa.size() != pb.size() || curve.GetKnots().size() != back.GetKnots().size() ||
            std::memcmp(pa.data(), pb.data(), pa.size() * sizeof(pa[0])) != 0 ||
            std::memcmp(curve.GetKnots().data(), back.GetKnots().data(), curve.GetKnots().size() * sizeof(double)) != 0)
            std::abort();
    }
    return 0;
}
