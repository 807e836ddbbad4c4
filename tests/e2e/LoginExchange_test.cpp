// The login exchange of a real engine against the in-process stand-in
// server over TLS: the notifications and the session it leaves, what goes
// over the wire, and each way a login fails.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "LoginTestSupport.h"
#include "encoding/Encoding.h"
#include "devserver/DevServer.h"
#include "auth/SRPAuthMode.h"
#include "jobs/SrvComm.h"
#include "platform/LocalizedString.h"
#include "srp/Group.h"

namespace ostrelcomm {
namespace {

using namespace logintest;
using Lines = std::vector<std::string>;

const Lines kLoginWords = {"SRPAuthenticated:InProgress", "SRPAuthenticated:InProgress",
                           "SRPAuthenticated:InProgress", "SRPAuthenticated:Authenticated", "jobQueueEmpty"};

TEST(LoginExchange, LogsInAndSignsEveryLaterRequest) {
    server();
    const std::string user = makeUser("alice", "correct horse battery");
    auto engine = std::make_shared<SrvComm>();
    registerSignedStep(engine, {{"note", ""}});
    Recorder recorder(engine->notifications());

    engine->auth_add(user, SecretBytes::fromText("correct horse battery"), SRPAuthMode::new_);
    ASSERT_TRUE(recorder.waitIdle());
    EXPECT_EQ(recorder.lines(), kLoginWords);
    EXPECT_EQ(engine->authStatus(), UserAuthStatus::authFullAccess);
    EXPECT_TRUE(engine->isAuthenticated());
    EXPECT_FALSE(lastError(*engine));

    // The engine's key is the server's K for the session it named.
    const auto sessionID = engine->sessionID();
    ASSERT_TRUE(sessionID);
    const auto serverSession = server().sessions().find(*sessionID);
    ASSERT_TRUE(serverSession);
    EXPECT_EQ(serverSession->userName, user);
    const auto key = engine->sessionKey();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->copyOut(), serverSession->key);

    // Both login requests go out unsigned; the second names the session of
    // the first answer and carries A and M.
    const auto login = requestsOf(user);
    ASSERT_EQ(requestLines(login), (Lines{"GET /authenticate/", "POST /authenticate/"}));
    for (const auto& request : login) {
        EXPECT_FALSE(request.has("x-sb-auth"));
        EXPECT_FALSE(request.has("x-sb-auth-headers"));
    }
    EXPECT_FALSE(login[0].has("x-sb-sessionid"));
    EXPECT_EQ(login[1].values("x-sb-sessionid"), Lines{*sessionID});
    EXPECT_TRUE(login[1].has("x-sb-payload-sha256"));
    const auto body = nlohmann::json::parse(login[1].body);
    EXPECT_EQ(body.size(), 2u);
    EXPECT_TRUE(body.at("clientpubkey").is_string());
    EXPECT_TRUE(body.at("clientkeyproof").is_string());

    // A later request is signed with K (the server checks it, an empty
    // header value included) and its answer's signature is checked.
    recorder.clear();
    queueSignedJob(engine);
    ASSERT_TRUE(recorder.waitIdle());
    EXPECT_EQ(recorder.lines(), (Lines{"loginTestDone:Completed", "jobQueueEmpty"}));
    const auto signedRequest = requestsOf(user).back();
    EXPECT_EQ(signedRequest.path, kSignedPath);
    EXPECT_TRUE(signedRequest.has("x-sb-auth"));
    EXPECT_EQ(signedRequest.values("x-sb-sessionid"), Lines{*sessionID});

    recorder.clear();
    devserver::Fault spoiled;
    spoiled.auth = devserver::HeaderTamper::corrupt();
    spoiled.times = 1;
    server().setFault("GET", kSignedPath, spoiled);
    queueSignedJob(engine);
    ASSERT_TRUE(recorder.waitIdle());
    const auto failed = recorder.last(kSignedDone);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->result, "Error");
    EXPECT_EQ(lastError(*engine), "Message HMACs doesn't match");
}

// The first answer with the given parameter text and server value B (and a
// salt of four zero bytes), in place of the server's own.
devserver::Fault firstAnswer(const std::string& parms, const Bytes& publicKey) {
    nlohmann::ordered_json body;
    body["sessionID"] = "forged-session";
    body["masterAuthParms"] = parms;
    body["salt"] = base64Encode(Bytes(4, 0));
    body["publickey"] = base64Encode(publicKey);
    devserver::Fault fault;
    fault.rawBody = body.dump();
    fault.times = 1;
    return fault;
}

