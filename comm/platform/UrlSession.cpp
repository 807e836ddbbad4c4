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

#include "platform/ReusedThreads.h"

namespace ostrelcomm {

namespace urlsession_detail {

namespace {

using Clock = std::chrono::steady_clock;

// A worker thread whose session has no more work, waiting a while for
// another session to serve. Sessions are short-lived (one per job), and a
// thread started for each costs more than the job's request over a kept-alive
// connection.
struct ParkedWorker {
    std::condition_variable wake;
    std::shared_ptr<SessionCore> next;
};

// How long a parked worker waits for a session, and how many wait at most.
constexpr auto kParkTime = std::chrono::seconds(2);
constexpr std::size_t kMaxParked = 16;

// The session whose tasks this thread runs, when it is a worker; and a
// session handed to this thread to run once that one has ended.
thread_local SessionCore* tServing = nullptr;
thread_local std::shared_ptr<SessionCore> tHandedOver;

// Process-wide bookkeeping. Allocated once and never destroyed, so that a
// worker thread that outlives main() never touches a destroyed object.
struct Globals {
    std::mutex mutex;
    std::condition_variable workersGone;
    // Workers serving a session (parked ones are not counted).
    std::size_t liveWorkers = 0;
    std::vector<ParkedWorker*> parked;
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
    // The transfer is over: nothing reads the request any more. Guarded by
    // the session's mutex.
    bool ended = false;
};

struct Outcome {
    std::optional<Bytes> data;
    std::optional<HttpUrlResponse> response;
    std::optional<UrlError> error;
};

Outcome failure(UrlErrorCode code, std::string description) {
    return Outcome{std::nullopt, std::nullopt, UrlError{code, std::move(description)}};
}

// Hands the part of a body taken in so far to the request's observer on a
// thread of its own, so that the observer's work overlaps the rest of the
// transfer instead of following it. The body's bytes must not move while it
// runs: it starts only on a body reserved for its announced length, and is
// stopped before the body would grow past that.
class BodyFollower {
public:
    // A follower of the body at `base`, or none when no thread can be had
    // (the observer then sees the body in line). Never throws: it is made
    // inside libcurl's callback.
    static std::unique_ptr<BodyFollower> follow(const std::uint8_t* base,
                                                const std::function<void(ByteView)>& observer) noexcept {
        try {
            std::unique_ptr<BodyFollower> follower(new BodyFollower(base, observer));
            if (follower->thread_.start([f = follower.get()] { f->run(); })) return follower;
        } catch (...) {
            // No memory for it: in line, as without a thread.
        }
        return nullptr;
    }
    ~BodyFollower() { stop(); }
    BodyFollower(const BodyFollower&) = delete;
    BodyFollower& operator=(const BodyFollower&) = delete;

    // The first `length` bytes from the base are taken in and stay put.
    void publish(std::size_t length) {
        std::lock_guard lock(mutex_);
        published_ = length;
        // Woken for a batch, not for each of libcurl's pieces: a wake-up per
        // 16 KiB costs the receiving thread more than the observer saves it.
        if (waiting_ && published_ >= wakeAt_) wake_.notify_one();
    }
    // Once the observer has thrown, nothing more is handed to it.
    bool failed() const { return failed_.load(std::memory_order_relaxed); }
    // Waits until the observer has seen everything published (or thrown);
    // the thread has ended when it returns. True when it never threw.
    bool stop() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            wake_.notify_one();
        }
        thread_.wait();
        return !failed();
    }

private:
    BodyFollower(const std::uint8_t* base, const std::function<void(ByteView)>& observer)
        : base_(base), observer_(observer) {}

    void run() {
        std::size_t seen = 0;
        for (;;) {
            std::size_t until = 0;
            {
                std::unique_lock lock(mutex_);
                wakeAt_ = seen + kBatch;
                while (published_ < wakeAt_ && !closed_) {
                    waiting_ = true;
                    wake_.wait(lock);
                    waiting_ = false;
                }
                if (published_ == seen) return;
                until = published_;
            }
            try {
                observer_(ByteView(base_ + seen, until - seen));
            } catch (...) {
                failed_.store(true, std::memory_order_relaxed);
                return;
            }
            seen = until;
        }
    }

    static constexpr std::size_t kBatch = std::size_t{256} << 10;

