#include "tree/RemoteDirectoryBranch.h"

#include <utility>

namespace ostrelcomm {

RemoteDirectoryBranch::RemoteDirectoryBranch(std::string uuid_, LeafType type_, RemoteItemMetadata metadata_,
                                             std::vector<std::shared_ptr<RemoteDirectoryBranch>> branches_)
    : uuid(std::move(uuid_)), type(type_), metadata(std::move(metadata_)), branches(std::move(branches_)) {}

RemoteDirectoryBranch::LeafType RemoteDirectoryBranch::leafTypeFromTreeType(std::string_view type) {
    if (type == "DIRECTORY") return LeafType::directory;
    if (type == "FILE") return LeafType::file;
    return LeafType::unknown;
}

}  // namespace ostrelcomm
