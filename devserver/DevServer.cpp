#include "devserver/DevServer.h"

#include <httplib.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <fstream>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <thread>

#include "devserver/BenchRoute.h"
#include "devserver/BodyIntake.h"
#include "devserver/DataFolder.h"
#include "devserver/Signing.h"
#include "devserver/TlsIdentity.h"

namespace devserver {

namespace {

// Set by the request dispatcher, so that the HTTP layer's error hook leaves the
// dispatcher's own error answers alone and fills in only the ones the HTTP
// layer makes itself (unparsable request, body too large…). Reset after every
// answer by the logger hook.
thread_local bool tAnsweredByDispatcher = false;

// The serial number of the connection that the pool thread is serving: each
// accepted connection is served from start to end by one task on one thread.
thread_local std::uint64_t tConnection = 0;

// The pool that serves connections. A client that hangs up before its answer
// is written must not kill the process with SIGPIPE, so the pool's threads
// block that signal (the failed write then just reports EPIPE).
class ServerThreadPool : public httplib::TaskQueue {
public:
    // `accepted` counts the connections handed to the pool (one task each).
    ServerThreadPool(std::size_t count, std::atomic<std::uint64_t>& accepted) : accepted_(accepted) {
        for (std::size_t i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
    }

    void enqueue(std::function<void()> job) override {
        const std::uint64_t connection = ++accepted_;
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back([connection, job = std::move(job)] {
                tConnection = connection;
                job();
                tConnection = 0;
            });
        }
        wake_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            shutdown_ = true;
        }
        wake_.notify_all();
        for (auto& t : threads_) t.join();
    }

private:
    void work() {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return shutdown_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::atomic<std::uint64_t>& accepted_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::list<std::function<void()>> jobs_;
    bool shutdown_ = false;
    std::vector<std::thread> threads_;
};

bool isLocalPseudoHeader(const std::string& name) {
    // The HTTP layer adds these to every request; no client sent them.
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

bool isProtocolName(std::string_view lowered) { return startsWith(lowered, "x-sb-"); }

std::vector<std::string> splitList(const std::string& list) {
    // Pieces are not trimmed and empty pieces count, as the client reads them.
    std::vector<std::string> names;
    std::size_t start = 0;
    for (;;) {
        const auto comma = list.find(',', start);
        names.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return names;
}

ProtocolError denied(std::string message) {
    return ProtocolError(403, "AccessDeniedException", std::move(message));
}

std::string flipLastHexDigit(std::string value) {
    if (value.empty()) return "0";
    value.back() = value.back() == '0' ? '1' : '0';
    return value;
}

std::string upperAscii(std::string value) {
    for (char& c : value) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return value;
}

void tamper(std::map<std::string, std::string>& headers, const std::string& name, const HeaderTamper& how) {
    using Mode = HeaderTamper::Mode;
    auto it = headers.find(name);
    switch (how.mode) {
        case Mode::none:
            return;
        case Mode::drop:
            if (it != headers.end()) headers.erase(it);
            return;
        case Mode::replace:
            headers[name] = how.value;
            return;
        case Mode::upperCase:
            if (it != headers.end()) it->second = upperAscii(it->second);
            return;
        case Mode::corrupt:
            if (it == headers.end()) return;
            if (name == "x-sb-auth-headers") {
                const auto comma = it->second.rfind(',');
                it->second = comma == std::string::npos ? std::string() : it->second.substr(0, comma);
            } else {
                it->second = flipLastHexDigit(it->second);
            }
            return;
    }
}

const char* codeForStatus(int status) {
    switch (status) {
        case 400: return "BadRequestException";
        case 403: return "AccessDeniedException";
        case 404: return "NotFoundException";
        case 405: return "MethodNotAllowedException";
        case 413: return "PayloadTooLargeException";
        case 414: return "UriTooLongException";
        case 416: return "RangeNotSatisfiableException";
        default: return status >= 500 ? "InternalServerError" : "HttpException";
    }
}

// Bytes of a streamed answer read per piece: the system calls cost nothing
// beside TLS, and a transfer holds little memory.
constexpr std::uint64_t kStreamPiece = std::uint64_t{1} << 20;

bool httpLayerReadsBody(const std::string& method) {
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

}  // namespace

std::vector<std::string> RecordedRequest::values(std::string_view name) const {
    std::vector<std::string> found;
    const std::string wanted = lowerAscii(name);
    for (const auto& [key, value] : headers) {
        if (lowerAscii(key) == wanted) found.push_back(value);
    }
    return found;
}

struct DevServer::Impl {
    explicit Impl(DevServerOptions o) : options(std::move(o)) {
        // A file that goes takes its blocks with it.
        items.addRemovalHook([this](const Item& item) {
            if (item.kind == ItemKind::file) data.removeItem(item.uuid);
        });
    }

    void dispatch(const httplib::Request& req, httplib::Response& res, std::string bodySha256 = {},
                  std::shared_ptr<DataFolder::Spool> spool = {});
    // Reads the body into req.body; false (with the status set) when it
    // cannot be read or is refused. A block's body is also written into
    // `spool` as it arrives.
    bool readBody(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader,
                  std::string& bodySha256, std::shared_ptr<DataFolder::Spool>& spool);
    std::optional<Session> verify(const ServerRequest& request, Access access) const;
    std::optional<Fault> takeFault(const std::string& method, const std::string& path);
    std::optional<Endpoint> findRoute(const std::string& method, const std::string& path) const;
    void holdWhileStalled();
    bool waitForRelease(std::uint64_t generation, std::chrono::milliseconds at_most);
    std::uint64_t currentGeneration();

    DevServerOptions options;
    TlsIdentity identity;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread listener;
    std::atomic<bool> listenerDone{false};
    int boundPort = 0;
    std::atomic<std::uint64_t> acceptedConnections{0};

    mutable std::shared_mutex routesMutex;
    std::map<std::pair<std::string, std::string>, Endpoint> routes;

    SessionTable sessions;
    UserStore users;
    DataFolder data;
    ItemStore items;
    TrustTable trusts;
    benchroute::HandlerTimes handlerTimes;

    mutable std::mutex logMutex;
    mutable std::condition_variable logChanged;
    std::vector<RecordedRequest> log;

    std::mutex faultMutex;
    std::map<std::pair<std::string, std::string>, Fault> faults;

    mutable std::mutex stallMutex;
    mutable std::condition_variable stallChanged;
    std::size_t stalled = 0;
    std::uint64_t releaseGeneration = 0;
    bool stopping = false;
};

std::optional<Fault> DevServer::Impl::takeFault(const std::string& method, const std::string& path) {
    std::lock_guard lock(faultMutex);
    auto it = faults.find({method, path});
    if (it == faults.end()) return std::nullopt;
    Fault fault = it->second;
    if (it->second.times && --*it->second.times <= 0) faults.erase(it);
    return fault;
}

std::optional<Endpoint> DevServer::Impl::findRoute(const std::string& method, const std::string& path) const {
    std::shared_lock lock(routesMutex);
    auto it = routes.find({method, path});
    if (it == routes.end()) return std::nullopt;
    return it->second;
}

std::uint64_t DevServer::Impl::currentGeneration() {
    std::lock_guard lock(stallMutex);
    return releaseGeneration;
}

void DevServer::Impl::holdWhileStalled() {
    std::unique_lock lock(stallMutex);
    const auto generation = releaseGeneration;
    ++stalled;
    stallChanged.notify_all();
    stallChanged.wait(lock, [&] { return stopping || releaseGeneration != generation; });
    --stalled;
    stallChanged.notify_all();
}

bool DevServer::Impl::waitForRelease(std::uint64_t generation, std::chrono::milliseconds at_most) {
    std::unique_lock lock(stallMutex);
    return stallChanged.wait_for(lock, at_most, [&] { return stopping || releaseGeneration != generation; });
}

std::optional<Session> DevServer::Impl::verify(const ServerRequest& request, Access access) const {
    const auto list = request.header("x-sb-auth-headers");
    const auto mac = request.header("x-sb-auth");
    std::optional<Session> session;
    if (!list && !mac) {
        if (access == Access::session) throw denied("The request is not signed");
    } else {
        if (!list || !mac) throw denied("The request's signature is incomplete");
        const auto id = request.header("x-sb-sessionid");
        if (!id) throw denied("The signed request names no session");
        session = sessions.find(*id);
        if (!session) throw denied("Unknown session");
        if (session->expired) throw denied("Session expired");
        HeaderMap signedHeaders;
        std::set<std::string> covered;
        // The HTTP layer drops a header whose value is empty, so a signed
        // name it does not deliver is read as empty: a header that was sent
        // with a value and lost on the way still fails the signature.
        std::optional<std::string> absent;
        for (const auto& name : splitList(*list)) {
            auto value = request.header(name);
            if (!value && !absent) absent = name;
            signedHeaders[name] = value.value_or("");
            covered.insert(lowerAscii(name));
        }
        if (!constantTimeEquals(hmacSha256Hex(session->key, canonicalHeaderText(signedHeaders)), *mac)) {
            if (absent) throw denied("A signed header is missing: " + *absent);
            throw denied("The request's signature does not match");
        }
        for (const auto& [name, value] : request.headers) {
            const std::string lowered = lowerAscii(name);
            const bool mustBeSigned = (isProtocolName(lowered) && lowered != "x-sb-auth" &&
                                       lowered != "x-sb-auth-headers") ||
                                      lowered == "content-type";
            if (mustBeSigned && covered.count(lowered) == 0) throw denied("A header is not signed: " + name);
        }
        if (auto user = request.header("x-sb-username"); user && *user != session->userName) {
            throw denied("The user does not own this session");
        }
    }
    const auto digest = request.header("x-sb-payload-sha256");
    const bool carriesBody = request.method == "PUT" || request.method == "POST" || !request.body.empty();
    if (session && carriesBody && !digest) {
        throw ProtocolError(400, "BadChecksumException", "The body's digest is missing");
    }
    if (digest && !constantTimeEquals(*digest, request.bodySha256.empty() ? sha256Hex(request.body)
                                                                           : request.bodySha256)) {
        throw ProtocolError(400, "BadChecksumException", "The body does not match its digest");
    }
    return session;
}

bool DevServer::Impl::readBody(const httplib::Request& req, httplib::Response& res,
                               const httplib::ContentReader& reader, std::string& bodySha256,
                               std::shared_ptr<DataFolder::Spool>& spool) {
    auto& body = const_cast<httplib::Request&>(req).body;
    if (req.is_multipart_form_data()) {
        // Its parts are no body of the protocol's: read and dropped, as the
        // HTTP layer does on its own.
        return reader([](const httplib::MultipartFormData&) { return true; },
                      [](const char*, std::size_t) { return true; });
    }
    // The HTTP layer refuses a length beyond the limit once the reader runs;
    // until then it reserves no more than the limit.
    const std::string announced = req.get_header_value("Content-Length");
    std::size_t expected = 0;
    unsigned long long length = 0;
    const auto [end, error] = std::from_chars(announced.data(), announced.data() + announced.size(), length);
    if (error == std::errc::result_out_of_range) {
        expected = options.maximumBodySize;
    } else if (error == std::errc() && end == announced.data() + announced.size()) {
        expected = static_cast<std::size_t>(std::min<unsigned long long>(length, options.maximumBodySize));
    }
    // A body that its endpoint stores as a file is written while it arrives,
    // so that once checked it goes into place by a rename: a write after the
    // last byte is time the client can overlap with nothing.
    const std::string& base = options.basePath;
    if (startsWith(req.path, base)) {
        const auto endpoint = findRoute(req.method, req.path.substr(base.size()));
        if (endpoint && endpoint->spoolsBody) spool = data.openSpool();
    }
    BodyIntake intake(expected, spool.get());
    if (!reader([&intake](const char* data, std::size_t length) {
            intake.append(data, length);
            return true;
        }))
        return false;
    body = intake.finish(bodySha256);
    // The HTTP layer's own limit for a form it would parse.
    if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0 &&
        body.size() > CPPHTTPLIB_FORM_URL_ENCODED_PAYLOAD_MAX_LENGTH) {
        res.status = 413;
        return false;
    }
    return true;
}

void DevServer::Impl::dispatch(const httplib::Request& req, httplib::Response& res, std::string bodySha256,
                              std::shared_ptr<DataFolder::Spool> spool) {
    tAnsweredByDispatcher = true;

    RecordedRequest record;
    record.method = req.method;
    record.target = req.target;
    const std::string& base = options.basePath;
    const bool underBase = startsWith(req.path, base) && (req.path.size() == base.size() || req.path[base.size()] == '/');
    record.path = underBase ? req.path.substr(base.size()) : req.path;
    if (record.path.empty()) record.path = "/";
    for (const auto& [name, value] : req.headers) {
        if (!isLocalPseudoHeader(name)) record.headers.emplace_back(name, value);
    }
    // Taken from the HTTP layer, which has no use for it any more; copied only
    // into a record that is kept (a block's body is megabytes).
    std::string body = std::move(const_cast<httplib::Request&>(req).body);
    if (options.recordRequests) record.body = body;
    record.remotePort = req.remote_port;
    record.connection = tConnection;
    ServerRequest request{record.method, record.path, record.headers, std::move(body), std::nullopt,
                          std::move(bodySha256), std::move(spool)};
    if (options.recordRequests) {
        {
            std::lock_guard lock(logMutex);
            log.push_back(std::move(record));
        }
        logChanged.notify_all();
    }

    // The body digest covers the bytes as they are sent: never compress.
    const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");

    const std::optional<Fault> fault = takeFault(request.method, request.path);
    // A fault works on the body as a whole, and so does the HTTP layer's
    // answer to a range.
    request.mayStream = !fault && !req.has_header("Range");
    if (fault && fault->dropConnection) {
        if (req.ssl != nullptr) {
            const int fd = SSL_get_fd(req.ssl);
            if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
        }
        res.status = 500;
        return;
    }
    const std::uint64_t generation = currentGeneration();
    if (fault && fault->stall) holdWhileStalled();

    const std::optional<Endpoint> endpoint = underBase ? findRoute(request.method, request.path) : std::nullopt;
    const bool faultAnswers = fault && (fault->status || fault->exceptionName || fault->exceptionMessage ||
                                        fault->rawBody);
    Reply reply;
    std::optional<Session> verified;
    bool closeAfter = false;
    try {
        const bool unreadBody = !httpLayerReadsBody(request.method) &&
                                (req.has_header("Transfer-Encoding") ||
                                 (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0"));
        if (unreadBody) {
            // Its body is still on the connection: answer, then close it.
            closeAfter = true;
            throw ProtocolError(400, "BadRequestException", "A " + request.method + " request carries no body");
        }
        verified = verify(request, endpoint ? endpoint->access : Access::open);
        request.session = verified;
        if (faultAnswers) {
            if (fault->rawBody) {
                reply.status = fault->status.value_or(200);
                reply.body = *fault->rawBody;
            } else {
                reply = Reply::error(fault->status.value_or(400), fault->exceptionName.value_or("InjectedFault"),
                                     fault->exceptionMessage.value_or("Injected fault"), fault->extInfo.value_or(""));
            }
            if (fault->contentType) reply.contentType = fault->contentType;
            if (fault->omitContentType) reply.contentType.reset();
        } else if (!endpoint) {
            throw ProtocolError(404, "NotFoundException", "No endpoint for " + request.method + " " + req.path);
        } else if (!endpoint->handler) {
            throw ProtocolError(501, "NotImplementedException", "The endpoint has no handler");
        } else {
            reply = endpoint->handler(request);
        }
    } catch (const ProtocolError& e) {
        reply = e.toReply();
    } catch (const std::exception& e) {
        reply = Reply::error(500, "InternalServerError", e.what());
    } catch (...) {
        reply = Reply::error(500, "InternalServerError", "Unexpected failure");
    }

    // The answer's protocol headers: lower-case names, signed together with
    // "Content-Type" when the request was signed with a session's key.
    std::map<std::string, std::string> protocol;
    HeaderList plain;
    if (endpoint && !endpoint->action.empty()) protocol["x-sb-action"] = endpoint->action;
    if (auto user = request.header("x-sb-username")) {
        protocol["x-sb-username"] = *user;
    } else if (verified) {
        protocol["x-sb-username"] = verified->userName;
    }
    for (const auto& [name, value] : reply.headers) {
        const std::string lowered = lowerAscii(name);
        if (isProtocolName(lowered)) {
            protocol[lowered] = value;
        } else if (lowered != "content-type" && lowered != "content-length") {
            plain.emplace_back(name, value);
        }
    }
    if (fault && fault->action) protocol["x-sb-action"] = *fault->action;
    if (fault && fault->username) protocol["x-sb-username"] = *fault->username;
    if (fault) {
        for (const auto& [name, how] : fault->answerHeaders) tamper(protocol, name, how);
        if (fault->flipBodyByte && !reply.body.empty()) reply.body[reply.body.size() / 2] ^= 0x01;
    }
    if (protocol.count("x-sb-payload-sha256") == 0) {
        protocol.emplace("x-sb-payload-sha256", reply.streamed ? reply.streamed->sha256 : sha256Hex(reply.body));
    }
    if (fault) tamper(protocol, "x-sb-payload-sha256", fault->payloadSha256);
    protocol.erase("x-sb-auth");
    protocol.erase("x-sb-auth-headers");
    if (verified) {
        HeaderMap signedHeaders(protocol.begin(), protocol.end());
        if (reply.contentType) signedHeaders["Content-Type"] = *reply.contentType;
        const HeaderSignature signature = signHeaders(signedHeaders, verified->key);
        protocol["x-sb-auth-headers"] = signature.names;
        protocol["x-sb-auth"] = signature.hmac;
    }
    if (fault) {
        tamper(protocol, "x-sb-auth-headers", fault->authHeaders);
        tamper(protocol, "x-sb-auth", fault->auth);
    }

    res.status = reply.status;
    for (const auto& [name, value] : plain) res.set_header(name, value);
    for (const auto& [name, value] : protocol) res.set_header(name, value);
    if (closeAfter) res.set_header("Connection", "close");
    if (reply.streamed) {
        auto buffer = std::make_shared<std::vector<char>>(
            static_cast<std::size_t>(std::min<std::uint64_t>(reply.streamed->size, kStreamPiece)));
        res.set_content_provider(
            static_cast<std::size_t>(reply.streamed->size), reply.contentType.value_or("application/octet-stream"),
            [body = reply.streamed, buffer](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                const std::size_t got = body->read(offset, buffer->data(), std::min(length, buffer->size()));
                // A source cut short ends the answer early: the client sees a
                // transfer that failed, never a short body under the digest.
                if (got == 0) return false;
                return sink.write(buffer->data(), got);
            });
    } else if (fault && fault->trickle && !reply.body.empty()) {
        auto body = std::make_shared<std::string>(std::move(reply.body));
        res.set_content_provider(
            body->size(), reply.contentType.value_or("application/octet-stream"),
            [this, body, generation, interval = fault->trickleInterval](std::size_t offset, std::size_t length,
                                                                        httplib::DataSink& sink) {
                const bool released = waitForRelease(generation, std::chrono::milliseconds(0));
                if (!sink.write(body->data() + offset, released ? length : 1)) return false;
                if (!released) waitForRelease(generation, interval);
                return true;
            });
    } else if (reply.contentType) {
        res.body = std::move(reply.body);
        res.set_header("Content-Type", *reply.contentType);
    } else {
        res.body = std::move(reply.body);
    }
}

DevServer::DevServer(DevServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

DevServer::~DevServer() { stop(); }

void DevServer::start() {
    Impl& d = *impl_;
    if (d.server) throw std::runtime_error("devserver: already started");
    {
        std::lock_guard lock(d.stallMutex);
        d.stopping = false;
    }
    d.data.open(d.options.dataDir ? std::optional<std::filesystem::path>(*d.options.dataDir) : std::nullopt);
    d.identity = TlsIdentity::generate();
    auto server = std::make_unique<httplib::SSLServer>(d.identity.certificate.get(), d.identity.privateKey.get());
    if (!server->is_valid()) throw std::runtime_error("devserver: TLS context could not be set up");

    const std::size_t threads = std::max<std::size_t>(d.options.threads, 2);
    server->new_task_queue = [threads, &d] { return new ServerThreadPool(threads, d.acceptedConnections); };
    server->set_keep_alive_max_count(100000);
    server->set_keep_alive_timeout(std::max(1, d.options.keepAliveSeconds));
    server->set_payload_max_length(d.options.maximumBodySize);
    server->set_tcp_nodelay(true);

    // Before the catch-all routes, which would take its requests.
    if (d.options.benchRoute) benchroute::install(*server, d.data, d.handlerTimes, d.options.maximumBodySize);

    auto handler = [&d](const httplib::Request& req, httplib::Response& res) {
        if (!d.options.benchRoute) return d.dispatch(req, res);
        const auto start = std::chrono::steady_clock::now();
        d.dispatch(req, res);
        d.handlerTimes.add(req.method + " " + req.path, std::chrono::steady_clock::now() - start);
    };
    // Bodies come in through a reader, into a buffer sized once and hashed
    // while they arrive (the HTTP layer would grow a string copy by copy).
    auto reading = [&d](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
        std::string bodySha256;
        // Dropped with its file whenever the endpoint does not take it.
        std::shared_ptr<DataFolder::Spool> spool;
        if (!d.readBody(req, res, reader, bodySha256, spool)) return;
        if (!d.options.benchRoute) return d.dispatch(req, res, std::move(bodySha256), std::move(spool));
        const auto start = std::chrono::steady_clock::now();
        d.dispatch(req, res, std::move(bodySha256), std::move(spool));
        d.handlerTimes.add(req.method + " " + req.path, std::chrono::steady_clock::now() - start);
    };
    server->Get(".*", handler);
    server->Post(".*", reading);
    server->Put(".*", reading);
    server->Delete(".*", handler);
    server->Patch(".*", handler);
    server->Options(".*", handler);
    server->set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (tAnsweredByDispatcher) return httplib::Server::HandlerResponse::Unhandled;
        const Reply reply = Reply::error(res.status, codeForStatus(res.status), "The request was not understood");
        res.set_content(reply.body, "application/json");
        return httplib::Server::HandlerResponse::Handled;
    }));
    server->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content(Reply::error(500, "InternalServerError", "Unexpected failure").body, "application/json");
    });
    server->set_logger([](const httplib::Request&, const httplib::Response&) { tAnsweredByDispatcher = false; });

