// XML 1.0 names and character data.
#include "persistence/XmlText.h"

#include <stdexcept>

namespace VelSAX {
namespace detail {
namespace {

bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-'; }

// The Char production of XML 1.0.
bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
    out.reserve(out.size() + text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        char32_t c;
        if (!NextCodePoint(text, i, c))
            throw std::invalid_argument("VelSAX: text is not valid UTF-8 (byte " + std::to_string(start) + ")");
        if (!IsXmlChar(c))
            throw std::invalid_argument("VelSAX: text holds a character XML 1.0 cannot carry (byte " +
                                        std::to_string(start) + ")");
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '"':
                if (attribute)
                    out += "&quot;";
                else
                    out.push_back('"');
                break;
            case '\t':
                if (attribute)
                    out += "&#9;";
                else
                    out.push_back('\t');
                break;
            case '\n':
                if (attribute)
                    out += "&#10;";
                else
                    out.push_back('\n');
                break;
            default:
                out.append(text.data() + start, i - start);
        }
    }
}

}  // namespace

// RFC 3629, sec. 3 and 4: the length from the lead byte, continuation bytes 10xxxxxx, and no
// overlong form (below the smallest code point of the length), surrogate or value above U+10FFFF.
bool NextCodePoint(std::string_view text, std::size_t& i, char32_t& c) {
    const unsigned char b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        c = b0;
        ++i;
        return true;
    }
    std::size_t length;
    char32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, c = b0 & 0x1F, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, c = b0 & 0x0F, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, c = b0 & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return false;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += length;
    return true;
}

bool IsXmlName(std::string_view name) {
    if (name.empty() || !IsNameStart(name[0])) return false;
    for (const char c : name)
        if (!IsNameChar(c)) return false;
    return true;
}

void AppendEscapedText(std::string& out, std::string_view text) { AppendEscaped(out, text, false); }
void AppendEscapedAttribute(std::string& out, std::string_view text) { AppendEscaped(out, text, true); }

std::string_view TrimXmlSpace(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsXmlSpace(text[b])) ++b;
    while (e > b && IsXmlSpace(text[e - 1])) --e;
    return text.substr(b, e - b);
}

}  // namespace detail
}  // namespace VelSAX
