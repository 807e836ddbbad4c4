#pragma once

// The login area's notifications, posted on the engine's own center. Each
// carries "Result" (one of the words below, std::string), "httpError"
// (HTTPError or NullObject) and "CustomData" (NullObject unless said).

namespace ostrelcomm::auth {

// A login job: "InProgress" at each step, then "Authenticated", "Error" or
// "Aborted". On "Authenticated" the engine holds the whole session.
inline constexpr char kSRPAuthenticatedNotification[] = "SRPAuthenticated";
inline constexpr char kInProgress[] = "InProgress";
inline constexpr char kAuthenticated[] = "Authenticated";
inline constexpr char kError[] = "Error";
inline constexpr char kAborted[] = "Aborted";

// The end of a logout (auth_logout, and the logout that closes a password
// change or a profile deletion): "Completed", with "CustomData"
// {"notificationData": empty std::any}; "Error" when it could not run.
inline constexpr char kUserLogoutNotification[] = "userLogout";
inline constexpr char kCompleted[] = "Completed";

}  // namespace ostrelcomm::auth
