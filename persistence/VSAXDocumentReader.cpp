// XML reader of VelSAX documents on top of expat.
#include <VelSDK/VSAXDocumentReader.h>

#include <VelSDK/StringConversion.h>

#include "persistence/Base64.h"
#include "persistence/XmlText.h"

#include <expat.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

namespace VelSAX {

struct VSAXDocumentReader::Frame {
    std::string name;
    std::string text;  // character data before the first child element
    std::uint64_t uid = 0;
    std::uint64_t size = 0;
    unsigned int oid = 0;
    std::size_t line = 0;
    std::size_t column = 0;
    bool hasSize = false;
    bool hasOid = false;
    bool dispatched = false;
    bool hasChildren = false;
    bool handedOver = false;
};

namespace {

XML_Parser Parser(void* p) { return static_cast<XML_Parser>(p); }

// Decimal digits only, no sign, no surrounding text; value <= maximum.
bool ParseUnsigned(std::string_view text, std::uint64_t maximum, std::uint64_t& value) {
    if (text.empty()) return false;
    std::uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (v > (maximum - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

// At most 40 bytes of a text for an error message, cut at a UTF-8 character boundary.
std::string Excerpt(std::string_view text) {
    if (text.size() <= 40) return std::string(text);
    std::size_t n = 40;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return std::string(text.substr(0, n)) + "...";
}

const std::string kNoName;

}  // namespace

// expat calls C functions; exceptions must not cross expat's frames, so every callback
// catches, records and stops the parser.
struct VSAXDocumentReader::Callbacks {
    template <typename F>
    static void Guard(void* user, F&& f) {
        auto* self = static_cast<VSAXDocumentReader*>(user);
        try {
            f(self);
        } catch (const std::bad_alloc&) {
            self->m_dispatching = false;
            self->m_pending = std::current_exception();
            self->m_result.ok = false;
            XML_StopParser(Parser(self->m_parser), XML_FALSE);
        } catch (const std::exception& e) {
            self->m_dispatching = false;
            self->_Fail(std::string("exception from its handler: ") + e.what());
        } catch (...) {
            self->m_dispatching = false;
            self->m_pending = std::current_exception();
            self->m_result.ok = false;
            XML_StopParser(Parser(self->m_parser), XML_FALSE);
        }
    }
    static void XMLCALL Start(void* user, const XML_Char* name, const XML_Char** attributes) {
        Guard(user, [&](VSAXDocumentReader* self) { self->_OnStart(name, attributes); });
    }
    static void XMLCALL End(void* user, const XML_Char* name) {
        Guard(user, [&](VSAXDocumentReader* self) { self->_OnEnd(name); });
    }
    static void XMLCALL Text(void* user, const XML_Char* text, int length) {
        Guard(user, [&](VSAXDocumentReader* self) { self->_OnText(text, length); });
    }
    static void XMLCALL Doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        Guard(user, [&](VSAXDocumentReader* self) {
            self->_FailAtParser("document type declarations are not accepted (no DTD, no entities)");
        });
    }
    static void XMLCALL Entity(void* user, const XML_Char* name, int, const XML_Char*, int, const XML_Char*,
                               const XML_Char*, const XML_Char*, const XML_Char*) {
        Guard(user, [&](VSAXDocumentReader* self) {
            self->_FailAtParser(std::string("entity declaration \"") + name + "\" is not accepted");
        });
    }
};

VSAXDocumentReader::VSAXDocumentReader() = default;
VSAXDocumentReader::~VSAXDocumentReader() = default;

VSAXReadResult VSAXDocumentReader::Read(const void* data, std::size_t size, ISAXPersistBase& root) {
    m_root = &root;
    m_stack.clear();
    m_handlers.clear();
    m_loaded.clear();
    m_references.clear();
    m_block = VSAXStreamBinaryIn();
    m_blockOpened = false;
    m_dispatching = false;
    m_documentSize = size;
    m_result = VSAXReadResult();
    m_pending = nullptr;

    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate("UTF-8"), XML_ParserFree);
    if (!parser) throw std::bad_alloc();
    m_parser = parser.get();
    XML_SetUserData(parser.get(), this);
    XML_SetElementHandler(parser.get(), &Callbacks::Start, &Callbacks::End);
    XML_SetCharacterDataHandler(parser.get(), &Callbacks::Text);
    XML_SetStartDoctypeDeclHandler(parser.get(), &Callbacks::Doctype);
    XML_SetEntityDeclHandler(parser.get(), &Callbacks::Entity);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

    // expat takes an int length: feed large documents in pieces.
    constexpr std::size_t kChunk = std::size_t{1} << 24;
    const char* bytes = static_cast<const char*>(data);
    std::size_t remaining = size;
    XML_Status status = XML_STATUS_OK;
    for (;;) {
        const std::size_t n = std::min(remaining, kChunk);
        const bool last = n == remaining;
        status = XML_Parse(parser.get(), bytes, static_cast<int>(n), last ? XML_TRUE : XML_FALSE);
        if (status != XML_STATUS_OK || last) break;
        bytes += n;
        remaining -= n;
    }
    if (status != XML_STATUS_OK && m_result.ok)
        _FailAtParser(std::string("XML: ") + XML_ErrorString(XML_GetErrorCode(parser.get())));
    m_parser = nullptr;
    parser.reset();
    m_stack.clear();
    m_handlers.clear();
    m_block = VSAXStreamBinaryIn();
    if (m_pending) {
        std::exception_ptr pending = m_pending;
        m_pending = nullptr;
        std::rethrow_exception(pending);
    }
    if (m_result.ok) {
        for (ISAXPersistBase* handler : m_loaded) handler->ResolveReferences(*this);
        for (ISAXPersistBase* handler : m_loaded) handler->InitAfterLoading();
    }
    return m_result;
}

void VSAXDocumentReader::_Fail(const std::string& problem) {
    if (!m_result.ok) return;
    m_result.ok = false;
    std::string where;
    if (!m_stack.empty()) {
        const Frame& f = m_stack.back();
        m_result.line = f.line;
        m_result.column = f.column;
        where = "element \"" + f.name + "\"";
        if (m_stack.size() > 1) where += " in \"" + m_stack[m_stack.size() - 2].name + "\"";
        where += ": ";
    } else if (m_parser) {
        m_result.line = XML_GetCurrentLineNumber(Parser(m_parser));
        m_result.column = XML_GetCurrentColumnNumber(Parser(m_parser)) + 1;
    }
    m_result.message = "line " + std::to_string(m_result.line) + ", column " + std::to_string(m_result.column) + ": " +
                       where + problem;
    if (m_parser) XML_StopParser(Parser(m_parser), XML_FALSE);
}

void VSAXDocumentReader::_FailAtParser(const std::string& problem) {
    if (!m_result.ok) return;
    m_result.ok = false;
    if (m_parser) {
        m_result.line = XML_GetCurrentLineNumber(Parser(m_parser));
        m_result.column = XML_GetCurrentColumnNumber(Parser(m_parser)) + 1;
    }
    m_result.message =
        "line " + std::to_string(m_result.line) + ", column " + std::to_string(m_result.column) + ": " + problem;
    if (m_parser) XML_StopParser(Parser(m_parser), XML_FALSE);
}

VSAXDocumentReader::Frame* VSAXDocumentReader::_Current() {
    return m_dispatching && !m_stack.empty() ? &m_stack.back() : nullptr;
}

void VSAXDocumentReader::_OnStart(const char* name, const char** attributes) {
    if (!m_result.ok) return;
    if (m_stack.size() >= m_maxDepth) {
        _FailAtParser("element \"" + Excerpt(name) + "\": nesting deeper than " + std::to_string(m_maxDepth) +
                      " levels");
        return;
    }
    if (!m_stack.empty() && !m_stack.back().dispatched) {
        _Dispatch();
        if (!m_result.ok) return;
    }
    if (!m_stack.empty()) m_stack.back().hasChildren = true;
    m_stack.emplace_back();
    Frame& f = m_stack.back();
    f.name = name;
    f.line = XML_GetCurrentLineNumber(Parser(m_parser));
    f.column = XML_GetCurrentColumnNumber(Parser(m_parser)) + 1;
    for (std::size_t i = 0; attributes[i]; i += 2) {
        const std::string_view key = attributes[i];
        const std::string_view value = attributes[i + 1];
        std::uint64_t v = 0;
        if (key == "VelSAX.uid") {
            if (!ParseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), v) || v == 0)
                return _Fail("VelSAX.uid \"" + Excerpt(value) + "\" is not an identity");
            f.uid = v;
        } else if (key == "VelSAX.size") {
            if (!ParseUnsigned(value, std::numeric_limits<std::uint64_t>::max(), v))
                return _Fail("VelSAX.size \"" + Excerpt(value) + "\" is not a byte count");
            f.size = v;
            f.hasSize = true;
        } else if (key == "VelSAX.oid") {
            if (!ParseUnsigned(value, std::numeric_limits<unsigned int>::max(), v))
                return _Fail("VelSAX.oid \"" + Excerpt(value) + "\" is not an object identity");
            f.oid = static_cast<unsigned int>(v);
            f.hasOid = true;
        }
    }
}

