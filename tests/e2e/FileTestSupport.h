#pragma once

// The file tests' common ground, on top of the folder tests': a logged-in
// account with a recorder of its file notifications, files seeded as another
// client would have stored them (with a separate thumbnail), files granted
// to another account under the key the two share (libsodium), and the
// opening of what the client sent with OpenSSL.

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FolderTestSupport.h"
#include "devserver/Base64.h"
#include "support/FileOracle.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm::filetest {

using foldertest::kPassword;
using foldertest::Lines;
using foldertest::Posted;
using foldertest::server;
using testsupport::ListingOracle;
using testsupport::requestLines;

// The file notifications and the login's.
class FileRecorder : public testsupport::NotificationRecorder {
public:
    explicit FileRecorder(std::shared_ptr<NotificationCenter> center)
        : NotificationRecorder(std::move(center),
                               {tree::kGetFileInfoNotification, tree::kFilePropertiesModificationNotification,
                                tree::kDeleteFileNotification, auth::kSRPAuthenticatedNotification}) {}

    // "name:result" of each, in order, the login's "InProgress" and the
    // jobs' "Started" left out.
    Lines lines() const { return NotificationRecorder::lines({auth::kInProgress, tree::kStarted}); }
};

// An account and an engine logged in to it (the folder tests' session), with
// a recorder of its file notifications from the login on.
struct FileSession : foldertest::LoggedIn {
    FileRecorder files{engine->notifications()};

    explicit FileSession(const std::string& stem) : LoggedIn("file-" + stem) {}

    // A file sealed by the account's key chain and, when a thumbnail's clear
    // text is given, its thumbnail sealed apart under the file key.
    devserver::Item seedFile(const ListingOracle::Item& item, const std::string& parent = devserver::kRootFolder,
                             const std::optional<std::string>& thumbnail = std::nullopt) const {
        devserver::Item stored = seed(item, parent, devserver::ItemKind::file);
        if (thumbnail) {
            const Bytes sealed = testsupport::oracleSeal(ListingOracle::keyBytes(item), toBytes(*thumbnail));
            EXPECT_TRUE(server().items().modify(owner(), stored.uuid,
                                                [&](devserver::Item& it) { it.thumbnail = sealed; }));
            stored.thumbnail = sealed;
        }
        return stored;
    }
    devserver::Item seedFolder(const std::string& name) const {
        ListingOracle::Item folder;
        folder.metadata = testsupport::metadataText(name);
        return seed(folder, devserver::kRootFolder, devserver::ItemKind::directory);
    }

    // The account's sharing keys, read from what the server keeps.
    Bytes publicKey() const { return account().pubshkey; }
    Bytes privateKey() const {
        auto key = testsupport::oraclePrivateKey(account().privshkey, kPassword);
        EXPECT_TRUE(key);
        return key.value_or(Bytes{});
    }

    // The stored file of this account.
    std::optional<devserver::Item> stored(const std::string& uuid) const { return server().items().find(owner(), uuid); }
};

// Grants `reader` the owner's file `uuid`: its key (iv ‖ key) wrapped under
// the key the two accounts share.
inline bool grantFile(const FileSession& owner, const ListingOracle::Item& item, const std::string& uuid,
                      const FileSession& reader) {
    const Bytes shared = testsupport::oracleSharedKey(owner.publicKey(), reader.privateKey());
    if (shared.size() != 32) return false;
    return server().items().grant(owner.owner(), uuid, reader.owner(), testsupport::oracleWrap(item.itemKey, shared));
}

// The members of a JSON object.
inline std::set<std::string> keysOf(const nlohmann::json& object) {
    std::set<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.insert(key);
    return keys;
}

inline Bytes base64(const nlohmann::json& value) {
    auto bytes = devserver::base64Decode(value.get<std::string>());
    EXPECT_TRUE(bytes);
    return bytes.value_or(Bytes{});
}

// The clear JSON of a sealed form, opened under an item's key bytes by EVP;
// absent when it does not open or is no JSON.
inline std::optional<nlohmann::json> openSealed(const Bytes& sealed, const ListingOracle::Item& item) {
    auto clear = testsupport::oracleOpen(ListingOracle::keyBytes(item), sealed);
    if (!clear) return std::nullopt;
    auto value = nlohmann::json::parse(clear->begin(), clear->end(), nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

}  // namespace ostrelcomm::filetest
