// CadModel: the curves and surfaces that one CAD exchange file carries, with their names and
// length unit. The STEP and IGES readers fill it; the writers store it.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <string>
#include <vector>

namespace VelSDK {
namespace Exchange {

/// Length unit of the coordinates in an exchange file. Coordinates are never scaled: a
/// reader reports the unit the file declares, a writer declares the unit it is given.
enum class LengthUnit {
    Millimetre,
    Metre,
    Other  ///< read only: the file declares another unit (see CadModel::metresPerUnit)
};

/// Curves and surfaces in file order (writers keep the order, readers return it).
/// A name list shorter than its object list leaves the remaining objects unnamed; names longer
/// than 255 bytes are cut by the writers.
struct VELSDK_NURBS_API CadModel {
    std::vector<NURBS::V3dNurbsCurve> curves;
    std::vector<std::string> curveNames;
    std::vector<NURBS::V3dNurbsSurface> surfaces;
    std::vector<std::string> surfaceNames;
    LengthUnit unit = LengthUnit::Millimetre;
    /// Size of one coordinate unit in metres (0.001 for millimetres); readers set it from the
    /// file, writers ignore it.
    double metresPerUnit = 0.001;

    /// Name of curve i, or "" when the name list is shorter.
    const std::string& CurveName(std::size_t i) const;
    /// Name of surface i, or "" when the name list is shorter.
    const std::string& SurfaceName(std::size_t i) const;
};

}  // namespace Exchange
}  // namespace VelSDK
