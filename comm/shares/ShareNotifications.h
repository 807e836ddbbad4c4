#pragma once

// The sharing area's notifications, posted on the engine's own center when a
// job completes, fails or is aborted, and for the listings also when their
// request goes out ("Started"). Each carries "Result" (one of the words
// below, std::string), "httpError" (HTTPError or NullObject) and
// "CustomData" (the type named, or NullObject when there is none).

#include <string>
#include <vector>

#include "shares/SharedItem.h"
#include "shares/SharesData.h"
#include "shares/SharingPeer.h"
#include "shares/TrustCode.h"

namespace ostrelcomm::shares {

inline constexpr char kCreated[] = "Created";
inline constexpr char kAvailable[] = "Available";
inline constexpr char kRemoved[] = "Removed";
inline constexpr char kError[] = "Error";
inline constexpr char kStarted[] = "Started";
inline constexpr char kReceived[] = "Received";

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

// shares_shareItem: "Shared" or "Error"; "CustomData" the share's identifier
// (std::string) whenever it is known. An item the server reports as shared
// with the peer already is "Shared" too, with the server's exception
// kItemAlreadyShared in "httpError" and the identifier it names, or kNoID
// when its report names none.
inline constexpr char kShareItemTerminatedNotification[] = "shareItemTerminated";
inline constexpr char kShared[] = "Shared";
inline constexpr char kItemAlreadyShared[] = "ItemAlreadyShared";
inline constexpr char kNoID[] = "NoID";
using ShareItemPayload = std::string;

// shares_queryForShares: "Started" (no data) each time the request goes out,
// then "Received" with the item's shares in the server's order, or "Error"
// with what the job holds (empty unless an answer had come).
inline constexpr char kQueryForSharesNotification[] = "queryForShares";
using QueryForSharesPayload = std::vector<SharesData>;

// shares_removeShare: "Removed" or "Error", nothing while it runs;
// "CustomData" always the identifier the removal was asked for
// (std::string), whatever the server names in its answer.
inline constexpr char kRemoveShareTerminatedNotification[] = "removeShareTerminated";
using RemoveSharePayload = std::string;

// shares_queryForSharingPeer: "Started" (no data) each time the request goes
// out, then "Received" with the users who share items with the user, or
// "Error" with what the job holds.
inline constexpr char kQueryForSharingPeersNotification[] = "queryForSharingPeers";
using SharingPeersPayload = std::vector<SharingPeer>;

// shares_queryForSharedItems: "Started" each time the request goes out, with
// the job's list (empty) and the previous request's error (the expired
// session, when the request is sent again after a login); then "Available"
// with the items whose keys opened, or "Error" with the job's list.
inline constexpr char kQuerySharedItemsNotification[] = "querySharedItems";
using SharedItemsPayload = std::vector<SharedItem>;

}  // namespace ostrelcomm::shares
