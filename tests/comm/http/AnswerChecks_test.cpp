#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "HttpTestSupport.h"
#include "crypto/Digest.h"
#include "encoding/Encoding.h"
#include "http/Server_GenericConfirmation.h"
#include "tree/Server_DirectoryInformations.h"

using namespace httptest;
using devserver::Fault;
using devserver::HeaderTamper;

namespace {

using ExtInfo = std::variant<std::monostate, std::int64_t, std::string>;
using Variant = Http::AnswerVariant;

// What a request should end in. No kind: success.
struct Expect {
    std::optional<HTTPErrors> kind;
    std::optional<std::string> exception;
    std::string errDescr;  // "*": any non-empty text (the platform's own words)
    ExtInfo extInfo;
};

const Expect kSuccess{};

Expect auth(std::string description) {
    return {HTTPErrors::badAuthentication, "NoExceptionName", std::move(description), std::int64_t{200}};
}

Expect status(int code, std::optional<std::string> exception, std::string description) {
    return {HTTPErrors::badStatusCode, std::move(exception), std::move(description), std::int64_t{code}};
}

const Expect kUndecodable{HTTPErrors::unableToDecodeAnswer, std::nullopt, "Unable to decode server answer", {}};

Fault raw(int code, std::string body, std::optional<std::string> contentType) {
    Fault f;
    f.status = code;
    f.rawBody = std::move(body);
    if (contentType) {
        f.contentType = std::move(contentType);
    } else {
        f.omitContentType = true;
    }
    return f;
}

Fault tampered(HeaderTamper Fault::*which, HeaderTamper how) {
    Fault f;
    f.*which = std::move(how);
    return f;
}

enum class AnswerKind { confirmation, rawJson };

struct Row {
    const char* name;
    std::optional<Fault> fault;
    bool sessionKey;
    AnswerKind answer;
    Expect plain;
    Expect payload;
};

struct Seen {
    bool hasValue = false;
    HttpHeaders headers;
    std::optional<HTTPError> error;
    std::optional<Bytes> digest;
    std::thread::id thread;
};

const Bytes kRequestBody = toBytes(R"({"name":"x"})");

template <ServerAnswer T>
Seen send(Http& http, Variant variant, bool signedRequest, std::vector<std::function<std::size_t()>>& counters) {
    const std::map<std::string, std::string> cust = {{"username", kUser}, {"sessionid", kSessionId}};
    std::optional<SecretBytes> key;
    if (signedRequest) key = sessionKey();
    Capture<T> done;
    counters.push_back([done] { return done.count(); });
    if (variant == Variant::plain) {
        http.query<T>("/test/confirm/", "GET", cust, key, "application/json", done.handler());
    } else {
        http.queryWithPayload<T>("/test/confirm/", "PUT", cust, "application/json", kRequestBody, key,
                                 "application/json", done.payloadHandler());
    }
    auto call = done.first();
    return {call.value.has_value(), call.headers, call.error, call.digest, call.thread};
}

}  // namespace

