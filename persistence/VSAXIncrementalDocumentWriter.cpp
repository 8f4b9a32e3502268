// Incremental saving: identities of elements and carrying stored elements over.
#include <VelSDK/VSAXIncrementalDocumentWriter.h>

#include <expat.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

namespace VelSAX {
namespace {

// Finds the byte range of every element that carries VelSAX.uid, with expat's byte
// positions: from the '<' of the start tag to the byte after its end tag.
struct ElementIndexer {
    XML_Parser parser = nullptr;
    std::unordered_map<std::uint64_t, std::pair<std::size_t, std::size_t>> elements;
    std::vector<std::uint64_t> open;  // uid of each open element, 0 when it has none
    std::uint64_t lastId = 0;
    std::size_t depth = 0;
    std::string error;

    void Fail(const std::string& message) {
        if (error.empty()) error = message;
        XML_StopParser(parser, XML_FALSE);
    }

    static void XMLCALL Start(void* user, const XML_Char*, const XML_Char** attributes) {
        auto* self = static_cast<ElementIndexer*>(user);
        if (!self->error.empty()) return;
        if (self->open.size() >= 256) return self->Fail("nesting deeper than 256 levels");
        std::uint64_t uid = 0;
        for (std::size_t i = 0; attributes[i]; i += 2) {
            if (std::string_view(attributes[i]) != "VelSAX.uid") continue;
            std::uint64_t v = 0;
            bool ok = *attributes[i + 1] != '\0';
            for (const char* p = attributes[i + 1]; ok && *p; ++p) {
                const std::uint64_t digit = static_cast<std::uint64_t>(*p - '0');
                ok = *p >= '0' && *p <= '9' && v <= (std::numeric_limits<std::uint64_t>::max() - digit) / 10;
                if (ok) v = v * 10 + digit;
            }
            if (!ok || v == 0)
                return self->Fail(std::string("VelSAX.uid \"") + attributes[i + 1] + "\" is not an identity");
            uid = v;
        }
        if (uid != 0) {
            const auto begin = static_cast<std::size_t>(XML_GetCurrentByteIndex(self->parser));
            if (!self->elements.emplace(uid, std::make_pair(begin, begin)).second)
                return self->Fail("identity " + std::to_string(uid) + " appears twice");
            self->lastId = std::max(self->lastId, uid);
        }
        self->open.push_back(uid);
    }
    static void XMLCALL End(void* user, const XML_Char*) {
        auto* self = static_cast<ElementIndexer*>(user);
        if (!self->error.empty() || self->open.empty()) return;
        const std::uint64_t uid = self->open.back();
        self->open.pop_back();
        if (uid == 0) return;
        // For an empty-element tag (<a/>) expat reports the end with a byte count of 0; the
        // start event then covered the whole element.
        auto& range = self->elements[uid];
        const auto index = static_cast<std::size_t>(XML_GetCurrentByteIndex(self->parser));
        const int count = XML_GetCurrentByteCount(self->parser);
        range.second = count > 0 ? index + static_cast<std::size_t>(count) : 0;
    }
    static void XMLCALL Doctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<ElementIndexer*>(user)->Fail("document type declarations are not accepted");
    }
};

}  // namespace

VSAXIncrementalDocumentWriter::VSAXIncrementalDocumentWriter() = default;
VSAXIncrementalDocumentWriter::~VSAXIncrementalDocumentWriter() = default;

VSAXReadResult VSAXIncrementalDocumentWriter::LoadPrevious(std::string document) {
    m_elements.clear();
    m_previous.clear();
    VSAXReadResult result;
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate("UTF-8"), XML_ParserFree);
    if (!parser) throw std::bad_alloc();
    ElementIndexer indexer;
    indexer.parser = parser.get();
    XML_SetUserData(parser.get(), &indexer);
    XML_SetElementHandler(parser.get(), &ElementIndexer::Start, &ElementIndexer::End);
    XML_SetStartDoctypeDeclHandler(parser.get(), &ElementIndexer::Doctype);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    constexpr std::size_t kChunk = std::size_t{1} << 24;
    std::size_t offset = 0;
    XML_Status status = XML_STATUS_OK;
    for (;;) {
        const std::size_t n = std::min(document.size() - offset, kChunk);
        const bool last = offset + n == document.size();
        status = XML_Parse(parser.get(), document.data() + offset, static_cast<int>(n), last ? XML_TRUE : XML_FALSE);
        if (status != XML_STATUS_OK || last) break;
        offset += n;
    }
    if (status != XML_STATUS_OK) {
        result.ok = false;
        result.line = XML_GetCurrentLineNumber(parser.get());
        result.column = XML_GetCurrentColumnNumber(parser.get()) + 1;
        result.message = "line " + std::to_string(result.line) + ", column " + std::to_string(result.column) + ": " +
                         (indexer.error.empty() ? std::string("XML: ") + XML_ErrorString(XML_GetErrorCode(parser.get()))
                                                : indexer.error);
        return result;
    }
    // Empty-element tags: the element ends where its start tag ends.
    for (auto& entry : indexer.elements) {
        if (entry.second.second != 0) continue;
        const std::size_t close = document.find('>', entry.second.first);
        entry.second.second = close == std::string::npos ? document.size() : close + 1;
    }
    m_elements = std::move(indexer.elements);
    m_previous = std::move(document);
    m_lastId = std::max(m_lastId, indexer.lastId);
    return result;
}

void VSAXIncrementalDocumentWriter::SetUnchanged(const Incremental::TagUniqueID& tag) {
    if (tag.IsInitialized()) m_unchanged.insert(tag.GetValue());
}

void VSAXIncrementalDocumentWriter::ClearUnchanged() { m_unchanged.clear(); }

bool VSAXIncrementalDocumentWriter::IsUpToDate(const Incremental::TagUniqueID& tag) {
    if (!tag.IsInitialized()) return false;
    const std::uint64_t id = tag.GetValue();
    if (m_unchanged.count(id) == 0 || m_carried.count(id) != 0) return false;
    const auto it = m_elements.find(id);
    if (it == m_elements.end()) return false;
    const std::size_t begin = it->second.first;
    const std::size_t end = it->second.second;
    _WriteCarriedElement(std::string_view(m_previous).substr(begin, end - begin));
    // Elements nested in the carried one are in the document now as well.
    for (const auto& element : m_elements)
        if (element.second.first >= begin && element.second.second <= end) m_carried.insert(element.first);
    return true;
}

Incremental::TagUniqueID VSAXIncrementalDocumentWriter::GetCurrentTag() {
    if (!_IsStartTagPending()) throw std::logic_error("VelSAX: an identity is given right after StartTag");
    if (m_lastId == std::numeric_limits<std::uint64_t>::max())
        throw std::length_error("VelSAX: identities of this document are exhausted");
    const std::uint64_t id = ++m_lastId;
    WriteAttribute("VelSAX.uid", std::to_string(id));
    return Incremental::TagUniqueID(id);
}

}  // namespace VelSAX
