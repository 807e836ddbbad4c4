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

// Names of mixed scripts and forms, so the name order meets both the plain
// ASCII path and normalisation.
std::string nameOf(int n) {
    static const char* stems[] = {"Rapport %05d.pdf", "R\xc3\xa9sum\xc3\xa9 %05d.docx", "Photo %05d.jpg",
                                  "A\xcc\x8a %05d", "\xe5\x86\x99\xe7\x9c\x9f %05d.png", "notes-%05d.txt"};
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, stems[n % 6], (n * 7919) % kItems);
    return buffer;
}

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

// A settings folder of the run's own, so the benchmark leaves no settings
// file behind.
class ConfigFolder {
public:
    ConfigFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "bench-tables-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
        if (!path_.empty()) ::setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
    }
    ~ConfigFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }

private:
    std::filesystem::path path_;
};

}  // namespace

int main(int argc, char** argv) {
    ConfigFolder config;
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
