#pragma once

// The application tests against the stand-in server: accounts made on the
// server's side, Appwise's engines logged in to one, items seeded as another
// client would have stored them (sealed by the tests' own oracle), listings
// and shared items fetched through the engines as the browser would, and the
// stored items read back.

#include <QCoreApplication>
#include <QObject>
#include <QTest>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "devserver/AccountEndpoints.h"
#include "devserver/DevServer.h"
#include "devserver/ItemStore.h"
#include "devserver/TransferEndpoints.h"
#include "support/EngineRequests.h"
#include "support/FileOracle.h"
#include "support/ListingOracle.h"
#include "support/SharedDevserver.h"
#include "jobs/CommJobs.h"
#include "jobs/JobStatus.h"
#include "shares/ShareNotifications.h"
#include "tree/RemoteDirInfo.h"
#include "tree/TreeNotifications.h"

namespace apptest {

inline constexpr int kStandInGuardMs = 30'000;
inline constexpr char kStandInPassword[] = "app stand-in password";
// The tag of the tests' own listings.
inline constexpr char kTestSource[] = "appTest";

// The shared stand-in server; call before the program's first Http.
inline devserver::DevServer& standIn() { return testsupport::sharedDevserver().server(); }

// An account on the stand-in, and its items.
class StandInAccount {
public:
    explicit StandInAccount(const std::string& stem) : user_(testsupport::uniqueName(stem)) {
        devserver::addDemoUser(standIn().users(), user_, kStandInPassword);
    }

    const std::string& user() const { return user_; }
    devserver::User account() const { return *standIn().users().find(user_); }
    std::string owner() const { return account().uuid; }
    testsupport::ListingOracle oracle() const {
        return testsupport::ListingOracle::forAccount(account().umk, kStandInPassword)
            .value_or(testsupport::ListingOracle{});
    }

    // A folder or file named `name` in `parent`, sealed under the account's
    // keys; its identifier (empty when the store refused it).
    std::string seed(const std::string& name, devserver::ItemKind kind,
                     const std::string& parent = devserver::kRootFolder) {
        return seedMetadata(testsupport::metadataText(name), kind, parent);
    }
    // The same with the whole clear metadata given, as JSON text.
    std::string seedMetadata(const std::string& metadata, devserver::ItemKind kind,
                             const std::string& parent = devserver::kRootFolder) {
        testsupport::ListingOracle::Item item;
        item.metadata = metadata;
        const auto chain = oracle();
        devserver::Item stored;
        stored.owner = owner();
        stored.kind = kind;
        stored.parent = parent;
        stored.itemkey = chain.wrappedItemKey(item);
        stored.metadata = chain.sealedMetadata(item);
        const auto added = standIn().items().add(stored);
        if (!added) return {};
        keys_.push_back({added->uuid, item});
        return added->uuid;
    }
    std::string folder(const std::string& name, const std::string& parent = devserver::kRootFolder) {
        return seed(name, devserver::ItemKind::directory, parent);
    }
    std::string file(const std::string& name, const std::string& parent = devserver::kRootFolder) {
        return seed(name, devserver::ItemKind::file, parent);
    }

    // A file holding `content` (less than one 4 MiB block), stored as another
    // client would have left it: the block encrypted under a fresh item key
    // on OpenSSL, the metadata without a file hash or thumbnail; its
    // identifier (empty when the store refused it).
    std::string storeFile(const std::string& name, const std::string& content,
                          const std::string& parent = devserver::kRootFolder) {
        testsupport::ListingOracle::Item item;
        const auto& key = item.itemKey;
        const ostrelcomm::Bytes clear(content.begin(), content.end());
        devserver::Item stored;
        std::vector<std::string> bodies;
        if (!clear.empty()) {
            const ostrelcomm::Bytes cipher = testsupport::oracleCbcEncrypt(
                ostrelcomm::Bytes(key.begin() + 16, key.end()), ostrelcomm::Bytes(key.begin(), key.begin() + 16), clear);
            stored.chunks.push_back(devserver::Chunk{0, clear.size() - 1, sha256Hex(cipher)});
            bodies.emplace_back(cipher.begin(), cipher.end());
        }
        const std::string treehash = devserver::treeHashHex(stored.chunks);
        auto metadata = nlohmann::json::parse(testsupport::metadataText(name));
        metadata["fileSize"] = clear.size();
        metadata["treehash-SHA256"] = treehash;
        item.metadata = metadata.dump();
        const auto chain = oracle();
        stored.owner = owner();
        stored.kind = devserver::ItemKind::file;
        stored.parent = parent;
        stored.itemkey = chain.wrappedItemKey(item);
        stored.metadata = chain.sealedMetadata(item);
        stored.size = clear.size();
        stored.treehash = treehash;
        const auto added = devserver::storeFile(standIn(), stored, bodies);
        if (!added) return {};
        keys_.push_back({added->uuid, item});
        return added->uuid;
    }
    // The clear metadata an item of the account stores, read back under the
    // account's keys; absent when it is not there or does not open.
    std::optional<nlohmann::json> storedMetadata(const std::string& uuid) const {
        const auto found = standIn().items().find(owner(), uuid);
        if (!found) return std::nullopt;
        return oracle().openMetadata(found->itemkey, found->metadata);
    }

