#include "user/UserSessionData.h"

namespace ostrelcomm {

std::optional<UserSessionData::SessionStatus> UserSessionData::sessionStatusFromRaw(std::string_view raw) {
    if (raw == "FAILED") return SessionStatus::FAILED;
    if (raw == "SUCCESS") return SessionStatus::SUCCESS;
    if (raw == "ACTUAL") return SessionStatus::ACTUAL;
    return std::nullopt;
}

std::string_view UserSessionData::rawValue(SessionStatus status) {
    switch (status) {
        case SessionStatus::FAILED: return "FAILED";
        case SessionStatus::SUCCESS: return "SUCCESS";
        case SessionStatus::ACTUAL: return "ACTUAL";
    }
    return "FAILED";
}

void from_json(const json::Json& value, UserSessionData& session) {
    session.timestamp = json::requireDate(value, "timestamp");
    auto result = UserSessionData::sessionStatusFromRaw(json::requireString(value, "result"));
    if (!result) throw json::DecodeError("result: unknown session status");
    session.result = *result;
    session.extdiag = json::requireString(value, "extdiag");
}

}  // namespace ostrelcomm
