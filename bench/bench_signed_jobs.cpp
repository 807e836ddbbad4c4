// Small signed jobs in a row, as a folder click, each file of a multi-file
// upload and each share query make them: N profile queries as N jobs of a
// logged-in engine, against the same N signed requests sent by libcurl alone
// over one reused connection, to the in-process stand-in server in the same
// run. The jobs reuse the engine's kept-alive connections, so each should
// cost little more than its request. Prints the time per job relative to the
// time per request at the end (target <= 1.2). Beside them, the same requests
// through the library's transport alone (one session, each request signed,
// its answer verified and decoded, the next sent from the answer's handler):
// what the requests cost the library before any job is made of them.
#include "BenchSupport.h"
#include <curl/curl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "auth/SRPAuthMode.h"
#include "devserver/AccountEndpoints.h"
#include "devserver/DevServer.h"
#include "devserver/Endpoints.h"
#include "http/Http.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"
#include "user/Server_UserProfile.h"

using namespace ostrelcomm;

namespace {

constexpr int kJobs = 100;
constexpr const char* kUser = "bench-jobs";
constexpr const char* kPassword = "bench-password";
constexpr auto kGuard = std::chrono::seconds(60);

struct Server {
    devserver::DevServer server{[] {
        devserver::DevServerOptions options;
        options.recordRequests = false;
        options.keepAliveSeconds = 30;
        return options;
    }()};
    std::string caFile;

    Server() {
        devserver::installEndpoints(server);
        devserver::addDemoUser(server.users(), kUser, kPassword);
        server.start();
        caFile = (std::filesystem::temp_directory_path() / ("quorvel-bench-jobs-" + std::to_string(::getpid()) + ".pem"))
                     .string();
        server.writeCaCertificate(caFile);
        ::setenv("QUORVEL_SERVER_URL", server.baseUrl().c_str(), 1);
        ::setenv("QUORVEL_CA_FILE", caFile.c_str(), 1);
    }
    ~Server() {
        server.stop();
        std::filesystem::remove(caFile);
    }
};

Server& server() {
    static Server instance;
    return instance;
}

// Counts one notification of an engine's center.
class Counter {
public:
    Counter(std::shared_ptr<NotificationCenter> center, const char* name) : center_(std::move(center)) {
        token_ = center_->addObserver(name, [this](const Notification& n) {
            const auto* result = userInfoValue<std::string>(n.userInfo, "Result");
            std::lock_guard lock(mutex_);
            // The login's "InProgress" is no end of a job.
            if (result != nullptr && *result == "InProgress") return;
            ++count_;
            if (result != nullptr) last_ = *result;
            // Only the awaited one wakes the waiter: a wake-up per job would
            // cost the engine's threads a context switch each.
            if (count_ >= target_) changed_.notify_all();
        });
    }
    ~Counter() { center_->removeObserver(token_); }
    // The count that waitFor will wait for; set before the jobs are queued.
    void expect(int count) {
        std::lock_guard lock(mutex_);
        target_ = count;
    }
    // Waits until `count` have been posted; the last one's result.
    std::string waitFor(int count) {
        std::unique_lock lock(mutex_);
        target_ = count;
        changed_.wait_for(lock, kGuard, [&] { return count_ >= count; });
        return count_ >= count ? last_ : std::string("<none>");
    }

private:
    std::shared_ptr<NotificationCenter> center_;
    NotificationCenter::Token token_{};
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
    int target_ = 0;
    std::string last_;
};

// A logged-in engine, made once.
struct Engine {
    std::shared_ptr<SrvComm> engine = std::make_shared<SrvComm>();
    Counter profiles{engine->notifications(), "userProfileDataAvailable"};
    int done = 0;
    bool loggedIn = false;
    // Connections the server accepted while the jobs ran.
    std::size_t connections = 0;

