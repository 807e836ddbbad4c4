#include "user/UserCreationContext.h"

#include <memory>
#include <utility>

#include "http/Http.h"
#include "platform/UrlSession.h"
#include "user/UserNotifications.h"

namespace ostrelcomm {

UserCreationContext::UserCreationContext(const std::string& httpURL, std::string username_, SecretBytes password_,
                                         SRPAuthParms authParms_)
    : CommJobsContext(JobsSteps::user_create,
                      Http::forJob(httpURL)),
      username(std::move(username_)),
      password(std::move(password_)),
      authParms(std::move(authParms_)) {}

Bytes UserCreationContext::getJSON() {
    newData.authParms = toText(authParms.encode());
    return json::dumpBytes(json::OrderedJson(newData));
}

JobNotificationData UserCreationContext::getNotificationData(JobStatus status) {
    std::any payload;
    if (uuid) payload = *uuid;
    switch (status) {
        case JobStatus::completed: return {kNotificationName, user::kCreated, httpError, std::move(payload)};
        case JobStatus::error:
        case JobStatus::aborted: return {kNotificationName, user::kError, httpError, std::move(payload)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

void to_json(json::OrderedJson& value, const UserCreationContext::NewUsersData& data) {
    value = json::OrderedJson::object();
    value["umk"] = data.umk;
    value["privshkey"] = data.privshkey;
    json::putBase64(value, "pubshkey", data.pubshkey);
    value["verifiers"] = verifiersJson(data.verifiers);
    value["authParms"] = data.authParms;
}

}  // namespace ostrelcomm
