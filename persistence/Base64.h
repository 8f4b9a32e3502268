// Base64 (RFC 4648, standard alphabet, padded) for the binary blocks of VelSAX documents.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace VelSAX {
namespace detail {

/// Appends the base64 text of data to out, breaking the text into lines of 76 characters,
/// each line preceded by linePrefix (a newline and indentation).
void Base64Encode(std::string_view data, std::string& out, std::string_view linePrefix);

/// Decodes base64 text, skipping XML whitespace (space, tab, CR, LF) anywhere. Canonical
/// input only: the length without whitespace is a multiple of 4, '=' appears only as the
/// last one or two characters, and unused bits of the last group are zero. On failure
/// returns false, leaves out empty and puts a short description into error.
bool Base64Decode(std::string_view text, std::vector<unsigned char>& out, std::string& error);

/// Upper bound of the bytes that text of this length decodes to.
inline std::size_t Base64MaxDecodedSize(std::size_t textLength) { return textLength / 4 * 3 + 3; }

}  // namespace detail
}  // namespace VelSAX
