#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "crypto/Digest.h"
#include "crypto/SecretBytes.h"
#include "http/HTTPError.h"
#include "http/ServerAnswer.h"
#include "platform/Bytes.h"
#include "platform/UrlSession.h"

namespace ostrelcomm {

// Header fields by exact, case-sensitive name.
using HttpHeaders = std::map<std::string, std::string>;

// One HTTPS session of the transport; each job owns one and sends its
// requests through it, one at a time. Requests are stamped, hashed and, with
// a session key, signed; every answer is checked (transfer, status, MIME
// type, signed headers, signature, body hash) before it is decoded, and the
// requester's handler is called exactly once, on the session's own thread.
//
// Always held by std::shared_ptr: a request in flight keeps its Http alive
// until its handler has run, even when the job has let it go. Http takes no
// lock of its own; the engine that drives it serialises its use.
class Http final : public std::enable_shared_from_this<Http> {
public:
    // (answer, the answer's header fields, error): on success the value and
    // every header field; on failure no value and no header fields.
    template <ServerAnswer T>
    using CompletionHandler = std::function<void(std::optional<T>, HttpHeaders, std::optional<HTTPError>)>;
    // The same, plus the SHA-256 digest (32 bytes) of the request body, on
    // every call whatever the outcome.
    template <ServerAnswer T>
    using PayloadCompletionHandler =
        std::function<void(std::optional<T>, HttpHeaders, std::optional<HTTPError>, Bytes)>;

    static constexpr const char* kHeaderPrefix = "x-sb-";

    // `sessionType` is adjusted in place (cellular access, 10 s for further
    // data, 30 s for a whole transfer, no additional headers) and the session
    // is made from it. A `urlToUse` that is not a key of the server table
    // selects "Switzerland". The background identifier is ignored.
    Http(const std::string& urlToUse, bool allowCellular, std::shared_ptr<UrlSessionConfiguration> sessionType,
         const std::optional<std::string>& backgroundSessionIdentifier);
    ~Http();
    Http(const Http&) = delete;

    // The session of one job: cellular allowed, a new ephemeral configuration,
    // no background identifier, as every job context builds it.
    static std::shared_ptr<Http> forJob(const std::string& urlToUse);
    Http& operator=(const Http&) = delete;

    std::string urlToUse;
    const std::string headerPrefix;
    const std::string userAgent;
    std::shared_ptr<UrlSessionConfiguration> sessionConfig;
    const std::shared_ptr<UrlSession> session;
    // The data task of the latest request; each new request replaces it.
    std::shared_ptr<UrlSessionDataTask> task;

    // The server table: server key to base URL, made once. Its one entry,
    // "Switzerland", takes QUORVEL_SERVER_URL when set, else the local
    // stand-in server.
    static const std::map<std::string, std::string>& url();

    // Drops this object's reference to its latest task; cancels nothing.
    void releaseHttp();
    // The base URL that requests of this object go to.
    std::string getUsedURL() const;

    // Sends one request without a body and returns at once. With a
    // `progressTimeout` (seconds), the request ends only after that long
    // without progress in either direction, however long it takes in all:
    // for the requests that carry a file's blocks. With a
    // `maximumAnswerSize`, a longer answer body fails the request
    // (dataTaskError) before it is held whole.
    template <ServerAnswer T>
    void query(const std::string& path, const std::string& method, const std::map<std::string, std::string>& custHeaders,
               std::optional<SecretBytes> hmacKey, const std::string& answerType,
               CompletionHandler<T> completionHandler, std::optional<double> progressTimeout = std::nullopt,
               std::optional<std::size_t> maximumAnswerSize = std::nullopt);

    // Sends one request with `payload` as its body and returns at once. A
    // `payloadDigest` is the payload's SHA-256 as the caller already computed
    // it; absent, the payload is hashed here.
    template <ServerAnswer T>
    void queryWithPayload(const std::string& path, const std::string& method,
                          const std::map<std::string, std::string>& custHeaders,
                          const std::optional<std::string>& contentType, Bytes payload,
                          std::optional<SecretBytes> hmacKey, const std::string& answerType,
                          PayloadCompletionHandler<T> completionHandler,
                          std::optional<double> progressTimeout = std::nullopt,
                          std::optional<std::size_t> maximumAnswerSize = std::nullopt,
                          std::optional<Bytes> payloadDigest = std::nullopt);

