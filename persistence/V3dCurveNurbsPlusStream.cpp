// The raw little-endian record of a fitted curve.
#include <VelSDK/V3dCurveNurbsPlusStream.h>

#include <VelSDK/Point.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include "persistence/ReaderLimits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Point4 = VelSDK::Math::point<double, 4>;

// The record is little-endian whatever the host's byte order.
void PutU64(unsigned char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint64_t GetU64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
}
void PutDouble(unsigned char* p, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof(bits));
    PutU64(p, bits);
}
double GetDouble(const unsigned char* p) {
    const std::uint64_t bits = GetU64(p);
    double d;
    std::memcpy(&d, &bits, sizeof(d));
    return d;
}

// Reads size bytes into p; returns the number of bytes actually read. Missing bytes stay
// as they were (the caller zeroed them). The stream's state is not examined first: a stream
// that already failed simply delivers nothing.
std::size_t ReadBytes(std::istream& stream, unsigned char* p, std::size_t size) {
    if (size == 0) return 0;
    stream.read(reinterpret_cast<char*>(p), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(stream.gcount());
}

[[noreturn]] void TooLong(const char* what, std::uint64_t count, std::uint64_t present) {
    throw std::length_error("V3dCurveNurbsPlus record: " + std::to_string(count) + " " + what +
                            " announced but the stream ended after " + std::to_string(present));
}

// Reads count items of itemSize bytes into a vector of zero items. The vector grows with the
// data that arrives, a block at a time; if the stream ends early, the remaining items are
// zero when count is at most zeroFillLimit, else failbit is set and std::length_error thrown.
template <typename T, typename Decode>
std::vector<T> ReadItems(std::istream& stream, std::uint64_t count, std::size_t itemSize, std::size_t zeroFillLimit,
                         const char* what, Decode decode) {
    std::vector<T> items;
    constexpr std::size_t kBlockItems = 4096;
    std::vector<unsigned char> buffer;
    std::uint64_t done = 0;
    while (done < count) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, kBlockItems));
        buffer.assign(n * itemSize, 0);
        const std::size_t got = ReadBytes(stream, buffer.data(), buffer.size());
        if (got < buffer.size() && count > zeroFillLimit) {
            stream.setstate(std::ios::failbit);
            TooLong(what, count, done + got / itemSize);
        }
        for (std::size_t i = 0; i < n; ++i) items.push_back(decode(buffer.data() + i * itemSize));
        done += n;
        if (got < buffer.size()) {
            // The stream ended: the rest are zeros (the decode of zero bytes is 0.0).
            items.resize(static_cast<std::size_t>(count), T{});
            break;
        }
    }
    return items;
}

}  // namespace

std::ostream& operator<<(std::ostream& stream, const V3dCurveNurbsPlus& curve) {
    const bool valid = curve.IsValid();
    const std::vector<Point4>& points = curve.GetControlPoints();
    // A valid curve announces the number of records that follow (the held curve's count);
    // an invalid one stores the count field as it is.
    const std::uint64_t n = valid ? points.size() : curve.GetNumberControlPoints();

    unsigned char head[27];
    PutDouble(head + 0, curve.GetMinParameter());
    PutDouble(head + 8, curve.GetMaxParameter());
    head[16] = curve.IsClosedLoop() ? 1 : 0;
    head[17] = curve.GetOrder();
    PutU64(head + 18, n);
    head[26] = valid ? 1 : 0;
    stream.write(reinterpret_cast<const char*>(head), sizeof(head));
    if (!valid) return stream;

    std::vector<unsigned char> bytes(points.size() * 32);
    for (std::size_t i = 0; i < points.size(); ++i)
        for (std::size_t k = 0; k < 4; ++k) PutDouble(bytes.data() + 32 * i + 8 * k, points[i][k]);
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

    const std::vector<double>& knots = curve.GetKnots();
    unsigned char count[8];
    PutU64(count, knots.size());
    stream.write(reinterpret_cast<const char*>(count), sizeof(count));
    bytes.assign(knots.size() * 8, 0);
    for (std::size_t i = 0; i < knots.size(); ++i) PutDouble(bytes.data() + 8 * i, knots[i]);
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return stream;
}

std::istream& operator>>(std::istream& stream, V3dCurveNurbsPlus& curve) {
    // Every value starts at zero; bytes the stream does not deliver stay zero.
    unsigned char range[16] = {};
    ReadBytes(stream, range, sizeof(range));
    curve.SetMinParameter(GetDouble(range));
    curve.SetMaxParameter(GetDouble(range + 8));

    unsigned char closed = 0;
    ReadBytes(stream, &closed, 1);

    unsigned char order = 0;
    ReadBytes(stream, &order, 1);
    curve.SetOrder(order);

    unsigned char countBytes[8] = {};
    ReadBytes(stream, countBytes, sizeof(countBytes));
    const std::uint64_t n = GetU64(countBytes);
    if (n > SIZE_MAX) {
        stream.setstate(std::ios::failbit);
        TooLong("control points", n, 0);
    }
    curve.SetNumberControlPoints(static_cast<std::size_t>(n));

    unsigned char valid = 0;
    ReadBytes(stream, &valid, 1);
    if (valid == 0) {
        curve.Invalidate();
        return stream;
    }

    std::vector<Point4> points = ReadItems<Point4>(
        stream, n, 32, VelSDK::PersistenceDetail::kZeroFillPoints, "control points", [](const unsigned char* p) {
            return Point4{GetDouble(p), GetDouble(p + 8), GetDouble(p + 16), GetDouble(p + 24)};
        });

    std::fill(std::begin(countBytes), std::end(countBytes), 0);
    ReadBytes(stream, countBytes, sizeof(countBytes));
    const std::uint64_t k = GetU64(countBytes);
    std::vector<double> knots = ReadItems<double>(stream, k, 8, VelSDK::PersistenceDetail::kZeroFillKnots, "knots",
                                                  [](const unsigned char* p) { return GetDouble(p); });

    curve.Reset(points, knots, order, closed != 0);
    return stream;
}