    const std::uint8_t* const base_;
    const std::function<void(ByteView)>& observer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::size_t published_ = 0;
    std::size_t wakeAt_ = 0;
    bool closed_ = false;
    bool waiting_ = false;
    std::atomic<bool> failed_{false};
    ReusedThreads::Task thread_;  // last: waited for before the rest goes
};

// A body at least this long, with its length announced, is followed on a
// thread of its own; a shorter one costs less to observe in line than a
// thread's start.
constexpr std::size_t kFollowOnThreadFrom = std::size_t{1} << 20;

constexpr std::size_t kAnswerSlack = 64;

// What one transfer collects through libcurl's callbacks; only the thread
// driving it touches it (and the follower, the body's published bytes).
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
    bool observerFailed = false;
    curl_off_t lastDownloaded = 0;
    curl_off_t lastUploaded = 0;
    Clock::time_point lastActivity = Clock::now();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    // After `body`: stopped, its thread ended, before the body goes.
    std::unique_ptr<BodyFollower> follower;

    // Ends the follower, if any; its failure counts as the observer's.
    void stopFollowing() {
        if (!follower) return;
        if (!follower->stop()) observerFailed = true;
        follower.reset();
    }

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
    const auto& observer = x.task->request.bodyObserver;
    if (x.body.empty()) {
        curl_off_t announced = -1;
        if (curl_easy_getinfo(x.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
            announced > 0 && static_cast<std::uint64_t>(announced) <= x.maximumBodySize) {
            // A little room past the announced length: a caller that grows
            // the body by a cipher block (decrypting it in place) keeps it
            // where it is instead of copying megabytes.
            x.body.reserve(static_cast<std::size_t>(announced) + kAnswerSlack);
            if (observer && static_cast<std::uint64_t>(announced) >= kFollowOnThreadFrom && !x.follower)
                x.follower = BodyFollower::follow(x.body.data(), observer);
        }
    }
    if (x.follower && (x.follower->failed() || length > x.body.capacity() - x.body.size())) {
        // Longer than announced: the rest is observed in line, once the
        // follower has seen what it was given, before the body moves.
        x.stopFollowing();
        if (x.observerFailed) return 0;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    x.body.insert(x.body.end(), bytes, bytes + length);
    if (x.follower) {
        x.follower->publish(x.body.size());
    } else if (observer) {
        // No exception may cross libcurl's C frames: it ends the transfer instead.
        try {
            observer(ByteView(x.body.data() + x.body.size() - length, length));
        } catch (...) {
            x.observerFailed = true;
            return 0;
        }
    }
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

X509_STORE* makeTrustStore(const std::vector<X509*>& extraAnchors) {
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr) return nullptr;
    for (X509* cert : systemAnchors()) X509_STORE_add_cert(store, cert);
    for (X509* cert : extraAnchors) X509_STORE_add_cert(store, cert);  // a duplicate is harmless
    ERR_clear_error();
    return store;
}

// How a transfer handed to a pool ended.
enum class PoolEnd { finished, cancelled, idleExpired, failed };

// One transfer while a pool runs it. It lives on the stack of the session
// worker that handed it over, which waits until `done`.
struct PooledTransfer {
    CURL* easy = nullptr;
    Transfer* transfer = nullptr;
    std::optional<Clock::duration> idle;
    // Written by the thread that drives the pool, then `done` is set under
    // the pool's mutex; the owner reads them after seeing `done`.
    PoolEnd end = PoolEnd::failed;
    CURLcode result = CURLE_OK;
    bool done = false;
};

// A multi handle, whose connection cache the transfers of every session
// using the pool share; a share object for TLS sessions (which a multi handle
// would keep per transfer handle); and the trust store that verifies every
// connection of the pool.
//
// There is no thread of its own: a worker that hands a transfer over while
// nobody drives the pool drives it, for everyone's transfers, until its own
// has ended; then a worker still waiting takes over. Only the driver touches
// the multi handle (others only wake it up), and each transfer's callbacks
// run on whichever worker drives at the time.
struct PoolCore {
    PoolCore();
    ~PoolCore();
    PoolCore(const PoolCore&) = delete;
    PoolCore& operator=(const PoolCore&) = delete;

    bool usable() const { return multi != nullptr && share != nullptr; }
    // The pool takes the trust anchors of the first session admitted (read
    // through `anchors`, which gives none when they cannot be read); later
    // sessions are admitted only when they name the same file, and their
    // own copy of it is never read.
    bool admit(const std::optional<std::string>& anchorsFile,
               const std::function<const std::vector<X509*>*()>& anchors);
    // Runs `t` until it has ended; returns with t.done set.
    void perform(PooledTransfer& t);
    // Makes the driver look at cancellations now rather than at its next
    // wake-up. Never blocks.
    void wakeup() { curl_multi_wakeup(multi); }

    static CURLcode onSslContext(CURL* easy, void* sslContext, void* user);
    static void lockShared(CURL*, curl_lock_data data, curl_lock_access, void* user);
    static void unlockShared(CURL*, curl_lock_data data, void* user);

    // A transfer handle of a session that has ended, for the next session to
    // use: making and cleaning up a handle per session costs more than a
    // short request's own work. Null when none is kept.
    CURL* takeSpareHandle();
    // Keeps the handle for another session; false when enough are kept or
    // the pool's owner is gone.
    bool keepSpareHandle(CURL* easy);
    // The owner is gone: the kept handles are cleaned up now, on its thread,
    // and no more are kept, so that the last session's thread has no more to
    // release than the pool itself.
    void releaseSpareHandles();

    CURLM* multi = nullptr;
    CURLSH* share = nullptr;
    std::mutex shareLocks[CURL_LOCK_DATA_LAST];
    // Set once, under `mutex`, before the pool's first transfer.
    X509_STORE* trustStore = nullptr;

private:
    void drive(std::unique_lock<std::mutex>& lock, const PooledTransfer& own);

    std::mutex mutex;
    std::condition_variable changed;
    bool bound = false;
    std::optional<std::string> anchorsFile_;
    std::vector<PooledTransfer*> pending;
    bool driving = false;
    // The transfers in the multi handle; only the driver touches them.
    std::vector<PooledTransfer*> active;
    // Under `mutex`.
    std::vector<CURL*> spareHandles;
    bool ownerGone = false;
};

// Handles kept beyond that many are cleaned up.
constexpr std::size_t kSpareHandles = 4;

PoolCore::PoolCore() {
    initCurlOnce();
    multi = curl_multi_init();
    share = curl_share_init();
    if (share != nullptr) {
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &PoolCore::lockShared);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &PoolCore::unlockShared);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    if (multi != nullptr) curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 8L);
}