    int port = -1;
    if (d.options.port == 0) {
        port = server->bind_to_any_port(d.options.host);
    } else if (server->bind_to_port(d.options.host, d.options.port)) {
        port = d.options.port;
    }
    if (port <= 0) {
        throw std::runtime_error("devserver: cannot listen on " + d.options.host + ":" +
                                 std::to_string(d.options.port));
    }
    d.boundPort = port;
    d.listenerDone = false;
    httplib::SSLServer* raw = server.get();
    d.server = std::move(server);
    d.listener = std::thread([raw, &d] {
        raw->listen_after_bind();
        d.listenerDone = true;
    });
    // stop() only works on a server that has begun listening.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!raw->is_running() && !d.listenerDone && std::chrono::steady_clock::now() < guard) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!raw->is_running()) {
        stop();
        throw std::runtime_error("devserver: the listener did not start");
    }
}

void DevServer::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.stallMutex);
        d.stopping = true;
        ++d.releaseGeneration;
    }
    d.stallChanged.notify_all();
    if (d.server) d.server->stop();
    if (d.listener.joinable()) d.listener.join();
    d.server.reset();
    d.data.close();
}

bool DevServer::isRunning() const { return impl_->server && impl_->server->is_running(); }

int DevServer::port() const { return impl_->boundPort; }

