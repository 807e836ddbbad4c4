#include "tree/FileWorksContext.h"

#include <utility>

#include "http/Http.h"
#include "platform/NotificationCenter.h"

namespace ostrelcomm {

namespace {

// An entry of the information payload: the value, or the null object.
template <class T>
std::any entry(const std::optional<T>& value) {
    return value ? std::any(*value) : std::any(NullObject{});
}

}  // namespace

FileWorksContext::FileWorksContext(std::string uuid_, std::optional<std::string> parentuuid_, const std::string& url,
                                   JobsSteps firstStep, std::string notificationName_)
    : FileWorksContext(std::move(uuid_), std::move(parentuuid_), std::nullopt, std::nullopt, url, firstStep,
                       std::move(notificationName_)) {}

FileWorksContext::FileWorksContext(std::string uuid_, std::optional<std::string> parentuuid_,
                                   std::optional<RemoteItemMetadata> newMetadata_,
                                   std::optional<RemoteItemThumbnail> thumbnail_, const std::string& url,
                                   JobsSteps firstStep, std::string notificationName_)
    : CommJobsContext(firstStep, Http::forJob(url)),
      uuid(std::move(uuid_)),
      thumbnail(std::move(thumbnail_)),
      parentuuid(std::move(parentuuid_)),
      newMetadata(std::move(newMetadata_)),
      notificationName(std::move(notificationName_)) {}

FileWorksContext::Completion FileWorksContext::completed() const {
    if (notificationName == tree::kGetFileInfoNotification)
        return {tree::kReceived,
                tree::FileInfoPayload{{tree::kSourceKey, entry(source)}, {tree::kFileInfoKey, entry(metadata)}}};
    if (notificationName == tree::kFilePropertiesModificationNotification) return {tree::kModified, uuid};
    if (notificationName == tree::kFileCopyNotification)
        return {tree::kCopied, newUUID ? std::any(*newUUID) : std::any()};
    if (notificationName == tree::kDeleteFileNotification) return {tree::kDeleted, uuid};
    return {tree::kCompleted, {}};
}

JobNotificationData FileWorksContext::getNotificationData(JobStatus status) {
    switch (status) {
        case JobStatus::inProgress: return {notificationName, tree::kStarted, std::nullopt, {}};
        case JobStatus::completed: {
            Completion done = completed();
            return {notificationName, std::move(done.word), httpError, std::move(done.payload)};
        }
        case JobStatus::error: return {notificationName, tree::kError, httpError, {}};
        case JobStatus::aborted: return {notificationName, tree::kAborted, std::nullopt, {}};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

}  // namespace ostrelcomm
