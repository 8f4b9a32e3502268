// CAD exchange files of the nurbs program: STEP (.step, .stp) and IGES (.igs, .iges) through
// the library's exchange readers and writers, with errors as the program reports them.
#pragma once

#include <VelSDK/CadModel.h>

#include <string>

namespace nurbs_tool {

struct ConvertOptions;

class ExchangeFile {
public:
    /// True for .step, .stp, .igs and .iges (case-insensitive).
    static bool IsExchange(const std::string& path);
    /// Reads every B-spline curve and surface; InputError "file:line: problem" otherwise.
    /// Notes of the reader (skipped entities) go to standard error unless quiet.
    static VelSDK::Exchange::CadModel Load(const std::string& path, bool quiet = false);
    /// Writes the model in the format of the extension (millimetres); InputError on failure.
    static void Save(const VelSDK::Exchange::CadModel& model, const std::string& path);
};

/// `nurbs convert` when one side is a STEP or IGES file: curve documents (.xml, .nrb) and
/// surface documents (.xml) to STEP/IGES, the first curve or surface of a STEP/IGES file to a
/// document, or STEP <-> IGES with every object.
int RunExchangeConvert(const ConvertOptions& options);

}  // namespace nurbs_tool
