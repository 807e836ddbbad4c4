// The longest hold of the fast engine's lock while a large answer is read,
// and the longest a call of the window's kind waits meanwhile, against the
// in-process stand-in server:
//  (a) a folder listing of 10,000 items arrives and is read (every item key
//      unwrapped, every metadata decrypted), while another thread queues a
//      listing of a small folder (`directory_getInfo`) 100 times, 2 ms apart,
//      timing each call;
//  (b) 1,000 items shared with the user arrive and their keys are opened.
// Targets: each longest hold <= 5 ms, each longest queuing call <= 5 ms. Each
// case runs several rounds; the worst round is printed beside the median.
//
// Holds are timed by the shared wrapper around the engine's mutex
// (LockHoldTimer.h). The stand-in answers the two large requests with bodies
// made once, so that the server's own work stays out of the measurement.
//
// A whole-process run: bench_enginelock [rounds] (5 by default).

#include "LockHoldTimer.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "auth/SRPAuthMode.h"
#include "crypto/curve25519/PrivateKey.h"
#include "crypto/curve25519/PublicKey.h"
#include "devserver/AccountEndpoints.h"
#include "devserver/Base64.h"
#include "devserver/DevServer.h"
#include "devserver/EndpointSupport.h"
#include "devserver/Endpoints.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"
#include "shares/ShareNotifications.h"
#include "shares/SharedItem.h"
#include "support/CryptoOracle.h"
#include "tree/TreeNotifications.h"

using namespace ostrelcomm;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kUser = "bench-lock";
constexpr const char* kPassword = "bench-lock-password";
constexpr const char* kLargeFolder = "LARGE-FOLDER";
constexpr int kListingItems = 10000;
constexpr int kSharedItems = 1000;
constexpr int kQueuedCalls = 100;
constexpr auto kCallInterval = std::chrono::milliseconds(2);
constexpr double kTargetMs = 5.0;
constexpr auto kGuard = std::chrono::minutes(2);

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string metadataText(int n) {
    return nlohmann::json{{"name", "Item " + std::to_string(n) + ".pdf"},
                          {"creationDate", "2021-03-04T05:06:07Z"},
                          {"modificationDate", "2022-01-02T03:04:05Z"},
                          {"fileSize", n * 1000},
                          {"mime", "application/pdf"},
                          {"filehash-SHA256", std::string(64, 'b')}}
        .dump();
}

// A listing of the root's shape with kListingItems items, every key wrapped
// and every metadata sealed as the client would have made them.
std::string largeListing(const Bytes& passwordKey) {
    const Bytes umk = testsupport::oracleRandom(48);
    const Bytes umkKey(umk.begin() + 16, umk.end());
    nlohmann::json body = {{"umk", testsupport::oracleWrap(umk, passwordKey)}, {"content", nlohmann::json::array()}};
    for (int n = 0; n < kListingItems; ++n) {
        const Bytes itemKey = testsupport::oracleRandom(48);
        const Bytes sealed =
            testsupport::oracleSeal(Bytes(itemKey.begin() + 16, itemKey.end()), toBytes(metadataText(n)));
        body["content"].push_back({{"uuid", "ITEM-" + std::to_string(n)},
                                   {"type", n % 5 == 0 ? "DIRECTORY" : "FILE"},
                                   {"parentuuid", kLargeFolder},
                                   {"orig_size", n * 1024},
                                   {"attrib", nlohmann::json::array()},
                                   {"metadata", devserver::base64Encode(sealed)},
                                   {"itemkey", testsupport::oracleWrap(itemKey, umkKey)},
                                   {"thumbnailsize", 0}});
    }
    return body.dump();
}

