#include "http/Http.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "crypto/Digest.h"
#include "encoding/Encoding.h"
#include "crypto/Hmac.h"
#include "http/ServerError.h"
#include "platform/AppInfo.h"

namespace ostrelcomm {

namespace {

constexpr const char* kDefaultServerURL = "https://127.0.0.1:8443/v1";
constexpr const char* kJsonMimeType = "application/json";

// The protocol's names and values are ASCII; other bytes are left as they are.
std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string makeUserAgent() {
    AppInfo info = AppInfo::current();
    return info.name + " macOS " + info.shortVersion + " (" + info.build + ")";
}

HTTPError authenticationFailure(std::string description, int statusCode) {
    return HTTPError{"NoExceptionName", HTTPErrors::badAuthentication, std::move(description),
                     static_cast<std::int64_t>(statusCode)};
}

}  // namespace

const std::map<std::string, std::string>& Http::url() {
    static const std::map<std::string, std::string> table = [] {
        std::string base = kDefaultServerURL;
        if (const char* configured = std::getenv("QUORVEL_SERVER_URL"); configured != nullptr && *configured != '\0')
            base = configured;
        // Paths begin with "/", so the base never ends with one.
        while (!base.empty() && base.back() == '/') base.pop_back();
        return std::map<std::string, std::string>{{"Switzerland", base}};
    }();
    return table;
}

Http::Http(const std::string& urlToUse, bool allowCellular, std::shared_ptr<UrlSessionConfiguration> sessionType,
           const std::optional<std::string>& /*backgroundSessionIdentifier*/)
    : urlToUse("Switzerland"),
      headerPrefix(kHeaderPrefix),
      userAgent(makeUserAgent()),
      sessionConfig(sessionType ? std::move(sessionType) : UrlSessionConfiguration::ephemeral()),
      session([this, allowCellular] {
          sessionConfig->allowsCellularAccess = allowCellular;
          sessionConfig->timeoutIntervalForRequest = 10.0;
          sessionConfig->timeoutIntervalForResource = 30.0;
          sessionConfig->httpAdditionalHeaders.clear();
          return std::make_shared<UrlSession>(*sessionConfig);
      }()) {
    if (url().count(urlToUse) != 0) this->urlToUse = urlToUse;
}

std::shared_ptr<Http> Http::forJob(const std::string& urlToUse) {
    return std::make_shared<Http>(urlToUse, true, UrlSessionConfiguration::ephemeral(), std::nullopt);
}

Http::~Http() = default;

void Http::releaseHttp() { task.reset(); }

std::string Http::getUsedURL() const {
    auto it = url().find(urlToUse);
    return it == url().end() ? std::string() : it->second;
}

std::tuple<std::optional<std::string>, std::optional<std::string>, std::optional<std::string>> Http::decodeSrvError(
    const std::optional<Bytes>& srvPayload) {
    if (!srvPayload) return {"NoIncomingPayload", "Unable to decode a server error: Payload empty!", std::nullopt};
    try {
        ServerError report(*srvPayload);
        return {std::move(report.answer.code), std::move(report.answer.message), std::move(report.answer.extInfo)};
    } catch (const std::exception&) {
        return {"JSONError", "Unable to decode a server error: Cannot decode JSON data!", std::nullopt};
    }
}

std::tuple<std::string, std::string, std::string> Http::authenticate(const std::map<std::string, std::string>& headers,
                                                                   ByteView key) {
    // std::map keeps its names in byte order, which is the order of their
    // exact characters: upper case before lower case.
    std::string canonical;
    std::string names;
    bool first = true;
    for (const auto& [name, value] : headers) {
        if (!first) {
            canonical += ';';
            names += ',';
        }
        first = false;
        canonical += asciiLower(name);
        canonical += ':';
        canonical += asciiLower(value);
        names += name;
    }
    std::string signature = toHex(HmacSha256::compute(key, asBytes(canonical)));
    return {std::string(kHeaderPrefix) + "auth-headers", std::move(names), std::move(signature)};
}

std::string Http::timestamp(std::chrono::system_clock::time_point now) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

Http::BuiltRequest Http::buildRequest(const std::string& path, const std::string& method,
                                      const std::map<std::string, std::string>& custHeaders,
                                      const std::optional<std::string>& contentType, std::optional<Bytes> payload,
                                      const std::optional<SecretBytes>& hmacKey, const std::string& answerType,
                                      std::chrono::system_clock::time_point now,
                                      std::optional<double> progressTimeout,
                                      std::optional<std::size_t> maximumAnswerSize,
                                      std::optional<Bytes> payloadDigest) const {
    BuiltRequest built;
    UrlRequest& request = built.request;
    request.url = getUsedURL() + path;
    request.httpMethod = method;
    request.timeoutInterval = 60.0;
    request.progressTimeoutInterval = progressTimeout;
    request.maximumBodySize = maximumAnswerSize;

    auto& headers = request.allHTTPHeaderFields;
    headers["User-Agent"] = userAgent;
    headers[headerPrefix + "timestamp"] = timestamp(now);
    if (payload && contentType) headers["Content-Type"] = *contentType;
    headers["Accept"] = answerType;
    for (const auto& [key, value] : custHeaders) headers[headerPrefix + key] = value;
    if (payload) {
        built.payloadDigest = payloadDigest ? std::move(*payloadDigest) : sha256(*payload);
        headers[headerPrefix + "payload-sha256"] = toHex(built.payloadDigest);
        request.httpBody = std::move(*payload);
    }
    if (hmacKey) {
        auto [listName, list, signature] = authenticate(headers, hmacKey->view());
        headers[headerPrefix + "auth"] = std::move(signature);
        headers[listName] = std::move(list);
    }
    return built;
}

void Http::startTask(UrlRequest request, DataTaskCompletion completion) {
    // The task goes into `task` before it can run: once resumed, its
    // completion may start the job's next request on the session's thread.
    auto started = session->dataTask(std::move(request), std::move(completion));
    task = started;
    started->resume();
}

std::shared_ptr<Digest> Http::digestWhileReceiving(UrlRequest& request, const std::optional<SecretBytes>& hmacKey) {
    // Without a key the body's digest is never checked.
    if (!hmacKey) return nullptr;
    auto digest = std::make_shared<Digest>(DigestAlgorithm::sha256);
    request.bodyObserver = [digest](ByteView piece) { digest->update(piece); };
    return digest;
}

std::optional<Bytes> Http::receivedDigest(const std::shared_ptr<Digest>& digest, const std::optional<Bytes>& data) {
    if (!digest || !data) return std::nullopt;
    try {
        return digest->final();
    } catch (const std::exception&) {
        return std::nullopt;  // hashed again from the body
    }
}

std::optional<HTTPError> Http::verifyAnswer(const std::optional<Bytes>& data,
                                            const std::optional<HttpUrlResponse>& response,
                                            const std::optional<UrlError>& error, const std::string& answerType,
                                            const std::optional<SecretBytes>& hmacKey, AnswerVariant variant,
                                            const std::optional<Bytes>& bodyDigest) {
    if (error) return HTTPError{std::nullopt, HTTPErrors::dataTaskError, error->localizedDescription, {}};
    if (!response)
        return HTTPError{std::nullopt, HTTPErrors::unableToDecodeURLResponse,
                         "Unable to decode HTTP URL status codes and headers", {}};

    const std::string mimeType = response->mimeType.value_or("UNKNOWN");
    const int statusCode = response->statusCode;

    if (statusCode < 200 || statusCode > 299) {
        HTTPError failure{std::nullopt, HTTPErrors::badStatusCode, {}, static_cast<std::int64_t>(statusCode)};
        if (mimeType == kJsonMimeType) {
            auto [name, message, extInfo] = decodeSrvError(data);
            failure.exception = name.value_or("NoExceptionName");
            failure.errDescr = message.value_or("No exception message");
            if (extInfo && !extInfo->empty()) failure.errDescr += " - " + *extInfo;
        } else {
            failure.exception = "";
            failure.errDescr = "No readable message from the server";
        }
        return failure;
    }

    if (variant == AnswerVariant::plain) {
        if (mimeType != answerType)
            return HTTPError{std::nullopt, HTTPErrors::badAnswerMimeType, "Bad answer mime type",
                             "Received: " + mimeType + ", expected: " + answerType};
    } else if (response->mimeType && *response->mimeType != answerType) {
        return HTTPError{std::nullopt, HTTPErrors::badAnswerMimeType, "Bad answer mime type",
                         "Received " + mimeType + ", expected " + answerType};
    }

    if (!hmacKey) return std::nullopt;

    auto list = response->value("x-sb-auth-headers");
    if (!list) return authenticationFailure("Missing authenticated headers list", statusCode);
    std::map<std::string, std::string> signedHeaders;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = list->find(',', start);
        std::string name = list->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        auto value = response->value(name);
        if (!value) return authenticationFailure("Missing authenticated header: " + name, statusCode);
        signedHeaders[name] = std::move(*value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    auto received = response->value("x-sb-auth");
    if (!received) return authenticationFailure("Missing authentication hmac", statusCode);
    auto computed = std::get<2>(authenticate(signedHeaders, hmacKey->view()));
    if (!constantTimeEquals(std::string_view(computed), std::string_view(*received)))
        return authenticationFailure("Message HMACs doesn't match", statusCode);

    if (data) {
        std::string digest = toHex(bodyDigest ? *bodyDigest : sha256(*data));
        auto sent = response->value("x-sb-payload-sha256");
        if (!sent) return authenticationFailure("Missing payload signature", statusCode);
        if (!constantTimeEquals(std::string_view(digest), std::string_view(*sent)))
            return authenticationFailure("Wrong payload signature", statusCode);
    }
    return std::nullopt;
}

}  // namespace ostrelcomm
