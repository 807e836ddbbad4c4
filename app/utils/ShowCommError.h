#pragma once

#include <functional>
#include <optional>

#include "http/HTTPError.h"
#include "platform/NotificationCenter.h"

namespace quorvel {

inline constexpr char kCommunicationErrorTitle[] = "Communication error";
inline constexpr char kInvalidCommErrorLog[] = "Invalid commError structure";

// Shows the alert for the HTTPError a job notification carries under
// "httpError": titled "Communication error", with the error's description as
// it came (never localised, never read as markup). A notification without an
// HTTPError there is only logged ("Invalid commError structure").
// `completionHandler` runs once, after the alert is up (the call does not
// wait for the user) or after the log line. On the main thread: an observer
// on an engine thread hops there first.
void showCommError(const ostrelcomm::Notification& notification, std::function<void()> completionHandler = {});
// The same for the HTTPError of a notification the bridge relayed: the same
// alert, and for none the same log line.
void showCommError(const std::optional<ostrelcomm::HTTPError>& httpError,
                   std::function<void()> completionHandler = {});

}  // namespace quorvel
