#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tree/RemoteItemMetadata.h"

namespace ostrelcomm {

// One node of a remote folder tree. Nodes are shared: every handle of a node
// sees the changes made through any other.
class RemoteDirectoryBranch {
public:
    enum class LeafType { directory, file, unknown };

    RemoteDirectoryBranch(std::string uuid, LeafType type, RemoteItemMetadata metadata,
                          std::vector<std::shared_ptr<RemoteDirectoryBranch>> branches);
    // Tears the subtree down level by level rather than one nested call per
    // level, so that no depth of tree can exhaust the stack. Children still
    // held elsewhere are left to their other owners.
    ~RemoteDirectoryBranch();
    RemoteDirectoryBranch(const RemoteDirectoryBranch&) = default;
    RemoteDirectoryBranch(RemoteDirectoryBranch&&) = default;
    RemoteDirectoryBranch& operator=(const RemoteDirectoryBranch&) = default;
    RemoteDirectoryBranch& operator=(RemoteDirectoryBranch&&) = default;

    std::string uuid;
    LeafType type;
    RemoteItemMetadata metadata;
    // Children in the order of the answer; empty for a file.
    std::vector<std::shared_ptr<RemoteDirectoryBranch>> branches;

    // The node kind of a tree answer's "type" text: "DIRECTORY" and "FILE"
    // exactly, anything else unknown (the node keeps its metadata and children).
    static LeafType leafTypeFromTreeType(std::string_view type);
};

}  // namespace ostrelcomm
