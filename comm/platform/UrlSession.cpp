#include "platform/UrlSession.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace ostrelcomm {

namespace urlsession_detail {

namespace {

using Clock = std::chrono::steady_clock;

// Process-wide bookkeeping. Allocated once and never destroyed, so that a
// worker thread that outlives main() never touches a destroyed object.
struct Globals {
    std::mutex mutex;
    std::condition_variable workersGone;
    std::size_t liveWorkers = 0;
    std::atomic<std::size_t> liveHandles{0};
    std::atomic<std::uint64_t> nextTaskId{1};
};

Globals& globals() {
    static Globals* instance = new Globals;
    return *instance;
}

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Answers with more header bytes than this are refused rather than collected.
constexpr std::size_t kMaxHeaderBytes = 256 * 1024;

bool isTokenChar(unsigned char c) {
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    switch (c) {
        case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
        case '-': case '.': case '^': case '_': case '`': case '|': case '~':
            return true;
        default:
            return false;
    }
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return isTokenChar(static_cast<unsigned char>(c)); });
}

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string secondsText(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", seconds);
    return buf;
}

std::optional<Clock::duration> limitOf(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) return std::nullopt;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::vector<X509*> readCertificates(const char* path) {
    std::vector<X509*> certs;
    BIO* bio = BIO_new_file(path, "r");
    if (bio != nullptr) {
        while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) certs.push_back(cert);
        BIO_free(bio);
    }
    ERR_clear_error();  // reading always ends on a "no more PEM data" error
    return certs;
}

// The system's CA certificates, read once for the whole process: reading the
// bundle for every new connection would cost more than the handshake itself.
const std::vector<X509*>& systemAnchors() {
    static const std::vector<X509*>* anchors = [] {
        initCurlOnce();
        std::string bundle;
        if (CURL* probe = curl_easy_init()) {
            char* path = nullptr;
            if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &path) == CURLE_OK && path != nullptr) bundle = path;
            curl_easy_cleanup(probe);
        }
        auto* certs = new std::vector<X509*>(bundle.empty() ? std::vector<X509*>{} : readCertificates(bundle.c_str()));
        if (certs->empty()) *certs = readCertificates(X509_get_default_cert_file());
        return certs;
    }();
    return *anchors;
}

}  // namespace

struct TaskState {
    std::uint64_t id = 0;
    UrlRequest request;
    DataTaskCompletion completion;
    std::atomic<bool> cancelled{false};
    bool resumed = false;  // guarded by the session's mutex
};

struct Outcome {
    std::optional<Bytes> data;
    std::optional<HttpUrlResponse> response;
    std::optional<UrlError> error;
};

Outcome failure(UrlErrorCode code, std::string description) {
    return Outcome{std::nullopt, std::nullopt, UrlError{code, std::move(description)}};
}

// What one transfer collects through libcurl's callbacks; only the worker
// thread touches it.
struct Transfer {
    CURL* easy = nullptr;
    TaskState* task = nullptr;
    std::size_t maximumBodySize = 0;
    Bytes body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t lastHeader = 0;
    std::size_t headerBytes = 0;
    bool headerOverflow = false;
    bool bodyTooLarge = false;
    curl_off_t lastDownloaded = 0;
    curl_off_t lastUploaded = 0;
    Clock::time_point lastActivity = Clock::now();
    char errorBuffer[CURL_ERROR_SIZE] = {};

    static size_t onHeader(char* data, size_t size, size_t count, void* user);
    static size_t onBody(char* data, size_t size, size_t count, void* user);
    static int onProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                          curl_off_t ulnow);
};

size_t Transfer::onHeader(char* data, size_t size, size_t count, void* user) {
    auto& x = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    x.lastActivity = Clock::now();
    x.headerBytes += length;
    if (x.headerBytes > kMaxHeaderBytes) {
        x.headerOverflow = true;
        return 0;
    }
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.substr(0, 5) == "HTTP/") {
        // A new status line: an interim (1xx) answer's fields do not belong to the final one.
        x.headers.clear();
        return length;
    }
    if (line.empty()) return length;
    if (line.front() == ' ' || line.front() == '\t') {
        // Obsolete line folding: the line continues the previous field.
        if (x.lastHeader < x.headers.size()) {
            auto& value = x.headers[x.lastHeader].second;
            value += ' ';
            value += trimBlanks(line);
        }
        return length;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) return length;
    std::string name(line.substr(0, colon));
    std::string value(trimBlanks(line.substr(colon + 1)));
    auto same = std::find_if(x.headers.begin(), x.headers.end(), [&](const auto& f) { return f.first == name; });
    if (same != x.headers.end()) {
        same->second += ", ";
        same->second += value;
        x.lastHeader = static_cast<std::size_t>(same - x.headers.begin());
    } else {
        x.headers.emplace_back(std::move(name), std::move(value));
        x.lastHeader = x.headers.size() - 1;
    }
    return length;
}