PoolCore::~PoolCore() {
    // Every transfer handle that used the share is gone by now (the sessions
    // hold the pool until theirs is cleaned up) but the pool's own spares.
    for (CURL* easy : spareHandles) {
        curl_easy_cleanup(easy);
        globals().liveHandles.fetch_sub(1);
    }
    if (multi != nullptr) curl_multi_cleanup(multi);
    if (share != nullptr) curl_share_cleanup(share);
    X509_STORE_free(trustStore);
}

void PoolCore::lockShared(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<PoolCore*>(user)->shareLocks[data].lock();
}

void PoolCore::unlockShared(CURL*, curl_lock_data data, void* user) {
    static_cast<PoolCore*>(user)->shareLocks[data].unlock();
}

CURLcode PoolCore::onSslContext(CURL*, void* sslContext, void* user) {
    // libcurl was told to load no CA of its own; the pool's store, made
    // once, stands in.
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), static_cast<PoolCore*>(user)->trustStore);
    return CURLE_OK;
}

bool PoolCore::admit(const std::optional<std::string>& anchorsFile,
                     const std::function<const std::vector<X509*>*()>& anchors) {
    {
        std::lock_guard lock(mutex);
        if (bound) return anchorsFile_ == anchorsFile;
    }
    const std::vector<X509*>* extra = anchors();
    if (extra == nullptr) return false;
    X509_STORE* store = makeTrustStore(*extra);
    if (store == nullptr) return false;
    std::lock_guard lock(mutex);
    if (bound) {  // another session was admitted meanwhile
        X509_STORE_free(store);
        return anchorsFile_ == anchorsFile;
    }
    bound = true;
    anchorsFile_ = anchorsFile;
    trustStore = store;
    return true;
}

CURL* PoolCore::takeSpareHandle() {
    std::lock_guard lock(mutex);
    if (spareHandles.empty()) return nullptr;
    CURL* easy = spareHandles.back();
    spareHandles.pop_back();
    return easy;
}

bool PoolCore::keepSpareHandle(CURL* easy) {
    std::lock_guard lock(mutex);
    if (ownerGone || spareHandles.size() >= kSpareHandles) return false;
    spareHandles.push_back(easy);
    return true;
}

