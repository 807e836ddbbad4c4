#pragma once

// The accounts area's notifications, posted on the engine's own center. Each
// carries "Result" (one of the words below, std::string), "httpError"
// (HTTPError or NullObject) and "CustomData" (the type named, or NullObject
// when there is none).

#include <any>
#include <map>
#include <string>
#include <vector>

#include "user/PeerShareData.h"
#include "user/UserProfile.h"
#include "user/UserSessionData.h"

namespace ostrelcomm::user {

inline constexpr char kCompleted[] = "Completed";
inline constexpr char kCreated[] = "Created";
inline constexpr char kAvailable[] = "Available";
inline constexpr char kModified[] = "Modified";
inline constexpr char kDeleted[] = "Deleted";
inline constexpr char kError[] = "Error";
inline constexpr char kAborted[] = "Aborted";

// "CustomData" of the notifications whose payload is a dictionary with the
// one entry "notificationData".
using NotificationDataPayload = std::map<std::string, std::any>;
inline constexpr char kNotificationDataKey[] = "notificationData";

// user_addCreation: "Created" or "Error"; "CustomData" the new user's
// identifier (std::string) when known.
inline constexpr char kUserCreationTerminatedNotification[] = "userCreationTerminated";
using UserCreationPayload = std::string;

// user_addGetProfile: "Completed" with {"notificationData": UserProfile}, or
// "Error".
inline constexpr char kUserProfileDataAvailableNotification[] = "userProfileDataAvailable";
using UserProfilePayload = UserProfile;

// user_addGetShareProfile: "Available" with a PeerShareData, or with none when
// the server knows no such user; "Error".
inline constexpr char kPeerShareDataNotification[] = "peerShareData";
using PeerShareDataPayload = PeerShareData;

// user_addGetUserSessions: "Available" with the login history, or "Error".
inline constexpr char kGetUserSessionsDataNotification[] = "getUserSessionsData";
using UserSessionsPayload = std::vector<UserSessionData>;

// user_modify: "Modified" (then "userLogout") or "Error"; "CustomData" the
// user's identifier (std::string) when known.
inline constexpr char kUserModificationNotification[] = "userModification";
using UserModificationPayload = std::string;

// user_delete: "Deleted" with {"notificationData": the user's identifier
// (std::string)} (then "userLogout"), "Error" or "Aborted".
inline constexpr char kUserProfileDeletedNotification[] = "userProfileDeleted";

}  // namespace ostrelcomm::user
