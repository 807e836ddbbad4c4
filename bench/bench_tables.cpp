// The remote table's reload over a folder of 10,000 items: its rows filled
// from the listing (plus the shares node at the top) and sorted by name, the
// table's model reset, beside the library's own sort by name of a copy of the
// same listing, in the same run. Target: the reload within 1.5 times the
// copy and sort.
#include "BenchSupport.h"

#include <QApplication>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "app/window/MainViewController.h"
#include "devserver/Base64.h"
#include "support/CryptoOracle.h"
#include "tree/RemoteDirInfo.h"

using namespace ostrelcomm;

namespace {

constexpr int kItems = 10000;

std::string nameOf(int n) { return benchsupport::mixedName(n, kItems); }

// A listing of kItems items as the library reads it from the server's body.
std::shared_ptr<RemoteDirInfo> makeListing() {
    const Bytes passwordKey = testsupport::oraclePasswordKey("benchmark password");
    const Bytes umk = testsupport::oracleRandom(48);
    const Bytes umkKey(umk.begin() + 16, umk.end());
    nlohmann::json body = {{"umk", testsupport::oracleWrap(umk, passwordKey)}, {"content", nlohmann::json::array()}};
    for (int n = 0; n < kItems; ++n) {
        const Bytes itemKey = testsupport::oracleRandom(48);
        const std::string metadata = nlohmann::json{{"name", nameOf(n)},
                                                    {"creationDate", "2021-03-04T05:06:07Z"},
                                                    {"modificationDate", "2022-01-02T03:04:05Z"},
                                                    {"fileSize", n * 1000}}
                                         .dump();
        const Bytes sealed = testsupport::oracleSeal(Bytes(itemKey.begin() + 16, itemKey.end()), toBytes(metadata));
        body["content"].push_back({{"uuid", "UUID-" + std::to_string(n)},
                                   {"type", n % 5 == 0 ? "DIRECTORY" : "FILE"},
                                   {"orig_size", n * 1024},
                                   {"attrib", n % 7 == 0 ? nlohmann::json{"shared"} : nlohmann::json::array()},
                                   {"metadata", devserver::base64Encode(sealed)},
                                   {"itemkey", testsupport::oracleWrap(itemKey, umkKey)},
                                   {"thumbnailsize", 0}});
    }
    return RemoteDirInfo::create(toBytes(body.dump()), passwordKey);
}

std::shared_ptr<RemoteDirInfo>& listing() {
    static std::shared_ptr<RemoteDirInfo> made = makeListing();
    return made;
}

quorvel::MainViewController* view = nullptr;

void BM_Ours_ReloadRemoteTable(benchmark::State& state) {
    quorvel::Appwise::shared().setRemoteDirectoryInfo(listing());
    for (auto _ : state) {
        view->reloadRemoteFileList();
        if (view->remoteItemsTableContent().content.size() != kItems + 1) state.SkipWithError("wrong row count");
    }
}

void BM_Library_CopyAndSortListing(benchmark::State& state) {
    const RemoteDirInfo& original = *listing();
    for (auto _ : state) {
        RemoteDirInfo copy = original;
        copy.contentsOrderedBy(RemoteDirInfo::FileOrder::name, true);
        benchmark::DoNotOptimize(copy.content.data());
    }
}

BENCHMARK(BM_Ours_ReloadRemoteTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Library_CopyAndSortListing)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchsupport::ConfigFolder config("bench-tables");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    quorvel::Appwise::installShared(std::make_unique<quorvel::Appwise>(
        "com.quorvel.bench.tables", std::make_shared<quorvel::MessageBoxAlertPresenter>()));
    quorvel::MainViewController mainView;
    view = &mainView;
    listing();
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        const double ours = t.seconds("BM_Ours_ReloadRemoteTable");
        const double library = t.seconds("BM_Library_CopyAndSortListing");
        if (ours <= 0 || library <= 0) return;
        std::printf("\nremote table of %d items, filled and sorted by name (target: within 1.5x)\n", kItems);
        std::printf("  reload %.2f ms   library copy and sort %.2f ms   ratio %.2f   %s\n", ours * 1000,
                    library * 1000, ours / library, ours <= 1.5 * library ? "within target" : "OVER TARGET");
    });
}
