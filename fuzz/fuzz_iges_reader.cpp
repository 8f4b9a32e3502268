// Reads arbitrary bytes as an IGES file and checks the reader's contract (CadReaderCheck.h).
#include "CadReaderCheck.h"

#include <VelSDK/IgesExchange.h>

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace VelSDK::Exchange;
    const auto read = [](const std::string& text, CadModel& model) { return ReadIges(text, model); };
    const auto write = [](const CadModel& m) {
        std::ostringstream out;
        IgesWriteOptions o;
        o.timeStamp = "20000101.000000";
        o.unit = m.unit == LengthUnit::Metre ? LengthUnit::Metre : LengthUnit::Millimetre;
        if (!WriteIges(out, m, o).ok) std::abort();
        return out.str();
    };
    return VelSDK::Fuzz::CheckCadReader(data, size, read, write);
}
