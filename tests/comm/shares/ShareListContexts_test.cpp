// What the contexts of the share listings and of a share's removal post for
// each job status: the word, whether the job's last request error goes
// with it, and the payload.

#include <gtest/gtest.h>

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shares/GetSharedItemsContext.h"
#include "shares/GetSharesContext.h"
#include "shares/GetSharingPeersContext.h"
#include "shares/RemoveShareContext.h"
#include "shares/ShareNotifications.h"
#include "support/SharedDevserver.h"

namespace ostrelcomm {
namespace {

const HTTPError kError{std::string("AccessDeniedException"), HTTPErrors::badStatusCode, "Session expired",
                       std::int64_t{403}};

struct Row {
    JobStatus status;
    // Empty: nothing is posted.
    std::string word;
    bool carriesError = true;
    bool carriesPayload = true;
};

struct Case {
    const char* context;
    std::string name;
    std::shared_ptr<CommJobsContext> made;
    // The payload holds what the context holds.
    std::function<bool(const std::any&)> payloadMatches;
    std::vector<Row> rows;
};

TEST(ShareListContexts, EachStatusPostsItsWordWithTheJobsErrorAndWhatTheJobHolds) {
    testsupport::sharedDevserver();
    const std::string url = "Switzerland";
    auto sharesOf = std::make_shared<GetSharesContext>(url, "I-1");
    sharesOf->shares = {SharesData{"S-1", "P-1", "bob"}};
    auto peers = std::make_shared<GetSharingPeersContext>(url);
    peers->sharingPeers = {SharingPeer{"alice", "A-1"}};
    auto items = std::make_shared<GetSharedItemsContext>(url, std::nullopt);
    auto removal = std::make_shared<RemoveShareContext>(url, "S-1");

    const Row deferred{JobStatus::deferred, ""};
    const Row pending{JobStatus::pending, ""};
    const std::vector<Case> cases = {
        {"shares of an item", shares::kQueryForSharesNotification, sharesOf,
         [&](const std::any& p) {
             const auto* list = std::any_cast<shares::QueryForSharesPayload>(&p);
             return list && *list == sharesOf->shares;
         },
         {{JobStatus::inProgress, "Started", false, false},
          {JobStatus::completed, "Received"},
          {JobStatus::error, "Error"},
          {JobStatus::aborted, "Error"},
          deferred,
          pending}},
        {"sharing peers", shares::kQueryForSharingPeersNotification, peers,
         [&](const std::any& p) {
             const auto* list = std::any_cast<shares::SharingPeersPayload>(&p);
             return list && *list == peers->sharingPeers;
         },
         {{JobStatus::inProgress, "Started", false, false},
          {JobStatus::completed, "Received"},
          {JobStatus::error, "Error"},
          {JobStatus::aborted, "Error"},
          deferred,
          pending}},
        // A repeated request's "Started" carries the error that made it repeat.
        {"shared items", shares::kQuerySharedItemsNotification, items,
         [](const std::any& p) {
             const auto* list = std::any_cast<shares::SharedItemsPayload>(&p);
             return list && list->empty();
         },
         {{JobStatus::inProgress, "Started"},
          {JobStatus::completed, "Available"},
          {JobStatus::error, "Error"},
          {JobStatus::aborted, "Error"},
          deferred,
          pending}},
        {"removal", shares::kRemoveShareTerminatedNotification, removal,
         [](const std::any& p) {
             const auto* id = std::any_cast<shares::RemoveSharePayload>(&p);
             return id && *id == "S-1";
         },
         {{JobStatus::inProgress, ""},
          {JobStatus::completed, "Removed"},
          {JobStatus::error, "Error"},
          {JobStatus::aborted, "Error"},
          deferred,
          pending}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        for (bool failed : {true, false}) {
            c.made->httpError = failed ? std::optional<HTTPError>(kError) : std::nullopt;
            for (const Row& row : c.rows) {
                SCOPED_TRACE(std::string(name(row.status)));
                const JobNotificationData data = c.made->getNotificationData(row.status);
                if (row.word.empty()) {
                    EXPECT_FALSE(data.name);
                    continue;
                }
                EXPECT_EQ(data.name, c.name);
                EXPECT_EQ(data.result, row.word);
                EXPECT_EQ(data.httpError.has_value(), failed && row.carriesError);
                if (row.carriesPayload) {
                    EXPECT_TRUE(c.payloadMatches(data.payload));
                } else {
                    EXPECT_FALSE(data.payload.has_value());
                }
            }
        }
    }
}

}  // namespace
}  // namespace ostrelcomm
