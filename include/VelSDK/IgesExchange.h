// IGES 5.3 for NURBS curves and surfaces: a writer of entity 126 (rational B-spline curve)
// and entity 128 (rational B-spline surface) in the fixed 80-column layout, and a reader of
// the same entities.
#pragma once

#include <VelSDK/CadModel.h>
#include <VelSDK/Export.h>
#include <VelSDK/ExchangeReport.h>

#include <iosfwd>
#include <string>

namespace VelSDK {
namespace Exchange {

struct VELSDK_NURBS_API IgesWriteOptions {
    /// Declared length unit (units flag 2 = millimetre or 6 = metre); coordinates are written
    /// as they are.
    LengthUnit unit = LengthUnit::Millimetre;
    /// File name field of the global section.
    std::string fileName = "nurbs.igs";
    /// Date of generation "YYYYMMDD.HHNNSS". Empty: the current UTC time.
    std::string timeStamp;
};

/// Writes every curve (entity 126) and surface (entity 128) of `model` into one IGES 5.3 file:
/// Start, Global, Directory Entry, Parameter Data and Terminate sections of 80-column records
/// with sequence numbers; strings as Hollerith constants; each object independent (status
/// 00000000) with the first 8 characters of its name (printable ASCII) as entity label.
/// PROP flags: planar (curves whose control points lie in one plane, with its normal), closed
/// (ends or boundaries coincide to 1e-12 of the net size), polynomial (all weights 1),
/// periodic 0 (the full knot vector is always written). Numbers as in WriteStep: the
/// shortest decimal that reads back to the same double; Cartesian control points as x = wx / w.
/// Fails, writing nothing, on the same objects as WriteStep.
VELSDK_NURBS_API ExchangeReport WriteIges(std::ostream& out, const CadModel& model,
                                          const IgesWriteOptions& options = IgesWriteOptions());
/// WriteIges into a file (created or replaced).
VELSDK_NURBS_API ExchangeReport SaveIges(const std::string& path, const CadModel& model,
                                         const IgesWriteOptions& options = IgesWriteOptions());

/// Reads entities 126 and 128 of an IGES file given as its text (fixed format; records of at
/// least 73 columns, a CR before the line break is ignored), in directory order with their
/// labels; the unit from the global section's units flag. Curves in parameter space (entity
/// use flag 05) and every other entity are skipped with a note. Errors (the model is left
/// empty, the message names the line): not an IGES file, compressed form, sections out of
/// order or missing, sequence numbers out of order, a directory entry pointing outside the
/// parameter section, parameter data that do not match the counts (K, M, knots, weights,
/// points), non-finite numbers, decreasing knots, non-positive weights, a file without a
/// supported curve or surface. Memory: the text plus the parameters of one entity.
VELSDK_NURBS_API ExchangeReport ReadIges(const std::string& text, CadModel& model);
/// ReadIges of a file's contents.
VELSDK_NURBS_API ExchangeReport LoadIges(const std::string& path, CadModel& model);

}  // namespace Exchange
}  // namespace VelSDK
