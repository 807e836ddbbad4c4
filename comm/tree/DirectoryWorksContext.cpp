#include "tree/DirectoryWorksContext.h"

#include <utility>

#include "http/Http.h"
#include "platform/NotificationCenter.h"

namespace ostrelcomm {

namespace {

// A tagged payload's entry: the value, or the null object when there is none.
template <class T>
std::any entry(const T& value, bool present) {
    return present ? std::any(value) : std::any(NullObject{});
}

}  // namespace

DirectoryWorksContext::DirectoryWorksContext(std::optional<std::string> uuid_, std::optional<std::string> parentuuid_,
                                             std::optional<std::string> newparentuuid_,
                                             std::optional<std::string> name_, const std::string& url,
                                             JobsSteps firstStep, std::string notificationName_,
                                             std::optional<std::string> source_)
    : CommJobsContext(firstStep, Http::forJob(url)),
      uuid(std::move(uuid_)),
      name(std::move(name_)),
      parentuuid(std::move(parentuuid_)),
      newparentuuid(std::move(newparentuuid_)),
      source(std::move(source_)),
      notificationName(std::move(notificationName_)) {}

DirectoryWorksContext::Completion DirectoryWorksContext::completed() const {
    if (notificationName == tree::kQueryRemoteDirectoryContentNotification) {
        if (source)
            return {tree::kReceived, tree::TaggedPayload{{tree::kSourceKey, *source},
                                                         {tree::kDirInfoKey, entry(remoteDirInfo, remoteDirInfo != nullptr)}}};
        return {tree::kReceived, remoteDirInfo ? std::any(remoteDirInfo) : std::any()};
    }
    const char* word = nullptr;
    if (notificationName == tree::kNewRemoteDirectoryCreatedNotification) word = tree::kCreated;
    if (notificationName == tree::kDirectoryPropertiesModifiedNotification) word = tree::kModified;
    if (notificationName == tree::kDirectoryDeletedNotification) word = tree::kDeleted;
    if (word == nullptr) return {tree::kCompleted, {}};
    if (source)
        return {word, tree::TaggedPayload{{tree::kSourceKey, *source},
                                          {tree::kUuidKey, entry(uuid.value_or(""), uuid.has_value())}}};
    return {word, uuid ? std::any(*uuid) : std::any()};
}

JobNotificationData DirectoryWorksContext::getNotificationData(JobStatus status) {
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