std::string DevServer::origin() const {
    const std::string& host = impl_->options.host;
    const bool v6 = host.find(':') != std::string::npos;
    return "https://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(impl_->boundPort);
}

std::string DevServer::baseUrl() const { return origin() + impl_->options.basePath; }

const DevServerOptions& DevServer::options() const { return impl_->options; }

const std::string& DevServer::caCertificatePem() const { return impl_->identity.caCertificatePem; }

void DevServer::writeCaCertificate(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << impl_->identity.caCertificatePem;
    out.close();
    if (!out) throw std::runtime_error("devserver: cannot write the CA certificate to " + path);
}

void DevServer::route(const std::string& method, const std::string& path, Endpoint endpoint) {
    std::unique_lock lock(impl_->routesMutex);
    impl_->routes[{method, path}] = std::move(endpoint);
}

SessionTable& DevServer::sessions() { return impl_->sessions; }

UserStore& DevServer::users() { return impl_->users; }

ItemStore& DevServer::items() { return impl_->items; }
TrustTable& DevServer::trusts() { return impl_->trusts; }

DataFolder& DevServer::dataFolder() { return impl_->data; }

std::vector<RecordedRequest> DevServer::requests() const {
    std::lock_guard lock(impl_->logMutex);
    return impl_->log;
}