TEST(LoginExchange, EachFailureEndsTheLoginWithItsTextAndNoKey) {
    server();
    const std::string kPassword = "s3cret";
    const std::string kGoodParms = R"({"group":"N2048","digestAlgo":"sha256"})";
    struct Case {
        const char* what;
        std::string password;
        std::string parms;                                   // the account's parameter text
        std::optional<std::pair<std::string, devserver::Fault>> fault;  // method and fault on "/authenticate/"
        UserAuthStatus status;
        std::string logText;
        Lines requests;
        std::optional<std::string> exception;  // of the HTTPError posted with "Error"
        bool keepsFirstSession;
    };
    devserver::Fault wrongProof;
    wrongProof.rawBody = R"({"sessionID":"forged-session","serverKeyProof":"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="})";
    wrongProof.times = 1;
    const std::vector<Case> cases = {
        {"wrong password", "not the password", kGoodParms, std::nullopt, UserAuthStatus::inProgress,
         "Bad http status code: 403 - Unknown user or wrong password", {"GET /authenticate/", "POST /authenticate/"},
         "AccessDeniedException", true},
        {"parameters that are not JSON", kPassword, "N2048/sha256", std::nullopt, UserAuthStatus::authError,
         "Unhandled authentication parameters", {"GET /authenticate/"}, std::nullopt, true},
        {"custom group", kPassword, R"({"group":"Custom","digestAlgo":"sha256"})", std::nullopt,
         UserAuthStatus::authError, "Unhandled authentication parameters", {"GET /authenticate/"}, std::nullopt, true},
        {"unknown digest", kPassword, R"({"group":"N2048","digestAlgo":"SHA256"})", std::nullopt,
         UserAuthStatus::authError, "Unhandled authentication parameters", {"GET /authenticate/"}, std::nullopt, true},
        {"wrong server proof", kPassword, kGoodParms, std::make_pair(std::string("POST"), wrongProof),
         UserAuthStatus::authError,
         "The server's key proof does not match: the server is not the one that holds the password",
         {"GET /authenticate/", "POST /authenticate/"}, std::nullopt, true},
        {"server value B = N", kPassword, kGoodParms,
         std::make_pair(std::string("GET"), firstAnswer(kGoodParms, SRP::Group::N2048().NBytes())),
         UserAuthStatus::authError, "Error client.processChallenge", {"GET /authenticate/"}, std::nullopt, false},
        {"server value B = 0", kPassword, kGoodParms,
         std::make_pair(std::string("GET"), firstAnswer(kGoodParms, Bytes{0})), UserAuthStatus::authError,
         "Error client.processChallenge", {"GET /authenticate/"}, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string user = uniqueUser("failing");
        auto account = devserver::User::withPassword(user, kPassword);
        account.authParms = c.parms;
        server().users().put(account);
        if (c.fault) server().setFault(c.fault->first, "/authenticate/", c.fault->second);

        auto engine = std::make_shared<SrvComm>();
        Recorder recorder(engine->notifications());
        engine->auth_add(user, SecretBytes::fromText(c.password), SRPAuthMode::new_);
        ASSERT_TRUE(recorder.waitIdle());
        server().clearFaults();

        const auto end = recorder.last(kLogin);
        ASSERT_TRUE(end);
        EXPECT_EQ(end->result, "Error");
        EXPECT_EQ(end->httpError ? end->httpError->exception : std::nullopt, c.exception);
        EXPECT_EQ(lastError(*engine), c.logText);
        EXPECT_EQ(engine->authStatus(), c.status);
        EXPECT_FALSE(engine->isAuthenticated());
        EXPECT_FALSE(engine->sessionKey());
        EXPECT_EQ(requestLines(requestsOf(user)), c.requests);
        if (c.keepsFirstSession) {
            // The identifier of the first answer stays stored.
            EXPECT_TRUE(engine->sessionID());
        } else {
            EXPECT_EQ(engine->sessionID(), "forged-session");
        }
    }
}

TEST(LoginExchange, AnswersForAnotherUserOrRequestEndTheLogin) {
    server();
    const std::string wrongUser = localizedString("Localizable", "AnswerWrongUsername");
    const std::string wrongAction = localizedString("Localizable", "AnswerWrongAction");
    struct Case {
        const char* what;
        std::string method;
        bool spoilUser;
        std::string message;
        Lines requests;
    };
    const Case cases[] = {
        {"first answer for another user", "GET", true, wrongUser, {"GET /authenticate/"}},
        {"first answer for another action", "GET", false, wrongAction, {"GET /authenticate/"}},
        {"second answer for another user", "POST", true, wrongUser, {"GET /authenticate/", "POST /authenticate/"}},
        {"second answer for another action", "POST", false, wrongAction,
         {"GET /authenticate/", "POST /authenticate/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string user = makeUser("checked", "pw");
        devserver::Fault fault;
        if (c.spoilUser) fault.username = "someone-else";
        else fault.action = "AUTH_SOMETHING";
        fault.times = 1;
        server().setFault(c.method, "/authenticate/", fault);

        auto engine = std::make_shared<SrvComm>();
        Recorder recorder(engine->notifications());
        engine->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::new_);
        ASSERT_TRUE(recorder.waitIdle());
        server().clearFaults();

        const auto end = recorder.last(kLogin);
        ASSERT_TRUE(end);
        EXPECT_EQ(end->result, "Error");
        ASSERT_TRUE(end->httpError);
        EXPECT_EQ(end->httpError->errDescr, c.message);
        EXPECT_EQ(lastError(*engine), c.message);
        // The answer checks leave the status as the first step set it.
        EXPECT_EQ(engine->authStatus(), UserAuthStatus::inProgress);
        EXPECT_FALSE(engine->sessionKey());
        EXPECT_EQ(requestLines(requestsOf(user)), c.requests);
    }
}

// A renewing login presents the stored session, except a prepared one,
// which it drops and runs as a new login.
TEST(LoginExchange, RenewPresentsTheStoredSession) {
    server();
    const std::string user = makeUser("renewer", "pw");
    auto engine = std::make_shared<SrvComm>();
    Recorder recorder(engine->notifications());
    std::vector<UserAuthStatus> atFirstStep;
    int inProgress = 0;
    auto token = engine->notifications()->addObserver(kLogin, [&](const Notification& n) {
        const auto* word = userInfoValue<std::string>(n.userInfo, "Result");
        if (word && *word == "InProgress" && ++inProgress % 3 == 1) atFirstStep.push_back(engine->authStatus());
    });

    // No stored session: nothing presented.
    engine->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::renew);
    ASSERT_TRUE(recorder.waitIdle());
    const auto first = engine->sessionID();
    ASSERT_TRUE(first);
    // A stored session is presented.
    engine->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::renew);
    ASSERT_TRUE(recorder.waitIdle());
    // A prepared session is local: no request, a 32-byte key.
    const std::size_t before = requestsOf(user).size();
    engine->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::prepare);
    ASSERT_TRUE(recorder.waitIdle());
    EXPECT_EQ(requestsOf(user).size(), before);
    EXPECT_EQ(engine->sessionID(), "preparedSession");
    ASSERT_TRUE(engine->sessionKey());
    EXPECT_EQ(engine->sessionKey()->size(), 32u);
    EXPECT_EQ(recorder.last(kLogin)->result, "Authenticated");
    // Renewing a prepared session runs as a new login.
    engine->auth_add(user, SecretBytes::fromText("pw"), SRPAuthMode::renew);
    ASSERT_TRUE(recorder.waitIdle());
    engine->notifications()->removeObserver(token);

    const auto gets = [&] {
        std::vector<devserver::RecordedRequest> out;
        for (auto& r : requestsOf(user))
            if (r.method == "GET") out.push_back(r);
        return out;
    }();
    ASSERT_EQ(gets.size(), 3u);
    EXPECT_FALSE(gets[0].has("x-sb-sessionid"));
    EXPECT_EQ(gets[1].values("x-sb-sessionid"), Lines{*first});
    EXPECT_FALSE(gets[2].has("x-sb-sessionid"));
    EXPECT_EQ(atFirstStep, (std::vector<UserAuthStatus>{UserAuthStatus::renewAuthentication,
                                                        UserAuthStatus::renewAuthentication,
                                                        UserAuthStatus::inProgress}));
    EXPECT_EQ(engine->authStatus(), UserAuthStatus::authFullAccess);
    EXPECT_NE(engine->sessionID(), "preparedSession");
}

}  // namespace
}  // namespace ostrelcomm