    // --- pieces of the request and of the answer routine ------------------

    // The server's error report read as (name, message, extInfo). Never
    // fails: an absent body or one that does not decode gives a fixed triple.
    static std::tuple<std::optional<std::string>, std::optional<std::string>, std::optional<std::string>>
    decodeSrvError(const std::optional<Bytes>& srvPayload);

    // Header signature: ("x-sb-auth-headers", the names sorted by their exact
    // characters and joined by ",", lower-case hex HMAC-SHA256 under `key` of
    // "name:value" lines, both lower-cased, joined by ";").
    static std::tuple<std::string, std::string, std::string> authenticate(const std::map<std::string, std::string>& headers,
                                                                        ByteView key);

    // "yyyyMMddHHmmss" in UTC.
    static std::string timestamp(std::chrono::system_clock::time_point now);

    struct BuiltRequest {
        UrlRequest request;
        // SHA-256 of the body; empty for a request without one.
        Bytes payloadDigest;
    };
    // The request exactly as query (no payload) or queryWithPayload would send it.
    BuiltRequest buildRequest(const std::string& path, const std::string& method,
                              const std::map<std::string, std::string>& custHeaders,
                              const std::optional<std::string>& contentType, std::optional<Bytes> payload,
                              const std::optional<SecretBytes>& hmacKey, const std::string& answerType,
                              std::chrono::system_clock::time_point now,
                              std::optional<double> progressTimeout = std::nullopt,
                              std::optional<std::size_t> maximumAnswerSize = std::nullopt,
                              std::optional<Bytes> payloadDigest = std::nullopt) const;

    // The answer routine of query (plain) and of queryWithPayload (payload),
    // which differ only in how a successful answer's MIME type is checked and
    // worded.
    enum class AnswerVariant { plain, payload };

    // Every check before decoding, in order; absent when the answer passes.
    // `bodyDigest`, when given, is the SHA-256 of `data` as it was taken in
    // while it arrived; without it the body is hashed here.
    static std::optional<HTTPError> verifyAnswer(const std::optional<Bytes>& data,
                                                 const std::optional<HttpUrlResponse>& response,
                                                 const std::optional<UrlError>& error, const std::string& answerType,
                                                 const std::optional<SecretBytes>& hmacKey, AnswerVariant variant,
                                                 const std::optional<Bytes>& bodyDigest = std::nullopt);

    template <ServerAnswer T>
    struct AnswerOutcome {
        std::optional<T> value;
        HttpHeaders headers;
        std::optional<HTTPError> error;
    };

