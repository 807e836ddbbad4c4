// The transport's own cost: building and signing one request, and a signed
// 4 MiB upload round trip through Http to the in-process stand-in server,
// beside libcurl sending the very same request (same bytes, same headers) to
// the same server over a reused connection, both plain and with the body
// digest that the protocol makes every client compute. Prints both side by
// side at the end.
#include "BenchSupport.h"
#include <curl/curl.h>
#include <stdlib.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

#include "crypto/Digest.h"
#include "crypto/Random.h"
#include "devserver/DevServer.h"
#include "http/Http.h"
#include "http/Server_GenericConfirmation.h"

using namespace ostrelcomm;

namespace {

constexpr std::size_t kBlock = 4 * 1024 * 1024;
constexpr const char* kSession = "bench-session";
constexpr const char* kUser = "bench";

const SecretBytes kKey(randomBytes(32));
const Bytes kPayload = randomBytes(kBlock);
const std::map<std::string, std::string> kHeaders = {
    {"username", kUser}, {"sessionid", kSession}, {"item-uuid", "0B8C5E0E-3D7A-4E3F-9F4B-2D7E1C2A9B10"}};

struct Server {
    devserver::DevServer server;
    std::string caFile;

    Server() {
        server.sessions().add({kSession, kKey.copyOut(), kUser, false});
        server.route("PUT", "/bench/store/",
                     {"BENCH_STORE", devserver::Access::session, [](const devserver::ServerRequest&) {
                          return devserver::Reply::json({{"itemUUID", "I"}});
                      }});
        server.start();
        caFile = (std::filesystem::temp_directory_path() / ("quorvel-bench-ca-" + std::to_string(::getpid()) + ".pem"))
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

void BM_BuildAndSignRequest(benchmark::State& state) {
    server();
    auto http = std::make_shared<Http>("https", true, UrlSessionConfiguration::ephemeral(), std::nullopt);
    for (auto _ : state) {
        auto built = http->buildRequest("/dir/list/", "GET", kHeaders, std::nullopt, std::nullopt, kKey,
                                        "application/json", std::chrono::system_clock::now());
        benchmark::DoNotOptimize(built);
    }
}

void BM_Http_Upload4MiB(benchmark::State& state) {
    server();
    auto http = std::make_shared<Http>("https", true, UrlSessionConfiguration::ephemeral(), std::nullopt);
    std::mutex mutex;
    std::condition_variable done;
    for (auto _ : state) {
        // A job hands its encrypted block over; the copy made here is not the transport's.
        state.PauseTiming();
        Bytes block = kPayload;
        state.ResumeTiming();
        bool finished = false;
        bool ok = false;
        http->queryWithPayload<Server_GenericConfirmation>(
            "/bench/store/", "PUT", kHeaders, "application/octet-stream", std::move(block), kKey, "application/json",
            [&](std::optional<Server_GenericConfirmation> value, HttpHeaders, std::optional<HTTPError>, Bytes) {
                std::lock_guard lock(mutex);
                finished = true;
                ok = value.has_value();
                done.notify_all();
            });
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return finished; });
        if (!ok) state.SkipWithError("the upload failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

// The same signed request, sent by libcurl alone on one reused handle; with
// `hashBody`, also hashing the body each time as any client of the protocol
// must before it can sign.
void curlUpload(benchmark::State& state, bool hashBody) {
    server();
    auto http = std::make_shared<Http>("https", true, UrlSessionConfiguration::ephemeral(), std::nullopt);
    auto built = http->buildRequest("/bench/store/", "PUT", kHeaders, "application/octet-stream", kPayload, kKey,
                                    "application/json", std::chrono::system_clock::now());
    curl_slist* headers = nullptr;
    for (const auto& [name, value] : built.request.allHTTPHeaderFields)
        headers = curl_slist_append(headers, (name + ": " + value).c_str());
    headers = curl_slist_append(headers, "Expect:");
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, built.request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PUT");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, built.request.httpBody->data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(built.request.httpBody->size()));
    curl_easy_setopt(curl, CURLOPT_CAINFO, server().caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    for (auto _ : state) {
        if (hashBody) benchmark::DoNotOptimize(sha256(*built.request.httpBody));
        long status = 0;
        if (curl_easy_perform(curl) != CURLE_OK || curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
            status != 200)
            state.SkipWithError("the upload failed");
    }
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBlock));
}

void BM_Curl_Upload4MiB(benchmark::State& state) { curlUpload(state, false); }
void BM_CurlAndDigest_Upload4MiB(benchmark::State& state) { curlUpload(state, true); }

BENCHMARK(BM_BuildAndSignRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Http_Upload4MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Curl_Upload4MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlAndDigest_Upload4MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        const double ours = t.seconds("BM_Http_Upload4MiB");
        const double curl = t.seconds("BM_Curl_Upload4MiB");
        const double curlAndDigest = t.seconds("BM_CurlAndDigest_Upload4MiB");
        if (ours > 0) {
            std::printf("\n4 MiB signed upload, medians      time (ms)   speed of Http relative to it\n");
            std::printf("  Http                          %10.2f\n", ours * 1e3);
            if (curl > 0)
                std::printf("  libcurl, pre-signed body      %10.2f   %.3f\n", curl * 1e3, curl / ours);
            if (curlAndDigest > 0)
                std::printf("  libcurl + body digest         %10.2f   %.3f (target >= 0.8)\n", curlAndDigest * 1e3,
                            curlAndDigest / ours);
        }
        const double build = t.seconds("BM_BuildAndSignRequest");
        if (build > 0 && ours > 0)
            std::printf("building and signing a request = %.1f us, %.4f%% of a 4 MiB round trip\n", build * 1e6,
                        100.0 * build / ours);
    });
    curl_global_cleanup();
    return status;
}
