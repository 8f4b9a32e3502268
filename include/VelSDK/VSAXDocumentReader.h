// VSAXDocumentReader: reads a VelSAX document (XML 1.0, UTF-8) with expat and drives the
// handlers of its elements.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/VelSAX.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <vector>

namespace VelSAX {

/// Reads one document held in memory.
///
/// The root handler owns the root element; a handler can hand an element and its subtree
/// to another handler with ReadObject. HandleTag of an element runs once its own text is
/// complete: when its first child starts or, for a leaf, when it ends. Before a handler
/// receives its first element the reader calls its SetDefaults; after the whole document
/// was read without error, ResolveReferences and then InitAfterLoading of every handler, in
/// the order the handlers took over their elements. An element with the attribute
/// VelSAX.oid="N" gives its handler the object identity N (FindReference finds it).
///
/// The reading stops at the first error and reports it: XML that is not well-formed, a
/// document type declaration (refused outright, which also excludes entity declarations and
/// with them entity expansion), nesting deeper than the limit, text after child elements,
/// an element refused by its handler, a text that does not parse as the type asked for, a
/// "Data" block that is not valid base64 or whose VelSAX.size disagrees with it, a block
/// read beyond its end or not read to its end, an exception thrown by a handler (std::bad_alloc
/// and exceptions not derived from std::exception pass through).
class VELSDK_NURBS_API VSAXDocumentReader : public ISAXReader {
public:
    VSAXDocumentReader();
    ~VSAXDocumentReader() override;
    VSAXDocumentReader(const VSAXDocumentReader&) = delete;
    VSAXDocumentReader& operator=(const VSAXDocumentReader&) = delete;

    /// Reads the document in data[0, size) with root as the handler of its root element.
    VSAXReadResult Read(const void* data, std::size_t size, ISAXPersistBase& root);
    VSAXReadResult Read(const std::string& document, ISAXPersistBase& root) {
        return Read(document.data(), document.size(), root);
    }
    /// Deepest nesting of elements accepted (the root is level 1); 256 by default.
    void SetMaxDepth(std::size_t depth) { m_maxDepth = depth; }

    bool ReadValue(bool& value) override;
    bool ReadValue(unsigned char& value) override;
    bool ReadValue(unsigned long& value) override;
    bool ReadValue(double& value) override;
    bool ReadValue(std::string& value) override;
    bool ReadValue(std::wstring& value) override;
    const std::string& ParentTagName(std::size_t depth) const override;
    VSAXStreamBinaryIn& GetBinaryStream() override;
    bool CanHold(std::size_t count, std::size_t bytesEach) const override;
    bool ReadObject(ISAXPersistBase& handler) override;
    ISAXReference* FindReference(unsigned int id) const override;

protected:
    /// The identity stored with the element `depth` levels above the current one (VelSAX.uid),
    /// 0 when it has none or there is no such element.
    std::uint64_t _ElementUid(const std::string& name, std::size_t depth) const;

private:
    struct Frame;
    struct HandlerEntry {
        ISAXPersistBase* handler;
        std::size_t depth;
    };
    struct Callbacks;
    friend struct Callbacks;

    void _OnStart(const char* name, const char** attributes);
    void _OnText(const char* text, int length);
    void _OnEnd(const char* name);
    void _Dispatch();
    void _CheckBlock();
    void _TakeOver(ISAXPersistBase& handler);
    void _Fail(const std::string& problem);
    void _FailAtParser(const std::string& problem);
    bool _BadValue(const char* expected);
    Frame* _Current();

    void* m_parser = nullptr;
    ISAXPersistBase* m_root = nullptr;
    std::vector<Frame> m_stack;
    std::vector<HandlerEntry> m_handlers;
    std::vector<ISAXPersistBase*> m_loaded;
    std::map<unsigned int, ISAXReference*> m_references;
    VSAXStreamBinaryIn m_block;
    bool m_blockOpened = false;
    bool m_dispatching = false;
    std::size_t m_documentSize = 0;
    std::size_t m_maxDepth = 256;
    VSAXReadResult m_result;
    std::exception_ptr m_pending;
};

}  // namespace VelSAX
