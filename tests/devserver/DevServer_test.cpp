#include "devserver/DevServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <set>

#include "devserver/Signing.h"
#include "support/DevserverFixture.h"

namespace {

using namespace ostrelcomm;
using devserver::Access;
using devserver::Endpoint;
using devserver::Fault;
using devserver::HeaderMap;
using devserver::HeaderTamper;
using devserver::Reply;
using devserver::ServerRequest;
using devserver::Session;

constexpr auto kGuard = std::chrono::seconds(60);

struct Result {
    std::optional<Bytes> data;
    std::optional<HttpUrlResponse> response;
    std::optional<UrlError> error;

    std::string body() const { return data ? toText(*data) : std::string(); }
    nlohmann::json json() const { return nlohmann::json::parse(body(), nullptr, false); }
    std::string header(const std::string& name) const {
        return response ? response->value(name).value_or("<absent>") : "<no response>";
    }
    int status() const { return response ? response->statusCode : -1; }
};

const Session kAlice{"session-alice", {0x10, 0x22, 0x35, 0x47, 0x5a, 0x6b, 0x7c, 0x8d, 0x9e, 0xaf}, "Alice", false};

class DevServerTest : public testsupport::DevserverTest {
protected:
    void SetUp() override {
        devserver->sessions().add(kAlice);
        auto record = [this](std::string answer) {
            return [this, answer](const ServerRequest& request) {
                std::lock_guard lock(mutex);
                seen.push_back(request);
                return Reply::json({{"answer", answer}});
            };
        };
        devserver->route("GET", "/thing/", Endpoint{"thing_get", Access::session, record("got")});
        devserver->route("PUT", "/thing/", Endpoint{"thing_put", Access::session, record("put")});
        devserver->route("GET", "/open/", Endpoint{"open_get", Access::open, record("open")});
        devserver->route("POST", "/open/", Endpoint{"open_post", Access::open, record("posted")});
        session = std::make_shared<UrlSession>(*devserver.sessionConfiguration());
    }

    void TearDown() override {
        session.reset();
        devserver->releaseStalls();
        EXPECT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));
    }

    Result send(UrlRequest request) {
        auto promise = std::make_shared<std::promise<Result>>();
        auto future = promise->get_future();
        session
            ->dataTask(std::move(request),
                       [promise](std::optional<Bytes> d, std::optional<HttpUrlResponse> r, std::optional<UrlError> e) {
                           promise->set_value(Result{std::move(d), std::move(r), std::move(e)});
                       })
            ->resume();
        if (future.wait_for(kGuard) != std::future_status::ready) {
            ADD_FAILURE() << "no completion";
            return {};
        }
        return future.get();
    }

    // A request as the client builds it: stamped, with the body's digest, and
    // signed with the session's key over every header it carries.
    UrlRequest signedRequest(const std::string& method, const std::string& path, const Session& as,
                             std::optional<std::string> body = std::nullopt, HeaderMap extra = {}) {
        HeaderMap headers = {
            {"Accept", "application/json"},      {"User-Agent", "App macOS 1.2 (34)"},
            {"x-sb-timestamp", "20240102030405"}, {"x-sb-username", as.userName},
            {"x-sb-sessionid", as.id},
        };
        UrlRequest request(devserver.url(path));
        request.httpMethod = method;
        if (body) {
            headers["Content-Type"] = "application/json";
            headers["x-sb-payload-sha256"] = devserver::sha256Hex(*body);
            request.httpBody = toBytes(*body);
        }
        for (auto& [name, value] : extra) headers[name] = value;
        const auto signature = devserver::signHeaders(headers, as.key);
        headers["x-sb-auth-headers"] = signature.names;
        headers["x-sb-auth"] = signature.hmac;
        request.allHTTPHeaderFields = {headers.begin(), headers.end()};
        return request;
    }

    // Recomputes the answer's signature from the headers its list names.
    static std::string answerSignature(const Result& result, const std::vector<std::uint8_t>& key) {
        HeaderMap signedHeaders;
        std::string list = result.header("x-sb-auth-headers");
        std::size_t start = 0;
        for (;;) {
            const auto comma = list.find(',', start);
            const std::string name = list.substr(start, comma - start);
            signedHeaders[name] = result.header(name);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        return devserver::signHeaders(signedHeaders, key).hmac;
    }

    std::size_t handled() {
        std::lock_guard lock(mutex);
        return seen.size();
    }

    std::shared_ptr<UrlSession> session;
    std::mutex mutex;
    std::vector<ServerRequest> seen;
};

