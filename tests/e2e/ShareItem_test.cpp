// Sharing a file with a peer, with a real engine against the in-process
// stand-in server: the file seeded as another client would have stored it
// (its key drawn here and wrapped with OpenSSL), the share the server keeps
// opened with the key libsodium agrees for owner and peer, what goes out,
// an item shared already, renewal of an expired session on each request,
// and the answers that end the job before anything is sent for the peer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FileTestSupport.h"
#include "jobs/CommJobs.h"
#include "jobs/JobPriority.h"
#include "jobs/JobType.h"
#include "shares/ShareNotifications.h"

namespace ostrelcomm {
namespace {

using namespace filetest;
using testsupport::lastError;
using Sent = devserver::RecordedRequest;

constexpr char kShared[] = "shareItemTerminated:Shared";
constexpr char kShareError[] = "shareItemTerminated:Error";
constexpr char kPrepare[] = "GET /shares/shareitem_prepare/";
constexpr char kExecute[] = "PUT /shares/shareitem_execute/";
constexpr char kPreparePath[] = "/shares/shareitem_prepare/";
constexpr char kExecutePath[] = "/shares/shareitem_execute/";
constexpr char kUndecryptable[] = "Cannot decrypt user's private key or item key!";

// The share job's notifications and the login's.
class ShareRecorder : public testsupport::NotificationRecorder {
public:
    explicit ShareRecorder(std::shared_ptr<NotificationCenter> center)
        : NotificationRecorder(std::move(center),
                               {shares::kShareItemTerminatedNotification, auth::kSRPAuthenticatedNotification}) {}

    Lines lines() const { return NotificationRecorder::lines({auth::kInProgress}); }
};

// The owner: a logged-in account with one file, F, whose key the test drew.
struct Owner : FileSession {
    ShareRecorder posted{engine->notifications()};
    ListingOracle::Item file;
    std::string uuid;

    explicit Owner(const std::string& stem) : FileSession("share-" + stem) {
        file.metadata = testsupport::metadataText("F");
        uuid = seedFile(file).uuid;
        newRequests();
    }

    // Shares F (or `item`) with `peer` and waits until the engine is idle;
    // returns the job's identifier.
    std::string share(const std::string& peer, const std::optional<std::string>& item = std::nullopt) {
        posted.clear();
        std::string jobID;
        run([&](SrvComm& e) { jobID = e.shares_shareItem(peer, item.value_or(uuid)); });
        EXPECT_TRUE(posted.waitIdle());
        return jobID;
    }
    std::optional<std::string> sharedID() const {
        const auto end = posted.last(shares::kShareItemTerminatedNotification);
        if (!end || !end->data<shares::ShareItemPayload>()) return std::nullopt;
        return *end->data<shares::ShareItemPayload>();
    }
    std::vector<devserver::ShareGrant> grants() const { return server().items().grantsOf(owner(), uuid); }

