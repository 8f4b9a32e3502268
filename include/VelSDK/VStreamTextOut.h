// VStreamTextOut: formats values into a text of the chosen character type, the way the
// tagged documents of VelSAX store them.
#pragma once

#include <charconv>
#include <cstddef>
#include <string>
#include <system_error>

namespace VelSAX {

/// Appends formatted values to a string.
///
/// bool is written "true" or "false"; integers in decimal (unsigned char as a number, not as
/// a character); double in the shortest decimal form that reads back to the same value
/// ("inf", "-inf", "nan" for the special values).
template <typename CharT>
class VStreamTextOut {
public:
    using string_type = std::basic_string<CharT>;

    VStreamTextOut& operator<<(bool value) { return _Ascii(value ? "true" : "false"); }
    VStreamTextOut& operator<<(unsigned char value) { return _Integer(static_cast<unsigned int>(value)); }
    VStreamTextOut& operator<<(unsigned short value) { return _Integer(value); }
    VStreamTextOut& operator<<(unsigned int value) { return _Integer(value); }
    VStreamTextOut& operator<<(unsigned long value) { return _Integer(value); }
    VStreamTextOut& operator<<(unsigned long long value) { return _Integer(value); }
    VStreamTextOut& operator<<(int value) { return _Integer(value); }
    VStreamTextOut& operator<<(long value) { return _Integer(value); }
    VStreamTextOut& operator<<(long long value) { return _Integer(value); }
    VStreamTextOut& operator<<(double value) {
        char buffer[64];
        const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof(buffer), value);
        return _Ascii(buffer, static_cast<std::size_t>(r.ptr - buffer));
    }
    VStreamTextOut& operator<<(const CharT* text) {
        m_text += text;
        return *this;
    }
    VStreamTextOut& operator<<(const string_type& text) {
        m_text += text;
        return *this;
    }

    const string_type& str() const { return m_text; }
    void clear() { m_text.clear(); }

private:
    template <typename Integer>
    VStreamTextOut& _Integer(Integer value) {
        char buffer[32];
        const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof(buffer), value);
        return _Ascii(buffer, static_cast<std::size_t>(r.ptr - buffer));
    }
    VStreamTextOut& _Ascii(const char* text) {
        while (*text) m_text.push_back(static_cast<CharT>(*text++));
        return *this;
    }
    VStreamTextOut& _Ascii(const char* text, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) m_text.push_back(static_cast<CharT>(text[i]));
        return *this;
    }

    string_type m_text;
};

}  // namespace VelSAX
