#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Bytes.h"

namespace ostrelcomm {

namespace urlsession_detail {
struct SessionCore;
struct TaskState;
struct PoolCore;
}  // namespace urlsession_detail

// What a session is made from. The session copies it when it is made: later
// changes to this object never reach a session that already exists.
struct UrlSessionConfiguration {
    // Kept for callers that set it; this platform has no cellular policy.
    bool allowsCellularAccess = true;
    // Longest wait, in seconds, for further data: connecting, the TLS handshake,
    // a server that stops sending or stops reading. Zero or less: no limit.
    double timeoutIntervalForRequest = 60.0;
    // Longest time, in seconds, that one whole transfer may take. Zero or less: no limit.
    double timeoutIntervalForResource = 604800.0;
    // Added to every request that does not carry a header of the same name
    // (compared without regard to case).
    std::map<std::string, std::string> httpAdditionalHeaders;
    // A PEM file of CA certificates trusted besides the system's. ephemeral()
    // takes it from QUORVEL_CA_FILE; a caller may set another one.
    std::optional<std::string> additionalCaFile;
    // Largest answer body accepted; a longer answer fails its task instead of
    // growing without bound.
    std::size_t maximumBodySize = std::size_t{256} * 1024 * 1024;

    // Nothing is stored between requests: no cookies, no cache, no credentials.
    // The session never keeps any of them, so every configuration is ephemeral.
    static std::shared_ptr<UrlSessionConfiguration> ephemeral();
};

struct UrlRequest {
    std::string url;
    std::string httpMethod = "GET";
    // Sent exactly as given, names in their own case. Nothing else is added
    // except "Host", and "Content-Length" when there is a body.
    std::map<std::string, std::string> allHTTPHeaderFields;
    // PUT and POST always carry a body (an absent one is sent as empty, with
    // "Content-Length: 0").
    std::optional<Bytes> httpBody;
    // Seconds; when set, the shorter of this and the session's request
    // time-out applies.
    std::optional<double> timeoutInterval;
    // Seconds without progress in either direction after which the transfer
    // ends. When set, it takes the place of every other limit (the session's
    // request and resource time-outs, timeoutInterval): a large body on a
    // slow link may take as long as it needs, as long as it keeps moving.
    std::optional<double> progressTimeoutInterval;
    // Largest answer body this request accepts; when set, the smaller of it
    // and the session's maximumBodySize applies. A transfer whose blocks have
    // a known length refuses anything longer before it is held in memory.
    std::optional<std::size_t> maximumBodySize;
    // Sees the answer body piece by piece, in order, before the task's
    // completion runs: together the pieces are exactly the body the
    // completion receives. Lets a caller work on the body (hash it, say)
    // while the rest is still on its way: for a long body announced with its
    // length it runs on a thread of its own beside the transfer, otherwise on
    // the thread that takes the body in. Called by one thread at a time. An
    // exception it throws fails the task.
    std::function<void(ByteView)> bodyObserver;

    UrlRequest() = default;
    explicit UrlRequest(std::string url) : url(std::move(url)) {}

    void setValue(std::string value, std::string field) {
        allHTTPHeaderFields[std::move(field)] = std::move(value);
    }
};

struct HttpUrlResponse {
    std::string url;
    int statusCode = 0;
    // The media type of "Content-Type" without parameters, lower-cased;
    // absent when the answer has none.
    std::optional<std::string> mimeType;
    // The header fields in the order received, names exactly as received.
    // A name repeated with the same spelling is kept once, its values joined
    // by ", ".
    std::vector<std::pair<std::string, std::string>> headerFields;

