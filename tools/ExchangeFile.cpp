// STEP and IGES files for the nurbs program, and the exchange side of `nurbs convert`.
#include "ExchangeFile.h"

#include "Commands.h"
#include "CurveFile.h"
#include "SurfaceFile.h"
#include "ToolError.h"

#include <VelSDK/IgesExchange.h>
#include <VelSDK/StepExchange.h>

#include <fstream>
#include <iostream>
#include <iterator>

namespace nurbs_tool {

using VelSDK::Exchange::CadModel;
using VelSDK::Exchange::ExchangeReport;

namespace {

bool IsStep(const std::string& path) {
    const std::string e = CurveFile::Extension(path);
    return e == ".step" || e == ".stp";
}

std::string StemOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

bool ExchangeFile::IsExchange(const std::string& path) {
    const std::string e = CurveFile::Extension(path);
    return e == ".step" || e == ".stp" || e == ".igs" || e == ".iges";
}

CadModel ExchangeFile::Load(const std::string& path, bool quiet) {
    CadModel model;
    const ExchangeReport r =
        IsStep(path) ? VelSDK::Exchange::LoadStep(path, model) : VelSDK::Exchange::LoadIges(path, model);
    if (!r.ok) {
        // The library's message starts "line N: "; the program's form is "file:N: ".
        const std::string prefix = "line " + std::to_string(r.line) + ": ";
        const std::string problem = r.error.rfind(prefix, 0) == 0 ? r.error.substr(prefix.size()) : r.error;
        throw InputError(Where(path, r.line, problem));
    }
    if (!quiet)
        for (const std::string& note : r.notes) std::cerr << path << ": " << note << '\n';
    return model;
}

void ExchangeFile::Save(const CadModel& model, const std::string& path) {
    ExchangeReport r;
    if (IsStep(path)) {
        VelSDK::Exchange::StepWriteOptions o;
        o.productName = StemOf(path);
        r = VelSDK::Exchange::SaveStep(path, model, o);
    } else {
        VelSDK::Exchange::IgesWriteOptions o;
        o.fileName = StemOf(path) + CurveFile::Extension(path);
        r = VelSDK::Exchange::SaveIges(path, model, o);
    }
    if (!r.ok) throw InputError(Where(path, 0, r.error));
}

int RunExchangeConvert(const ConvertOptions& o) {
    const bool in = ExchangeFile::IsExchange(o.input), out = ExchangeFile::IsExchange(o.output);
    CadModel model;
    if (in) {
        model = ExchangeFile::Load(o.input);
    } else if (CurveFile::Extension(o.input) == ".xml") {
        // A surface document has the root NURBS_SURFACE, a curve document NURBS_CURVE.
        std::ifstream file(o.input, std::ios::binary);
        if (!file) throw InputError(Where(o.input, 0, "cannot open"));
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (CurveFile::RootElement(text) == "NURBS_SURFACE") {
            model.surfaces.push_back(SurfaceFile::FromXml(text, o.input));
            model.surfaceNames.push_back(StemOf(o.input));
        }
    }
    if (!in && model.surfaces.empty()) {
        const V3dCurveNurbsPlus c = CurveFile::Load(o.input);
        model.curves.emplace_back(c.GetControlPoints(), c.GetKnots(), static_cast<std::size_t>(c.GetOrder()) - 1);
        model.curveNames.push_back(StemOf(o.input));
    }
    if (out) {
        ExchangeFile::Save(model, o.output);
        std::cout << "written: " << o.output << " (" << model.curves.size() << " curve(s), " << model.surfaces.size()
                  << " surface(s))\n";
        return kExitSuccess;
    }
    // STEP/IGES to a document: the first curve (.nrb, or .xml when the file has curves), else
    // the first surface (.xml).
    const std::string ext = CurveFile::Extension(o.output);
    const std::size_t total = model.curves.size() + model.surfaces.size();
    if (!model.curves.empty() && (ext == ".nrb" || ext == ".xml")) {
        V3dCurveNurbsPlus c;
        const auto& k = model.curves[0];
        if (k.GetDegree() + 1 > 255 ||
            c.Reset(k.GetControlPoints(), k.GetKnots(), static_cast<unsigned char>(k.GetDegree() + 1), false) !=
                V3dCurve::Success)
            throw InputError(Where(o.input, 0, "its first curve cannot be stored as a fitted curve"));
        CurveFile::Save(c, o.output);
        std::cout << "written: " << o.output << " (curve 1 of " << total << " object(s)"
                  << (model.CurveName(0).empty() ? "" : ", '" + model.CurveName(0) + "'") << ")\n";
        return kExitSuccess;
    }
    if (!model.surfaces.empty() && ext == ".xml") {
        SurfaceFile::Save(model.surfaces[0], o.output);
        std::cout << "written: " << o.output << " (surface 1 of " << total << " object(s)"
                  << (model.SurfaceName(0).empty() ? "" : ", '" + model.SurfaceName(0) + "'") << ")\n";
        return kExitSuccess;
    }
    throw UsageError(o.output + ": a surface is stored as .xml, .step, .stp, .igs or .iges");
}

}  // namespace nurbs_tool