// kSharedItems items of one owner shared with the user: the user's private
// sharing key wrapped under the password key, each item key wrapped under
// the key the owner and the user share.
std::string sharedItems(const Bytes& passwordKey) {
    const Bytes readerPrivate = testsupport::oracleRandom(32);
    const Bytes ownerPrivate = testsupport::oracleRandom(32);
    const Bytes ownerPublic = testsupport::oraclePublicKey(ownerPrivate);
    Bytes carrier = testsupport::oracleRandom(16);
    carrier.insert(carrier.end(), readerPrivate.begin(), readerPrivate.end());
    const std::string wrappedPrivate = testsupport::oracleWrap(carrier, passwordKey);
    const PrivateKey reader(wrappedPrivate, passwordKey);
    const SecretBytes sharedKey = reader.getSharedSecretKey(ownerPublic).KeyValue();
    const Bytes shared(sharedKey.view().begin(), sharedKey.view().end());
    nlohmann::json body = {{"userprivatekey", wrappedPrivate}, {"sharedItems", nlohmann::json::array()}};
    for (int n = 0; n < kSharedItems; ++n) {
        const Bytes itemKey = testsupport::oracleRandom(48);
        const Bytes sealed =
            testsupport::oracleSeal(Bytes(itemKey.begin() + 16, itemKey.end()), toBytes(metadataText(n)));
        body["sharedItems"].push_back({{"ownerusername", "owner"},
                                       {"ownerpubshkey", devserver::base64Encode(ownerPublic)},
                                       {"owneruuid", "OWNER"},
                                       {"shareid", "SHARE-" + std::to_string(n)},
                                       {"itemuuid", "SHARED-" + std::to_string(n)},
                                       {"itemkey", testsupport::oracleWrap(itemKey, shared)},
                                       {"keyalgorythm", "aes256"},
                                       {"itemtype", "FILE"},
                                       {"orig_size", 123456},
                                       {"treehash", std::string(64, 'c')},
                                       {"itemalgorythm", "aes256"},
                                       {"itemencoderversion", "1.0"},
                                       {"metadata", devserver::base64Encode(sealed)}});
    }
    return body.dump();
}

// The end of one job, by the notification its kind posts.
class JobEnd {
public:
    JobEnd(SrvComm& engine, const char* notification, std::vector<std::string> endWords)
        : center_(engine.notifications()), endWords_(std::move(endWords)) {
        token_ = center_->addObserver(notification, [this](const Notification& n) {
            const auto* word = userInfoValue<std::string>(n.userInfo, "Result");
            if (!word || std::find(endWords_.begin(), endWords_.end(), *word) == endWords_.end()) return;
            std::lock_guard lock(mutex_);
            words_.push_back(*word);
            if (const auto* items = userInfoValue<shares::SharedItemsPayload>(n.userInfo, "CustomData"))
                sharedItems_ = items->size();
            changed_.notify_all();
        });
    }
    ~JobEnd() { center_->removeObserver(token_); }
    std::string wait(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kGuard, [&] { return words_.size() >= count; });
        return words_.size() >= count ? words_[count - 1] : std::string("<none>");
    }
    // The items of the last shared items' end.
    std::size_t sharedItems() {
        std::lock_guard lock(mutex_);
        return sharedItems_;
    }
    bool ended(std::size_t count) {
        std::lock_guard lock(mutex_);
        return words_.size() >= count;
    }

private:
    std::shared_ptr<NotificationCenter> center_;
    std::vector<std::string> endWords_;
    NotificationCenter::Token token_{};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> words_;
    std::size_t sharedItems_ = 0;
};

struct Round {
    double longestHoldMs = 0;
    double longestCallMs = 0;
    int callsBeforeEnd = 0;
    bool ok = false;
};

