#include "shares/ShareItemContext.h"

#include <any>
#include <utility>
#include <vector>

#include "http/Http.h"

namespace ostrelcomm {

Bytes ShareItemContext::NewShareData::encode() const { return json::dumpBytes(json::OrderedJson(*this)); }

void to_json(json::OrderedJson& value, const ShareItemContext::NewShareData& data) {
    value = json::OrderedJson::object();
    json::putOptional(value, "peerUsername", data.peerUsername);
    json::putOptional(value, "itemUUID", data.itemUUID);
    json::putOptional(value, "itemkey", data.itemkey);
    value["algorythm"] = data.algorythm;
}

ShareItemContext::ShareItemContext(const std::string& urlToUse, std::string peerUsername_, std::string itemUUID_)
    : CommJobsContext(JobsSteps::shareItem_prepare, Http::forJob(urlToUse)),
      peerUsername(std::move(peerUsername_)),
      itemUUID(std::move(itemUUID_)) {
    newSharePayload.peerUsername = peerUsername;
    newSharePayload.itemUUID = itemUUID;
}

JobNotificationData ShareItemContext::getNotificationData(JobStatus status) {
    std::any payload;
    if (shareUUID) payload = shares::ShareItemPayload(*shareUUID);
    switch (status) {
        case JobStatus::completed: return {kNotificationName, shares::kShared, httpError, std::move(payload)};
        case JobStatus::error:
        case JobStatus::aborted: return {kNotificationName, shares::kError, httpError, std::move(payload)};
        default: return {std::nullopt, "", std::nullopt, {}};
    }
}

std::string ShareItemContext::existingShareID(std::string_view description) {
    std::vector<std::string_view> pieces;
    while (!description.empty()) {
        const auto at = description.find('@');
        const std::string_view piece = description.substr(0, at);
        if (!piece.empty()) pieces.push_back(piece);
        if (at == std::string_view::npos) break;
        description.remove_prefix(at + 1);
    }
    return pieces.size() == 2 ? std::string(pieces[1]) : std::string(shares::kNoID);
}

}  // namespace ostrelcomm
