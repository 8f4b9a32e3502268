// Loading and saving NURBS surfaces in the program's own XML document layout.
#pragma once

#include <VelSDK/V3dNurbsSurface.h>

#include <string>

namespace nurbs_tool {

/// Surface documents of the nurbs program. The library stores fitted curves only, so the
/// surface layout belongs to this program (SurfaceFile.cpp); it is written and read with the
/// library's VelSAX document framework, like the curve's "NURBS_CURVE" element:
///
///   NURBS_SURFACE
///     DegreeU, DegreeV   unsigned decimal
///     ControlPoints
///       Dim              "4"
///       DataType         "double"
///       Rows, Cols       grid size (rows along U, columns along V)
///       Data             binary block: w*x, w*y, w*z, w of every grid point, row-major
///     KnotsU, KnotsV
///       DataType         "double"
///       Count            number of knots
///       Data             binary block: every knot
class SurfaceFile {
public:
    /// Reads a valid surface from a ".xml" file; InputError naming the file and line otherwise.
    static VelSDK::NURBS::V3dNurbsSurface Load(const std::string& path);
    static void Save(const VelSDK::NURBS::V3dNurbsSurface& surface, const std::string& path);

    static std::string ToXml(const VelSDK::NURBS::V3dNurbsSurface& surface);
    static VelSDK::NURBS::V3dNurbsSurface FromXml(const std::string& text, const std::string& name);
};

}  // namespace nurbs_tool