// A job's end is posted under the engine's lock, and a hold is timed when
// it ends: the lock taken once more makes sure the hold that posted it has
// been counted.
void settle(SrvComm& engine) { std::lock_guard lock(engine.mutex()); }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double worst(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const Bytes passwordKey = testsupport::oraclePasswordKey(kPassword);
    std::printf("making the answers: %d listed items, %d shared items\n", kListingItems, kSharedItems);
    const std::string listingBody = largeListing(passwordKey);
    const std::string sharedBody = sharedItems(passwordKey);

    devserver::DevServerOptions options;
    options.recordRequests = false;
    options.keepAliveSeconds = 30;
    devserver::DevServer server(options);
    devserver::installEndpoints(server);
    devserver::addDemoUser(server.users(), kUser, kPassword);
    // The large folder's listing and the shared items as made above; every
    // other folder is listed as empty.
    server.route("GET", "/dir/list/",
                 devserver::Endpoint{"GET_DIRECTORY_INFORMATIONS", devserver::Access::session,
                                     [&](const devserver::ServerRequest& request) {
                                         if (request.protocolHeader("item-uuid") == std::optional<std::string>(kLargeFolder))
                                             return devserver::Reply::bytes(listingBody, "application/json");
                                         nlohmann::json empty = {{"umk", testsupport::oracleWrap(
                                                                              testsupport::oracleRandom(48), passwordKey)},
                                                                 {"content", nlohmann::json::array()}};
                                         return devserver::Reply::json(empty);
                                     }});
    server.route("GET", "/shares/getshareditems/",
                 devserver::Endpoint{"SHARE_GETSHARED_ITEMS", devserver::Access::session,
                                     [&](const devserver::ServerRequest&) {
                                         return devserver::Reply::bytes(sharedBody, "application/json");
                                     }});
    server.start();
    const fs::path work = fs::temp_directory_path() / ("quorvel-bench-lock-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const std::string caFile = (work / "ca.pem").string();
    server.writeCaCertificate(caFile);
    ::setenv("QUORVEL_SERVER_URL", server.baseUrl().c_str(), 1);
    ::setenv("QUORVEL_CA_FILE", caFile.c_str(), 1);

    int status = 0;
    {
        auto engine = std::make_shared<SrvComm>();
        holdtimer::watch(engine->mutex());
        {
            JobEnd login(*engine, "SRPAuthenticated", {"Authenticated", "Error", "Aborted"});
            engine->auth_add(kUser, SecretBytes::fromText(kPassword), SRPAuthMode::new_);
            const std::string result = login.wait(1);
            if (result != "Authenticated") {
                std::fprintf(stderr, "login failed: %s\n", result.c_str());
                return 1;
            }
        }

        // (a) The large listing, and the window's calls beside it.
        std::vector<double> listingHolds, callWaits;
        for (int round = 0; round < rounds; ++round) {
            JobEnd listings(*engine, tree::kQueryRemoteDirectoryContentNotification,
                            {tree::kReceived, tree::kError, tree::kAborted});
            Round r;
            LockProbe probe(engine->mutex());
            engine->directory_getInfo(kLargeFolder, std::nullopt);
            std::thread window([&] {
                for (int call = 0; call < kQueuedCalls; ++call) {
                    const auto start = Clock::now();
                    engine->directory_getInfo("root", std::nullopt);
                    r.longestCallMs = std::max(r.longestCallMs, ms(Clock::now() - start));
                    if (!listings.ended(1)) ++r.callsBeforeEnd;
                    std::this_thread::sleep_for(kCallInterval);
                }
            });
            window.join();
            const std::string first = listings.wait(1);
            const std::string last = listings.wait(1 + kQueuedCalls);
            settle(*engine);
            r.longestHoldMs = ms(probe.stopAndJoin());
            r.ok = first == tree::kReceived && last == tree::kReceived;
            if (!r.ok) {
                std::fprintf(stderr, "listing round %d: %s / %s\n", round, first.c_str(), last.c_str());
                status = 1;
            }
            std::printf("(a) round %d: longest hold %7.2f ms, longest directory_getInfo call %7.2f ms "
                        "(%d of %d calls before the large listing ended)\n",
                        round, r.longestHoldMs, r.longestCallMs, r.callsBeforeEnd, kQueuedCalls);
            listingHolds.push_back(r.longestHoldMs);
            callWaits.push_back(r.longestCallMs);
            engine->queue()->jobCleanup();
        }

        // (b) The shared items.
        std::vector<double> sharedHolds;
        for (int round = 0; round < rounds; ++round) {
            JobEnd shared(*engine, shares::kQuerySharedItemsNotification, {shares::kAvailable, shares::kError});
            LockProbe probe(engine->mutex());
            const auto start = Clock::now();
            engine->shares_queryForSharedItems(std::nullopt);
            const std::string result = shared.wait(1);
            const double total = ms(Clock::now() - start);
            settle(*engine);
            const double longest = ms(probe.stopAndJoin());
            if (result != shares::kAvailable || shared.sharedItems() != kSharedItems) {
                std::fprintf(stderr, "shared items round %d: %s with %zu items\n", round, result.c_str(),
                             shared.sharedItems());
                status = 1;
            }
            std::printf("(b) round %d: longest hold %7.2f ms, the job %7.2f ms\n", round, longest, total);
            sharedHolds.push_back(longest);
            engine->queue()->jobCleanup();
        }

        std::printf("\n%-62s %9s %9s %s\n", "", "median", "worst", "(target)");
        std::printf("%-62s %9.2f %9.2f (<= %.0f ms)\n", "(a) longest hold, 10,000-item listing read", median(listingHolds),
                    worst(listingHolds), kTargetMs);
        std::printf("%-62s %9.2f %9.2f (<= %.0f ms)\n", "(a) longest directory_getInfo call from another thread",
                    median(callWaits), worst(callWaits), kTargetMs);
        std::printf("%-62s %9.2f %9.2f (<= %.0f ms)\n", "(b) longest hold, 1,000 shared items opened",
                    median(sharedHolds), worst(sharedHolds), kTargetMs);
    }
    server.stop();
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return status;
}
