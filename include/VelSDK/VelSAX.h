// VelSAX: a small tagged-document persistence framework.
//
// Objects store themselves as elements of an XML 1.0 document in UTF-8 and restore
// themselves from it. Reading is push-driven: the reader calls HandleTag for every start
// tag (once the element's own text is known) and HandleEndTag for every end tag of the
// elements a handler owns. Writing is pull-driven: the host calls an object's Write with a
// writer. Numbers that need to round-trip bit for bit travel in binary blocks of named
// streams, stored inside the document as base64 text of their "Data" elements.
//
// This header holds the interfaces and the small value types; VSAXDocumentWriter.h and
// VSAXDocumentReader.h hold the XML implementations.
#pragma once

#include <VelSDK/Export.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VelSAX {

class ISAXReader;
class ISAXWriter;

/// Outcome of reading a document: on failure, what went wrong and where (1-based line and
/// column of the element concerned, or of the point where the XML broke).
struct VSAXReadResult {
    bool ok = true;
    std::string message;
    std::size_t line = 0;
    std::size_t column = 0;
    explicit operator bool() const { return ok; }
};

/// Kind of an object identity: unique within one document, or assigned by the host and
/// stable across documents.
enum class SaxIDType : unsigned char { Document = 0, External = 1 };

/// An object that other objects can refer to by an identity.
class VELSDK_NURBS_API ISAXReference {
public:
    virtual ~ISAXReference();
    unsigned int GetObjectId() const { return m_objectId; }
    SaxIDType GetObjectIdType() const { return m_objectIdType; }
    void SetReferenceId(unsigned int id, SaxIDType type) {
        m_objectId = id;
        m_objectIdType = type;
    }

protected:
    ISAXReference() = default;
    ISAXReference(const ISAXReference&) = default;
    ISAXReference& operator=(const ISAXReference&) = default;

private:
    unsigned int m_objectId = 0;
    SaxIDType m_objectIdType = SaxIDType::Document;
};

/// What the reader calls while it reads, and what the host calls to write.
class VELSDK_NURBS_API ISAXPersistBase {
public:
    virtual ~ISAXPersistBase();
    /// Restores the state an object has before any of its elements is read.
    virtual void SetDefaults() = 0;
    /// Start of an element owned by this handler; its text is readable through the reader.
    /// Returning false refuses the element, which ends the reading with an error.
    virtual bool HandleTag(const std::string& name, ISAXReader& reader) = 0;
    /// End of an element owned by this handler (also the handler's own element).
    virtual void HandleEndTag(std::string_view name) = 0;
    /// After the whole document was read: look up referenced objects. Does nothing here.
    virtual void ResolveReferences(ISAXReader& reader);
    /// After ResolveReferences of every object. Does nothing here.
    virtual void InitAfterLoading();
    /// Writes the object's element; false when there is nothing to write.
    virtual bool Write(ISAXWriter& writer) const = 0;
    /// The identity of the object this handler stands for (null when it has none).
    virtual ISAXReference* GetObjectReference() = 0;
    /// Gives GetObjectReference() the identity; ignored when it has none.
    virtual void SetObjectId(unsigned int id, SaxIDType type);
    /// SetObjectId(id, SaxIDType::Document).
    virtual void SetObjectId(unsigned int id);

protected:
    ISAXPersistBase() = default;
    ISAXPersistBase(const ISAXPersistBase&) = default;
    ISAXPersistBase& operator=(const ISAXPersistBase&) = default;
};

/// An object that persists itself and can be referred to.
class VELSDK_NURBS_API ISAXPersist : public ISAXPersistBase, public virtual ISAXReference {
public:
    ~ISAXPersist() override;

protected:
    ISAXPersist() = default;
    ISAXPersist(const ISAXPersist&) = default;
    ISAXPersist& operator=(const ISAXPersist&) = default;
};

/// A persistence helper: stores and restores an object that does not derive from the
/// framework's bases; the helper carries the identity on its behalf.
class VELSDK_NURBS_API ISAXPersistHelper : public ISAXPersist {
public:
    ~ISAXPersistHelper() override;
    /// The helper itself.
    ISAXReference* GetObjectReference() override;

protected:
    ISAXPersistHelper() = default;
    ISAXPersistHelper(const ISAXPersistHelper&) = default;
    ISAXPersistHelper& operator=(const ISAXPersistHelper&) = default;
};

