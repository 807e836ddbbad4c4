#include "user/UserModificationContext.h"

#include <memory>
#include <utility>

#include "http/Http.h"
#include "platform/UrlSession.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {

UserModificationContext::UserModificationContext(const std::string& urlToUse, SecretBytes actualPassword_,
                                                 SecretBytes newPassword_)
    : CommJobsContext(JobsSteps::user_renewAuthenticationForModification,
                      Http::forJob(urlToUse)),
      actualPassword(std::move(actualPassword_)),
      newPassword(std::move(newPassword_)) {}

Bytes UserModificationContext::getJSON() {
    if (authParms) newData.authParms = toText(authParms->encode());
    return json::dumpBytes(json::OrderedJson(newData));
}

JobNotificationData UserModificationContext::getNotificationData(JobStatus status) {
    std::any payload;
    if (uuid) payload = *uuid;
    switch (status) {
        case JobStatus::completed: return {kNotificationName, user::kModified, httpError, std::move(payload)};
        case JobStatus::error:
        case JobStatus::aborted: return {kNotificationName, user::kError, httpError, std::move(payload)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

void to_json(json::OrderedJson& value, const UserModificationContext::NewUserProfileData& data) {
    value = json::OrderedJson::object();
    value["umk"] = data.umk;
    value["verifiers"] = verifiersJson(data.verifiers);
    value["authParms"] = data.authParms;
    value["privshkey"] = data.privshkey;
}

}  // namespace ostrelcomm