// Every line of the answer routine's failure table (and its success), for both
// request forms, driven by the stand-in server's faults over real TLS.
TEST(AnswerChecks, FailureTable) {
    auto& s = server();
    const std::string valid = R"({"itemUUID":"I"})";
    const Expect mimePlain{HTTPErrors::badAnswerMimeType, std::nullopt, "Bad answer mime type",
                           std::string("Received: text/plain, expected: application/json")};
    const Expect mimePayload{HTTPErrors::badAnswerMimeType, std::nullopt, "Bad answer mime type",
                             std::string("Received text/plain, expected application/json")};
    const Expect hmac = auth("Message HMACs doesn't match");
    const Expect wrongHash = auth("Wrong payload signature");

    const std::vector<Row> rows = {
        {"1 transport error", Fault::droppedConnection(), true, AnswerKind::confirmation,
         {HTTPErrors::dataTaskError, std::nullopt, "*", {}}, {HTTPErrors::dataTaskError, std::nullopt, "*", {}}},
        {"3 JSON report", Fault::exception(404, "C", "M", ""), true, AnswerKind::confirmation,
         status(404, "C", "M"), status(404, "C", "M")},
        {"3 JSON report with extInfo", Fault::exception(404, "C", "M", "E"), true, AnswerKind::confirmation,
         status(404, "C", "M - E"), status(404, "C", "M - E")},
        {"3 JSON report without extInfo", raw(403, R"({"code":"C","message":"M"})", "application/json"), true,
         AnswerKind::confirmation,
         status(403, "JSONError", "Unable to decode a server error: Cannot decode JSON data!"),
         status(403, "JSONError", "Unable to decode a server error: Cannot decode JSON data!")},
        {"3 report of another type", raw(500, "<html>down</html>", "text/html"), true, AnswerKind::confirmation,
         status(500, "", "No readable message from the server"),
         status(500, "", "No readable message from the server")},
        {"3 status 300", raw(300, valid, "application/json"), true, AnswerKind::confirmation,
         status(300, "JSONError", "Unable to decode a server error: Cannot decode JSON data!"),
         status(300, "JSONError", "Unable to decode a server error: Cannot decode JSON data!")},
        {"3 failed and unsigned answer to a signed request",
         [] {
             Fault f = Fault::exception(400, "BadChecksumException", "bad block");
             f.auth = HeaderTamper::drop();
             f.authHeaders = HeaderTamper::drop();
             f.payloadSha256 = HeaderTamper::drop();
             return f;
         }(),
         true, AnswerKind::confirmation, status(400, "BadChecksumException", "bad block"),
         status(400, "BadChecksumException", "bad block")},
        {"status 299 passes", raw(299, valid, "application/json"), true, AnswerKind::confirmation, kSuccess,
         kSuccess},
        {"4 MIME type differs", raw(200, valid, "text/plain"), true, AnswerKind::confirmation, mimePlain,
         mimePayload},
        {"4 no MIME type", raw(200, "", std::nullopt), true, AnswerKind::rawJson,
         {HTTPErrors::badAnswerMimeType, std::nullopt, "Bad answer mime type",
          std::string("Received: UNKNOWN, expected: application/json")},
         kSuccess},
        {"4 charset parameter", raw(200, valid, "application/json; charset=utf-8"), true, AnswerKind::confirmation,
         kSuccess, kSuccess},
        {"5.1 no signed-header list", tampered(&Fault::authHeaders, HeaderTamper::drop()), true,
         AnswerKind::confirmation, auth("Missing authenticated headers list"),
         auth("Missing authenticated headers list")},
        {"5.3 blank after the comma", tampered(&Fault::authHeaders, HeaderTamper::replace("x-sb-action, x-sb-username")),
         true, AnswerKind::confirmation, auth("Missing authenticated header:  x-sb-username"),
         auth("Missing authenticated header:  x-sb-username")},
        {"5.3 listed header absent", tampered(&Fault::authHeaders, HeaderTamper::replace("x-sb-action,x-sb-absent")),
         true, AnswerKind::confirmation, auth("Missing authenticated header: x-sb-absent"),
         auth("Missing authenticated header: x-sb-absent")},
        {"5.3 empty list", tampered(&Fault::authHeaders, HeaderTamper::replace("")), true, AnswerKind::confirmation,
         auth("Missing authenticated header: "), auth("Missing authenticated header: ")},
        {"5.4 no signature", tampered(&Fault::auth, HeaderTamper::drop()), true, AnswerKind::confirmation,
         auth("Missing authentication hmac"), auth("Missing authentication hmac")},
        {"5.5 signature differs", tampered(&Fault::auth, HeaderTamper::corrupt()), true, AnswerKind::confirmation,
         hmac, hmac},
        {"5.5 signature in upper case", tampered(&Fault::auth, HeaderTamper::upperCase()), true,
         AnswerKind::confirmation, hmac, hmac},
        {"5.5 list short of a name", tampered(&Fault::authHeaders, HeaderTamper::corrupt()), true,
         AnswerKind::confirmation, hmac, hmac},
        {"6.2 no body hash", tampered(&Fault::payloadSha256, HeaderTamper::drop()), true, AnswerKind::confirmation,
         auth("Missing payload signature"), auth("Missing payload signature")},
        {"6.3 body hash differs", tampered(&Fault::payloadSha256, HeaderTamper::corrupt()), true,
         AnswerKind::confirmation, wrongHash, wrongHash},
        {"6.3 body hash in upper case", tampered(&Fault::payloadSha256, HeaderTamper::upperCase()), true,
         AnswerKind::confirmation, wrongHash, wrongHash},
        {"7 body does not decode", raw(200, R"({"parentUUID":"P"})", "application/json"), true,
         AnswerKind::confirmation, kUndecodable, kUndecodable},
        {"7 empty body, hashed, then undecodable", raw(200, "", "application/json"), true, AnswerKind::confirmation,
         kUndecodable, kUndecodable},
        {"7 body nested beyond the bound", raw(200, std::string(100000, '['), "application/json"), true,
         AnswerKind::confirmation, kUndecodable, kUndecodable},
        {"8 success", std::nullopt, true, AnswerKind::confirmation, kSuccess, kSuccess},
        {"unsigned request, unsigned answer", std::nullopt, false, AnswerKind::confirmation, kSuccess, kSuccess},
        {"unsigned request skips the hash", tampered(&Fault::payloadSha256, HeaderTamper::corrupt()), false,
         AnswerKind::confirmation, kSuccess, kSuccess},
    };

    std::vector<std::function<std::size_t()>> counters;
    const Bytes requestDigest = sha256(kRequestBody);
    for (const auto& row : rows) {
        for (Variant variant : {Variant::plain, Variant::payload}) {
            SCOPED_TRACE(std::string(row.name) + (variant == Variant::plain ? " / query" : " / queryWithPayload"));
            s.clearFaults();
            if (row.fault) {
                s.setFault("GET", "/test/confirm/", *row.fault);
                s.setFault("PUT", "/test/confirm/", *row.fault);
            }
            auto http = makeHttp();
            const Seen seen = row.answer == AnswerKind::confirmation
                                  ? send<Server_GenericConfirmation>(*http, variant, row.sessionKey, counters)
                                  : send<Server_DirectoryInformations>(*http, variant, row.sessionKey, counters);
            const Expect& expect = variant == Variant::plain ? row.plain : row.payload;

            EXPECT_NE(seen.thread, std::this_thread::get_id());
            if (variant == Variant::payload) {
                EXPECT_EQ(seen.digest, requestDigest) << "the request's digest, on every call";
            }
            if (!expect.kind) {
                EXPECT_FALSE(seen.error.has_value()) << seen.error->errDescr;
                EXPECT_TRUE(seen.hasValue);
                EXPECT_EQ(seen.headers.count("x-sb-action"), 1u) << "every header field on success";
                EXPECT_EQ(seen.headers.count("Content-Length"), 1u);
                EXPECT_EQ(seen.headers.count("x-sb-auth"), row.sessionKey ? 1u : 0u);
                continue;
            }
            ASSERT_TRUE(seen.error.has_value());
            EXPECT_FALSE(seen.hasValue);
            EXPECT_TRUE(seen.headers.empty()) << "no header fields on failure";
            EXPECT_EQ(seen.error->error, *expect.kind);
            EXPECT_EQ(seen.error->exception, expect.exception);
            if (expect.errDescr == "*") {
                EXPECT_FALSE(seen.error->errDescr.empty());
            } else {
                EXPECT_EQ(seen.error->errDescr, expect.errDescr);
            }
            EXPECT_EQ(seen.error->extInfo, expect.extInfo);
        }
    }
    s.clearFaults();
    waitForAllSessionsToEnd();
    for (const auto& count : counters) EXPECT_EQ(count(), 1u) << "each handler is called exactly once";
}