void PoolCore::releaseSpareHandles() {
    std::vector<CURL*> kept;
    {
        std::lock_guard lock(mutex);
        ownerGone = true;
        kept.swap(spareHandles);
    }
    for (CURL* easy : kept) {
        curl_easy_cleanup(easy);
        globals().liveHandles.fetch_sub(1);
    }
}

void PoolCore::perform(PooledTransfer& t) {
    std::unique_lock lock(mutex);
    pending.push_back(&t);
    if (driving) wakeup();
    while (!t.done) {
        if (driving) {
            changed.wait(lock);
            continue;
        }
        driving = true;
        drive(lock, t);
        driving = false;
        // A worker still waiting takes over the transfers that are left.
        changed.notify_all();
    }
}

void PoolCore::drive(std::unique_lock<std::mutex>& lock, const PooledTransfer& own) {
    for (;;) {
        std::vector<PooledTransfer*> adding;
        adding.swap(pending);
        lock.unlock();

        std::vector<PooledTransfer*> ended;
        auto stop = [&](PooledTransfer* t, PoolEnd how) {
            curl_multi_remove_handle(multi, t->easy);
            t->end = how;
            ended.push_back(t);
        };
        for (PooledTransfer* t : adding) {
            if (curl_multi_add_handle(multi, t->easy) == CURLM_OK) {
                active.push_back(t);
            } else {
                t->end = PoolEnd::failed;
                ended.push_back(t);
            }
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            for (PooledTransfer* t : active) stop(t, PoolEnd::failed);
            active.clear();
        }
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE) continue;
            auto it = std::find_if(active.begin(), active.end(),
                                   [&](const PooledTransfer* t) { return t->easy == msg->easy_handle; });
            if (it == active.end()) continue;
            PooledTransfer* t = *it;
            active.erase(it);
            t->result = msg->data.result;  // read before the removal frees the message
            stop(t, PoolEnd::finished);
        }
        // A cancelled transfer, or one that has had no data for too long,
        // is taken out on its own: the other transfers go on.
        const auto now = Clock::now();
        int waitMs = 1000;
        for (auto it = active.begin(); it != active.end();) {
            PooledTransfer* t = *it;
            std::optional<PoolEnd> how;
            if (t->transfer->task->cancelled.load()) {
                how = PoolEnd::cancelled;
            } else if (t->idle) {
                const auto deadline = t->transfer->lastActivity + *t->idle;
                if (now >= deadline) {
                    how = PoolEnd::idleExpired;
                } else {
                    const auto until = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
                    waitMs = std::min(waitMs, static_cast<int>(std::clamp<long long>(until, 1, 1000)));
                }
            }
            if (!how) {
                ++it;
                continue;
            }
            it = active.erase(it);
            stop(t, *how);
        }

        lock.lock();
        // A transfer marked done may be gone the moment the lock is free.
        for (PooledTransfer* t : ended) t->done = true;
        if (!ended.empty()) changed.notify_all();
        if (own.done) return;
        if (!pending.empty()) continue;
        lock.unlock();
        curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
        lock.lock();
    }
}

struct SessionCore : std::enable_shared_from_this<SessionCore> {
    explicit SessionCore(const UrlSessionConfiguration& configuration);
    ~SessionCore();

    void enqueue(const std::shared_ptr<TaskState>& task);
    void cancel(const std::shared_ptr<TaskState>& task);
    void invalidate();
    void release();
    bool attach(const std::shared_ptr<PoolCore>& pool);
    // Invalidated or released with nothing left to run: its worker ends it as
    // soon as the completion it may be running returns.
    bool finishing();

    // The extra trust anchors of the configuration, read on first need
    // (a session that joins a pool already trusting that file never reads
    // it); none when they cannot be read, anchorProblem then says why.
    const std::vector<X509*>* anchors();

    const UrlSessionConfiguration config;
    std::once_flag anchorsRead;
    std::vector<X509*> extraAnchors;
    std::optional<std::string> anchorProblem;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<TaskState>> queue;
    std::shared_ptr<TaskState> running;
    bool invalidated = false;
    bool released = false;
    bool workerActive = false;
    // Set and cleared under `mutex` by the worker, which alone uses it.
    CURL* easy = nullptr;
    // Under `mutex`. The pool the session was attached to; else its own,
    // made on first use and let go when the worker ends. runningPool is the
    // one the running task's transfer is in, for cancellations to wake up.
    std::shared_ptr<PoolCore> sharedPool;
    std::shared_ptr<PoolCore> ownPool;
    std::shared_ptr<PoolCore> runningPool;

private:
    static void workerMain(std::shared_ptr<SessionCore> core);
    void run();
    Outcome perform(TaskState& task);
    bool ensureHandle();
    std::shared_ptr<PoolCore> poolForTransfer();
    void configure(Transfer& x, const TaskState& task, curl_slist* headers, PoolCore& pool);
    static void releaseHandle(CURL* e);
};

