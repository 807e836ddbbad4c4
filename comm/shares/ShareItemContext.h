#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/PrivateKey.h"
#include "jobs/CommJobsContext.h"
#include "json/StrictJson.h"
#include "platform/Bytes.h"
#include "shares/ShareNotifications.h"

namespace ostrelcomm {

// The context of sharing one of the user's items with a peer. The
// preparation's answer gives the user's private sharing key and the item's
// key (both unwrapped here, and kept in secret buffers until the job is
// dropped) and the peer's public key; the execution wraps the item key under
// the key the user and the peer share and sends only that.
class ShareItemContext : public CommJobsContext {
public:
    static constexpr const char* kNotificationName = shares::kShareItemTerminatedNotification;

    // Body of the execution. Absent members are left out; "itemkey" is a
    // JSON string holding the wrapped-key text (not a nested object).
    struct NewShareData {
        std::optional<std::string> peerUsername;
        std::optional<std::string> itemUUID;
        std::optional<std::string> itemkey;
        std::string algorythm = "aes256";

        // The JSON bytes, keys in this order. Throws the JSON library's
        // type_error for a text that is not UTF-8.
        Bytes encode() const;
    };

    // Starts at shareItem_prepare with a new session for `urlToUse`; the
    // body holds the peer's name and the item, not yet its key.
    ShareItemContext(const std::string& urlToUse, std::string peerUsername, std::string itemUUID);

    const std::string peerUsername;
    const std::string itemUUID;
    // The share's identifier, once the server has named it.
    std::optional<std::string> shareUUID;
    std::optional<PrivateKey> userPrivateKey;
    std::optional<EncryptionKey> itemKey;
    // The peer's public sharing key as the server gave it.
    std::optional<Bytes> peersharekey;
    NewShareData newSharePayload;

    // "Shared" when completed, "Error" on error or abort, with the last
    // request error and the share's identifier whenever there is one;
    // nothing for any other status.
    JobNotificationData getNotificationData(JobStatus status) override;

    // The existing share named by the server's report of an item already
    // shared ("…@<identifier>"): the report cut at every "@", empty pieces
    // dropped; the second of exactly two pieces, else shares::kNoID.
    static std::string existingShareID(std::string_view description);
};

void to_json(json::OrderedJson& value, const ShareItemContext::NewShareData& data);

}  // namespace ostrelcomm