// The rows that no server can produce over a real connection: the session
// reporting no HTTP response, and an informational status.
TEST(AnswerChecks, RowsOutsideTheWire) {
    for (Variant variant : {Variant::plain, Variant::payload}) {
        auto none = Http::handleAnswer<Server_GenericConfirmation>(toBytes("{}"), std::nullopt, std::nullopt,
                                                                   "application/json", sessionKey(), variant);
        ASSERT_TRUE(none.error.has_value());
        EXPECT_EQ(none.error->error, HTTPErrors::unableToDecodeURLResponse);
        EXPECT_FALSE(none.error->exception.has_value());
        EXPECT_EQ(none.error->errDescr, "Unable to decode HTTP URL status codes and headers");
        EXPECT_TRUE(std::holds_alternative<std::monostate>(none.error->extInfo));
        EXPECT_TRUE(none.headers.empty());

        HttpUrlResponse informational;
        informational.statusCode = 199;
        informational.mimeType = "application/json";
        auto early = Http::handleAnswer<Server_GenericConfirmation>(toBytes(R"({"itemUUID":"I"})"), informational,
                                                                    std::nullopt, "application/json", std::nullopt,
                                                                    variant);
        ASSERT_TRUE(early.error.has_value());
        EXPECT_EQ(early.error->error, HTTPErrors::badStatusCode);
        EXPECT_EQ(early.error->extInfo, ExtInfo(std::int64_t{199}));

        // No body at all from the session: nothing to hash, and the error
        // report reads as absent.
        informational.statusCode = 500;
        auto absent = Http::handleAnswer<Server_GenericConfirmation>(std::nullopt, informational, std::nullopt,
                                                                     "application/json", sessionKey(), variant);
        EXPECT_EQ(absent.error->exception, "NoIncomingPayload");
        EXPECT_EQ(absent.error->errDescr, "Unable to decode a server error: Payload empty!");
    }
}

// A raw block download: the body's bytes, with the payload digest of zero
// bytes checked for an empty block.
TEST(AnswerChecks, RawBlockAnswers) {
    for (const std::string& block : {std::string("block bytes"), std::string()}) {
        const std::string name = block.empty() ? "empty" : block;
        auto http = makeHttp();
        Capture<Bytes> done;
        http->query<Bytes>("/test/block/", "GET", {{"username", kUser}, {"sessionid", kSessionId}, {"item-uuid", name}},
                           sessionKey(), "application/octet-stream", done.handler());
        auto call = done.first();
        ASSERT_FALSE(call.error.has_value()) << call.error->errDescr;
        EXPECT_EQ(toText(*call.value), block);
        EXPECT_EQ(call.headers.at("x-sb-payload-sha256"), toHex(sha256(asBytes(block))));
    }
}