size_t Transfer::onBody(char* data, size_t size, size_t count, void* user) {
    auto& x = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    x.lastActivity = Clock::now();
    if (length > x.maximumBodySize - x.body.size()) {
        x.bodyTooLarge = true;
        return 0;
    }
    if (x.body.empty()) {
        curl_off_t announced = -1;
        if (curl_easy_getinfo(x.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
            announced > 0 && static_cast<std::uint64_t>(announced) <= x.maximumBodySize) {
            x.body.reserve(static_cast<std::size_t>(announced));
        }
    }
    x.body.insert(x.body.end(), reinterpret_cast<const std::uint8_t*>(data),
                  reinterpret_cast<const std::uint8_t*>(data) + length);
    return length;
}

int Transfer::onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto& x = *static_cast<Transfer*>(user);
    if (dlnow != x.lastDownloaded || ulnow != x.lastUploaded) {
        x.lastDownloaded = dlnow;
        x.lastUploaded = ulnow;
        x.lastActivity = Clock::now();
    }
    return x.task->cancelled.load() ? 1 : 0;
}

struct SessionCore : std::enable_shared_from_this<SessionCore> {
    explicit SessionCore(const UrlSessionConfiguration& configuration);
    ~SessionCore();

    void enqueue(const std::shared_ptr<TaskState>& task);
    void cancel(const std::shared_ptr<TaskState>& task);
    void invalidate();
    void release();

    const UrlSessionConfiguration config;
    std::vector<X509*> extraAnchors;
    std::optional<std::string> anchorProblem;
    // The system's CAs and the extra ones; made by the worker on first use.
    X509_STORE* trustStore = nullptr;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<TaskState>> queue;
    std::shared_ptr<TaskState> running;
    bool invalidated = false;
    bool released = false;
    bool workerActive = false;
    // Set and cleared under `mutex` by the worker, which alone drives them;
    // others only wake `multi` up, under `mutex`.
    CURLM* multi = nullptr;
    CURL* easy = nullptr;

private:
    static void workerMain(std::shared_ptr<SessionCore> core);
    void run();
    Outcome perform(TaskState& task);
    bool ensureHandles();
    bool ensureTrustStore();
    void configure(Transfer& x, const TaskState& task, curl_slist* headers);
    static void releaseHandles(CURLM* m, CURL* e);
    static CURLcode onSslContext(CURL* easy, void* sslContext, void* user);
};

SessionCore::SessionCore(const UrlSessionConfiguration& configuration) : config(configuration) {
    if (!config.additionalCaFile) return;
    const std::string& path = *config.additionalCaFile;
    extraAnchors = readCertificates(path.c_str());
    if (extraAnchors.empty()) anchorProblem = "The additional CA file cannot be read or holds no certificate: " + path;
}

SessionCore::~SessionCore() {
    releaseHandles(std::exchange(multi, nullptr), std::exchange(easy, nullptr));
    for (X509* cert : extraAnchors) X509_free(cert);
    X509_STORE_free(trustStore);
}

bool SessionCore::ensureTrustStore() {
    if (trustStore != nullptr) return true;
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr) return false;
    for (X509* cert : systemAnchors()) X509_STORE_add_cert(store, cert);
    for (X509* cert : extraAnchors) X509_STORE_add_cert(store, cert);  // a duplicate is harmless
    ERR_clear_error();
    trustStore = store;
    return true;
}

void SessionCore::releaseHandles(CURLM* m, CURL* e) {
    if (m != nullptr) curl_multi_cleanup(m);
    if (e != nullptr) {
        curl_easy_cleanup(e);
        globals().liveHandles.fetch_sub(1);
    }
}

