// Splits a fuzzer's byte string into the typed values a target needs. Reads past the end
// give zeros, so every input is usable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t Byte() {
        if (m_pos >= m_size) return 0;
        return m_data[m_pos++];
    }
    double Double() {
        double d = 0.0;
        unsigned char b[sizeof(double)] = {};
        for (unsigned char& c : b) c = Byte();
        std::memcpy(&d, b, sizeof d);
        return d;
    }
    /// A double that is "interesting" more often than raw bits would be: small integers,
    /// simple fractions, and every so often the raw bits (NaN, inf, subnormals, huge).
    double Number() {
        const std::uint8_t kind = Byte();
        switch (kind % 4) {
            case 0:
                return static_cast<double>(static_cast<std::int8_t>(Byte()));
            case 1:
                return static_cast<double>(Byte()) / 16.0;
            case 2:
                return static_cast<double>(static_cast<std::int8_t>(Byte())) / 64.0 + Byte() * 1e-3;
            default:
                return Double();
        }
    }
    bool Empty() const { return m_pos >= m_size; }
    std::size_t Remaining() const { return m_pos >= m_size ? 0 : m_size - m_pos; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

}  // namespace fuzz
