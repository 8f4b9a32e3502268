// Reads arbitrary bytes as a STEP file and checks the reader's contract (CadReaderCheck.h).
#include "CadReaderCheck.h"

#include <VelSDK/StepExchange.h>

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace VelSDK::Exchange;
    const auto read = [](const std::string& text, CadModel& model) { return ReadStep(text, model); };
    const auto write = [](const CadModel& m) {
        std::ostringstream out;
        StepWriteOptions o;
        o.timeStamp = "2000-01-01T00:00:00";
        o.unit = m.unit == LengthUnit::Metre ? LengthUnit::Metre : LengthUnit::Millimetre;
        if (!WriteStep(out, m, o).ok) std::abort();
        return out.str();
    };
    return VelSDK::Fuzz::CheckCadReader(data, size, read, write);
}
