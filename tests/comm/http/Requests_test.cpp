#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <set>

#include "HttpTestSupport.h"
#include "crypto/Digest.h"
#include "encoding/Encoding.h"
#include "devserver/Signing.h"
#include "http/Server_GenericConfirmation.h"

using namespace httptest;

namespace {

constexpr const char* kEmptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::set<std::string> namesOf(const devserver::RecordedRequest& request) {
    std::set<std::string> names;
    for (const auto& [name, value] : request.headers)
        if (name != "Host" && name != "Content-Length") names.insert(name);
    return names;
}

std::string valueOf(const devserver::RecordedRequest& request, const std::string& name) {
    for (const auto& [n, v] : request.headers)
        if (n == name) return v;
    return {};
}

// "yyyyMMddHHmmss" of a UTC time, from the civil calendar of <chrono>.
std::string utcStamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    auto seconds = floor<std::chrono::seconds>(when);
    auto day = floor<days>(seconds);
    year_month_day ymd{day};
    hh_mm_ss<std::chrono::seconds> time{seconds - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02u%02u%02ld%02ld%02ld", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return text;
}

class Requests : public ::testing::Test {
protected:
    void SetUp() override {
        server().clearFaults();
        server().clearRequests();
    }
    void TearDown() override { server().clearFaults(); }

    devserver::RecordedRequest onlyRequest() {
        auto requests = server().requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? devserver::RecordedRequest{} : requests.front();
    }
};

}  // namespace