void VSAXDocumentReader::_OnText(const char* text, int length) {
    if (!m_result.ok || m_stack.empty()) return;
    Frame& f = m_stack.back();
    if (!f.hasChildren) {
        f.text.append(text, static_cast<std::size_t>(length));
        return;
    }
    for (int i = 0; i < length; ++i)
        if (!detail::IsXmlSpace(text[i])) return _Fail("text after child elements");
}

void VSAXDocumentReader::_OnEnd(const char* name) {
    if (!m_result.ok || m_stack.empty()) return;
    if (!m_stack.back().dispatched) {
        _Dispatch();
        if (!m_result.ok) return;
    }
    m_handlers.back().handler->HandleEndTag(name);
    if (!m_result.ok) return;
    const std::size_t depth = m_stack.size() - 1;
    while (!m_handlers.empty() && m_handlers.back().depth == depth) m_handlers.pop_back();
    m_stack.pop_back();
}

void VSAXDocumentReader::_TakeOver(ISAXPersistBase& handler) {
    Frame& f = m_stack.back();
    m_handlers.push_back(HandlerEntry{&handler, m_stack.size() - 1});
    if (std::find(m_loaded.begin(), m_loaded.end(), &handler) == m_loaded.end()) m_loaded.push_back(&handler);
    handler.SetDefaults();
    if (f.hasOid) {
        handler.SetObjectId(f.oid);
        if (ISAXReference* reference = handler.GetObjectReference()) {
            if (!m_references.emplace(f.oid, reference).second)
                return _Fail("object identity " + std::to_string(f.oid) + " is used twice");
        }
    }
}

