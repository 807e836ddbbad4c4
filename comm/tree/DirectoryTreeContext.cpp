#include "tree/DirectoryTreeContext.h"

#include <utility>

#include "http/Http.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm {

DirectoryTreeContext::DirectoryTreeContext(const std::string& urlToUse, std::string topUUID_, bool lazy_,
                                           std::string treeType_, std::string source_)
    : CommJobsContext(JobsSteps::directory_getTreeQuery, Http::forJob(urlToUse)),
      lazy(lazy_),
      topUUID(std::move(topUUID_)),
      treeType(std::move(treeType_)),
      source(std::move(source_)) {}

JobNotificationData DirectoryTreeContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::completed:
            return {tree::kGetDirectoryTreeTerminatedNotification, tree::kAvailable, httpError,
                    tree::DirectoryTreePayload{
                        {tree::kSourceKey, source}, {tree::kTopUUIDKey, topUUID}, {tree::kTreeKey, tree}}};
        // The requester learns of an aborted tree job as of a failed one.
        case JobStatus::error:
        case JobStatus::aborted:
            return {tree::kGetDirectoryTreeTerminatedNotification, tree::kError, httpError, {}};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