    // Grants `reader` this account's seeded item: its key wrapped under the
    // key the two accounts share.
    bool grant(const std::string& uuid, const StandInAccount& reader) const {
        const auto found = std::find_if(keys_.begin(), keys_.end(), [&](const auto& k) { return k.uuid == uuid; });
        const auto readerPrivate = testsupport::oraclePrivateKey(reader.account().privshkey, kStandInPassword);
        if (found == keys_.end() || !readerPrivate) return false;
        const auto shared = testsupport::oracleSharedKey(account().pubshkey, *readerPrivate);
        return standIn().items().grant(owner(), uuid, reader.owner(),
                                       testsupport::oracleWrap(found->item.itemKey, shared));
    }

    // The items directly in one of the account's folders, by name read back
    // under the account's keys, sorted; folders end with "/".
    std::vector<std::string> namesIn(const std::string& folderUUID) const {
        const auto listed = standIn().items().folder(owner(), folderUUID);
        if (!listed) return {"no such folder"};
        const auto chain = oracle();
        std::vector<std::string> names;
        for (const auto& item : listed->content) {
            const auto metadata = chain.openMetadata(item.itemkey, item.metadata);
            std::string name = metadata ? (*metadata)["name"].template get<std::string>() : "unreadable";
            names.push_back(item.kind == devserver::ItemKind::directory ? name + "/" : name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The identifier of the item named `name` directly in a folder.
    std::string uuidIn(const std::string& folderUUID, const std::string& name) const {
        const auto listed = standIn().items().folder(owner(), folderUUID);
        if (!listed) return {};
        const auto chain = oracle();
        for (const auto& item : listed->content) {
            const auto metadata = chain.openMetadata(item.itemkey, item.metadata);
            if (metadata && (*metadata)["name"] == name) return item.uuid;
        }
        return {};
    }

    // "METHOD path" of this account's requests since the last call.
    std::vector<devserver::RecordedRequest> newRequests() {
        auto all = testsupport::requestsOf(standIn(), user_);
        std::vector<devserver::RecordedRequest> out(all.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, all.size())),
                                                    all.end());
        seen_ = all.size();
        return out;
    }

private:
    static std::string sha256Hex(const ostrelcomm::Bytes& bytes) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
        std::string hex;
        char pair[3];
        for (unsigned int i = 0; i < length; ++i) {
            std::snprintf(pair, sizeof pair, "%02x", digest[i]);
            hex += pair;
        }
        return hex;
    }

