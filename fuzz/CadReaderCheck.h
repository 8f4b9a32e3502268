// The property both CAD-file fuzz targets check: the reader stays inside its buffers, allocates
// in proportion to the text and terminates; a refusal names a line and leaves the model empty;
// what it accepts is valid, writable, and a fixed point of write + read (the second file equals
// the first).
#pragma once

#include <VelSDK/CadModel.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace VelSDK {
namespace Fuzz {

// read(text, model) -> report with ok/line/error; write(model) -> text (aborts on failure).
template <class Read, class Write>
int CheckCadReader(const std::uint8_t* data, std::size_t size, Read read, Write write) {
    using Exchange::CadModel;
    const std::string text(reinterpret_cast<const char*>(data), size);
    CadModel model;
    const auto report = read(text, model);
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
    // Coordinates times weights may overflow to infinity, which the writers refuse; such
    // files are accepted by the reader but have no written form to compare.
    for (const auto& c : model.curves)
        for (const auto& p : c.GetControlPoints())
            for (int k = 0; k < 3; ++k)
                if (!std::isfinite(p[k])) return 0;
    for (const auto& s : model.surfaces)
        for (const auto& p : s.GetControlPoints().Elements())
            for (int k = 0; k < 3; ++k)
                if (!std::isfinite(p[k])) return 0;
    const std::string once = write(model);
    CadModel again;
    if (!read(once, again).ok) std::abort();
    if (write(again) != once) std::abort();
    return 0;
}

}  // namespace Fuzz
}  // namespace VelSDK
