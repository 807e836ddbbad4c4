// A 4 MiB PUT and GET through UrlSession to the in-process devserver, beside
// libcurl's easy API sending the same bytes to the same server in the same run,
// over a kept-alive connection and over a new one each time. Both sides keep
// the answer in a buffer reserved to its announced length. Prints the median,
// over every request, of the speed of UrlSession relative to libcurl for the
// same request sent right before or after it (target: >= 0.8): ratios of whole
// repetitions swing with whatever else the machine does.
#include "BenchSupport.h"
#include <curl/curl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "devserver/DevServer.h"
#include "platform/UrlSession.h"

namespace {

using namespace ostrelcomm;

constexpr std::size_t kPayloadSize = 4 * 1024 * 1024;

struct Fixture {
    devserver::DevServer server;
    std::string directory;
    std::string caFile;
    std::string url;
    std::string payload;
    std::mutex mutex;
    std::string stored;

    Fixture() {
        std::mt19937_64 random(42);
        payload.resize(kPayloadSize);
        for (auto& c : payload) c = static_cast<char>(random());
        server.route("PUT", "/bench/blob/",
                     {"bench_put", devserver::Access::open, [this](const devserver::ServerRequest& r) {
                          std::lock_guard lock(mutex);
                          stored = r.body;
                          return devserver::Reply::json({{"size", r.body.size()}});
                      }});
        server.route("GET", "/bench/blob/",
                     {"bench_get", devserver::Access::open, [this](const devserver::ServerRequest&) {
                          std::lock_guard lock(mutex);
                          return devserver::Reply::bytes(stored);
                      }});
        server.start();
        char pattern[] = "/tmp/quorvel-bench-XXXXXX";
        directory = mkdtemp(pattern);
        caFile = directory + "/ca.pem";
        server.writeCaCertificate(caFile);
        url = server.baseUrl() + "/bench/blob/";
        stored = payload;
    }
    ~Fixture() {
        server.stop();
        std::remove(caFile.c_str());
        ::rmdir(directory.c_str());
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

// --- UrlSession -------------------------------------------------------------

UrlRequest makeRequest(bool put) {
    auto& f = fixture();
    UrlRequest request(f.url);
    request.httpMethod = put ? "PUT" : "GET";
    request.allHTTPHeaderFields = {{"Accept", put ? "application/json" : "application/octet-stream"}};
    if (put) {
        request.allHTTPHeaderFields["Content-Type"] = "application/octet-stream";
        request.httpBody = Bytes(f.payload.begin(), f.payload.end());
    }
    return request;
}

std::size_t runUrlSession(UrlSession& session, UrlRequest request) {
    std::promise<std::size_t> done;
    auto received = done.get_future();
    session
        .dataTask(std::move(request),
                  [&done](std::optional<Bytes> data, std::optional<HttpUrlResponse> response,
                          std::optional<UrlError> error) {
                      const bool ok = !error && response && response->statusCode == 200 && data;
                      done.set_value(ok ? data->size() : 0);
                  })
        ->resume();
    return received.get();
}

UrlSessionConfiguration benchConfiguration() {
    UrlSessionConfiguration configuration;
    configuration.additionalCaFile = fixture().caFile;
    configuration.timeoutIntervalForRequest = 10;
    configuration.timeoutIntervalForResource = 30;
    return configuration;
}

// --- libcurl's easy API, the reference --------------------------------------

struct Received {
    CURL* easy = nullptr;
    std::string body;
};

// Reserves the announced length on the first piece, as the session does.
size_t collect(char* data, size_t size, size_t count, void* user) {
    auto& r = *static_cast<Received*>(user);
    if (r.body.empty()) {
        curl_off_t announced = -1;
        if (curl_easy_getinfo(r.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK && announced > 0)
            r.body.reserve(static_cast<std::size_t>(announced));
    }
    r.body.append(data, size * count);
    return size * count;
}

std::size_t runCurl(CURL* easy, bool put) {
    auto& f = fixture();
    Received received{easy, {}};
    curl_easy_setopt(easy, CURLOPT_URL, f.url.c_str());
    curl_easy_setopt(easy, CURLOPT_CAINFO, f.caFile.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Expect:");
    headers = curl_slist_append(headers, put ? "Accept: application/json" : "Accept: application/octet-stream");
    headers = curl_slist_append(headers, put ? "Content-Type: application/octet-stream" : "Content-Type:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    if (put) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(f.payload.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, f.payload.data());
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "PUT");
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
    }
    const CURLcode result = curl_easy_perform(easy);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    return result == CURLE_OK && status == 200 ? received.body.size() : 0;
}

// --- one request at a time, the two sides alternating ------------------------

// Per-request times of each pairing, gathered over every repetition.
struct Pairs {
    std::vector<double> ours;
    std::vector<double> curl;
};
std::map<std::string, Pairs>& pairs() {
    static std::map<std::string, Pairs> all;
    return all;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Each iteration sends the request once through a UrlSession and once
// through libcurl, which side goes first alternating, and times each alone,
// so that a machine busy with other work slows both sides of a pair alike.
// `reuse`: one session and one handle for the whole run (a kept-alive
// connection); else a new one for every request (a TLS handshake each).
void paired(benchmark::State& state, const char* name, bool put, bool reuse) {
    using Clock = std::chrono::steady_clock;
    auto session = std::make_unique<UrlSession>(benchConfiguration());
    CURL* easy = curl_easy_init();
    Pairs& record = pairs()[name];
    bool oursFirst = true;
    for (auto _ : state) {
        // Requests are built outside the timed part: libcurl sends straight
        // from the payload's own buffer, without that copy either.
        UrlRequest request = makeRequest(put);
        double oursSeconds = 0;
        double curlSeconds = 0;
        std::size_t oursBytes = 0;
        std::size_t curlBytes = 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == oursFirst) {
                const auto start = Clock::now();
                if (!reuse) session = std::make_unique<UrlSession>(benchConfiguration());
                oursBytes = runUrlSession(*session, std::move(request));
                oursSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            } else {
                const auto start = Clock::now();
                if (!reuse) {
                    curl_easy_cleanup(easy);
                    easy = curl_easy_init();
                }
                curlBytes = runCurl(easy, put);
                curlSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            }
        }
        oursFirst = !oursFirst;
        if (oursBytes == 0 || curlBytes == 0) {
            state.SkipWithError("transfer failed");
            break;
        }
        record.ours.push_back(oursSeconds);
        record.curl.push_back(curlSeconds);
    }
    curl_easy_cleanup(easy);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * kPayloadSize));
}

const char* const kPairings[] = {"put_reused", "get_reused", "put_fresh", "get_fresh"};

BENCHMARK_CAPTURE(paired, put_reused, "put_reused", true, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK_CAPTURE(paired, get_reused, "get_reused", false, true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK_CAPTURE(paired, put_fresh, "put_fresh", true, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK_CAPTURE(paired, get_fresh, "get_fresh", false, false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    fixture();
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter&) {
        std::printf("\nUrlSession beside libcurl, one 4 MiB request at a time, sides alternating (target >= 0.80):\n");
        std::printf("  %-11s %8s %12s %12s %16s\n", "", "pairs", "ours (ms)", "curl (ms)", "median speed");
        for (const char* what : kPairings) {
            const auto found = pairs().find(what);
            if (found == pairs().end() || found->second.ours.empty()) continue;
            const Pairs& p = found->second;
            std::vector<double> ratios;
            for (std::size_t i = 0; i < p.ours.size(); ++i) ratios.push_back(p.curl[i] / p.ours[i]);
            std::printf("  %-11s %8zu %12.2f %12.2f %16.2f\n", what, ratios.size(), median(p.ours) * 1e3,
                        median(p.curl) * 1e3, median(ratios));
        }
    }, 5);
}