std::size_t DevServer::acceptedConnections() const { return impl_->acceptedConnections.load(); }

std::size_t DevServer::requestCount() const {
    std::lock_guard lock(impl_->logMutex);
    return impl_->log.size();
}

void DevServer::clearRequests() {
    std::lock_guard lock(impl_->logMutex);
    impl_->log.clear();
}

bool DevServer::waitForRequestCount(std::size_t count, std::chrono::milliseconds guard) const {
    std::unique_lock lock(impl_->logMutex);
    return impl_->logChanged.wait_for(lock, guard, [&] { return impl_->log.size() >= count; });
}

void DevServer::setFault(const std::string& method, const std::string& path, Fault fault) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->faults[{method, path}] = std::move(fault);
}

void DevServer::clearFault(const std::string& method, const std::string& path) {
    std::lock_guard lock(impl_->faultMutex);
    impl_->faults.erase({method, path});
}

void DevServer::clearFaults() {
    std::lock_guard lock(impl_->faultMutex);
    impl_->faults.clear();
}

std::size_t DevServer::stalledRequests() const {
    std::lock_guard lock(impl_->stallMutex);
    return impl_->stalled;
}

bool DevServer::waitForStalledRequests(std::size_t count, std::chrono::milliseconds guard) const {
    std::unique_lock lock(impl_->stallMutex);
    return impl_->stallChanged.wait_for(lock, guard, [&] { return impl_->stalled >= count; });
}

void DevServer::releaseStalls() {
    {
        std::lock_guard lock(impl_->stallMutex);
        ++impl_->releaseGeneration;
    }
    impl_->stallChanged.notify_all();
}

}  // namespace devserver