void SessionCore::enqueue(const std::shared_ptr<TaskState>& task) {
    std::unique_lock lock(mutex);
    if (task->resumed) return;
    task->resumed = true;
    queue.push_back(task);
    if (workerActive) {
        lock.unlock();
        wake.notify_one();
        return;
    }
    workerActive = true;
    {
        std::lock_guard count(globals().mutex);
        ++globals().liveWorkers;
    }
    try {
        std::thread(workerMain, shared_from_this()).detach();
        return;
    } catch (const std::exception&) {
    }
    // No thread could be made: the queued tasks can never run, so each fails
    // here, once, rather than wait forever.
    workerActive = false;
    {
        std::lock_guard count(globals().mutex);
        --globals().liveWorkers;
    }
    auto stranded = std::move(queue);
    queue.clear();
    lock.unlock();
    for (auto& t : stranded) {
        auto fn = std::move(t->completion);
        t->completion = nullptr;
        if (fn) fn(std::nullopt, std::nullopt, UrlError{UrlErrorCode::unknown, "No worker thread could be started"});
    }
}

void SessionCore::cancel(const std::shared_ptr<TaskState>& task) {
    task->cancelled.store(true);
    std::lock_guard lock(mutex);
    if (running == task && multi != nullptr) curl_multi_wakeup(multi);
}

void SessionCore::invalidate() {
    {
        std::lock_guard lock(mutex);
        invalidated = true;
        if (running) {
            running->cancelled.store(true);
            if (multi != nullptr) curl_multi_wakeup(multi);
        }
    }
    wake.notify_one();
}

void SessionCore::release() {
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    wake.notify_one();
}

void SessionCore::workerMain(std::shared_ptr<SessionCore> core) {
    core->run();
    core.reset();
    auto& g = globals();
    std::lock_guard lock(g.mutex);
    --g.liveWorkers;
    g.workersGone.notify_all();
}

void SessionCore::run() {
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return !queue.empty() || invalidated || released; });
        if (queue.empty()) {
            // Nothing more can arrive that needs this worker: a later resume()
            // starts a new one.
            workerActive = false;
            CURLM* m = std::exchange(multi, nullptr);
            CURL* e = std::exchange(easy, nullptr);
            lock.unlock();
            releaseHandles(m, e);
            return;
        }
        std::shared_ptr<TaskState> task = std::move(queue.front());
        queue.pop_front();
        running = task;
        const bool refuse = invalidated || task->cancelled.load();
        lock.unlock();

        Outcome outcome = refuse ? failure(UrlErrorCode::cancelled, "cancelled") : perform(*task);

        lock.lock();
        running.reset();
        lock.unlock();
        // Moved out first, so what the completion captured is released as soon
        // as it returns.
        DataTaskCompletion fn = std::move(task->completion);
        task->completion = nullptr;
        task.reset();
        if (fn) fn(std::move(outcome.data), std::move(outcome.response), std::move(outcome.error));
        fn = nullptr;
        lock.lock();
    }
}

bool SessionCore::ensureHandles() {
    if (easy != nullptr) return true;
    initCurlOnce();
    CURL* e = curl_easy_init();
    CURLM* m = e != nullptr ? curl_multi_init() : nullptr;
    if (m == nullptr) {
        if (e != nullptr) curl_easy_cleanup(e);
        return false;
    }
    globals().liveHandles.fetch_add(1);
    std::lock_guard lock(mutex);
    multi = m;
    easy = e;
    return true;
}

CURLcode SessionCore::onSslContext(CURL*, void* sslContext, void* user) {
    // libcurl was told to load no CA of its own; the session's store, made
    // once, stands in.
    auto& core = *static_cast<SessionCore*>(user);
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), core.trustStore);
    return CURLE_OK;
}

