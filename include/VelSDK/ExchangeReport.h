// ExchangeReport: what a reader or writer of an exchange file achieved.
#pragma once

#include <VelSDK/Export.h>

#include <cstddef>
#include <string>
#include <vector>

namespace VelSDK {
namespace Exchange {

/// Outcome of one read or write. On failure `error` says what went wrong and, for a reader,
/// `line` is the 1-based line of the file where it was found ("line 12: ..." also opens the
/// message); the model the reader was given is then left empty.
struct VELSDK_NURBS_API ExchangeReport {
    bool ok = false;
    std::string error;
    std::size_t line = 0;
    /// Things done on the way that the caller may want to know: entities skipped by a reader
    /// (with their type names and counts), values a writer could not express.
    std::vector<std::string> notes;
    std::size_t curves = 0;    ///< curves read or written
    std::size_t surfaces = 0;  ///< surfaces read or written
};

}  // namespace Exchange
}  // namespace VelSDK
