#pragma once

#include <memory>
#include <string>
#include <vector>

#include "jobs/CommJobsContext.h"
#include "tree/RemoteDirectoryBranch.h"

namespace ostrelcomm {

// The context of the folder tree job: which subtree to ask for, and the tree
// the answer gave. It sets no abort, last or resume step: an aborted tree job
// simply stops, and one that failed cannot be resumed.
class DirectoryTreeContext : public CommJobsContext {
public:
    // The given values, an empty tree, the first step directory_getTreeQuery
    // and a new session for the server key `urlToUse`.
    DirectoryTreeContext(const std::string& urlToUse, std::string topUUID, bool lazy, std::string treeType,
                         std::string source);

    // The top folder's children as the answer gave them.
    std::vector<std::shared_ptr<RemoteDirectoryBranch>> tree;
    // Sent as "lazy".
    bool lazy;
    std::string topUUID;
    // "ALL" or "DIRECTORY".
    std::string treeType;
    // The requester's tag, handed back in the payload.
    std::string source;

    // completed: "getDirectoryTreeTerminated" "Available" with {"source",
    // "topUUID", "tree"} and the last request error. error and aborted alike:
    // "Error" with that error and no payload. Every other status: nothing.
    JobNotificationData getNotificationData(JobStatus status) override;
};

}  // namespace ostrelcomm