namespace {

std::optional<UrlError> checkRequest(const UrlRequest& request, const UrlSessionConfiguration& config) {
    const std::string& url = request.url;
    const bool schemeOk = startsWithIgnoringCase(url, "https://") || startsWithIgnoringCase(url, "http://");
    const bool charsOk = std::none_of(url.begin(), url.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f;
    });
    if (!schemeOk || !charsOk) return UrlError{UrlErrorCode::badURL, "The URL is not a valid HTTP(S) URL"};
    if (!isToken(request.httpMethod)) {
        return UrlError{UrlErrorCode::invalidRequest, "The request method is not a valid token"};
    }
    auto checkFields = [](const std::map<std::string, std::string>& fields) -> std::optional<UrlError> {
        for (const auto& [name, value] : fields) {
            if (!isToken(name)) {
                return UrlError{UrlErrorCode::invalidRequest, "A request header name is not a valid token"};
            }
            if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
                return UrlError{UrlErrorCode::invalidRequest,
                                "The value of request header " + name + " contains CR, LF or NUL"};
            }
        }
        return std::nullopt;
    };
    if (auto bad = checkFields(request.allHTTPHeaderFields)) return bad;
    return checkFields(config.httpAdditionalHeaders);
}

bool hasField(const std::vector<std::pair<std::string, std::string>>& fields, std::string_view name) {
    return std::any_of(fields.begin(), fields.end(), [&](const auto& f) { return equalsIgnoringCase(f.first, name); });
}

struct HeaderList {
    curl_slist* list = nullptr;
    bool failed = false;
    ~HeaderList() { curl_slist_free_all(list); }
    void add(const std::string& line) {
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (next == nullptr) {
            failed = true;
            return;
        }
        list = next;
    }
};

UrlError transferError(CURLcode code, const Transfer& x, const UrlSessionConfiguration& config) {
    std::string detail = x.errorBuffer[0] != '\0' ? x.errorBuffer : curl_easy_strerror(code);
    auto make = [&](UrlErrorCode c, std::string text) { return UrlError{c, text + " (" + detail + ")"}; };
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return make(UrlErrorCode::timedOut, "The request timed out: the transfer took longer than " +
                                                    secondsText(config.timeoutIntervalForResource) + " s");
        case CURLE_URL_MALFORMAT:
            return make(UrlErrorCode::badURL, "The URL is not valid");
        case CURLE_COULDNT_RESOLVE_HOST:
            return make(UrlErrorCode::cannotFindHost, "The server's host name could not be found");
        case CURLE_COULDNT_CONNECT:
            return make(UrlErrorCode::cannotConnectToHost, "Could not connect to the server");
        case CURLE_PEER_FAILED_VERIFICATION:
            return make(UrlErrorCode::serverCertificateUntrusted, "The server's certificate is not trusted");
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_USE_SSL_FAILED:
            return make(UrlErrorCode::secureConnectionFailed, "A secure connection to the server could not be made");
        case CURLE_FILESIZE_EXCEEDED:
            return make(UrlErrorCode::dataLengthExceedsMaximum, "The answer is longer than allowed");
        case CURLE_WRITE_ERROR:
            if (x.bodyTooLarge) return make(UrlErrorCode::dataLengthExceedsMaximum, "The answer is longer than allowed");
            if (x.headerOverflow) return make(UrlErrorCode::badServerResponse, "The answer's header is too long");
            return make(UrlErrorCode::unknown, "The answer could not be stored");
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return make(UrlErrorCode::networkConnectionLost, "The network connection was lost");
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:  // the scheme was checked before: an answer in no HTTP version we accept
        case CURLE_BAD_CONTENT_ENCODING:
            return make(UrlErrorCode::badServerResponse, "The server's answer is not valid HTTP");
        default:
            return make(UrlErrorCode::unknown, "The transfer failed");
    }
}

std::optional<std::string> mimeTypeOf(const std::vector<std::pair<std::string, std::string>>& fields) {
    for (const auto& [name, value] : fields) {
        if (!equalsIgnoringCase(name, "Content-Type")) continue;
        std::string_view media = value;
        media = trimBlanks(media.substr(0, media.find(';')));
        if (media.empty()) return std::nullopt;
        std::string lowered(media);
        std::transform(lowered.begin(), lowered.end(), lowered.begin(), asciiLower);
        return lowered;
    }
    return std::nullopt;
}

const char kEmptyBody[] = "";

}  // namespace

