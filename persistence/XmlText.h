// Checks and escaping of XML 1.0 names and character data shared by the VelSAX writer and
// reader.
#pragma once

#include <string>
#include <string_view>

namespace VelSAX {
namespace detail {

/// Decodes the UTF-8 sequence at text[i] (i < text.size()) into c and advances i past it.
/// False, with i unchanged, for malformed UTF-8 (truncated, overlong, surrogate, beyond
/// U+10FFFF).
bool NextCodePoint(std::string_view text, std::size_t& i, char32_t& c);

/// ASCII XML name: [A-Za-z_][A-Za-z0-9_.-]*.
bool IsXmlName(std::string_view name);

/// Appends text escaped for element content (&, <, > and CR as references). Throws
/// std::invalid_argument for invalid UTF-8 or characters XML 1.0 cannot carry.
void AppendEscapedText(std::string& out, std::string_view text);

/// Appends text escaped for a double-quoted attribute value (also ", tab and LF).
void AppendEscapedAttribute(std::string& out, std::string_view text);

/// XML whitespace: space, tab, CR, LF.
inline bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/// text without leading and trailing XML whitespace.
std::string_view TrimXmlSpace(std::string_view text);

}  // namespace detail
}  // namespace VelSAX