    // The prepare answer the server would give, for a raw-body fault.
    nlohmann::json prepareAnswer(const Bytes& peerKey) const {
        return {{"umk", account().umk},
                {"privshkey", account().privshkey},
                {"pubshkey", devserver::base64Encode(peerKey)},
                {"itemkey", stored(uuid)->itemkey}};
    }
};

// Another account, by name, with its sharing keys.
struct Peer {
    devserver::User user = devserver::addDemoUser(server().users(), testsupport::uniqueName("share-peer"), kPassword);
    std::string name() const { return user.name; }
    Bytes publicKey() const { return user.pubshkey; }
    Bytes privateKey() const { return testsupport::oraclePrivateKey(user.privshkey, kPassword).value_or(Bytes{}); }
};

// The requests to the two share paths, as "METHOD path".
Lines shareLines(const std::vector<Sent>& requests) {
    Lines out;
    for (const auto& line : requestLines(requests))
        if (line == kPrepare || line == kExecute) out.push_back(line);
    return out;
}

// The "x-sb-" headers a step adds, without those of the signature.
std::set<std::string> customHeaders(const Sent& request) {
    static const std::set<std::string> transport{"x-sb-timestamp", "x-sb-auth", "x-sb-auth-headers",
                                                 "x-sb-payload-sha256"};
    std::set<std::string> out;
    for (const auto& [name, value] : request.headers) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (lower.rfind("x-sb-", 0) == 0 && !transport.count(lower)) out.insert(lower);
    }
    return out;
}

devserver::Fault rawPrepareAnswer(const nlohmann::json& body) {
    devserver::Fault fault;
    fault.rawBody = body.dump();
    fault.contentType = "application/json";
    fault.times = 1;
    return fault;
}

TEST(ShareItem, ThePeerAloneCanUnwrapTheKeyTheOwnerSent) {
    Owner a("owner");
    const Peer b;
    const std::string jobID = a.share(b.name());

    ASSERT_EQ(a.posted.lines(), Lines{kShared});
    const auto grants = a.grants();
    ASSERT_EQ(grants.size(), 1u);
    EXPECT_EQ(grants[0].reader, b.user.uuid);
    EXPECT_EQ(a.sharedID(), grants[0].shareUUID);
    EXPECT_FALSE(a.posted.last(shares::kShareItemTerminatedNotification)->httpError);

    // Wrapped under crypto_box_beforenm(B.pub, A.priv), which B gets from its side.
    const Bytes sharedKey = testsupport::oracleSharedKey(b.publicKey(), a.privateKey());
    ASSERT_EQ(sharedKey.size(), 32u);
    EXPECT_EQ(testsupport::oracleSharedKey(a.publicKey(), b.privateKey()), sharedKey);
    EXPECT_EQ(testsupport::oracleUnwrap(grants[0].itemkey, sharedKey), a.file.itemKey);
    EXPECT_NE(grants[0].itemkey, a.stored(a.uuid)->itemkey);

    const auto job = a.engine->queue()->getJobData(jobID);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->jobType, JobType::shareItem);
    EXPECT_EQ(job->jobSteps, 4u);
    EXPECT_EQ(job->actStep, 2u);
    EXPECT_EQ(job->priority, JobPriority::Normal);
    const auto events = a.engine->comLog().events();
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const auto& e) {
        return e.type == Logger::EvtType::info && e.description == "Sharing item with \"" + b.name() + "\"";
    }));

    const auto requests = a.newRequests();
    ASSERT_EQ(requestLines(requests), (Lines{kPrepare, kExecute}));
    EXPECT_EQ(customHeaders(requests[0]),
              (std::set<std::string>{"x-sb-username", "x-sb-sessionid", "x-sb-peer-username", "x-sb-item-uuid"}));
    EXPECT_EQ(requests[0].values("x-sb-peer-username"), Lines{b.name()});
    EXPECT_EQ(requests[0].values("x-sb-item-uuid"), Lines{a.uuid});
    EXPECT_TRUE(requests[0].body.empty());

    EXPECT_EQ(customHeaders(requests[1]),
              (std::set<std::string>{"x-sb-username", "x-sb-sessionid", "x-sb-encoder-version"}));
    EXPECT_EQ(requests[1].values("x-sb-encoder-version"), Lines{"1.0"});
    const auto body = nlohmann::json::parse(requests[1].body);
    EXPECT_EQ(keysOf(body), (std::set<std::string>{"peerUsername", "itemUUID", "itemkey", "algorythm"}));
    EXPECT_EQ(body["peerUsername"], b.name());
    EXPECT_EQ(body["itemUUID"], a.uuid);
    EXPECT_EQ(body["algorythm"], "aes256");
    ASSERT_TRUE(body["itemkey"].is_string());
    const auto wrapped = nlohmann::json::parse(body["itemkey"].get<std::string>());
    EXPECT_EQ(keysOf(wrapped), (std::set<std::string>{"iv", "key"}));
    EXPECT_EQ(body["itemkey"], grants[0].itemkey);
}

