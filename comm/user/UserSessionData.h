#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "json/StrictJson.h"

namespace ostrelcomm {

// One entry of the user's login history.
struct UserSessionData {
    // How the login ended; ACTUAL is the current one.
    enum class SessionStatus { FAILED, SUCCESS, ACTUAL };

    std::chrono::sys_seconds timestamp{};
    SessionStatus result = SessionStatus::FAILED;
    std::string extdiag;

    // Exactly the three raw texts, case included; anything else is absent.
    static std::optional<SessionStatus> sessionStatusFromRaw(std::string_view raw);
    static std::string_view rawValue(SessionStatus status);
};

void from_json(const json::Json& value, UserSessionData& session);

}  // namespace ostrelcomm