void expectErrorReport(const Result& result, int status, const std::string& code, const std::string& message) {
    EXPECT_EQ(result.status(), status);
    EXPECT_EQ(result.response ? result.response->mimeType : std::nullopt, "application/json");
    const auto report = result.json();
    ASSERT_TRUE(report.is_object()) << result.body();
    std::set<std::string> keys;
    for (const auto& item : report.items()) keys.insert(item.key());
    EXPECT_EQ(keys, (std::set<std::string>{"code", "message", "extInfo"}));
    EXPECT_EQ(report.value("code", ""), code);
    EXPECT_NE(report.value("message", "").find(message), std::string::npos) << report.value("message", "");
}

TEST_F(DevServerTest, RoutesByMethodAndPathBelowTheBasePath) {
    struct Case {
        std::string method;
        std::string url;
        int status;
        std::string action;
    };
    const std::string origin = devserver->origin();
    const std::vector<Case> cases = {
        {"GET", devserver.url("/open/"), 200, "open_get"},
        {"POST", devserver.url("/open/"), 200, "open_post"},
        {"PUT", devserver.url("/open/"), 404, "<absent>"},
        {"GET", devserver.url("/open"), 404, "<absent>"},
        {"GET", origin + "/v2/open/", 404, "<absent>"},
        {"GET", origin + "/open/", 404, "<absent>"},
        {"PATCH", devserver.url("/open/"), 404, "<absent>"},
    };
    // PATCH goes with a body: the HTTP layer waits for one on that method.
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + " " + c.url);
        UrlRequest request(c.url);
        request.httpMethod = c.method;
        if (c.method == "PATCH") request.httpBody = toBytes("{}");
        const Result result = send(request);
        ASSERT_FALSE(result.error) << result.error->localizedDescription;
        EXPECT_EQ(result.status(), c.status);
        EXPECT_EQ(result.header("x-sb-action"), c.action);
        if (c.status == 404) expectErrorReport(result, 404, "NotFoundException", "No endpoint");
    }
    EXPECT_EQ(handled(), 2u);
}

TEST_F(DevServerTest, ASignedRequestGetsASignedAnswer) {
    const Result get = send(signedRequest("GET", "/thing/", kAlice));
    const Result put = send(signedRequest("PUT", "/thing/", kAlice, std::string(R"({"n":1})")));
    for (const Result* r : {&get, &put}) {
        ASSERT_FALSE(r->error) << r->error->localizedDescription;
        EXPECT_EQ(r->status(), 200) << r->body();
        EXPECT_EQ(r->header("x-sb-auth-headers"), "Content-Type,x-sb-action,x-sb-payload-sha256,x-sb-username");
        EXPECT_EQ(r->header("x-sb-auth"), answerSignature(*r, kAlice.key));
        EXPECT_EQ(r->header("x-sb-payload-sha256"), devserver::sha256Hex(r->body()));
        EXPECT_EQ(r->header("x-sb-username"), "Alice") << "echoed byte for byte";
        EXPECT_EQ(r->header("Content-Type"), "application/json");
        for (const auto& [name, value] : r->response->headerFields) {
            if (devserver::lowerAscii(name).rfind("x-sb-", 0) == 0) {
                EXPECT_EQ(name, devserver::lowerAscii(name));
            }
        }
    }
    EXPECT_EQ(get.header("x-sb-action"), "thing_get");
    EXPECT_EQ(put.header("x-sb-action"), "thing_put");
    EXPECT_EQ(put.json().value("answer", ""), "put");

    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 2u);
    for (const auto& request : seen) {
        ASSERT_TRUE(request.session);
        EXPECT_EQ(request.session->id, kAlice.id);
        EXPECT_EQ(request.session->userName, "Alice");
    }
    EXPECT_EQ(seen[1].body, R"({"n":1})");
}