    // The checks, then the answer value made from the whole body.
    template <ServerAnswer T>
    static AnswerOutcome<T> handleAnswer(std::optional<Bytes> data, const std::optional<HttpUrlResponse>& response,
                                         const std::optional<UrlError>& error, const std::string& answerType,
                                         const std::optional<SecretBytes>& hmacKey, AnswerVariant variant,
                                         const std::optional<Bytes>& bodyDigest = std::nullopt);

private:
    void startTask(UrlRequest request, DataTaskCompletion completion);
    // With a session key, the answer body's digest is taken in as the body
    // arrives, so hashing it overlaps the transfer instead of following it.
    static std::shared_ptr<Digest> digestWhileReceiving(UrlRequest& request, const std::optional<SecretBytes>& hmacKey);
    static std::optional<Bytes> receivedDigest(const std::shared_ptr<Digest>& digest, const std::optional<Bytes>& data);
};

// --- templates ------------------------------------------------------------------

template <ServerAnswer T>
Http::AnswerOutcome<T> Http::handleAnswer(std::optional<Bytes> data, const std::optional<HttpUrlResponse>& response,
                                          const std::optional<UrlError>& error, const std::string& answerType,
                                          const std::optional<SecretBytes>& hmacKey, AnswerVariant variant,
                                          const std::optional<Bytes>& bodyDigest) {
    if (auto failure = verifyAnswer(data, response, error, answerType, hmacKey, variant, bodyDigest))
        return {std::nullopt, {}, std::move(failure)};
    try {
        std::optional<T> value;
        if constexpr (std::same_as<T, Bytes>) {
            value = data ? std::move(*data) : Bytes{};
        } else {
            value.emplace(data ? makeAnswer<T>(*data) : makeAnswer<T>(ByteView{}));
        }
        return {std::move(value), response->allHeaderFields(), std::nullopt};
    } catch (const std::exception&) {
        return {std::nullopt, {}, HTTPError{std::nullopt, HTTPErrors::unableToDecodeAnswer, "Unable to decode server answer", {}}};
    }
}

template <ServerAnswer T>
void Http::query(const std::string& path, const std::string& method,
                 const std::map<std::string, std::string>& custHeaders, std::optional<SecretBytes> hmacKey,
                 const std::string& answerType, CompletionHandler<T> completionHandler,
                 std::optional<double> progressTimeout, std::optional<std::size_t> maximumAnswerSize) {
    BuiltRequest built = buildRequest(path, method, custHeaders, std::nullopt, std::nullopt, hmacKey, answerType,
                                      std::chrono::system_clock::now(), progressTimeout, maximumAnswerSize);
    auto bodyDigest = digestWhileReceiving(built.request, hmacKey);
    startTask(std::move(built.request),
              [self = weak_from_this().lock(), answerType, hmacKey = std::move(hmacKey),
               bodyDigest = std::move(bodyDigest), handler = std::move(completionHandler)](std::optional<Bytes> data, std::optional<HttpUrlResponse> response,
                                                       std::optional<UrlError> error) mutable {
                  // Everything captured is moved out first, so that the task,
                  // which this Http keeps, holds no reference back to it.
                  auto keepAlive = std::move(self);
                  auto key = std::move(hmacKey);
                  auto call = std::move(handler);
                  const auto received = receivedDigest(bodyDigest, data);
                  auto outcome = handleAnswer<T>(std::move(data), response, error, answerType, key,
                                                 AnswerVariant::plain, received);
                  if (call) call(std::move(outcome.value), std::move(outcome.headers), std::move(outcome.error));
              });
}

template <ServerAnswer T>
void Http::queryWithPayload(const std::string& path, const std::string& method,
                            const std::map<std::string, std::string>& custHeaders,
                            const std::optional<std::string>& contentType, Bytes payload,
                            std::optional<SecretBytes> hmacKey, const std::string& answerType,
                            PayloadCompletionHandler<T> completionHandler, std::optional<double> progressTimeout,
                            std::optional<std::size_t> maximumAnswerSize, std::optional<Bytes> payloadDigest) {
    BuiltRequest built = buildRequest(path, method, custHeaders, contentType, std::move(payload), hmacKey, answerType,
                                      std::chrono::system_clock::now(), progressTimeout, maximumAnswerSize,
                                      std::move(payloadDigest));
    auto bodyDigest = digestWhileReceiving(built.request, hmacKey);
    startTask(std::move(built.request),
              [self = weak_from_this().lock(), answerType, hmacKey = std::move(hmacKey),
               digest = std::move(built.payloadDigest), bodyDigest = std::move(bodyDigest),
               handler = std::move(completionHandler)](
                  std::optional<Bytes> data, std::optional<HttpUrlResponse> response,
                  std::optional<UrlError> error) mutable {
                  auto keepAlive = std::move(self);
                  auto key = std::move(hmacKey);
                  auto call = std::move(handler);
                  const auto received = receivedDigest(bodyDigest, data);
                  auto outcome = handleAnswer<T>(std::move(data), response, error, answerType, key,
                                                 AnswerVariant::payload, received);
                  if (call)
                      call(std::move(outcome.value), std::move(outcome.headers), std::move(outcome.error),
                           std::move(digest));
              });
}

}  // namespace ostrelcomm