void VSAXDocumentReader::_Dispatch() {
    Frame& f = m_stack.back();
    f.dispatched = true;
    m_blockOpened = false;
    m_dispatching = true;
    bool accepted = false;
    if (m_handlers.empty()) {
        _TakeOver(*m_root);
        if (m_result.ok) accepted = m_root->HandleTag(f.name, *this);
    } else {
        accepted = m_handlers.back().handler->HandleTag(f.name, *this);
    }
    m_dispatching = false;
    if (!m_result.ok) return;
    if (!accepted) {
        std::string problem = "refused by its handler";
        const std::string_view text = detail::TrimXmlSpace(f.text);
        if (!f.hasChildren && !text.empty()) problem += " (text \"" + Excerpt(text) + "\")";
        return _Fail(problem);
    }
    _CheckBlock();
    std::string().swap(f.text);
}

void VSAXDocumentReader::_CheckBlock() {
    if (!m_blockOpened) return;
    m_blockOpened = false;
    const std::size_t size = m_block.GetSize();
    if (m_block.Failed()) {
        _Fail("binary block holds " + std::to_string(size) + " bytes but " +
              std::to_string(m_block.GetPosition() + m_block.GetMissing()) + " were asked for");
    } else if (m_block.GetRemaining() != 0) {
        _Fail("binary block holds " + std::to_string(size) + " bytes but only " +
              std::to_string(m_block.GetPosition()) + " were read");
    }
    m_block = VSAXStreamBinaryIn();
}