/// Appends little-endian binary values to a named stream of a document being written.
class VELSDK_NURBS_API VSAXStreamBinaryOut {
public:
    explicit VSAXStreamBinaryOut(std::string name);
    VSAXStreamBinaryOut& operator<<(double value);
    VSAXStreamBinaryOut& operator<<(float value);
    VSAXStreamBinaryOut& operator<<(std::uint64_t value);
    VSAXStreamBinaryOut& operator<<(std::uint32_t value);
    VSAXStreamBinaryOut& operator<<(unsigned char value);
    /// Appends raw bytes.
    void Write(const void* data, std::size_t size);

    const std::string& GetName() const { return m_name; }
    /// Bytes ever appended to this stream (its logical size).
    std::uint64_t GetSize() const { return m_base + m_bytes.size(); }
    /// The bytes from logical offset `from` to the end; `from` must not precede the bytes kept.
    std::string_view GetBytes(std::uint64_t from) const;
    /// Forgets the bytes already written into the document; the logical size stays.
    void Release();

private:
    std::string m_name;
    std::vector<unsigned char> m_bytes;
    std::uint64_t m_base = 0;
};

/// Handle of one binary block being written: the named stream and where the block starts.
class VELSDK_NURBS_API VSAXBinaryBlockOut {
public:
    VSAXBinaryBlockOut(VSAXStreamBinaryOut& stream, std::uint64_t offset) : m_stream(&stream), m_offset(offset) {}
    VSAXStreamBinaryOut& Stream() const { return *m_stream; }
    std::uint64_t GetOffset() const { return m_offset; }

private:
    VSAXStreamBinaryOut* m_stream;
    std::uint64_t m_offset;
};

/// Reads little-endian binary values from one block of a document being read. A read past
/// the end of the block leaves the target untouched and sets the failure flag.
class VELSDK_NURBS_API VSAXStreamBinaryIn {
public:
    VSAXStreamBinaryIn() = default;
    explicit VSAXStreamBinaryIn(std::vector<unsigned char> bytes);
    VSAXStreamBinaryIn& operator>>(double& value);
    VSAXStreamBinaryIn& operator>>(float& value);
    VSAXStreamBinaryIn& operator>>(std::uint64_t& value);
    VSAXStreamBinaryIn& operator>>(std::uint32_t& value);
    VSAXStreamBinaryIn& operator>>(unsigned char& value);
    /// Copies size bytes out, or fails without copying when fewer remain.
    bool Read(void* data, std::size_t size);

    bool Failed() const { return m_failed; }
    std::size_t GetSize() const { return m_bytes.size(); }
    std::size_t GetPosition() const { return m_position; }
    std::size_t GetRemaining() const { return m_bytes.size() - m_position; }
    /// Bytes asked for by reads that failed.
    std::size_t GetMissing() const { return m_missing; }

private:
    std::vector<unsigned char> m_bytes;
    std::size_t m_position = 0;
    std::size_t m_missing = 0;
    bool m_failed = false;
};

/// Writes the elements of a document.
class VELSDK_NURBS_API ISAXWriter {
public:
    virtual ~ISAXWriter();
    /// Opens an element as a child of the element open now.
    virtual void StartTag(const std::string& name) = 0;
    /// Appends UTF-8 text to the element open now (escaped as needed).
    virtual void WriteText(const std::string& utf8) = 0;
    /// Closes the element open now, which must be called name.
    virtual void EndTag(const std::string& name) = 0;
    /// Starts a binary block at the end of the named stream; values put into the handle's
    /// stream belong to the block until WriteBinaryData.
    virtual VSAXBinaryBlockOut GetBinaryStream(const std::string& streamName) = 0;
    /// Writes the element `name` that holds the block (from its start to the stream's end).
    virtual void WriteBinaryData(const std::string& name, const VSAXBinaryBlockOut& block) = 0;

protected:
    ISAXWriter() = default;
};

