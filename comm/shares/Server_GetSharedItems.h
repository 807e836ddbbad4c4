#pragma once

#include <any>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/curve25519/PrivateKey.h"
#include "json/StrictJson.h"
#include "platform/Bytes.h"
#include "shares/SharedItem.h"
#include "tree/RemoteItemType.h"

namespace ostrelcomm {

// Answer of listing the items shared with the user: the user's own private
// sharing key, wrapped under the password key, and per shared item the
// owner's public sharing key, the item key wrapped under the key the owner
// and the user share, and the item's sealed metadata. decryptKeys opens them.
class Server_GetSharedItems {
public:
    // One shared item as the server sends it; all thirteen keys required.
    struct RawRemoteItemInfo {
        std::string ownerusername;
        // Expected to be 32 bytes; decryptKeys finds out.
        Bytes ownerpubshkey;
        std::string owneruuid;
        std::string shareid;
        std::string itemuuid;
        // The wrapped-key JSON text.
        std::string itemkey;
        // Read and not used: the item key is always AES-256.
        std::string keyalgorythm;
        RemoteItemType itemtype;
        std::uint64_t orig_size;
        std::string treehash;
        std::string itemalgorythm;
        std::string itemencoderversion;
        // IV ‖ AES-256-CBC of the metadata's JSON form.
        Bytes metadata;
    };

    // The wrapped-key JSON text of the user's private sharing key.
    std::string userprivatekey;
    std::vector<RawRemoteItemInfo> sharedItems;

    // One JSON object {"userprivatekey", "sharedItems"}. An item with a
    // missing key, a wrong type, an "itemtype" other than "ROOT", "FILE" or
    // "DIRECTORY", or an "orig_size" that is not an unsigned 64-bit integer
    // fails the whole answer. Throws json::DecodeError.
    static Server_GetSharedItems fromBody(ByteView body);
    std::any getAnswer() const { return sharedItems; }

    // The items whose keys open, in the server's order. Per item: the key
    // shared with the owner (X25519 and HSalsa20, computed afresh), the item
    // key unwrapped under it (a 16-byte IV and a 32-byte key, nothing else),
    // the metadata decrypted with the item key. An item where one of them
    // fails is left out, and one line goes to the system log: "Error when
    // computing a shared key", "Error decrypting item key" or "Error
    // decrypting item metadata". Never throws for one item; a private key
    // without a value leaves every item out.
    std::vector<SharedItem> decryptKeys(const PrivateKey& privateKey) const;
};

void from_json(const json::Json& value, Server_GetSharedItems::RawRemoteItemInfo& record);
void from_json(const json::Json& value, Server_GetSharedItems& record);

}  // namespace ostrelcomm
