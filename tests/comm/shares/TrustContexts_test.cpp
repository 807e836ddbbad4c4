// What each trusted-peer job's context posts for each status, with and
// without the result its answer stores.

#include <gtest/gtest.h>

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shares/CreateTrustContext.h"
#include "shares/ListTrustsContext.h"
#include "shares/RemoveTrustContext.h"
#include "shares/ShareNotifications.h"
#include "support/SharedDevserver.h"

namespace ostrelcomm {
namespace {

const HTTPError kError{std::string("SomeException"), HTTPErrors::badStatusCode, "failed", std::int64_t{500}};

// The payload of one notification.
enum class Payload { none, trustID, list, emptyList, peerID };

struct Row {
    JobStatus status;
    std::string word;
    Payload payload;
};

struct Case {
    const char* context;
    std::string name;
    // A context without its answer's result, and one with it.
    std::function<std::shared_ptr<CommJobsContext>(bool withResult)> make;
    std::vector<Row> rows;
    // What a context without its result posts in place of `payload`.
    std::function<Payload(Payload)> without;
};

void expectPayload(const std::any& payload, Payload expected) {
    switch (expected) {
        case Payload::none: EXPECT_FALSE(payload.has_value()); return;
        case Payload::trustID:
            ASSERT_TRUE(std::any_cast<shares::TrustCreationPayload>(&payload));
            EXPECT_EQ(std::any_cast<shares::TrustCreationPayload>(payload), "T-1");
            return;
        case Payload::list:
        case Payload::emptyList: {
            const auto* list = std::any_cast<shares::TrustsListPayload>(&payload);
            ASSERT_TRUE(list);
            EXPECT_EQ(list->size(), expected == Payload::list ? 2u : 0u);
            return;
        }
        case Payload::peerID:
            ASSERT_TRUE(std::any_cast<shares::TrustRemovePayload>(&payload));
            EXPECT_EQ(std::any_cast<shares::TrustRemovePayload>(payload), "P-1");
            return;
    }
}

TEST(TrustContexts, EachStatusPostsItsNameWordAndPayload) {
    testsupport::sharedDevserver();
    const std::string url = "Switzerland";
    const std::vector<JobStatus> silent = {JobStatus::pending, JobStatus::suspended, JobStatus::deferred,
                                           JobStatus::resume, JobStatus::inProgress, JobStatus::reqAbort,
                                           JobStatus::aborting};
    const std::vector<Case> cases = {
        {"add", shares::kTrustCreationTerminatedNotification,
         [&](bool with) {
             auto c = std::make_shared<CreateTrustContext>(url, "P-1", "bob", Bytes(32, 1));
             if (with) c->uuid = "T-1";
             return c;
         },
         {{JobStatus::completed, "Created", Payload::trustID},
          {JobStatus::error, "Error", Payload::trustID},
          {JobStatus::aborted, "Error", Payload::trustID}},
         [](Payload) { return Payload::none; }},
        {"list", shares::kTrustsListNotification,
         [&](bool with) {
             auto c = std::make_shared<ListTrustsContext>(url);
             if (with) c->trusts = {TrustCode("T-1", "P-1", "bob", {}), TrustCode("T-2", "P-2", "carol", {})};
             return c;
         },
         {{JobStatus::completed, "Available", Payload::list},
          {JobStatus::error, "Error", Payload::list},
          {JobStatus::aborted, "Error", Payload::list}},
         [](Payload) { return Payload::emptyList; }},
        {"remove", shares::kTrustRemoveNotification,
         [&](bool) { return std::make_shared<RemoveTrustContext>(url, "P-1"); },
         {{JobStatus::completed, "Removed", Payload::peerID},
          {JobStatus::error, "Error", Payload::peerID},
          {JobStatus::aborted, "Error", Payload::peerID}},
         [](Payload p) { return p; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        for (bool with : {true, false}) {
            SCOPED_TRACE(with ? "with its result" : "without a result");
            auto context = c.make(with);
            for (bool failed : {true, false}) {
                context->httpError = failed ? std::optional<HTTPError>(kError) : std::nullopt;
                for (const auto& row : c.rows) {
                    SCOPED_TRACE(std::string(name(row.status)));
                    const JobNotificationData data = context->getNotificationData(row.status);
                    EXPECT_EQ(data.name, c.name);
                    EXPECT_EQ(data.result, row.word);
                    EXPECT_EQ(data.httpError.has_value(), failed);
                    expectPayload(data.payload, with ? row.payload : c.without(row.payload));
                }
            }
            for (JobStatus status : silent) {
                const JobNotificationData data = context->getNotificationData(status);
                EXPECT_FALSE(data.name) << name(status);
                EXPECT_FALSE(data.payload.has_value()) << name(status);
            }
        }
    }
}

}  // namespace
}  // namespace ostrelcomm
