// Name accessors of the exchanged model.
#include <VelSDK/CadModel.h>

namespace VelSDK {
namespace Exchange {

namespace {
const std::string kNoName;
}

const std::string& CadModel::CurveName(std::size_t i) const { return i < curveNames.size() ? curveNames[i] : kNoName; }
const std::string& CadModel::SurfaceName(std::size_t i) const {
    return i < surfaceNames.size() ? surfaceNames[i] : kNoName;
}

}  // namespace Exchange
}  // namespace VelSDK
