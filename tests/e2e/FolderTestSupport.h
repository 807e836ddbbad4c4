#pragma once

// The folder tests' common ground: the shared stand-in server with accounts
// made on OpenSSL, a logged-in engine with a recorder of its folder and login
// notifications, items seeded as another client would have stored them, and
// the listing oracle of tests/support that reads back what the client stored.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "devserver/AccountEndpoints.h"
#include "devserver/DevServer.h"
#include "devserver/ItemStore.h"
#include "jobs/SrvComm.h"
#include "support/EngineRequests.h"
#include "support/ListingOracle.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"
#include "tree/TreeNotifications.h"

namespace ostrelcomm::foldertest {

inline constexpr char kPassword[] = "folder test password";

// The shared stand-in server; call before the program's first Http.
inline devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

using testsupport::lastError;
using testsupport::requestLines;
using Posted = testsupport::PostedNotification;
using Lines = std::vector<std::string>;

inline std::vector<devserver::RecordedRequest> requestsOf(const std::string& user) {
    return testsupport::requestsOf(server(), user);
}

// The folder notifications and the login's.
class Recorder : public testsupport::NotificationRecorder {
public:
    explicit Recorder(std::shared_ptr<NotificationCenter> center)
        : NotificationRecorder(std::move(center),
                               {tree::kQueryRemoteDirectoryContentNotification,
                                tree::kNewRemoteDirectoryCreatedNotification, auth::kSRPAuthenticatedNotification}) {}

    // "name:result" of each, in order, the login's "InProgress" and the
    // folder jobs' "Started" left out.
    Lines lines() const { return NotificationRecorder::lines({auth::kInProgress, tree::kStarted}); }
};

// An account made on OpenSSL, and an engine logged in to it.
struct LoggedIn {
    std::string user;
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    Recorder recorder{engine->notifications()};

    explicit LoggedIn(const std::string& stem) : user(testsupport::uniqueName("folder-" + stem)) {
        devserver::addDemoUser(server().users(), user, kPassword);
        engine->auth_add(user, SecretBytes::fromText(kPassword), SRPAuthMode::new_);
        EXPECT_TRUE(recorder.waitIdle());
        auto end = recorder.last(auth::kSRPAuthenticatedNotification);
        EXPECT_TRUE(end && end->result == auth::kAuthenticated);
        recorder.clear();
        seen_ = requestsOf(user).size();
    }

    // The requests of this user since the login or the previous call.
    std::vector<devserver::RecordedRequest> newRequests() {
        auto all = requestsOf(user);
        std::vector<devserver::RecordedRequest> out(all.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, all.size())),
                                                    all.end());
        seen_ = all.size();
        return out;
    }

    // Runs `queue` and waits until the engine has run dry.
    // Queued under the engine's lock: a job that ended before the next was
    // queued would run the engine dry early and the wait would end too soon.
    template <class Queue>
    void run(Queue queue) {
        {
            std::lock_guard lock(engine->mutex());
            queue(*engine);
        }
        EXPECT_TRUE(recorder.waitIdle());
    }

    devserver::User account() const { return *server().users().find(user); }
    std::string owner() const { return account().uuid; }
    // The account's key chain, from its stored master key and the password.
    testsupport::ListingOracle oracle() const {
        auto chain = testsupport::ListingOracle::forAccount(account().umk, kPassword);
        EXPECT_TRUE(chain);
        return chain.value_or(testsupport::ListingOracle{});
    }
    // An item sealed by the oracle, stored as another client would have.
    devserver::Item seed(const testsupport::ListingOracle::Item& item, const std::string& parent,
                         devserver::ItemKind kind) const {
        const auto chain = oracle();
        devserver::Item stored;
        stored.owner = owner();
        stored.kind = kind;
        stored.parent = parent;
        stored.attrib = item.attrib;
        stored.itemkey = chain.wrappedItemKey(item);
        stored.metadata = chain.sealedMetadata(item);
        stored.size = item.orig_size;
        auto added = server().items().add(stored);
        EXPECT_TRUE(added);
        return added.value_or(stored);
    }

private:
    std::size_t seen_ = 0;
};

}  // namespace ostrelcomm::foldertest
