// Reads arbitrary bytes as an IGES file. The reader must stay inside its buffers, allocate in
// proportion to the text and terminate; a refusal must name a line; what it accepts must be
// valid, writable, and a fixed point of write + read (the second file equals the first).
#include <VelSDK/IgesExchange.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

using VelSDK::Exchange::CadModel;

namespace {

std::string Write(const CadModel& m) {
    std::ostringstream out;
    VelSDK::Exchange::IgesWriteOptions o;
    o.timeStamp = "20000101.000000";
    o.unit = m.unit == VelSDK::Exchange::LengthUnit::Metre ? VelSDK::Exchange::LengthUnit::Metre
                                                           : VelSDK::Exchange::LengthUnit::Millimetre;
    if (!VelSDK::Exchange::WriteIges(out, m, o).ok) std::abort();
    return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CadModel model;
    const auto report = VelSDK::Exchange::ReadIges(text, model);
    if (!report.ok) {
        if (report.line == 0 || report.error.rfind("line ", 0) != 0) std::abort();
        if (!model.curves.empty() || !model.surfaces.empty()) std::abort();
        return 0;
    }
    if (model.curves.size() + model.surfaces.size() == 0) std::abort();
    for (const auto& c : model.curves) {
        if (!c.IsValid()) std::abort();
        for (const auto& p : c.GetControlPoints())
            if (!(p[3] > 0.0)) std::abort();
    }
    for (const auto& s : model.surfaces)
        if (!s.IsValid()) std::abort();
    // Coordinates times weights may overflow to infinity, which the writer refuses; such
    // files are accepted by the reader but have no written form to compare.
    for (const auto& c : model.curves)
        for (const auto& p : c.GetControlPoints())
            for (int k = 0; k < 3; ++k)
                if (!std::isfinite(p[k])) return 0;
    for (const auto& s : model.surfaces)
        for (const auto& p : s.GetControlPoints().Elements())
            for (int k = 0; k < 3; ++k)
                if (!std::isfinite(p[k])) return 0;
    const std::string once = Write(model);
    CadModel again;
    if (!VelSDK::Exchange::ReadIges(once, again).ok) std::abort();
    if (Write(again) != once) std::abort();
    return 0;
}