TEST(ShareItem, AnItemSharedAlreadyGivesTheFirstShareWithoutAnExecution) {
    Owner a("again");
    const Peer b;
    a.share(b.name());
    const auto first = a.sharedID();
    ASSERT_TRUE(first);
    a.newRequests();

    a.share(b.name());
    EXPECT_EQ(a.posted.lines(), Lines{kShared});
    EXPECT_EQ(a.sharedID(), first);
    const auto end = a.posted.last(shares::kShareItemTerminatedNotification);
    ASSERT_TRUE(end->httpError);
    EXPECT_EQ(end->httpError->exception, std::string(shares::kItemAlreadyShared));
    EXPECT_EQ(requestLines(a.newRequests()), Lines{kPrepare});
    EXPECT_EQ(a.grants().size(), 1u);
}

TEST(ShareItem, TheAlreadySharedReportNamesTheShareOnlyAsTheSecondOfTwoPieces) {
    Owner a("report");
    const Peer b;
    const std::vector<std::pair<std::string, std::string>> reports = {
        {"x@S1", "S1"}, {"no at sign", shares::kNoID}, {"a@b@c", shares::kNoID}, {"a@@b", "b"}, {"@S1", shares::kNoID},
    };
    for (const auto& [message, id] : reports) {
        SCOPED_TRACE(message);
        auto fault = devserver::Fault::exception(409, shares::kItemAlreadyShared, message);
        fault.times = 1;
        server().setFault("GET", kPreparePath, fault);
        a.share(b.name());
        EXPECT_EQ(a.posted.lines(), Lines{kShared});
        EXPECT_EQ(a.sharedID(), id);
        EXPECT_EQ(shareLines(a.newRequests()), Lines{kPrepare});
    }
    server().clearFault("GET", kPreparePath);
    EXPECT_TRUE(a.grants().empty());
}

