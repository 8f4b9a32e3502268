// Loading and saving fitted curves: XML documents (.xml) and binary records (.nrb).
#pragma once

#include <VelSDK/V3dCurveNurbsPlus.h>

#include <string>

namespace nurbs_tool {

enum class CurveFormat { Xml, Binary };

/// Curve files of the nurbs program. An XML document is the library's curve document
/// (V3dCurveNurbsPlusDocument: one "NURBS_CURVE" root element); a binary record is the
/// library's operator<< / operator>> record, alone in its file.
class CurveFile {
public:
    /// By extension: ".xml" or ".nrb" (case-insensitive); UsageError otherwise.
    static CurveFormat FormatOf(const std::string& path);
    /// Reads a valid curve; InputError naming the file (and the line, for XML) otherwise.
    static V3dCurveNurbsPlus Load(const std::string& path);
    /// Writes the curve in the format of the extension; InputError when it cannot be written.
    static void Save(const V3dCurveNurbsPlus& curve, const std::string& path);

    static std::string ToXml(const V3dCurveNurbsPlus& curve);
    static std::string ToBinary(const V3dCurveNurbsPlus& curve);
    static V3dCurveNurbsPlus FromXml(const std::string& text, const std::string& name);
    static V3dCurveNurbsPlus FromBinary(const std::string& bytes, const std::string& name);

    /// The name of the root element of an XML text ("" when none is found).
    static std::string RootElement(const std::string& text);
    /// Lower-case extension with its dot (".xml"), or "".
    static std::string Extension(const std::string& path);
};

}  // namespace nurbs_tool
