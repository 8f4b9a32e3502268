// Identities of elements for incremental saving.
#include <VelSDK/VSAXIncrementalDocumentReader.h>

namespace VelSAX {

VSAXIncrementalDocumentReader::VSAXIncrementalDocumentReader() = default;
VSAXIncrementalDocumentReader::~VSAXIncrementalDocumentReader() = default;

Incremental::TagUniqueID VSAXIncrementalDocumentReader::GetTag(const std::string& name, std::size_t depth) const {
    return Incremental::TagUniqueID(_ElementUid(name, depth));
}

}  // namespace VelSAX