void SessionCore::configure(Transfer& x, const TaskState& task, curl_slist* headers) {
    const UrlRequest& request = task.request;
    CURL* e = easy;
    curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    // HTTP/1.1 keeps answer header names in the case the server wrote them.
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(e, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &SessionCore::onSslContext);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, this);
    if (auto total = limitOf(config.timeoutIntervalForResource)) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*total).count();
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(std::min<long long>(ms, LONG_MAX)));
    }
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(x.maximumBodySize));
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, x.errorBuffer);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &x);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &x);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &x);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);

    const std::string& method = request.httpMethod;
    const Bytes* body = request.httpBody ? &*request.httpBody : nullptr;
    const bool alwaysBody = method == "PUT" || method == "POST";
    if (method == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (body != nullptr || alwaysBody) {
        // The body goes out from the request's own buffer, with its length;
        // an empty one still announces "Content-Length: 0".
        const bool empty = body == nullptr || body->empty();
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(empty ? 0 : body->size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS,
                         empty ? kEmptyBody : reinterpret_cast<const char*>(body->data()));
        if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        if (method != "GET") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
}

Outcome SessionCore::perform(TaskState& task) {
    const UrlRequest& request = task.request;
    if (auto bad = checkRequest(request, config)) return Outcome{std::nullopt, std::nullopt, std::move(bad)};
    if (anchorProblem) return failure(UrlErrorCode::secureConnectionFailed, *anchorProblem);
    if (!ensureHandles()) return failure(UrlErrorCode::unknown, "No transfer handle could be made");
    if (!ensureTrustStore()) return failure(UrlErrorCode::secureConnectionFailed, "No trust store could be made");

    // The request's own fields, then the session's additional ones it does not
    // override; libcurl's own defaults for the rest are switched off.
    std::vector<std::pair<std::string, std::string>> fields(request.allHTTPHeaderFields.begin(),
                                                            request.allHTTPHeaderFields.end());
    for (const auto& [name, value] : config.httpAdditionalHeaders) {
        if (!hasField(fields, name)) fields.emplace_back(name, value);
    }
    HeaderList headers;
    for (const auto& [name, value] : fields) headers.add(value.empty() ? name + ";" : name + ": " + value);
    for (const char* name : {"Expect", "Accept", "Content-Type"}) {
        if (!hasField(fields, name)) headers.add(std::string(name) + ":");
    }
    if (headers.failed) return failure(UrlErrorCode::unknown, "The request headers could not be prepared");

    Transfer x;
    x.easy = easy;
    x.task = &task;
    x.maximumBodySize = config.maximumBodySize;
    curl_easy_reset(easy);
    configure(x, task, headers.list);

    std::optional<Clock::duration> idle = limitOf(config.timeoutIntervalForRequest);
    if (request.timeoutInterval) {
        if (auto own = limitOf(*request.timeoutInterval); own && (!idle || *own < *idle)) idle = own;
    }

    x.lastActivity = Clock::now();
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        return failure(UrlErrorCode::unknown, "The transfer could not be started");
    }
    bool cancelledNow = false;
    bool idleExpired = false;
    bool multiFailed = false;
    int stillRunning = 1;
    for (;;) {
        if (curl_multi_perform(multi, &stillRunning) != CURLM_OK) {
            multiFailed = true;
            break;
        }
        if (stillRunning == 0) break;
        if (task.cancelled.load()) {
            cancelledNow = true;
            break;
        }
        int waitMs = 1000;
        if (idle) {
            const auto deadline = x.lastActivity + *idle;
            const auto now = Clock::now();
            if (now >= deadline) {
                idleExpired = true;
                break;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
            waitMs = static_cast<int>(std::clamp<long long>(left, 1, 1000));
        }
        curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
    }
    CURLcode result = CURLE_OK;
    bool finished = false;
    if (stillRunning == 0 && !multiFailed) {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                result = msg->data.result;
                finished = true;
            }
        }
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_multi_remove_handle(multi, easy);

    if (cancelledNow || (result == CURLE_ABORTED_BY_CALLBACK && task.cancelled.load())) {
        return failure(UrlErrorCode::cancelled, "cancelled");
    }
    if (idleExpired) {
        double limit = std::chrono::duration<double>(*idle).count();
        return failure(UrlErrorCode::timedOut, "The request timed out: no data for " + secondsText(limit) + " s");
    }
    if (multiFailed || !finished) return failure(UrlErrorCode::unknown, "The transfer failed");
    if (result != CURLE_OK) return Outcome{std::nullopt, std::nullopt, transferError(result, x, config)};
    if (status < 100 || status > 999) {
        return failure(UrlErrorCode::badServerResponse, "The server's answer has no valid status");
    }

    HttpUrlResponse response;
    response.url = request.url;
    response.statusCode = static_cast<int>(status);
    response.mimeType = mimeTypeOf(x.headers);
    response.headerFields = std::move(x.headers);
    return Outcome{std::move(x.body), std::move(response), std::nullopt};
}

}  // namespace urlsession_detail