TEST_F(DevServerTest, AnUnsignedRequestToAnOpenEndpointGetsAnUnsignedAnswer) {
    UrlRequest request(devserver.url("/open/"));
    request.httpMethod = "POST";
    request.allHTTPHeaderFields = {{"x-sb-username", "NewUser"},
                                   {"x-sb-payload-sha256", devserver::sha256Hex("{}")}};
    request.httpBody = toBytes("{}");
    const Result result = send(request);
    EXPECT_EQ(result.status(), 200);
    EXPECT_EQ(result.header("x-sb-auth"), "<absent>");
    EXPECT_EQ(result.header("x-sb-auth-headers"), "<absent>");
    EXPECT_EQ(result.header("x-sb-username"), "NewUser");
    EXPECT_EQ(result.header("x-sb-action"), "open_post");
    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0].session);
}

TEST_F(DevServerTest, RequestsThatFailTheChecksNeverReachTheEndpoint) {
    devserver->sessions().add({"session-old", kAlice.key, "Alice", false});
    devserver->sessions().expire("session-old");
    const Session unknown{"session-nobody", kAlice.key, "Alice", false};
    const Session expired{"session-old", kAlice.key, "Alice", false};
    const Session wrongKey{kAlice.id, {1, 2, 3}, "Alice", false};
    struct Case {
        const char* name;
        UrlRequest request;
        int status;
        std::string code;
        std::string message;
    };
    auto tampered = [&](UrlRequest r, const std::string& name, const std::string& value) {
        r.allHTTPHeaderFields[name] = value;
        return r;
    };
    UrlRequest unsignedGet(devserver.url("/thing/"));
    UrlRequest upperMac = signedRequest("GET", "/thing/", kAlice);
    for (char& ch : upperMac.allHTTPHeaderFields["x-sb-auth"]) ch = static_cast<char>(std::toupper(ch));
    UrlRequest extraUnsigned = tampered(signedRequest("GET", "/thing/", kAlice), "x-sb-item-uuid", "u1");
    UrlRequest listMissing = signedRequest("GET", "/thing/", kAlice, std::nullopt, {{"x-sb-blocknum", "7"}});
    listMissing.allHTTPHeaderFields.erase("x-sb-blocknum");
    UrlRequest bodyWithoutDigest = signedRequest("PUT", "/thing/", kAlice, std::string("{}"));
    {
        // Re-signed without the digest, so only the missing digest is wrong.
        HeaderMap headers(bodyWithoutDigest.allHTTPHeaderFields.begin(), bodyWithoutDigest.allHTTPHeaderFields.end());
        headers.erase("x-sb-payload-sha256");
        headers.erase("x-sb-auth");
        headers.erase("x-sb-auth-headers");
        const auto signature = devserver::signHeaders(headers, kAlice.key);
        headers["x-sb-auth-headers"] = signature.names;
        headers["x-sb-auth"] = signature.hmac;
        bodyWithoutDigest.allHTTPHeaderFields = {headers.begin(), headers.end()};
    }
    UrlRequest openWrongDigest(devserver.url("/open/"));
    openWrongDigest.httpMethod = "POST";
    openWrongDigest.httpBody = toBytes("{}");
    openWrongDigest.allHTTPHeaderFields = {{"x-sb-payload-sha256", devserver::sha256Hex("{ }")}};

    std::vector<Case> cases;
    cases.push_back({"not signed", unsignedGet, 403, "AccessDeniedException", "not signed"});
    cases.push_back({"unknown session", signedRequest("GET", "/thing/", unknown), 403, "AccessDeniedException",
                     "Unknown session"});
    cases.push_back({"expired session", signedRequest("GET", "/thing/", expired), 403, "AccessDeniedException",
                     "Session expired"});
    cases.push_back({"signed with another key", signedRequest("GET", "/thing/", wrongKey), 403,
                     "AccessDeniedException", "does not match"});
    cases.push_back({"value changed after signing",
                     tampered(signedRequest("GET", "/thing/", kAlice), "x-sb-timestamp", "20240102030406"), 403,
                     "AccessDeniedException", "does not match"});
    cases.push_back({"upper-case signature", upperMac, 403, "AccessDeniedException", "does not match"});
    cases.push_back({"a protocol header outside the signature", extraUnsigned, 403, "AccessDeniedException",
                     "not signed: x-sb-item-uuid"});
    cases.push_back({"a signed header left out", listMissing, 403, "AccessDeniedException",
                     "missing: x-sb-blocknum"});
    cases.push_back({"another user's name",
                     signedRequest("GET", "/thing/", Session{kAlice.id, kAlice.key, "Mallory", false}), 403,
                     "AccessDeniedException", "does not own"});
    cases.push_back({"body changed after signing",
                     [&] {
                         UrlRequest r = signedRequest("PUT", "/thing/", kAlice, std::string("{\"n\":1}"));
                         r.httpBody = toBytes("{\"n\":2}");
                         return r;
                     }(),
                     400, "BadChecksumException", "does not match its digest"});
    cases.push_back({"signed body without digest", bodyWithoutDigest, 400, "BadChecksumException", "missing"});
    cases.push_back({"unsigned body with a wrong digest", openWrongDigest, 400, "BadChecksumException",
                     "does not match its digest"});

    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result result = send(c.request);
        ASSERT_FALSE(result.error) << result.error->localizedDescription;
        expectErrorReport(result, c.status, c.code, c.message);
        EXPECT_EQ(result.header("x-sb-auth"), "<absent>") << "an unverified request gets no signed answer";
    }
    EXPECT_EQ(handled(), 0u);
}