SessionCore::SessionCore(const UrlSessionConfiguration& configuration) : config(configuration) {}

const std::vector<X509*>* SessionCore::anchors() {
    std::call_once(anchorsRead, [this] {
        if (!config.additionalCaFile) return;
        const std::string& path = *config.additionalCaFile;
        extraAnchors = readCertificates(path.c_str());
        if (extraAnchors.empty())
            anchorProblem = "The additional CA file cannot be read or holds no certificate: " + path;
    });
    return anchorProblem ? nullptr : &extraAnchors;
}

SessionCore::~SessionCore() {
    // The handle goes before the pools (members), whose share it uses.
    releaseHandle(std::exchange(easy, nullptr));
    for (X509* cert : extraAnchors) X509_free(cert);
}

void SessionCore::releaseHandle(CURL* e) {
    if (e != nullptr) {
        curl_easy_cleanup(e);
        globals().liveHandles.fetch_sub(1);
    }
}

bool SessionCore::attach(const std::shared_ptr<PoolCore>& pool) {
    if (!pool || !pool->usable()) return false;
    if (!pool->admit(config.additionalCaFile, [this] { return anchors(); })) return false;
    std::lock_guard lock(mutex);
    sharedPool = pool;
    return true;
}

std::shared_ptr<PoolCore> SessionCore::poolForTransfer() {
    {
        std::lock_guard lock(mutex);
        if (sharedPool) return sharedPool;
        if (ownPool) return ownPool;
    }
    auto pool = std::make_shared<PoolCore>();
    if (!pool->usable() || !pool->admit(config.additionalCaFile, [this] { return anchors(); })) return nullptr;
    std::lock_guard lock(mutex);
    ownPool = pool;
    return pool;
}

void SessionCore::enqueue(const std::shared_ptr<TaskState>& task) {
    // Resumed from the completion of a session that has ended (a job starting
    // the next one from its last answer): this thread can run it as soon as
    // that completion returns, instead of waking another. Asked before this
    // session's lock is taken, so that no two sessions' locks are ever held
    // together.
    const bool fromEndingSession =
        tServing != nullptr && tServing != this && !tHandedOver && tServing->finishing();
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
        auto& g = globals();
        std::lock_guard count(g.mutex);
        ++g.liveWorkers;
        if (fromEndingSession) {
            tHandedOver = shared_from_this();
            return;
        }
        if (!g.parked.empty()) {
            ParkedWorker* worker = g.parked.back();
            g.parked.pop_back();
            worker->next = shared_from_this();
            worker->wake.notify_one();
            return;
        }
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
    if (running == task && runningPool) runningPool->wakeup();
}

