#include "app/sheets/InformationAnswer.h"

#include "tree/TreeNotifications.h"

namespace quorvel {

namespace {

template <class Event>
bool fromOtherRequester(const Event& event, std::string_view source) {
    return event.source && *event.source != source;
}

// The checks before the payload's own, shared by both notifications.
template <class Event>
std::optional<InformationAnswer> readResult(const Event& event) {
    if (!event.result) return InformationAnswer::badResultType;
    if (*event.result == ostrelcomm::tree::kStarted) return InformationAnswer::started;
    if (*event.result != ostrelcomm::tree::kReceived) return InformationAnswer::badResult;
    return std::nullopt;
}

}  // namespace

InformationAnswer readInformationAnswer(const FileInfoEvent& event, std::string_view source) {
    if (const auto verdict = readResult(event)) return *verdict;
    // Always {"source", "fileInfo"}, tagged or not.
    if (event.customData != CustomDataShape::dictionary) return InformationAnswer::badCustomData;
    if (fromOtherRequester(event, source)) return InformationAnswer::otherRequester;
    if (!event.data) return InformationAnswer::badPayload;
    return InformationAnswer::received;
}

InformationAnswer readInformationAnswer(const DirectoryContentEvent& event, std::string_view source) {
    if (const auto verdict = readResult(event)) return *verdict;
    // A tagged listing comes as a dictionary, an untagged one as the bare
    // folder; anything else is malformed.
    if (event.customData == CustomDataShape::absent ||
        (event.customData == CustomDataShape::other && !(event.data && *event.data)))
        return InformationAnswer::badCustomData;
    if (fromOtherRequester(event, source)) return InformationAnswer::otherRequester;
    if (!event.data || !*event.data) return InformationAnswer::badPayload;
    return InformationAnswer::received;
}

}  // namespace quorvel
