// The framework's base classes, binary streams and scoped tag writer.
#include <VelSDK/VelSAX.h>

#include <cstring>
#include <stdexcept>
#include <utility>

namespace VelSAX {
namespace {

// Binary values are stored little-endian whatever the host's byte order.
template <typename U>
void PutLittleEndian(std::vector<unsigned char>& bytes, U value) {
    for (std::size_t i = 0; i < sizeof(U); ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

template <typename U>
U GetLittleEndian(const unsigned char* p) {
    U value = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i) value |= static_cast<U>(static_cast<U>(p[i]) << (8 * i));
    return value;
}

}  // namespace

ISAXReference::~ISAXReference() = default;

ISAXPersistBase::~ISAXPersistBase() = default;
void ISAXPersistBase::ResolveReferences(ISAXReader&) {}
void ISAXPersistBase::InitAfterLoading() {}
void ISAXPersistBase::SetObjectId(unsigned int id, SaxIDType type) {
    if (ISAXReference* reference = GetObjectReference()) reference->SetReferenceId(id, type);
}
void ISAXPersistBase::SetObjectId(unsigned int id) { SetObjectId(id, SaxIDType::Document); }

ISAXPersist::~ISAXPersist() = default;

ISAXPersistHelper::~ISAXPersistHelper() = default;
ISAXReference* ISAXPersistHelper::GetObjectReference() { return this; }

ISAXWriter::~ISAXWriter() = default;
ISAXReader::~ISAXReader() = default;
namespace Incremental {
ISAXIncrementalWriter::~ISAXIncrementalWriter() = default;
ISAXIncrementalReader::~ISAXIncrementalReader() = default;
}  // namespace Incremental

// --- VSAXStreamBinaryOut ----------------------------------------------------------------------

VSAXStreamBinaryOut::VSAXStreamBinaryOut(std::string name) : m_name(std::move(name)) {}

VSAXStreamBinaryOut& VSAXStreamBinaryOut::operator<<(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    PutLittleEndian(m_bytes, bits);
    return *this;
}
VSAXStreamBinaryOut& VSAXStreamBinaryOut::operator<<(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    PutLittleEndian(m_bytes, bits);
    return *this;
}
VSAXStreamBinaryOut& VSAXStreamBinaryOut::operator<<(std::uint64_t value) {
    PutLittleEndian(m_bytes, value);
    return *this;
}
VSAXStreamBinaryOut& VSAXStreamBinaryOut::operator<<(std::uint32_t value) {
    PutLittleEndian(m_bytes, value);
    return *this;
}
VSAXStreamBinaryOut& VSAXStreamBinaryOut::operator<<(unsigned char value) {
    m_bytes.push_back(value);
    return *this;
}
void VSAXStreamBinaryOut::Write(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
}

std::string_view VSAXStreamBinaryOut::GetBytes(std::uint64_t from) const {
    if (from < m_base || from > GetSize())
        throw std::out_of_range("VelSAX: binary block of stream \"" + m_name + "\" is no longer available");
    const std::size_t start = static_cast<std::size_t>(from - m_base);
    return std::string_view(reinterpret_cast<const char*>(m_bytes.data()) + start, m_bytes.size() - start);
}

void VSAXStreamBinaryOut::Release() {
    m_base += m_bytes.size();
    m_bytes.clear();
}

// --- VSAXStreamBinaryIn -----------------------------------------------------------------------

VSAXStreamBinaryIn::VSAXStreamBinaryIn(std::vector<unsigned char> bytes) : m_bytes(std::move(bytes)) {}

bool VSAXStreamBinaryIn::Read(void* data, std::size_t size) {
    if (size > GetRemaining()) {
        m_failed = true;
        m_missing += size;
        return false;
    }
    if (size != 0) std::memcpy(data, m_bytes.data() + m_position, size);
    m_position += size;
    return true;
}

VSAXStreamBinaryIn& VSAXStreamBinaryIn::operator>>(double& value) {
    unsigned char b[8];
    if (Read(b, sizeof(b))) {
        const std::uint64_t bits = GetLittleEndian<std::uint64_t>(b);
        std::memcpy(&value, &bits, sizeof(value));
    }
    return *this;
}
VSAXStreamBinaryIn& VSAXStreamBinaryIn::operator>>(float& value) {
    unsigned char b[4];
    if (Read(b, sizeof(b))) {
        const std::uint32_t bits = GetLittleEndian<std::uint32_t>(b);
        std::memcpy(&value, &bits, sizeof(value));
    }
    return *this;
}
VSAXStreamBinaryIn& VSAXStreamBinaryIn::operator>>(std::uint64_t& value) {
    unsigned char b[8];
    if (Read(b, sizeof(b))) value = GetLittleEndian<std::uint64_t>(b);
    return *this;
}
VSAXStreamBinaryIn& VSAXStreamBinaryIn::operator>>(std::uint32_t& value) {
    unsigned char b[4];
    if (Read(b, sizeof(b))) value = GetLittleEndian<std::uint32_t>(b);
    return *this;
}
VSAXStreamBinaryIn& VSAXStreamBinaryIn::operator>>(unsigned char& value) {
    Read(&value, 1);
    return *this;
}

// --- VSAXTagWriter ----------------------------------------------------------------------------

VSAXTagWriter::VSAXTagWriter(ISAXWriter& writer, std::string name) : m_writer(writer), m_name(std::move(name)) {
    m_writer.StartTag(m_name);
}

VSAXTagWriter::~VSAXTagWriter() {
    // A destructor must not throw: when closing fails (typically because an exception is
    // already leaving the scope and left the writer in a broken state) the writer keeps its
    // own failure state and refuses to hand out the document.
    try {
        m_writer.EndTag(m_name);
    } catch (...) {
    }
}

}  // namespace VelSAX