TEST_F(DevServerTest, FaultsSpoilTheAnswerAsAsked) {
    struct Case {
        const char* name;
        Fault fault;
        std::function<void(const Result&)> check;
    };
    auto keyed = [](HeaderTamper Fault::*field, HeaderTamper how) {
        Fault f;
        f.*field = how;
        return f;
    };
    Fault html;
    html.status = 500;
    html.rawBody = "<html>oops</html>";
    html.contentType = "text/html";
    Fault wrongAction;
    wrongAction.action = "other_action";
    Fault wrongUser;
    wrongUser.username = "mallory";
    const std::string fullList = "Content-Type,x-sb-action,x-sb-payload-sha256,x-sb-username";
    const auto signatureHolds = [](const Result& r) { EXPECT_EQ(r.header("x-sb-auth"), answerSignature(r, kAlice.key)); };

    std::vector<Case> cases = {
        {"exception", Fault::exception(404, "ItemNotFound", "No such item", "uuid-1"),
         [&](const Result& r) {
             expectErrorReport(r, 404, "ItemNotFound", "No such item");
             EXPECT_EQ(r.json().value("extInfo", ""), "uuid-1");
             signatureHolds(r);
         }},
        {"session expired", Fault::sessionExpired(),
         [](const Result& r) { expectErrorReport(r, 403, "AccessDeniedException", "Session expired"); }},
        {"bad checksum", Fault::badChecksum(),
         [](const Result& r) { expectErrorReport(r, 400, "BadChecksumException", ""); }},
        {"an HTML page", html,
         [](const Result& r) {
             EXPECT_EQ(r.status(), 500);
             EXPECT_EQ(r.response->mimeType, "text/html");
             EXPECT_EQ(r.body(), "<html>oops</html>");
         }},
        {"signature dropped", keyed(&Fault::auth, HeaderTamper::drop()),
         [&](const Result& r) {
             EXPECT_EQ(r.header("x-sb-auth"), "<absent>");
             EXPECT_EQ(r.header("x-sb-auth-headers"), fullList);
         }},
        {"signature corrupted", keyed(&Fault::auth, HeaderTamper::corrupt()),
         [](const Result& r) {
             EXPECT_NE(r.header("x-sb-auth"), answerSignature(r, kAlice.key));
             EXPECT_EQ(r.header("x-sb-auth").size(), 64u);
         }},
        {"signature in upper case", keyed(&Fault::auth, HeaderTamper::upperCase()),
         [](const Result& r) {
             std::string upper = answerSignature(r, kAlice.key);
             for (char& ch : upper) ch = static_cast<char>(std::toupper(ch));
             EXPECT_EQ(r.header("x-sb-auth"), upper);
         }},
        {"list dropped", keyed(&Fault::authHeaders, HeaderTamper::drop()),
         [](const Result& r) {
             EXPECT_EQ(r.header("x-sb-auth-headers"), "<absent>");
             EXPECT_EQ(r.header("x-sb-auth").size(), 64u);
         }},
        {"list corrupted", keyed(&Fault::authHeaders, HeaderTamper::corrupt()),
         [](const Result& r) {
             EXPECT_EQ(r.header("x-sb-auth-headers"), "Content-Type,x-sb-action,x-sb-payload-sha256");
             EXPECT_NE(r.header("x-sb-auth"), answerSignature(r, kAlice.key));
         }},
        {"list replaced", keyed(&Fault::authHeaders, HeaderTamper::replace("Content-Type, x-sb-action")),
         [](const Result& r) { EXPECT_EQ(r.header("x-sb-auth-headers"), "Content-Type, x-sb-action"); }},
        {"digest corrupted, then signed", keyed(&Fault::payloadSha256, HeaderTamper::corrupt()),
         [&](const Result& r) {
             EXPECT_NE(r.header("x-sb-payload-sha256"), devserver::sha256Hex(r.body()));
             EXPECT_EQ(r.header("x-sb-payload-sha256").size(), 64u);
             signatureHolds(r);
         }},
        {"digest dropped, then signed", keyed(&Fault::payloadSha256, HeaderTamper::drop()),
         [&](const Result& r) {
             EXPECT_EQ(r.header("x-sb-payload-sha256"), "<absent>");
             EXPECT_EQ(r.header("x-sb-auth-headers"), "Content-Type,x-sb-action,x-sb-username");
             signatureHolds(r);
         }},
        {"wrong action, signed", wrongAction,
         [&](const Result& r) {
             EXPECT_EQ(r.header("x-sb-action"), "other_action");
             signatureHolds(r);
         }},
        {"wrong user, signed", wrongUser,
         [&](const Result& r) {
             EXPECT_EQ(r.header("x-sb-username"), "mallory");
             signatureHolds(r);
         }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        devserver->setFault("GET", "/thing/", c.fault);
        const Result result = send(signedRequest("GET", "/thing/", kAlice));
        ASSERT_FALSE(result.error) << result.error->localizedDescription;
        c.check(result);
    }
    devserver->clearFaults();
    const Result clean = send(signedRequest("GET", "/thing/", kAlice));
    EXPECT_EQ(clean.status(), 200);
    EXPECT_EQ(clean.header("x-sb-auth"), answerSignature(clean, kAlice.key));
}

TEST_F(DevServerTest, AFaultWithACountWearsOff) {
    Fault twice = Fault::badChecksum();
    twice.times = 2;
    devserver->setFault("PUT", "/thing/", twice);
    std::vector<int> statuses;
    for (int i = 0; i < 3; ++i) statuses.push_back(send(signedRequest("PUT", "/thing/", kAlice, "{}")).status());
    EXPECT_EQ(statuses, (std::vector<int>{400, 400, 200}));
}

TEST_F(DevServerTest, AStallHoldsTheAnswerUntilReleased) {
    devserver->setFault("GET", "/open/", Fault::stalled());
    auto promise = std::make_shared<std::promise<Result>>();
    auto future = promise->get_future();
    session
        ->dataTask(UrlRequest(devserver.url("/open/")),
                   [promise](std::optional<Bytes> d, std::optional<HttpUrlResponse> r, std::optional<UrlError> e) {
                       promise->set_value(Result{std::move(d), std::move(r), std::move(e)});
                   })
        ->resume();
    ASSERT_TRUE(devserver->waitForStalledRequests(1, kGuard));
    EXPECT_EQ(devserver->stalledRequests(), 1u);
    EXPECT_EQ(handled(), 0u);
    devserver->releaseStalls();
    ASSERT_EQ(future.wait_for(kGuard), std::future_status::ready);
    EXPECT_EQ(future.get().status(), 200);
    EXPECT_EQ(devserver->stalledRequests(), 0u);
}

TEST_F(DevServerTest, StoppingReleasesAStalledRequest) {
    testsupport::RunningDevserver other;
    other->route("GET", "/held/", Endpoint{"held", Access::open, [](const ServerRequest&) { return Reply::json({}); }});
    other->setFault("GET", "/held/", Fault::stalled());
    auto otherSession = std::make_shared<UrlSession>(*other.sessionConfiguration());
    auto promise = std::make_shared<std::promise<Result>>();
    auto future = promise->get_future();
    otherSession
        ->dataTask(UrlRequest(other.url("/held/")),
                   [promise](std::optional<Bytes> d, std::optional<HttpUrlResponse> r, std::optional<UrlError> e) {
                       promise->set_value(Result{std::move(d), std::move(r), std::move(e)});
                   })
        ->resume();
    ASSERT_TRUE(other->waitForStalledRequests(1, kGuard));
    other->stop();  // returns: the stall does not hold the pool
    EXPECT_FALSE(other->isRunning());
    ASSERT_EQ(future.wait_for(kGuard), std::future_status::ready);
}

TEST_F(DevServerTest, ADroppedConnectionEndsOnlyThatRequest) {
    Fault drop = Fault::droppedConnection();
    drop.times = 1;
    devserver->setFault("GET", "/open/", drop);
    const Result dropped = send(UrlRequest(devserver.url("/open/")));
    ASSERT_TRUE(dropped.error);
    EXPECT_FALSE(dropped.response);
    const Result next = send(UrlRequest(devserver.url("/open/")));
    EXPECT_EQ(next.status(), 200);
    EXPECT_EQ(devserver->requestCount(), 2u);
}

TEST_F(DevServerTest, FailingEndpointsAnswerWithTheErrorReport) {
    devserver->route("GET", "/throws/", Endpoint{"throws", Access::open, [](const ServerRequest&) -> Reply {
                                                     throw std::runtime_error("boom");
                                                 }});
    devserver->route("GET", "/refuses/", Endpoint{"refuses", Access::open, [](const ServerRequest&) -> Reply {
                                                      throw devserver::ProtocolError(409, "ItemAlreadyShared",
                                                                                     "shared@share-7", "x");
                                                  }});
    devserver->route("GET", "/empty/", Endpoint{"empty", Access::open, nullptr});
    expectErrorReport(send(UrlRequest(devserver.url("/throws/"))), 500, "InternalServerError", "boom");
    const Result refused = send(UrlRequest(devserver.url("/refuses/")));
    expectErrorReport(refused, 409, "ItemAlreadyShared", "shared@share-7");
    EXPECT_EQ(refused.json().value("extInfo", ""), "x");
    EXPECT_EQ(refused.header("x-sb-action"), "refuses");
    expectErrorReport(send(UrlRequest(devserver.url("/empty/"))), 501, "NotImplementedException", "");
}

// Sends raw bytes over TLS and returns the answer: its header and as much body
// as it announces (or all until the server closes the connection).
std::string rawExchange(const testsupport::RunningDevserver& server, const std::string& bytes) {
    std::string answer;
    testsupport::exchangeRawOverTls(server, bytes, [&](std::string_view piece) {
        answer.append(piece);
        const auto end = answer.find("\r\n\r\n");
        if (end == std::string::npos) return true;
        const auto length = answer.find("Content-Length: ");
        return !(length != std::string::npos && length < end &&
                 answer.size() >= end + 4 + std::stoul(answer.substr(length + 16)));
    });
    return answer;
}

TEST_F(DevServerTest, RequestsTheHttpLayerCannotReadGetTheErrorReportToo) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string statusLine;
    };
    devserver::DevServerOptions small;
    small.maximumBodySize = 100;
    testsupport::RunningDevserver smallServer(small);
    const std::vector<Case> cases = {
        {"garbage", "NONSENSE\r\n\r\n", "HTTP/1.1 400"},
        {"unknown method", "BREW /v1/open/ HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "HTTP/1.1 400"},
        {"body larger than allowed",
         "POST /v1/open/ HTTP/1.1\r\nHost: x\r\nContent-Length: 200\r\n\r\n" + std::string(200, 'b'),
         "HTTP/1.1 413"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string answer = rawExchange(c.statusLine == "HTTP/1.1 413" ? smallServer : devserver, c.bytes);
        EXPECT_EQ(answer.substr(0, c.statusLine.size()), c.statusLine) << answer;
        const auto body = answer.substr(std::min(answer.size(), answer.find("\r\n\r\n") + 4));
        const auto report = nlohmann::json::parse(body, nullptr, false);
        ASSERT_TRUE(report.is_object()) << answer;
        EXPECT_TRUE(report.contains("code") && report.contains("message") && report.contains("extInfo"));
    }
    EXPECT_EQ(send(UrlRequest(devserver.url("/open/"))).status(), 200) << "the server still serves";
    EXPECT_EQ(handled(), 1u);
}

}  // namespace