bool VSAXDocumentReader::_BadValue(const char* expected) {
    const Frame* f = _Current();
    _Fail("text \"" + Excerpt(f ? std::string_view(f->text) : std::string_view()) + "\" is not " + expected);
    return false;
}

bool VSAXDocumentReader::ReadValue(bool& value) {
    const Frame* f = _Current();
    if (!f) return false;
    const std::string_view t = detail::TrimXmlSpace(f->text);
    if (t == "true" || t == "1") {
        value = true;
    } else if (t == "false" || t == "0") {
        value = false;
    } else {
        return _BadValue("true or false");
    }
    return true;
}

bool VSAXDocumentReader::ReadValue(unsigned char& value) {
    const Frame* f = _Current();
    if (!f) return false;
    std::uint64_t v = 0;
    if (!ParseUnsigned(detail::TrimXmlSpace(f->text), std::numeric_limits<unsigned char>::max(), v))
        return _BadValue("an unsigned 8-bit number");
    value = static_cast<unsigned char>(v);
    return true;
}

bool VSAXDocumentReader::ReadValue(unsigned long& value) {
    const Frame* f = _Current();
    if (!f) return false;
    std::uint64_t v = 0;
    if (!ParseUnsigned(detail::TrimXmlSpace(f->text), 0xFFFFFFFFu, v)) return _BadValue("an unsigned 32-bit number");
    value = static_cast<unsigned long>(v);
    return true;
}

bool VSAXDocumentReader::ReadValue(double& value) {
    const Frame* f = _Current();
    if (!f) return false;
    const std::string_view t = detail::TrimXmlSpace(f->text);
    double v = 0.0;
    const std::from_chars_result r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size()) return _BadValue("a number");
    value = v;
    return true;
}

bool VSAXDocumentReader::ReadValue(std::string& value) {
    const Frame* f = _Current();
    if (!f) return false;
    value = f->text;
    return true;
}

bool VSAXDocumentReader::ReadValue(std::wstring& value) {
    const Frame* f = _Current();
    if (!f) return false;
    value = StringConversion::Utf8ToNative(f->text);
    return true;
}

const std::string& VSAXDocumentReader::ParentTagName(std::size_t depth) const {
    if (depth >= m_stack.size()) return kNoName;
    return m_stack[m_stack.size() - 1 - depth].name;
}

VSAXStreamBinaryIn& VSAXDocumentReader::GetBinaryStream() {
    Frame* f = _Current();
    if (!f || m_blockOpened) return m_block;
    m_blockOpened = true;
    std::vector<unsigned char> bytes;
    std::string error;
    if (!f->hasSize) {
        _Fail("binary block without VelSAX.size");
    } else if (!detail::Base64Decode(f->text, bytes, error)) {
        _Fail("binary block is not valid base64: " + error);
    } else if (bytes.size() != f->size) {
        _Fail("binary block holds " + std::to_string(bytes.size()) + " bytes but VelSAX.size says " +
              std::to_string(f->size));
    }
    if (!m_result.ok) bytes.clear();
    m_block = VSAXStreamBinaryIn(std::move(bytes));
    return m_block;
}

bool VSAXDocumentReader::CanHold(std::size_t count, std::size_t bytesEach) const {
    if (bytesEach == 0) return true;
    // Binary data travels as base64: 4 characters of the document carry 3 bytes.
    return count <= m_documentSize / 4 * 3 / bytesEach;
}

bool VSAXDocumentReader::ReadObject(ISAXPersistBase& handler) {
    Frame* f = _Current();
    if (!f) return false;
    if (f->handedOver) {
        _Fail("element handed over to a second handler");
        return false;
    }
    f->handedOver = true;
    _TakeOver(handler);
    if (!m_result.ok) return false;
    return handler.HandleTag(f->name, *this);
}

ISAXReference* VSAXDocumentReader::FindReference(unsigned int id) const {
    const auto it = m_references.find(id);
    return it == m_references.end() ? nullptr : it->second;
}

std::uint64_t VSAXDocumentReader::_ElementUid(const std::string& name, std::size_t depth) const {
    if (depth >= m_stack.size()) return 0;
    const Frame& f = m_stack[m_stack.size() - 1 - depth];
    return f.name == name ? f.uid : 0;
}

}  // namespace VelSAX