    // Looks a field up by its exact, case-sensitive name.
    std::optional<std::string> value(std::string_view exactName) const;
    // The fields as a dictionary keyed by exact name.
    std::map<std::string, std::string> allHeaderFields() const;
};

enum class UrlErrorCode {
    cancelled,
    timedOut,
    badURL,
    // A method or header that cannot go on the wire as given (a CR, LF or NUL
    // in a value, a name that is not a token): refused before anything is sent.
    invalidRequest,
    cannotFindHost,
    cannotConnectToHost,
    networkConnectionLost,
    secureConnectionFailed,
    serverCertificateUntrusted,
    badServerResponse,
    dataLengthExceedsMaximum,
    unknown,
};

const char* name(UrlErrorCode code);

struct UrlError {
    UrlErrorCode code = UrlErrorCode::unknown;
    std::string localizedDescription;
};

// Called exactly once per task that was resumed, on the session's worker
// thread: (body, response) on a finished exchange whatever its status, or
// the error alone when the transfer failed.
using DataTaskCompletion = std::function<void(
    std::optional<Bytes> data, std::optional<HttpUrlResponse> response, std::optional<UrlError> error)>;

class UrlSessionDataTask {
public:
    // Queues the task; the session runs its tasks one at a time, in the order
    // they were resumed. A second call does nothing.
    void resume();
    // The task ends with a "cancelled" error: at once when it is running, when
    // its turn comes when it is queued. Never blocks.
    void cancel();
    std::uint64_t taskIdentifier() const;
    const UrlRequest& originalRequest() const;
    // The request's body, moved out once the transfer has ended (before its
    // completion is called), so its storage can serve again; none while the
    // task is queued or running, or when it had no body. Not to be called
    // while another thread reads originalRequest().
    std::optional<Bytes> takeBody();

    UrlSessionDataTask(std::shared_ptr<urlsession_detail::SessionCore> core,
                       std::shared_ptr<urlsession_detail::TaskState> state);

private:
    std::shared_ptr<urlsession_detail::SessionCore> core_;
    std::shared_ptr<urlsession_detail::TaskState> state_;
};

// Kept-alive connections and TLS sessions that the URL sessions of one owner
// share, so that a new session's first request need not open a connection and
// repeat the TLS handshake. A session attached to a pool still runs its own
// tasks, in its own order, under its own time limits, and cancelling it ends
// only its own transfer. Pools share nothing with each other: sessions of two
// pools never use the same connection or TLS session.
//
// Holds no thread: whichever attached session has a transfer in flight drives
// the pool's transfers while it waits for its own. The pool may go before the
// sessions attached to it; what it holds is released with the last of them.
class ConnectionPool {
public:
    ConnectionPool();
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

private:
    friend class UrlSession;
    std::shared_ptr<urlsession_detail::PoolCore> core_;
};

// An HTTPS client session over one reused transfer handle, so consecutive
// requests share a kept-alive connection. Its own worker thread runs the
// tasks in order and calls their completions.
//
// Nothing here blocks on the worker: invalidateAndCancel() only flags, and
// destroying the session (even from inside a completion) lets the tasks already
// resumed finish before the worker ends by itself. The worker owns the shared
// state, so the session object may go first. A worker whose session is done
// waits a little for another session to serve before it ends; it serves one
// session at a time. A session whose first task is resumed from inside the
// completion of a session that has ended (invalidated or released, nothing
// left to run) is served by that completion's thread once the completion
// returns, so such a completion must not wait for the new session's answers.
class UrlSession {
public:
    explicit UrlSession(const UrlSessionConfiguration& configuration);
    ~UrlSession();
    UrlSession(const UrlSession&) = delete;
    UrlSession& operator=(const UrlSession&) = delete;

    const UrlSessionConfiguration& configuration() const;

    // The task starts suspended; resume() queues it.
    std::shared_ptr<UrlSessionDataTask> dataTask(UrlRequest request, DataTaskCompletion completion);

    // Later transfers of this session go over the pool's connections. Refused
    // (false, nothing changes) when the session trusts other certificate
    // authorities than the sessions the pool has served: a connection, or a
    // TLS session resumed without a new certificate check, verified under
    // one set of authorities must never serve a session that trusts another.
    bool useConnectionPool(const ConnectionPool& pool);

    // Cancels the running task and fails every queued one, each completion once,
    // with a "cancelled" error; a task resumed afterwards fails the same way
    // and sends nothing. Never blocks, never joins; safe inside a completion.
    void invalidateAndCancel();

    // Worker threads serving a session that has not ended yet (not those
    // waiting for another session), and transfer handles not yet released
    // (a connection pool keeps a few of its ended sessions' handles for the
    // next sessions until it goes): both return to zero once every session
    // and every pool is done.
    static std::size_t liveWorkerThreads();
    static std::size_t liveTransferHandles();
    // How many of the system's CA certificates every session trusts (read once
    // per process from libcurl's default bundle).
    static std::size_t systemTrustAnchorCount();
    // Waits (at most `guard`) until no worker thread serves a session; true
    // when none does.
    static bool waitForNoLiveWorkers(std::chrono::milliseconds guard);

private:
    std::shared_ptr<urlsession_detail::SessionCore> core_;
};

}  // namespace ostrelcomm
