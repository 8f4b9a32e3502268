// VSAXIncrementalDocumentWriter: a document writer that carries elements stored unchanged
// in the previous document over into the new one.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/VSAXDocumentWriter.h>
#include <VelSDK/VelSAX.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

namespace VelSAX {

/// Incremental saving.
///
/// Elements whose writers ask for an identity (GetCurrentTag) get the attribute
/// VelSAX.uid. For the next save the host hands the previous document to LoadPrevious and
/// names the identities of the elements whose objects have not changed since (SetUnchanged).
/// When a writer then asks IsUpToDate for such an identity, the stored element is copied
/// byte for byte into the new document at the current place and the writer skips it.
/// New identities continue above the largest one of the previous document, so the
/// identities of a document never repeat.
class VELSDK_NURBS_API VSAXIncrementalDocumentWriter : public VSAXDocumentWriter,
                                                       public Incremental::ISAXIncrementalWriter {
public:
    VSAXIncrementalDocumentWriter();
    ~VSAXIncrementalDocumentWriter() override;

    /// Indexes the elements with identities of the previous document (a copy is kept). On
    /// failure (not a well-formed document, or an identity that repeats) nothing is indexed.
    VSAXReadResult LoadPrevious(std::string document);
    /// Declares the element with this identity unchanged since the previous document.
    void SetUnchanged(const Incremental::TagUniqueID& tag);
    /// Forgets every declaration of SetUnchanged.
    void ClearUnchanged();

    /// True (and the stored element carried over) for an identity declared unchanged, found in
    /// the previous document and not carried over yet in this one.
    bool IsUpToDate(const Incremental::TagUniqueID& tag) override;
    /// Gives the element just opened (nothing written into it yet) a new identity; throws
    /// std::logic_error otherwise.
    Incremental::TagUniqueID GetCurrentTag() override;

private:
    std::string m_previous;
    std::unordered_map<std::uint64_t, std::pair<std::size_t, std::size_t>> m_elements;  // begin, end
    std::set<std::uint64_t> m_unchanged;
    std::set<std::uint64_t> m_carried;
    std::uint64_t m_lastId = 0;
};

}  // namespace VelSAX