void SessionCore::invalidate() {
    {
        std::lock_guard lock(mutex);
        invalidated = true;
        if (running) {
            running->cancelled.store(true);
            if (runningPool) runningPool->wakeup();
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

bool SessionCore::finishing() {
    std::lock_guard lock(mutex);
    return (invalidated || released) && queue.empty();
}

void SessionCore::workerMain(std::shared_ptr<SessionCore> core) {
    auto& g = globals();
    while (core) {
        tServing = core.get();
        core->run();
        tServing = nullptr;
        core.reset();
        std::shared_ptr<SessionCore> next = std::move(tHandedOver);
        tHandedOver.reset();
        std::unique_lock lock(g.mutex);
        --g.liveWorkers;
        g.workersGone.notify_all();
        if (next) {
            core = std::move(next);
            continue;
        }
        if (g.parked.size() >= kMaxParked) return;
        // Parked until a session hands itself over (counted as live again by
        // then) or the time is up; nothing ever waits for this thread.
        ParkedWorker self;
        g.parked.push_back(&self);
        if (!self.wake.wait_for(lock, kParkTime, [&] { return self.next != nullptr; }))
            g.parked.erase(std::find(g.parked.begin(), g.parked.end(), &self));
        core = std::move(self.next);
    }
}

void SessionCore::run() {
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return !queue.empty() || invalidated || released; });
        if (queue.empty()) {
            // Nothing more can arrive that needs this worker: a later resume()
            // starts a new one.
            workerActive = false;
            CURL* e = std::exchange(easy, nullptr);
            std::shared_ptr<PoolCore> own = std::move(ownPool);
            ownPool.reset();
            // A pool shared with other sessions keeps the handle for the
            // next one (its options are reset before each transfer).
            std::shared_ptr<PoolCore> shared = sharedPool;
            lock.unlock();
            if (e != nullptr && shared && shared->keepSpareHandle(e)) e = nullptr;
            releaseHandle(e);
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
        task->ended = true;
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

bool SessionCore::ensureHandle() {
    if (easy != nullptr) return true;
    std::shared_ptr<PoolCore> shared;
    {
        std::lock_guard lock(mutex);
        shared = sharedPool;
    }
    CURL* e = shared ? shared->takeSpareHandle() : nullptr;
    if (e == nullptr) {
        initCurlOnce();
        e = curl_easy_init();
        if (e == nullptr) return false;
        globals().liveHandles.fetch_add(1);
    }
    std::lock_guard lock(mutex);
    easy = e;
    return true;
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

void SessionCore::configure(Transfer& x, const TaskState& task, curl_slist* headers, PoolCore& pool) {
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
    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &PoolCore::onSslContext);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &pool);
    curl_easy_setopt(e, CURLOPT_SHARE, pool.share);
    if (auto total = limitOf(config.timeoutIntervalForResource); total && !request.progressTimeoutInterval) {
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
    bool inSharedPool = false;
    {
        std::lock_guard lock(mutex);
        inSharedPool = sharedPool != nullptr;
    }
    if (!inSharedPool && anchors() == nullptr) return failure(UrlErrorCode::secureConnectionFailed, *anchorProblem);
    if (!ensureHandle()) return failure(UrlErrorCode::unknown, "No transfer handle could be made");
    std::shared_ptr<PoolCore> pool = poolForTransfer();
    if (!pool) return failure(UrlErrorCode::unknown, "No connection pool could be made");

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
    if (request.maximumBodySize && *request.maximumBodySize < x.maximumBodySize)
        x.maximumBodySize = *request.maximumBodySize;
    curl_easy_reset(easy);
    configure(x, task, headers.list, *pool);

    PooledTransfer pooled;
    pooled.easy = easy;
    pooled.transfer = &x;
    pooled.idle = limitOf(config.timeoutIntervalForRequest);
    if (request.timeoutInterval) {
        if (auto own = limitOf(*request.timeoutInterval); own && (!pooled.idle || *own < *pooled.idle)) pooled.idle = own;
    }
    if (request.progressTimeoutInterval) pooled.idle = limitOf(*request.progressTimeoutInterval);

    x.lastActivity = Clock::now();
    {
        std::lock_guard lock(mutex);
        runningPool = pool;
    }
    pool->perform(pooled);
    {
        std::lock_guard lock(mutex);
        runningPool.reset();
    }
    x.stopFollowing();
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);

    const CURLcode result = pooled.result;
    switch (pooled.end) {
        case PoolEnd::cancelled:
            return failure(UrlErrorCode::cancelled, "cancelled");
        case PoolEnd::idleExpired: {
            const double limit = std::chrono::duration<double>(*pooled.idle).count();
            return failure(UrlErrorCode::timedOut, "The request timed out: no data for " + secondsText(limit) + " s");
        }
        case PoolEnd::failed:
            return failure(UrlErrorCode::unknown, "The transfer failed");
        case PoolEnd::finished:
            break;
    }
    if (result == CURLE_ABORTED_BY_CALLBACK && task.cancelled.load()) {
        return failure(UrlErrorCode::cancelled, "cancelled");
    }
    if (x.observerFailed) return failure(UrlErrorCode::unknown, "The answer could not be taken in");
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
using urlsession_detail::PoolCore;
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

std::optional<Bytes> UrlSessionDataTask::takeBody() {
    std::lock_guard lock(core_->mutex);
    if (!state_->ended) return std::nullopt;
    return std::exchange(state_->request.httpBody, std::nullopt);
}

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

bool UrlSession::useConnectionPool(const ConnectionPool& pool) { return core_->attach(pool.core_); }

ConnectionPool::ConnectionPool() : core_(std::make_shared<PoolCore>()) {}

ConnectionPool::~ConnectionPool() { core_->releaseSpareHandles(); }

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