using urlsession_detail::globals;
using urlsession_detail::SessionCore;
using urlsession_detail::TaskState;

const char* name(UrlErrorCode code) {
    switch (code) {
        case UrlErrorCode::cancelled: return "cancelled";
        case UrlErrorCode::timedOut: return "timedOut";
        case UrlErrorCode::badURL: return "badURL";
        case UrlErrorCode::invalidRequest: return "invalidRequest";
        case UrlErrorCode::cannotFindHost: return "cannotFindHost";
        case UrlErrorCode::cannotConnectToHost: return "cannotConnectToHost";
        case UrlErrorCode::networkConnectionLost: return "networkConnectionLost";
        case UrlErrorCode::secureConnectionFailed: return "secureConnectionFailed";
        case UrlErrorCode::serverCertificateUntrusted: return "serverCertificateUntrusted";
        case UrlErrorCode::badServerResponse: return "badServerResponse";
        case UrlErrorCode::dataLengthExceedsMaximum: return "dataLengthExceedsMaximum";
        case UrlErrorCode::unknown: return "unknown";
    }
    return "unknown";
}

std::shared_ptr<UrlSessionConfiguration> UrlSessionConfiguration::ephemeral() {
    auto configuration = std::make_shared<UrlSessionConfiguration>();
    if (const char* ca = std::getenv("QUORVEL_CA_FILE"); ca != nullptr && *ca != '\0') {
        configuration->additionalCaFile = ca;
    }
    return configuration;
}

std::optional<std::string> HttpUrlResponse::value(std::string_view exactName) const {
    for (const auto& [name, value] : headerFields) {
        if (name == exactName) return value;
    }
    return std::nullopt;
}

std::map<std::string, std::string> HttpUrlResponse::allHeaderFields() const {
    return {headerFields.begin(), headerFields.end()};
}

UrlSessionDataTask::UrlSessionDataTask(std::shared_ptr<SessionCore> core, std::shared_ptr<TaskState> state)
    : core_(std::move(core)), state_(std::move(state)) {}

void UrlSessionDataTask::resume() { core_->enqueue(state_); }

void UrlSessionDataTask::cancel() { core_->cancel(state_); }

std::uint64_t UrlSessionDataTask::taskIdentifier() const { return state_->id; }

const UrlRequest& UrlSessionDataTask::originalRequest() const { return state_->request; }

UrlSession::UrlSession(const UrlSessionConfiguration& configuration)
    : core_(std::make_shared<SessionCore>(configuration)) {
    urlsession_detail::initCurlOnce();
}

UrlSession::~UrlSession() { core_->release(); }

const UrlSessionConfiguration& UrlSession::configuration() const { return core_->config; }

std::shared_ptr<UrlSessionDataTask> UrlSession::dataTask(UrlRequest request, DataTaskCompletion completion) {
    auto state = std::make_shared<TaskState>();
    state->id = globals().nextTaskId.fetch_add(1);
    state->request = std::move(request);
    state->completion = std::move(completion);
    return std::make_shared<UrlSessionDataTask>(core_, std::move(state));
}

void UrlSession::invalidateAndCancel() { core_->invalidate(); }

std::size_t UrlSession::liveWorkerThreads() {
    std::lock_guard lock(globals().mutex);
    return globals().liveWorkers;
}

std::size_t UrlSession::liveTransferHandles() { return globals().liveHandles.load(); }

std::size_t UrlSession::systemTrustAnchorCount() { return urlsession_detail::systemAnchors().size(); }

bool UrlSession::waitForNoLiveWorkers(std::chrono::milliseconds guard) {
    auto& g = globals();
    std::unique_lock lock(g.mutex);
    return g.workersGone.wait_for(lock, guard, [&] { return g.liveWorkers == 0; });
}

}  // namespace ostrelcomm
