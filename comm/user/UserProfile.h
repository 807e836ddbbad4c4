#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// The user's profile as the server keeps it: plan, usage and the public
// sharing key. Space figures are in the server's own unit.
struct UserProfile {
    std::string userUUID;
    std::string profilename;
    std::optional<std::chrono::sys_seconds> currentplanexpiry;
    Bytes pubshkey;
    std::chrono::sys_seconds since{};
    std::optional<std::chrono::sys_seconds> lastlogin;
    std::string lastresult;
    std::uint64_t diskspace = 0;
    std::uint64_t usedspace = 0;
    std::uint64_t availablespace = 0;
    std::size_t directories = 0;
    std::size_t files = 0;
};

void from_json(const json::Json& value, UserProfile& profile);
void to_json(json::OrderedJson& value, const UserProfile& profile);

}  // namespace ostrelcomm
