// Base64 encoding and strict decoding.
#include "persistence/Base64.h"

#include <cstdint>

namespace VelSAX {
namespace detail {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineLength = 76;

// 0..63 for alphabet characters, 64 for '=', 65 for XML whitespace, 255 otherwise.
struct DecodeTable {
    unsigned char v[256];
    constexpr DecodeTable() : v() {
        for (int i = 0; i < 256; ++i) v[i] = 255;
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
        v[static_cast<unsigned char>('=')] = 64;
        v[static_cast<unsigned char>(' ')] = 65;
        v[static_cast<unsigned char>('\t')] = 65;
        v[static_cast<unsigned char>('\r')] = 65;
        v[static_cast<unsigned char>('\n')] = 65;
    }
};
constexpr DecodeTable kDecode{};

}  // namespace

void Base64Encode(std::string_view data, std::string& out, std::string_view linePrefix) {
    const std::size_t groups = (data.size() + 2) / 3;
    const std::size_t chars = groups * 4;
    out.reserve(out.size() + chars + (chars / kLineLength + 1) * linePrefix.size());
    std::size_t column = kLineLength;  // forces a prefix before the first character
    auto put = [&](char c) {
        if (column == kLineLength) {
            out.append(linePrefix);
            column = 0;
        }
        out.push_back(c);
        ++column;
    };
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t g = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8) | p[i + 2];
        put(kAlphabet[(g >> 18) & 63]);
        put(kAlphabet[(g >> 12) & 63]);
        put(kAlphabet[(g >> 6) & 63]);
        put(kAlphabet[g & 63]);
    }
    const std::size_t rest = data.size() - i;
    if (rest == 1) {
        const std::uint32_t g = std::uint32_t{p[i]} << 16;
        put(kAlphabet[(g >> 18) & 63]);
        put(kAlphabet[(g >> 12) & 63]);
        put('=');
        put('=');
    } else if (rest == 2) {
        const std::uint32_t g = (std::uint32_t{p[i]} << 16) | (std::uint32_t{p[i + 1]} << 8);
        put(kAlphabet[(g >> 18) & 63]);
        put(kAlphabet[(g >> 12) & 63]);
        put(kAlphabet[(g >> 6) & 63]);
        put('=');
    }
}

bool Base64Decode(std::string_view text, std::vector<unsigned char>& out, std::string& error) {
    out.clear();
    out.reserve(Base64MaxDecodedSize(text.size()));
    std::uint32_t group = 0;
    int filled = 0;   // sextets in the current group
    int padding = 0;  // '=' seen so far
    std::size_t position = 0;
    for (const char ch : text) {
        const unsigned char code = kDecode.v[static_cast<unsigned char>(ch)];
        ++position;
        if (code == 65) continue;
        if (code == 255) {
            error = "character " + std::to_string(position) + " is not base64";
            out.clear();
            return false;
        }
        if (code == 64) {
            // '=' may only fill the third or fourth place of the last group.
            if (filled < 2) {
                error = "misplaced padding at character " + std::to_string(position);
                out.clear();
                return false;
            }
            ++padding;
            ++filled;
        } else {
            if (padding != 0) {
                error = "data after padding at character " + std::to_string(position);
                out.clear();
                return false;
            }
            group = (group << 6) | code;
            ++filled;
        }
        if (filled == 4) {
            if (padding == 0) {
                out.push_back(static_cast<unsigned char>(group >> 16));
                out.push_back(static_cast<unsigned char>(group >> 8));
                out.push_back(static_cast<unsigned char>(group));
            } else if (padding == 1) {
                // 3 sextets = 18 bits: 2 bytes and 2 unused bits.
                if (group & 0x3) {
                    error = "non-zero unused bits before padding";
                    out.clear();
                    return false;
                }
                out.push_back(static_cast<unsigned char>(group >> 10));
                out.push_back(static_cast<unsigned char>(group >> 2));
            } else {
                // 2 sextets = 12 bits: 1 byte and 4 unused bits.
                if (group & 0xF) {
                    error = "non-zero unused bits before padding";
                    out.clear();
                    return false;
                }
                out.push_back(static_cast<unsigned char>(group >> 4));
            }
            if (padding != 0) padding = 3;  // nothing may follow a padded group
            group = 0;
            filled = 0;
        }
    }
    if (filled != 0) {
        error = "length is not a multiple of 4";
        out.clear();
        return false;
    }
    return true;
}

}  // namespace detail
}  // namespace VelSAX
