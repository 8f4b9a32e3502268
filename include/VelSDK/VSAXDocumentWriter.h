// VSAXDocumentWriter: writes a VelSAX document as XML 1.0 in UTF-8.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/VelSAX.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace VelSAX {

/// Writes one document into memory.
///
/// The document starts with an XML declaration and has exactly one root element; element
/// names are ASCII XML names ([A-Za-z_][A-Za-z0-9_.-]*). Text is escaped; text that is not
/// valid UTF-8 or holds a character XML 1.0 cannot carry (control characters other than tab,
/// line feed and carriage return, U+FFFE, U+FFFF) is refused with std::invalid_argument.
/// A binary block becomes an element with the attributes VelSAX.stream (stream name),
/// VelSAX.offset (where the block starts in its stream) and VelSAX.size (bytes), holding
/// the block as base64 text. Elements are indented by two spaces per level.
///
/// Structural misuse (closing an element that is not the one open, a second root element)
/// throws std::logic_error and leaves the writer broken: GetDocument then throws as well.
class VELSDK_NURBS_API VSAXDocumentWriter : public ISAXWriter {
public:
    VSAXDocumentWriter();
    ~VSAXDocumentWriter() override;
    VSAXDocumentWriter(const VSAXDocumentWriter&) = delete;
    VSAXDocumentWriter& operator=(const VSAXDocumentWriter&) = delete;

    void StartTag(const std::string& name) override;
    void WriteText(const std::string& utf8) override;
    void EndTag(const std::string& name) override;
    VSAXBinaryBlockOut GetBinaryStream(const std::string& streamName) override;
    void WriteBinaryData(const std::string& name, const VSAXBinaryBlockOut& block) override;

    /// Adds an attribute to the element just opened (before any text or child). Names as for
    /// elements; the value is escaped.
    void WriteAttribute(const std::string& name, const std::string& value);
    /// Number of elements open now.
    std::size_t GetDepth() const { return m_open.size(); }
    /// The complete document. Throws std::logic_error while elements are open, before a root
    /// element was written, or after structural misuse.
    const std::string& GetDocument() const;

protected:
    /// Whether an element was opened and nothing written into it yet.
    bool _IsStartTagPending() const { return m_startPending; }
    /// Appends an element carried over verbatim (already well-formed, UTF-8) as the next child.
    void _WriteCarriedElement(std::string_view element);

private:
    struct OpenElement {
        std::string name;
        bool hasChildren = false;
    };

    void _BeginChild();
    void _CloseStartTag();
    void _Indent(std::size_t depth);
    [[noreturn]] void _Broken(const std::string& message);

    std::string m_out;
    std::vector<OpenElement> m_open;
    std::map<std::string, std::unique_ptr<VSAXStreamBinaryOut>> m_streams;
    bool m_startPending = false;
    bool m_rootWritten = false;
    bool m_broken = false;
};

}  // namespace VelSAX