// The header set of every request form, exactly, as the server received it.
TEST_F(Requests, HeaderSetsOfEveryForm) {
    const std::map<std::string, std::string> cust = {
        {"username", kUser}, {"sessionid", kSessionId}, {"item-uuid", "ITEM-1"}};
    const std::set<std::string> base = {"User-Agent", "x-sb-timestamp", "Accept", "x-sb-username", "x-sb-sessionid",
                                        "x-sb-item-uuid"};
    auto with = [&](std::initializer_list<const char*> more) {
        auto names = base;
        for (const char* n : more) names.insert(n);
        return names;
    };

    struct Row {
        const char* name;
        bool payload;
        bool key;
        std::optional<std::string> contentType;
        std::set<std::string> expected;
        const char* signedList;
    };
    const std::vector<Row> rows = {
        {"query unsigned", false, false, std::nullopt, base, nullptr},
        {"query signed", false, true, std::nullopt, with({"x-sb-auth", "x-sb-auth-headers"}),
         "Accept,User-Agent,x-sb-item-uuid,x-sb-sessionid,x-sb-timestamp,x-sb-username"},
        {"payload with content type, unsigned", true, false, "application/json",
         with({"Content-Type", "x-sb-payload-sha256"}), nullptr},
        {"payload without content type, signed", true, true, std::nullopt,
         with({"x-sb-payload-sha256", "x-sb-auth", "x-sb-auth-headers"}),
         "Accept,User-Agent,x-sb-item-uuid,x-sb-payload-sha256,x-sb-sessionid,x-sb-timestamp,x-sb-username"},
        {"payload with content type, signed", true, true, "application/octet-stream",
         with({"Content-Type", "x-sb-payload-sha256", "x-sb-auth", "x-sb-auth-headers"}),
         "Accept,Content-Type,User-Agent,x-sb-item-uuid,x-sb-payload-sha256,x-sb-sessionid,x-sb-timestamp,"
         "x-sb-username"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        server().clearRequests();
        auto http = makeHttp();
        std::optional<SecretBytes> key;
        if (row.key) key = sessionKey();
        std::optional<Server_GenericConfirmation> value;
        std::optional<HTTPError> error;
        HttpHeaders headers;
        if (row.payload) {
            Capture<Server_GenericConfirmation> done;
            http->queryWithPayload<Server_GenericConfirmation>("/test/signed/", "PUT", cust, row.contentType,
                                                               toBytes("{\"a\":1}"), key, "application/json",
                                                               done.payloadHandler());
            auto call = done.first();
            value = call.value, error = call.error, headers = call.headers;
        } else {
            Capture<Server_GenericConfirmation> done;
            http->query<Server_GenericConfirmation>("/test/signed/", "GET", cust, key, "application/json",
                                                    done.handler());
            auto call = done.first();
            value = call.value, error = call.error, headers = call.headers;
        }
        auto request = onlyRequest();
        EXPECT_EQ(namesOf(request), row.expected);
        EXPECT_EQ(valueOf(request, "User-Agent"), http->userAgent);
        EXPECT_EQ(valueOf(request, "Accept"), "application/json");
        EXPECT_EQ(valueOf(request, "x-sb-item-uuid"), "ITEM-1");
        if (row.contentType) {
            EXPECT_EQ(valueOf(request, "Content-Type"), *row.contentType);
        }
        if (row.payload) {
            EXPECT_EQ(valueOf(request, "x-sb-payload-sha256"), toHex(sha256(asBytes("{\"a\":1}"))));
        }
        if (row.signedList) {
            EXPECT_EQ(valueOf(request, "x-sb-auth-headers"), row.signedList);
            // The server checked the signature itself and answered signed.
            ASSERT_FALSE(error.has_value()) << error->errDescr;
            EXPECT_EQ(headers["x-sb-verified-session"], kSessionId);
            EXPECT_EQ(value->opdata.itemUUID, "ITEM-1");
        } else {
            ASSERT_TRUE(error.has_value()) << "the route wants a signature";
            EXPECT_EQ(error->error, HTTPErrors::badStatusCode);
            EXPECT_EQ(error->exception, "AccessDeniedException");
        }
    }
}

// Every method the system uses, with and without a body, signed: the server's
// own verifier accepts each.
TEST_F(Requests, ServerVerifierAcceptsEverySignedRequest) {
    struct Row {
        const char* method;
        bool payload;
    };
    for (const Row& row : {Row{"GET", false}, Row{"DELETE", false}, Row{"PUT", true}, Row{"POST", true},
                           Row{"DELETE", true}}) {
        SCOPED_TRACE(row.method + std::string(row.payload ? " with body" : " without body"));
        auto http = makeHttp();
        const std::map<std::string, std::string> cust = {{"username", kUser}, {"sessionid", kSessionId},
                                                         {"item-uuid", "Mixed-Case; value: 1"}};
        Capture<Server_GenericConfirmation> done;
        if (row.payload) {
            http->queryWithPayload<Server_GenericConfirmation>("/test/confirm/", row.method, cust, "application/json",
                                                               Bytes(1000, 'x'), sessionKey(), "application/json",
                                                               done.payloadHandler());
        } else {
            http->query<Server_GenericConfirmation>("/test/confirm/", row.method, cust, sessionKey(),
                                                    "application/json", done.handler());
        }
        auto call = done.first();
        ASSERT_FALSE(call.error.has_value()) << call.error->errDescr;
        EXPECT_EQ(call.headers["x-sb-verified-session"], kSessionId);
        EXPECT_EQ(call.value->opdata.itemUUID, "Mixed-Case; value: 1");
    }
}

// A signed request changed after signing (a signed value, the body) is
// refused by the server's verifier.
TEST_F(Requests, ServerVerifierRefusesATamperedRequest) {
    auto http = makeHttp();
    const std::map<std::string, std::string> cust = {{"username", kUser}, {"sessionid", kSessionId}};
    struct Row {
        const char* name;
        std::function<void(UrlRequest&)> tamper;
        const char* exception;
    };
    const std::vector<Row> rows = {
        {"untouched", [](UrlRequest&) {}, nullptr},
        {"signed value changed", [](UrlRequest& r) { r.allHTTPHeaderFields["Accept"] = "text/html"; },
         "AccessDeniedException"},
        {"signature changed", [](UrlRequest& r) { r.allHTTPHeaderFields["x-sb-auth"][0] ^= 1; },
         "AccessDeniedException"},
        {"unsigned protocol header added", [](UrlRequest& r) { r.allHTTPHeaderFields["x-sb-item-uuid"] = "X"; },
         "AccessDeniedException"},
        {"body changed", [](UrlRequest& r) { (*r.httpBody)[0] ^= 1; }, "BadChecksumException"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto built = http->buildRequest("/test/confirm/", "PUT", cust, "application/json", toBytes("{\"a\":1}"),
                                        sessionKey(), "application/json", std::chrono::system_clock::now());
        row.tamper(built.request);
        UrlSession raw(*testsupport::sharedDevserver().sessionConfiguration());
        std::promise<std::pair<std::optional<HttpUrlResponse>, std::optional<Bytes>>> answered;
        raw.dataTask(built.request, [&](auto data, auto response, auto) {
               answered.set_value({std::move(response), std::move(data)});
           })->resume();
        auto future = answered.get_future();
        ASSERT_EQ(future.wait_for(kGuard), std::future_status::ready);
        auto [response, data] = future.get();
        ASSERT_TRUE(response.has_value());
        if (row.exception == nullptr) {
            EXPECT_EQ(response->statusCode, 200);
        } else {
            EXPECT_EQ(std::get<0>(Http::decodeSrvError(data)), row.exception);
        }
    }
    // The refusals name the server's exception (through the transport this time).
    Capture<Server_GenericConfirmation> done;
    http->query<Server_GenericConfirmation>("/test/signed/", "GET", {{"username", kUser}, {"sessionid", "unknown"}},
                                            sessionKey(), "application/json", done.handler());
    EXPECT_EQ(done.first().error->exception, "AccessDeniedException");
}

TEST_F(Requests, EmptyBodySendsTheDigestOfNothing) {
    auto http = makeHttp();
    Capture<Server_GenericConfirmation> done;
    http->queryWithPayload<Server_GenericConfirmation>("/test/confirm/", "PUT",
                                                       {{"username", kUser}, {"sessionid", kSessionId}},
                                                       std::nullopt, Bytes{}, sessionKey(), "application/json",
                                                       done.payloadHandler());
    auto call = done.first();
    ASSERT_FALSE(call.error.has_value()) << call.error->errDescr;
    EXPECT_EQ(valueOf(onlyRequest(), "x-sb-payload-sha256"), kEmptyDigest);
    ASSERT_TRUE(call.digest.has_value());
    EXPECT_EQ(*call.digest, *fromHex(kEmptyDigest));
}

// A header value that would split the request line is refused before anything
// leaves the client.
TEST_F(Requests, HeaderValuesWithLineBreaksAreRefusedLocally) {
    for (const std::string& bad : {std::string("a\r\nx-sb-admin: 1"), std::string("a\nb"), std::string("a\rb"),
                                   std::string("a\0b", 3)}) {
        auto http = makeHttp();
        Capture<Server_GenericConfirmation> done;
        http->queryWithPayload<Server_GenericConfirmation>("/test/confirm/", "PUT", {{"item-uuid", bad}},
                                                           "application/json", Bytes{}, sessionKey(),
                                                           "application/json", done.payloadHandler());
        auto call = done.first();
        ASSERT_TRUE(call.error.has_value());
        EXPECT_EQ(call.error->error, HTTPErrors::dataTaskError);
        EXPECT_FALSE(call.value.has_value());
        EXPECT_TRUE(call.headers.empty());
        EXPECT_EQ(call.digest->size(), 32u);
    }
    EXPECT_EQ(server().requestCount(), 0u);
}

// The stamp is UTC whatever the local zone: here the zone is two hours ahead.
TEST_F(Requests, TimestampIsUtcWhateverTheZone) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    ::setenv("TZ", "XST-2", 1);
    ::tzset();

    using namespace std::chrono;
    // 10:05:07 local time, two hours ahead: 08:05:07 UTC.
    const sys_seconds fixed = sys_days{2024y / February / 29} + 8h + 5min + 7s;
    EXPECT_EQ(Http::timestamp(fixed), "20240229080507");

    auto http = makeHttp();
    Capture<Server_GenericConfirmation> done;
    const auto before = system_clock::now();
    http->query<Server_GenericConfirmation>("/test/confirm/", "GET", {}, std::nullopt, "application/json",
                                            done.handler());
    done.first();
    const auto after = system_clock::now();
    const std::string stamp = valueOf(onlyRequest(), "x-sb-timestamp");

    if (saved) {
        ::setenv("TZ", previous.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();

    EXPECT_EQ(stamp.size(), 14u);
    EXPECT_LE(utcStamp(before), stamp);
    EXPECT_GE(utcStamp(after), stamp);
}

TEST_F(Requests, BuildingDoesNotDependOnTheAnswerTypeAndSignsExactlyTheListedHeaders) {
    auto http = makeHttp();
    const auto now = std::chrono::system_clock::now();
    auto built = http->buildRequest("/dir/list/", "GET", {{"item-uuid", "root"}, {"timestamp", "override"}},
                                    std::nullopt, std::nullopt, sessionKey(), "application/json", now);
    const auto& h = built.request.allHTTPHeaderFields;
    EXPECT_EQ(built.request.url, testsupport::sharedDevserver().server().baseUrl() + "/dir/list/");
    EXPECT_EQ(built.request.httpMethod, "GET");
    EXPECT_EQ(h.at("x-sb-timestamp"), "override") << "a custom key that names a set header replaces it";
    EXPECT_FALSE(built.request.httpBody.has_value());
    EXPECT_TRUE(built.payloadDigest.empty());

    // The server side's signer, fed exactly the listed headers, agrees.
    devserver::HeaderMap listed;
    std::string list = h.at("x-sb-auth-headers");
    for (std::size_t start = 0;;) {
        auto comma = list.find(',', start);
        auto name = list.substr(start, comma - start);
        listed[name] = h.at(name);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    EXPECT_EQ(listed.size() + 2, h.size()) << "everything but the two signature headers is signed";
    EXPECT_EQ(devserver::signHeaders(listed, sessionKey().view()).hmac, h.at("x-sb-auth"));
}
