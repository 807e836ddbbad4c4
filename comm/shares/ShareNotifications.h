#pragma once

// The sharing area's notifications, posted on the engine's own center when a
// job completes, fails or is aborted (never while it runs). Each carries
// "Result" (one of the words below, std::string), "httpError" (HTTPError or
// NullObject) and "CustomData" (the type named, or NullObject when there is
// none).

#include <string>
#include <vector>

#include "shares/TrustCode.h"

namespace ostrelcomm::shares {

inline constexpr char kCreated[] = "Created";
inline constexpr char kAvailable[] = "Available";
inline constexpr char kRemoved[] = "Removed";
inline constexpr char kError[] = "Error";

// shares_addTrustedUser: "Created" or "Error"; "CustomData" the new trust's
// identifier (std::string) only when the server's answer named one.
inline constexpr char kTrustCreationTerminatedNotification[] = "trustCreationTerminated";
using TrustCreationPayload = std::string;

// shares_getTrustedUsers: "Available" or "Error"; "CustomData" always this
// very type, the trusted peers in the server's order (empty on "Error" unless
// an answer had come).
inline constexpr char kTrustsListNotification[] = "trustsList";
using TrustsListPayload = std::vector<TrustCode>;

// shares_deleteTrust: "Removed" or "Error"; "CustomData" always the
// identifier the removal was asked for (std::string), whatever the server
// names in its answer.
inline constexpr char kTrustRemoveNotification[] = "trustRemove";
using TrustRemovePayload = std::string;

}  // namespace ostrelcomm::shares
