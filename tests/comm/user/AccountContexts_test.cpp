// What each account job's context posts for each status, and the request
// bodies the creation and the password change encode.

#include <gtest/gtest.h>

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "auth/SRPAuthParms.h"
#include "json/StrictJson.h"
#include "support/SharedDevserver.h"
#include "user/PeerShareData.h"
#include "user/UserCreationContext.h"
#include "user/UserDeleteContext.h"
#include "user/UserGetShareDataContext.h"
#include "user/UserModificationContext.h"
#include "user/UserSessionData.h"
#include "user/UserSessionsContext.h"

namespace ostrelcomm {
namespace {

const SRPAuthParms kDefaultParms(SRP::Group::N2048(), DigestAlgorithm::sha256);
const HTTPError kError{std::string("SomeException"), HTTPErrors::badStatusCode, "failed", std::int64_t{500}};

// What the payload of one notification is expected to be.
enum class Payload { none, text, peer, sessions, deletedEntry, emptyDeletedEntry };

struct Row {
    JobStatus status;
    std::optional<std::string> name;
    std::string word;
    Payload payload;
};

struct Case {
    const char* context;
    // A context without its result, and one with it (the identifier, the
    // peer, the history).
    std::function<std::shared_ptr<CommJobsContext>(bool withResult)> make;
    std::vector<Row> rows;
};

void expectPayload(const std::any& payload, Payload expected) {
    switch (expected) {
        case Payload::none: EXPECT_FALSE(payload.has_value()); return;
        case Payload::text:
            ASSERT_TRUE(std::any_cast<std::string>(&payload));
            EXPECT_EQ(std::any_cast<std::string>(payload), "U-1");
            return;
        case Payload::peer:
            ASSERT_TRUE(std::any_cast<PeerShareData>(&payload));
            EXPECT_EQ(std::any_cast<PeerShareData>(payload).username, "bob");
            return;
        case Payload::sessions:
            ASSERT_TRUE(std::any_cast<std::vector<UserSessionData>>(&payload));
            EXPECT_EQ(std::any_cast<std::vector<UserSessionData>>(payload).size(), 2u);
            return;
        case Payload::deletedEntry:
        case Payload::emptyDeletedEntry: {
            const auto* entries = std::any_cast<UserDeleteContext::Payload>(&payload);
            ASSERT_TRUE(entries);
            ASSERT_EQ(entries->size(), 1u);
            // The entry is there even without a value.
            const std::any& value = entries->at("notificationData");
            if (expected == Payload::emptyDeletedEntry) {
                EXPECT_FALSE(value.has_value());
            } else {
                EXPECT_EQ(std::any_cast<std::string>(value), "U-1");
            }
            return;
        }
    }
}

TEST(AccountContexts, EachStatusPostsItsNameWordAndPayload) {
    testsupport::sharedDevserver();
    const std::string url = "Switzerland";
    const std::vector<JobStatus> silent = {JobStatus::pending, JobStatus::suspended, JobStatus::deferred,
                                           JobStatus::resume, JobStatus::inProgress, JobStatus::reqAbort,
                                           JobStatus::aborting};
    const std::vector<Case> cases = {
        {"creation",
         [&](bool with) {
             auto c = std::make_shared<UserCreationContext>(url, "alice", SecretBytes::fromText("pw"), kDefaultParms);
             if (with) c->uuid = "U-1";
             return c;
         },
         {{JobStatus::completed, "userCreationTerminated", "Created", Payload::text},
          {JobStatus::error, "userCreationTerminated", "Error", Payload::text},
          {JobStatus::aborted, "userCreationTerminated", "Error", Payload::text}}},
        {"peer profile",
         [&](bool with) {
             auto c = std::make_shared<UserGetShareDataContext>(url, "bob");
             if (with) c->shareData = PeerShareData{"P-1", true, "bob", Bytes(32, 9)};
             return c;
         },
         {{JobStatus::completed, "peerShareData", "Available", Payload::peer},
          {JobStatus::error, "peerShareData", "Error", Payload::peer},
          {JobStatus::aborted, "peerShareData", "Error", Payload::peer}}},
        {"login history",
         [&](bool with) {
             auto c = std::make_shared<UserSessionsContext>(url, 0, 20);
             if (with) c->notificationData = std::vector<UserSessionData>(2);
             return c;
         },
         {{JobStatus::completed, "getUserSessionsData", "Available", Payload::sessions},
          {JobStatus::error, "getUserSessionsData", "Error", Payload::none},
          {JobStatus::aborted, "getUserSessionsData", "Error", Payload::none}}},
        {"password change",
         [&](bool with) {
             auto c = std::make_shared<UserModificationContext>(url, SecretBytes::fromText("a"),
                                                                SecretBytes::fromText("b"));
             if (with) c->uuid = "U-1";
             return c;
         },
         {{JobStatus::completed, "userModification", "Modified", Payload::text},
          {JobStatus::error, "userModification", "Error", Payload::text},
          {JobStatus::aborted, "userModification", "Error", Payload::text}}},
        {"deletion",
         [&](bool with) {
             auto c = std::make_shared<UserDeleteContext>(JobsSteps::user_renewAuthenticationForDelete,
                                                          SecretBytes::fromText("a"), url, "userProfileDeleted");
             if (with) c->notificationData = std::string("U-1");
             return c;
         },
         {{JobStatus::completed, "userProfileDeleted", "Deleted", Payload::deletedEntry},
          {JobStatus::error, "userProfileDeleted", "Error", Payload::none},
          {JobStatus::aborted, "userProfileDeleted", "Aborted", Payload::none}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.context);
        for (bool with : {true, false}) {
            SCOPED_TRACE(with ? "with its result" : "without a result");
            auto context = c.make(with);
            context->httpError = kError;
            for (const auto& row : c.rows) {
                SCOPED_TRACE(std::string(name(row.status)));
                const JobNotificationData data = context->getNotificationData(row.status);
                EXPECT_EQ(data.name, row.name);
                EXPECT_EQ(data.result, row.word);
                ASSERT_TRUE(data.httpError);
                EXPECT_EQ(data.httpError->errDescr, "failed");
                Payload expected = row.payload;
                if (!with && expected == Payload::deletedEntry) expected = Payload::emptyDeletedEntry;
                else if (!with) expected = Payload::none;
                expectPayload(data.payload, expected);
            }
            for (JobStatus status : silent) {
                const JobNotificationData data = context->getNotificationData(status);
                EXPECT_FALSE(data.name) << name(status);
                EXPECT_FALSE(data.payload.has_value()) << name(status);
            }
        }
    }
}

TEST(AccountContexts, TheCreationBodyCarriesEveryMemberInOrder) {
    testsupport::sharedDevserver();
    UserCreationContext context("x", "alice", SecretBytes::fromText("pw"), kDefaultParms);
    context.newData.umk = R"({"iv":"AA==","key":"AQ=="})";
    context.newData.privshkey = R"({"iv":"Ag==","key":"Aw=="})";
    context.newData.pubshkey = Bytes{0xfb, 0xff};
    context.newData.verifiers["fullaccess"] = UserVerifier{Bytes{1, 2, 3}, Bytes{0xff}};
    EXPECT_EQ(toText(context.getJSON()),
              R"({"umk":"{\"iv\":\"AA==\",\"key\":\"AQ==\"}","privshkey":"{\"iv\":\"Ag==\",\"key\":\"Aw==\"}",)"
              R"("pubshkey":"+/8=","verifiers":{"fullaccess":{"salt":"AQID","verificationKey":"/w=="}},)"
              R"("authParms":"{\"group\":\"N2048\",\"digestAlgo\":\"sha256\"}"})");
}

TEST(AccountContexts, TheKeyStorageBodyNamesAVerifierOnlyWhenThereIsOne) {
    testsupport::sharedDevserver();
    UserModificationContext context("x", SecretBytes::fromText("a"), SecretBytes::fromText("b"));
    context.newData.umk = "U";
    context.newData.privshkey = "P";
    EXPECT_EQ(toText(context.getJSON()), R"({"umk":"U","verifiers":{},"authParms":"","privshkey":"P"})");

    context.authParms = kDefaultParms;
    context.newData.verifiers["fullaccess"] = UserVerifier{Bytes{1}, Bytes{2}};
    EXPECT_EQ(toText(context.getJSON()),
              R"({"umk":"U","verifiers":{"fullaccess":{"salt":"AQ==","verificationKey":"Ag=="}},)"
              R"("authParms":"{\"group\":\"N2048\",\"digestAlgo\":\"sha256\"}","privshkey":"P"})");
}

TEST(AccountContexts, APeerProfileIsWrittenWithItsOwnKeySpelling) {
    const PeerShareData peer{"P-1", true, "bob", Bytes(32, 7)};
    const std::string text = json::dump(json::OrderedJson(peer));
    EXPECT_EQ(text, R"({"uuid":"P-1","trusted":true,"username":"bob","pubSHKey":")" +
                        std::string("BwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwcHBwc=") + R"("})");
    const PeerShareData back = PeerShareData::fromBody(asBytes(text));
    EXPECT_EQ(back.uuid, peer.uuid);
    EXPECT_EQ(back.trusted, peer.trusted);
    EXPECT_EQ(back.username, peer.username);
    EXPECT_EQ(back.pubSHKey, peer.pubSHKey);
}

}  // namespace
}  // namespace ostrelcomm