/// Reads the current element while a handler's HandleTag runs.
class VELSDK_NURBS_API ISAXReader {
public:
    virtual ~ISAXReader();
    /// The element text: "true"/"false" (or "1"/"0"), surrounding whitespace ignored.
    virtual bool ReadValue(bool& value) = 0;
    /// The element text as an unsigned decimal number of 8 bits.
    virtual bool ReadValue(unsigned char& value) = 0;
    /// The element text as an unsigned decimal number of 32 bits (the width of this type in
    /// documents on every platform, so that documents read alike everywhere).
    virtual bool ReadValue(unsigned long& value) = 0;
    /// The element text as a decimal floating-point number.
    virtual bool ReadValue(double& value) = 0;
    /// The element text, exactly (UTF-8).
    virtual bool ReadValue(std::string& value) = 0;
    /// The element text, exactly, as wide characters.
    virtual bool ReadValue(std::wstring& value) = 0;
    /// The name of the element `depth` levels above the current one (0: the current element);
    /// empty above the root.
    virtual const std::string& ParentTagName(std::size_t depth) const = 0;
    /// The binary block held by the current element.
    virtual VSAXStreamBinaryIn& GetBinaryStream() = 0;
    /// Whether the document being read is large enough to hold count binary values of
    /// bytesEach bytes each: a reader uses it to refuse counts before allocating for them.
    virtual bool CanHold(std::size_t count, std::size_t bytesEach) const = 0;
    /// Hands the current element, its subtree and its end tag to handler, starting with
    /// handler.HandleTag for the current element; returns that call's result.
    virtual bool ReadObject(ISAXPersistBase& handler) = 0;
    /// The object read with this identity, or null.
    virtual ISAXReference* FindReference(unsigned int id) const = 0;

protected:
    ISAXReader() = default;
};

namespace Incremental {

/// Identity of a stored element, kept across incremental saves. 0 means "none yet".
class VELSDK_NURBS_API TagUniqueID {
public:
    TagUniqueID() = default;
    explicit TagUniqueID(std::uint64_t value) : m_value(value) {}
    TagUniqueID(const TagUniqueID&) = default;
    TagUniqueID& operator=(const TagUniqueID&) = default;
    /// The source is left without an identity.
    TagUniqueID(TagUniqueID&& other) noexcept : m_value(other.m_value) { other.m_value = 0; }
    TagUniqueID& operator=(TagUniqueID&& other) noexcept {
        if (this != &other) {
            m_value = other.m_value;
            other.m_value = 0;
        }
        return *this;
    }

    bool IsInitialized() const { return m_value != 0; }
    std::uint64_t GetValue() const { return m_value; }
    bool operator==(const TagUniqueID& other) const { return m_value == other.m_value; }
    bool operator!=(const TagUniqueID& other) const { return m_value != other.m_value; }

private:
    std::uint64_t m_value = 0;
};

/// A writer that saves incrementally: elements stored unchanged in the previous document
/// are carried over instead of being written again.
class VELSDK_NURBS_API ISAXIncrementalWriter {
public:
    virtual ~ISAXIncrementalWriter();
    /// True when the element with this identity is stored unchanged; the writer then carries
    /// the stored element over into the document at the current place.
    virtual bool IsUpToDate(const TagUniqueID& tag) = 0;
    /// Gives the element just opened an identity and returns it.
    virtual TagUniqueID GetCurrentTag() = 0;

protected:
    ISAXIncrementalWriter() = default;
};

/// A reader that reports the identities stored with elements.
class VELSDK_NURBS_API ISAXIncrementalReader {
public:
    virtual ~ISAXIncrementalReader();
    /// The identity of the element `depth` levels above the current one (0: the current
    /// element) provided it is called name; otherwise none.
    virtual TagUniqueID GetTag(const std::string& name, std::size_t depth) const = 0;

protected:
    ISAXIncrementalReader() = default;
};

}  // namespace Incremental

/// Opens an element when made and closes it when it goes out of scope, also while an
/// exception leaves the scope.
class VELSDK_NURBS_API VSAXTagWriter {
public:
    VSAXTagWriter(ISAXWriter& writer, std::string name);
    ~VSAXTagWriter();
    VSAXTagWriter(const VSAXTagWriter&) = delete;
    VSAXTagWriter& operator=(const VSAXTagWriter&) = delete;

private:
    ISAXWriter& m_writer;
    std::string m_name;
};

}  // namespace VelSAX