    Engine() {
        server();
        Counter login(engine->notifications(), "SRPAuthenticated");
        engine->auth_add(kUser, SecretBytes::fromText(kPassword), SRPAuthMode::new_);
        const std::string result = login.waitFor(1);
        loggedIn = result == "Authenticated";
        if (!loggedIn) std::fprintf(stderr, "login failed: %s\n", result.c_str());
    }
};

Engine& engine() {
    static Engine instance;
    return instance;
}

void BM_Jobs_SignedGet(benchmark::State& state) {
    Engine& e = engine();
    if (!e.loggedIn) {
        state.SkipWithError("login failed");
        return;
    }
    const std::size_t before = server().server.acceptedConnections();
    for (auto _ : state) {
        e.done += kJobs;
        e.profiles.expect(e.done);
        for (int i = 0; i < kJobs; ++i) e.engine->user_addGetProfile();
        if (e.profiles.waitFor(e.done) != "Completed") state.SkipWithError("a job failed");
        // As the application does once it has shown the results: finished
        // jobs would otherwise pile up in the queue.
        state.PauseTiming();
        e.engine->queue()->jobCleanup();
        state.ResumeTiming();
    }
    e.connections += server().server.acceptedConnections() - before;
    state.SetItemsProcessed(state.iterations() * kJobs);
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

// The same signed request (headers and signature of one job's request), sent
// by libcurl alone N times on one reused handle.
void BM_Curl_SignedGet(benchmark::State& state) {
    Engine& e = engine();
    const auto key = e.engine->sessionKey();
    const auto id = e.engine->srpSessionID();
    if (!e.loggedIn || !key || !id) {
        state.SkipWithError("login failed");
        return;
    }
    auto http = Http::forJob("https");
    auto built = http->buildRequest("/userprofile/getprofile/", "GET", {{"username", kUser}, {"sessionid", *id}},
                                    std::nullopt, std::nullopt, key, "application/json",
                                    std::chrono::system_clock::now());
    curl_slist* headers = nullptr;
    for (const auto& [name, value] : built.request.allHTTPHeaderFields)
        headers = curl_slist_append(headers, (name + ": " + value).c_str());
    for (const char* off : {"Expect:", "Accept:"}) headers = curl_slist_append(headers, off);
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, built.request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CAINFO, server().caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    for (auto _ : state) {
        for (int i = 0; i < kJobs; ++i) {
            long status = 0;
            if (curl_easy_perform(curl) != CURLE_OK ||
                curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status != 200)
                state.SkipWithError("the request failed");
        }
    }
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    state.SetItemsProcessed(state.iterations() * kJobs);
}

// The same requests through Http on one session: signed, verified and
// decoded as a job's are, each sent from the answer of the one before.
void BM_Http_SignedGet(benchmark::State& state) {
    Engine& e = engine();
    const auto key = e.engine->sessionKey();
    const auto id = e.engine->srpSessionID();
    if (!e.loggedIn || !key || !id) {
        state.SkipWithError("login failed");
        return;
    }
    // One session for every run, its connection opened by an untimed request
    // first, as the jobs' pool's is by the login.
    static const std::shared_ptr<Http> http = Http::forJob("https");
    const std::map<std::string, std::string> headers{{"username", kUser}, {"sessionid", *id}};
    struct Chain {
        std::mutex mutex;
        std::condition_variable ended;
        int left = 0;
        bool failed = false;
    };
    auto chain = std::make_shared<Chain>();
    std::function<void()> next;
    next = [&] {
        http->query<Server_UserProfile>(
            "/userprofile/getprofile/", "GET", headers, key, "application/json",
            [&, chain](std::optional<Server_UserProfile> answer, HttpHeaders, std::optional<HTTPError> error) {
                bool more = false;
                {
                    std::lock_guard lock(chain->mutex);
                    if (!answer || error) chain->failed = true;
                    more = --chain->left > 0 && !chain->failed;
                    if (!more) chain->ended.notify_all();
                }
                if (more) next();
            });
    };
    const auto runChain = [&](int requests) {
        {
            std::lock_guard lock(chain->mutex);
            chain->left = requests;
        }
        next();
        std::unique_lock lock(chain->mutex);
        chain->ended.wait_for(lock, kGuard, [&] { return chain->left <= 0 || chain->failed; });
        return !chain->failed && chain->left <= 0;
    };
    if (!runChain(1)) state.SkipWithError("a request failed");
    for (auto _ : state) {
        if (!runChain(kJobs)) state.SkipWithError("a request failed");
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
}

BENCHMARK(BM_Jobs_SignedGet)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Curl_SignedGet)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Http_SignedGet)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    engine();
    const int status = benchsupport::run(argc, argv, [&](const benchsupport::TimesReporter& t) {
        std::printf("\n%d jobs opened %zu connections\n", engine().done, engine().connections);
        const double jobs = t.seconds("BM_Jobs_SignedGet") / kJobs;
        const double requests = t.seconds("BM_Curl_SignedGet") / kJobs;
        const double transport = t.seconds("BM_Http_SignedGet") / kJobs;
        if (jobs > 0 && requests > 0)
            std::printf("\n%d signed profile queries, medians: %.1f us per job, %.1f us per request on one "
                        "connection, time jobs/requests = %.2f (target <= 1.20)\n",
                        kJobs, jobs * 1e6, requests * 1e6, jobs / requests);
        if (jobs > 0 && requests > 0 && transport > 0)
            std::printf("the same requests through the library's transport alone: %.1f us per request, "
                        "%.2f x curl; the job of its own: %.1f us, time jobs/transport = %.2f\n",
                        transport * 1e6, transport / requests, (jobs - transport) * 1e6, jobs / transport);
    });
    curl_global_cleanup();
    return status;
}
