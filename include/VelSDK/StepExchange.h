// STEP (ISO 10303-21 exchange structure) for NURBS curves and surfaces: a writer of
// B_SPLINE_CURVE_WITH_KNOTS / B_SPLINE_SURFACE_WITH_KNOTS (rational ones as the complex
// instances with RATIONAL_B_SPLINE_CURVE / RATIONAL_B_SPLINE_SURFACE) in an AP214 product
// with a unit context, and a tolerant reader of the same entities.
#pragma once

#include <VelSDK/CadModel.h>
#include <VelSDK/Export.h>
#include <VelSDK/ExchangeReport.h>

#include <iosfwd>
#include <string>

namespace VelSDK {
namespace Exchange {

struct VELSDK_NURBS_API StepWriteOptions {
    /// Declared length unit (coordinates are written as they are).
    LengthUnit unit = LengthUnit::Millimetre;
    /// Name of the product that holds the geometry (shown by CAD importers).
    std::string productName = "VelSDK.Nurbs geometry";
    /// FILE_NAME time stamp (ISO 8601). Empty: the current UTC time.
    std::string timeStamp;
};

/// Writes every curve and surface of `model` into one STEP file: one product whose shape
/// representation holds a geometric set (curves only: a geometric curve set) of all objects,
/// millimetre or metre as length unit, 1e-7 as distance uncertainty.
/// Each object becomes one B-spline entity: degree, control points as CARTESIAN_POINTs
/// (x, y, z) = (wx / w, wy / w, wz / w), chosen among the nearest doubles so that x * w gives
/// back wx exactly wherever such a double exists; weights (rational objects only: any weight
/// other than 1); distinct knots with their multiplicities; closed_curve / u_closed / v_closed
/// when the two ends (boundaries) coincide to 1e-12 of the control-net size; self_intersect
/// unknown (.U.), since it is not proven. Numbers are written as the shortest decimal that
/// reads back to the same double (at most 17 significant digits).
/// Fails, writing nothing, when the model is empty or an object cannot be written: invalid
/// (IsValid() false), degree 0, non-finite values, a weight <= 0, or decreasing knots.
/// A surface whose stored range is narrower than its knot domain is written over the whole
/// domain, with a note.
VELSDK_NURBS_API ExchangeReport WriteStep(std::ostream& out, const CadModel& model,
                                          const StepWriteOptions& options = StepWriteOptions());
/// WriteStep into a file (created or replaced); an unwritable path fails.
VELSDK_NURBS_API ExchangeReport SaveStep(const std::string& path, const CadModel& model,
                                         const StepWriteOptions& options = StepWriteOptions());

/// Reads the B-spline curves and surfaces of a STEP file given as its text: every instance
/// of B_SPLINE_CURVE_WITH_KNOTS / B_SPLINE_SURFACE_WITH_KNOTS, simple or complex (with
/// RATIONAL_B_SPLINE_CURVE / _SURFACE weights), in the order of their instance numbers, with
/// their names; the length unit from the SI_UNIT / CONVERSION_BASED_UNIT of the file.
/// Tolerant of the exchange-structure syntax: comments, line breaks and blanks anywhere
/// between tokens, references to instances defined later, `$` and `*`, typed parameters,
/// complex instances, any header. Other entities, and B-splines whose points are not 3-D
/// (curves in parameter space), are skipped with a note naming their types and counts.
/// Errors (the model is left empty, the message names the line): not an exchange structure,
/// truncated file (unterminated string, comment, instance or section), syntax errors,
/// repeated instance numbers, references to missing instances or to instances of the wrong
/// type, counts that do not match (control points, weights, multiplicities against knots),
/// numbers that are not finite doubles, nesting deeper than 64 lists, and a file without a
/// supported curve or surface. Memory: the text plus a fixed amount per instance plus the
/// parsed parameters of one instance at a time; the time is linear in the text.
VELSDK_NURBS_API ExchangeReport ReadStep(const std::string& text, CadModel& model);
/// ReadStep of a file's contents; an unreadable file fails.
VELSDK_NURBS_API ExchangeReport LoadStep(const std::string& path, CadModel& model);

}  // namespace Exchange
}  // namespace VelSDK