TEST(ShareItem, KeysThatDoNotUnwrapEndTheJobBeforeTheExecution) {
    Owner a("keys");
    const Peer b;
    const Bytes otherKey = testsupport::oracleRandom(32);
    const Bytes passwordKey = testsupport::oraclePasswordKey(kPassword);
    const Bytes umkKey = a.oracle().umkKeyBytes();
    struct Row {
        const char* name;
        const char* member;
        std::string value;
    };
    const std::vector<Row> rows = {
        {"private key under another key", "privshkey", testsupport::oracleWrap(testsupport::oracleRandom(48), otherKey)},
        {"private key no wrapped key", "privshkey", "{}"},
        {"master key under another key", "umk", testsupport::oracleWrap(testsupport::oracleRandom(48), otherKey)},
        {"master key of another shape", "umk", testsupport::oracleWrap(testsupport::oracleRandom(64), passwordKey)},
        {"item key under another key", "itemkey", testsupport::oracleWrap(a.file.itemKey, otherKey)},
        {"item key cut short", "itemkey", R"({"iv":"AAAAAAAAAAAAAAAAAAAAAA==","key":"AAAA"})"},
        // Re-wrapped as it is, these would leave the peer with no key.
        {"item key of 32 bytes", "itemkey", testsupport::oracleWrap(testsupport::oracleRandom(32), umkKey)},
        {"item key of 64 bytes", "itemkey", testsupport::oracleWrap(testsupport::oracleRandom(64), umkKey)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto body = a.prepareAnswer(b.publicKey());
        body[row.member] = row.value;
        server().setFault("GET", kPreparePath, rawPrepareAnswer(body));
        a.share(b.name());
        EXPECT_EQ(a.posted.lines(), Lines{kShareError});
        EXPECT_EQ(lastError(*a.engine), std::string(kUndecryptable));
        EXPECT_EQ(shareLines(a.newRequests()), Lines{kPrepare});
    }
    server().clearFault("GET", kPreparePath);

    // An engine that holds a wrong password with a valid session.
    const auto session = a.engine->sessionForHandOver();
    ASSERT_TRUE(session);
    a.engine->auth_setup(session->username, SecretBytes::fromText("not the password"), session->sessionID,
                         session->sessionKey);
    a.share(b.name());
    EXPECT_EQ(a.posted.lines(), Lines{kShareError});
    EXPECT_EQ(lastError(*a.engine), std::string(kUndecryptable));
    EXPECT_EQ(shareLines(a.newRequests()), Lines{kPrepare});
    EXPECT_TRUE(a.grants().empty());
}

TEST(ShareItem, PeerKeysThatGiveNoSecretSharedKeyAreRefused) {
    Owner a("peerkey");
    const Peer b;
    const auto point = [](std::initializer_list<std::uint8_t> head, std::uint8_t last = 0) {
        Bytes u(32, 0);
        std::copy(head.begin(), head.end(), u.begin());
        u[31] = last;
        return u;
    };
    const Bytes peerKey = b.publicKey();
    Bytes p(32, 0xff);  // 2^255 - 19: zero again, written another way
    p[0] = 0xed;
    p[31] = 0x7f;
    const Bytes order8{0xe0, 0xeb, 0x7a, 0x7c, 0x3b, 0x41, 0xb8, 0xae, 0x16, 0x56, 0xe3, 0xfa, 0xf1, 0x9f, 0xc4, 0x6a,
                       0xda, 0x09, 0x8d, 0xeb, 0x9c, 0x32, 0xb1, 0xfd, 0x86, 0x62, 0x05, 0x16, 0x5f, 0x49, 0xb8, 0x00};
    struct Row {
        const char* name;
        Bytes key;
        std::string error;
    };
    const std::string lowOrder = "Unable to create shared key: The peer's public key is a point of low order, "
                                 "whose shared key anyone can compute";
    const std::vector<Row> rows = {
        {"31 bytes", Bytes(peerKey.begin(), peerKey.end() - 1),
         "Unable to create shared key: Public key must be 32 bytes long"},
        {"u = 0", point({}), lowOrder},
        {"u = 1", point({1}), lowOrder},
        {"u = p", p, lowOrder},
        {"a point of order 8", order8, lowOrder},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // libsodium refuses each of them as well.
        EXPECT_TRUE(testsupport::oracleSharedKey(row.key, a.privateKey()).empty());
        server().setFault("GET", kPreparePath, rawPrepareAnswer(a.prepareAnswer(row.key)));
        a.share(b.name());
        EXPECT_EQ(a.posted.lines(), Lines{kShareError});
        EXPECT_EQ(lastError(*a.engine), row.error);
        EXPECT_EQ(shareLines(a.newRequests()), Lines{kPrepare});
    }
    server().clearFault("GET", kPreparePath);
    EXPECT_TRUE(a.grants().empty());
}

TEST(ShareItem, AnExpiredSessionOnEachRequestIsRenewedAndTheRequestRepeated) {
    Owner a("renewal");
    const Peer b;
    auto once = devserver::Fault::sessionExpired();
    once.times = 1;
    server().setFault("GET", kPreparePath, once);
    server().setFault("PUT", kExecutePath, once);
    const std::string jobID = a.share(b.name());
    server().clearFault("GET", kPreparePath);
    server().clearFault("PUT", kExecutePath);

    EXPECT_EQ(a.posted.lines(), (Lines{"SRPAuthenticated:Authenticated", "SRPAuthenticated:Authenticated", kShared}));
    EXPECT_EQ(shareLines(a.newRequests()), (Lines{kPrepare, kPrepare, kExecute, kExecute}));
    const auto grants = a.grants();
    ASSERT_EQ(grants.size(), 1u);
    EXPECT_EQ(a.sharedID(), grants[0].shareUUID);
    EXPECT_EQ(testsupport::oracleUnwrap(grants[0].itemkey,
                                        testsupport::oracleSharedKey(b.publicKey(), a.privateKey())),
              a.file.itemKey);
    const auto job = a.engine->queue()->getJobData(jobID);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->actStep, 4u);
    EXPECT_EQ(job->jobSteps, 4u);
}

}  // namespace
}  // namespace ostrelcomm