    struct SeededKey {
        std::string uuid;
        testsupport::ListingOracle::Item item;
    };
    std::string user_;
    std::vector<SeededKey> keys_;
    std::size_t seen_ = 0;
};

// Logs Appwise's engines in to the account, as the login sheet does; true
// once both hold the session.
inline bool logIn(quorvel::Appwise& appwise, const StandInAccount& account) {
    appwise.setUsername(account.user());
    appwise.setPassword(ostrelcomm::SecretBytes::fromText(kStandInPassword));
    appwise.engine(quorvel::CommTasks::fastTask)
        ->auth_add(account.user(), ostrelcomm::SecretBytes::fromText(kStandInPassword),
                   ostrelcomm::SRPAuthMode::new_);
    return QTest::qWaitFor(
        [&] {
            return appwise.authenticated() && appwise.engine(quorvel::CommTasks::slowTask)->sessionID().has_value();
        },
        kStandInGuardMs);
}

// Makes `peer` one of the logged-in user's trusted peers through the fast
// engine's trust job, as the trusted users tab does; true once created.
inline bool trust(quorvel::Appwise& appwise, const StandInAccount& peer) {
    std::optional<std::string> word;
    QObject receiver;
    QObject::connect(&appwise.bridge(quorvel::CommTasks::fastTask), &quorvel::EngineBridge::trustCreationTerminated,
                     &receiver, [&](const quorvel::TrustCreationEvent& event) { word = event.result; });
    const devserver::User user = peer.account();
    appwise.engine(quorvel::CommTasks::fastTask)->shares_addTrustedUser(user.uuid, user.name, user.pubshkey);
    return QTest::qWaitFor([&] { return word.has_value(); }, kStandInGuardMs) && word == ostrelcomm::shares::kCreated;
}

// A remote folder's listing on the fast engine (keys unwrapped, metadata
// decrypted), as the browser keeps it; null when none came.
inline ostrelcomm::tree::DirInfoPayload folderListing(quorvel::Appwise& appwise, const std::string& uuid) {
    ostrelcomm::tree::DirInfoPayload listing;
    QObject receiver;
    QObject::connect(&appwise.bridge(quorvel::CommTasks::fastTask),
                     &quorvel::EngineBridge::queryRemoteDirectoryContent, &receiver,
                     [&](const quorvel::DirectoryContentEvent& event) {
                         if (event.source == kTestSource && event.data && *event.data) listing = *event.data;
                     });
    appwise.engine(quorvel::CommTasks::fastTask)->directory_getInfo(uuid, std::string(kTestSource));
    (void)QTest::qWaitFor([&] { return listing != nullptr; }, kStandInGuardMs);
    return listing;
}

// The items of a remote folder as that listing gives them; empty when none
// came.
inline std::vector<ostrelcomm::RemoteItemInfo> listFolder(quorvel::Appwise& appwise, const std::string& uuid) {
    const auto listing = folderListing(appwise, uuid);
    return listing ? listing->content : std::vector<ostrelcomm::RemoteItemInfo>{};
}

// The listed items with these names, in the order of the names.
inline std::vector<ostrelcomm::RemoteItemInfo> pick(const std::vector<ostrelcomm::RemoteItemInfo>& listed,
                                                    const std::vector<std::string>& names) {
    std::vector<ostrelcomm::RemoteItemInfo> out;
    for (const auto& name : names)
        for (const auto& item : listed)
            if (item.metadata.name == name) out.push_back(item);
    return out;
}

// The items other users share with the logged-in user, as the fast engine
// lists them; empty when none came.
inline std::vector<ostrelcomm::SharedItem> sharedItems(quorvel::Appwise& appwise) {
    std::optional<std::vector<ostrelcomm::SharedItem>> items;
    QObject receiver;
    QObject::connect(&appwise.bridge(quorvel::CommTasks::fastTask), &quorvel::EngineBridge::querySharedItems,
                     &receiver, [&](const quorvel::SharedItemsEvent& event) {
                         // "Started" comes with the job's list, still empty.
                         if (event.result == ostrelcomm::shares::kAvailable && event.data) items = *event.data;
                     });
    appwise.engine(quorvel::CommTasks::fastTask)->shares_queryForSharedItems(std::nullopt);
    (void)QTest::qWaitFor([&] { return items.has_value(); }, kStandInGuardMs);
    return items.value_or(std::vector<ostrelcomm::SharedItem>{});
}

// True once no job of the engine is waiting or running.
inline bool engineIdle(const ostrelcomm::SrvComm& engine) {
    for (const auto& [id, job] : engine.queue()->getJobsList())
        if (!ostrelcomm::isFinished(job.status)) return false;
    return true;
}

// "METHOD path" of each request, in order.
inline std::vector<std::string> lines(const std::vector<devserver::RecordedRequest>& requests) {
    return testsupport::requestLines(requests);
}

// The first value of a request's protocol header ("x-sb-" + name).
inline std::string header(const devserver::RecordedRequest& request, const std::string& name) {
    const auto values = request.values("x-sb-" + name);
    return values.empty() ? std::string() : values.front();
}

}  // namespace apptest
