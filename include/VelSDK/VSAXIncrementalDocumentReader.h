// VSAXIncrementalDocumentReader: the document reader that also reports the identities
// stored with elements for incremental saving.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/VSAXDocumentReader.h>
#include <VelSDK/VelSAX.h>

namespace VelSAX {

class VELSDK_NURBS_API VSAXIncrementalDocumentReader : public VSAXDocumentReader,
                                                       public Incremental::ISAXIncrementalReader {
public:
    VSAXIncrementalDocumentReader();
    ~VSAXIncrementalDocumentReader() override;
    /// The identity written by an incremental writer (attribute VelSAX.uid) of the element
    /// `depth` levels above the current one, provided it is called name; otherwise none.
    Incremental::TagUniqueID GetTag(const std::string& name, std::size_t depth) const override;
};

}  // namespace VelSAX
