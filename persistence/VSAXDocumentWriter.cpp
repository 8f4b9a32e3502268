// XML writer of VelSAX documents.
#include <VelSDK/VSAXDocumentWriter.h>

#include "persistence/Base64.h"
#include "persistence/XmlText.h"

#include <stdexcept>
#include <utility>

namespace VelSAX {

VSAXDocumentWriter::VSAXDocumentWriter() { m_out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"; }

VSAXDocumentWriter::~VSAXDocumentWriter() = default;

void VSAXDocumentWriter::_Broken(const std::string& message) {
    m_broken = true;
    throw std::logic_error("VelSAX: " + message);
}

void VSAXDocumentWriter::_Indent(std::size_t depth) {
    m_out.push_back('\n');
    m_out.append(2 * depth, ' ');
}

void VSAXDocumentWriter::_CloseStartTag() {
    if (m_startPending) {
        m_out.push_back('>');
        m_startPending = false;
    }
}

// Prepares the output for a new child element of the element open now (or for the root).
void VSAXDocumentWriter::_BeginChild() {
    if (m_broken) throw std::logic_error("VelSAX: the writer is broken by an earlier error");
    if (m_open.empty()) {
        if (m_rootWritten) _Broken("a document has exactly one root element");
        return;
    }
    _CloseStartTag();
    m_open.back().hasChildren = true;
    _Indent(m_open.size());
}

void VSAXDocumentWriter::StartTag(const std::string& name) {
    if (!detail::IsXmlName(name)) throw std::invalid_argument("VelSAX: \"" + name + "\" is not an element name");
    _BeginChild();
    m_out.push_back('<');
    m_out += name;
    m_open.push_back(OpenElement{name, false});
    m_startPending = true;
    m_rootWritten = true;
}

void VSAXDocumentWriter::WriteAttribute(const std::string& name, const std::string& value) {
    if (!m_startPending) throw std::logic_error("VelSAX: attributes go right after StartTag");
    if (!detail::IsXmlName(name)) throw std::invalid_argument("VelSAX: \"" + name + "\" is not an attribute name");
    std::string escaped;
    detail::AppendEscapedAttribute(escaped, value);
    m_out.push_back(' ');
    m_out += name;
    m_out += "=\"";
    m_out += escaped;
    m_out.push_back('"');
}

void VSAXDocumentWriter::WriteText(const std::string& utf8) {
    if (m_open.empty()) throw std::logic_error("VelSAX: text outside the root element");
    std::string escaped;
    detail::AppendEscapedText(escaped, utf8);  // may throw: nothing written yet
    _CloseStartTag();
    m_out += escaped;
}

void VSAXDocumentWriter::EndTag(const std::string& name) {
    if (m_broken) throw std::logic_error("VelSAX: the writer is broken by an earlier error");
    if (m_open.empty()) _Broken("EndTag(\"" + name + "\") with no element open");
    if (m_open.back().name != name) _Broken("EndTag(\"" + name + "\") while \"" + m_open.back().name + "\" is open");
    if (m_startPending) {
        m_out += "/>";
        m_startPending = false;
    } else {
        if (m_open.back().hasChildren) _Indent(m_open.size() - 1);
        m_out += "</";
        m_out += name;
        m_out.push_back('>');
    }
    m_open.pop_back();
    if (m_open.empty()) m_out.push_back('\n');
}

VSAXBinaryBlockOut VSAXDocumentWriter::GetBinaryStream(const std::string& streamName) {
    if (streamName.empty()) throw std::invalid_argument("VelSAX: a binary stream needs a name");
    auto it = m_streams.find(streamName);
    if (it == m_streams.end())
        it = m_streams.emplace(streamName, std::make_unique<VSAXStreamBinaryOut>(streamName)).first;
    return VSAXBinaryBlockOut(*it->second, it->second->GetSize());
}

void VSAXDocumentWriter::WriteBinaryData(const std::string& name, const VSAXBinaryBlockOut& block) {
    VSAXStreamBinaryOut& stream = block.Stream();
    const auto it = m_streams.find(stream.GetName());
    if (it == m_streams.end() || it->second.get() != &stream)
        throw std::invalid_argument("VelSAX: the binary block does not belong to this writer");
    const std::string_view bytes = stream.GetBytes(block.GetOffset());
    StartTag(name);
    WriteAttribute("VelSAX.stream", stream.GetName());
    WriteAttribute("VelSAX.offset", std::to_string(block.GetOffset()));
    WriteAttribute("VelSAX.size", std::to_string(bytes.size()));
    if (!bytes.empty()) {
        _CloseStartTag();
        std::string prefix = "\n";
        prefix.append(2 * m_open.size(), ' ');
        detail::Base64Encode(bytes, m_out, prefix);
        _Indent(m_open.size() - 1);
    }
    stream.Release();
    EndTag(name);
}

void VSAXDocumentWriter::_WriteCarriedElement(std::string_view element) {
    _BeginChild();
    m_out.append(element.data(), element.size());
    m_rootWritten = true;
    if (m_open.empty()) m_out.push_back('\n');
}

const std::string& VSAXDocumentWriter::GetDocument() const {
    if (m_broken) throw std::logic_error("VelSAX: the writer is broken by an earlier error");
    if (!m_open.empty()) throw std::logic_error("VelSAX: element \"" + m_open.back().name + "\" is still open");
    if (!m_rootWritten) throw std::logic_error("VelSAX: the document has no root element");
    return m_out;
}

}  // namespace VelSAX
