#include "tree/RemoteDirectoryBranch.h"

#include <utility>

namespace ostrelcomm {

RemoteDirectoryBranch::RemoteDirectoryBranch(std::string uuid_, LeafType type_, RemoteItemMetadata metadata_,
                                             std::vector<std::shared_ptr<RemoteDirectoryBranch>> branches_)
    : uuid(std::move(uuid_)), type(type_), metadata(std::move(metadata_)), branches(std::move(branches_)) {}

RemoteDirectoryBranch::~RemoteDirectoryBranch() {
    std::vector<std::shared_ptr<RemoteDirectoryBranch>> pending = std::move(branches);
    while (!pending.empty()) {
        std::shared_ptr<RemoteDirectoryBranch> node = std::move(pending.back());
        pending.pop_back();
        // The last owner of a node takes its children over before the node
        // goes, so that the node's own destructor finds nothing below it.
        if (node && node.use_count() == 1) {
            for (auto& child : node->branches) pending.push_back(std::move(child));
            node->branches.clear();
        }
    }
}

RemoteDirectoryBranch::LeafType RemoteDirectoryBranch::leafTypeFromTreeType(std::string_view type) {
    if (type == "DIRECTORY") return LeafType::directory;
    if (type == "FILE") return LeafType::file;
    return LeafType::unknown;
}

}  // namespace ostrelcomm
