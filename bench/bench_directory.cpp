// Listing a local folder of 10,000 files with 100 distinct extensions (names,
// attributes, MIME types from the names, icons) beside a plain readdir and
// statx loop over the same folder, and sorting the listing by name beside
// std::sort of the same names by their bytes. The target for the listing is
// at most 4 times the plain loop.
//
// A listing keeps the MIME types of its folder's names for the next listing
// of that folder, so the listing is timed twice: a first listing (two folders
// of the same names listed in turn, so each listing finds the other's types)
// and a listing of the same folder again, as at each change of the folder on
// show. Runs on the offscreen platform; the folders are made under $TMPDIR
// (or /tmp) and removed at the end.
#include "BenchSupport.h"

#include <QApplication>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/local/Directory.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 10000;

// 100 extensions as they are met in a home folder.
const char* const kExtensions[] = {
    "txt",  "pdf",  "jpg",  "jpeg", "png",  "gif",  "bmp",  "tiff", "svg",  "webp", "heic", "ico",  "psd",  "raw",
    "mp3",  "wav",  "flac", "ogg",  "m4a",  "aac",  "opus", "mid",  "mp4",  "mkv",  "avi",  "mov",  "webm", "wmv",
    "flv",  "mpg",  "doc",  "docx", "xls",  "xlsx", "ppt",  "pptx", "odt",  "ods",  "odp",  "rtf",  "csv",  "tsv",
    "md",   "tex",  "epub", "djvu", "ps",   "eps",  "zip",  "tar",  "gz",   "bz2",  "xz",   "7z",   "rar",  "zst",
    "iso",  "dmg",  "deb",  "rpm",  "apk",  "jar",  "exe",  "msi",  "sh",   "py",   "c",    "h",    "cpp",  "hpp",
    "java", "js",   "ts",   "go",   "rs",   "rb",   "php",  "pl",   "swift", "kt",  "cs",   "html", "css",  "xml",
    "json", "yaml", "toml", "ini",  "sql",  "db",   "sqlite", "log", "bak", "pem",  "crt",  "key",  "ttf",  "otf",
    "woff", "vcf"};
static_assert(sizeof kExtensions / sizeof kExtensions[0] == 100);

// One name in ten is not ASCII (accented, decomposed, CJK), so the name order
// meets both its plain path and normalisation.
std::string nameOf(int n) {
    static const char* const stems[] = {"R\xc3\xa9sum\xc3\xa9 %05d.%s", "A\xcc\x8a %05d.%s",
                                        "\xe5\x86\x99\xe7\x9c\x9f %05d.%s"};
    char buffer[96];
    if (n % 10 == 0) {
        std::snprintf(buffer, sizeof buffer, stems[(n / 10) % 3], (n * 7919) % kFiles, kExtensions[n % 100]);
    } else {
        std::snprintf(buffer, sizeof buffer, "Document %05d.%s", (n * 7919) % kFiles, kExtensions[n % 100]);
    }
    return buffer;
}

class BenchFolder {
public:
    BenchFolder() {
        std::string pattern = (fs::temp_directory_path() / "quorvel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return;
        path_ = pattern;
        for (int n = 0; n < kFiles; ++n) std::ofstream(path_ / nameOf(n)) << n;
    }
    ~BenchFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

const fs::path& folder(int which = 0) {
    static const BenchFolder made[2];
    return made[which].path();
}

// What the plain loop keeps of each entry: what the table shows, but the icon.
struct Plain {
    std::string name;
    std::int64_t size;
    std::int64_t modified;
    bool isFolder;
};

void BM_Ours_FirstListing(benchmark::State& state) {
    int which = 0;
    for (auto _ : state) {
        const quorvel::Directory listing(folder(which));
        which = 1 - which;
        if (listing.files.size() != kFiles) state.SkipWithError("wrong entry count");
        benchmark::DoNotOptimize(listing.files.data());
    }
}

void BM_Ours_ListingAgain(benchmark::State& state) {
    const quorvel::Directory first(folder());
    for (auto _ : state) {
        const quorvel::Directory listing(folder());
        if (listing.files.size() != kFiles) state.SkipWithError("wrong entry count");
        benchmark::DoNotOptimize(listing.files.data());
    }
}

void BM_Plain_ReaddirStatx(benchmark::State& state) {
    int which = 0;
    for (auto _ : state) {
        std::vector<Plain> entries;
        const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder(which).c_str()), &::closedir);
        which = 1 - which;
        if (!dir) state.SkipWithError("cannot open the folder");
        const int descriptor = ::dirfd(dir.get());
        while (const dirent* found = ::readdir(dir.get())) {
            if (found->d_name[0] == '.') continue;
            struct statx attributes {};
            if (::statx(descriptor, found->d_name, AT_STATX_SYNC_AS_STAT, STATX_TYPE | STATX_SIZE | STATX_MTIME,
                        &attributes) != 0)
                continue;
            const bool isFolder = S_ISDIR(attributes.stx_mode);
            entries.push_back({found->d_name, isFolder ? 0 : static_cast<std::int64_t>(attributes.stx_size),
                               attributes.stx_mtime.tv_sec, isFolder});
        }
        if (entries.size() != kFiles) state.SkipWithError("wrong entry count");
        benchmark::DoNotOptimize(entries.data());
    }
}

void BM_Ours_SortByName(benchmark::State& state) {
    const quorvel::Directory listing(folder());
    for (auto _ : state) {
        auto sorted = listing.contentsOrderedBy(quorvel::Directory::FileOrder::name, true);
        benchmark::DoNotOptimize(sorted.data());
    }
}

void BM_Plain_SortNamesByBytes(benchmark::State& state) {
    const quorvel::Directory listing(folder());
    std::vector<std::string> names;
    for (const auto& entry : listing.files) names.push_back(entry.name);
    for (auto _ : state) {
        auto sorted = names;
        std::sort(sorted.begin(), sorted.end());
        benchmark::DoNotOptimize(sorted.data());
    }
}

BENCHMARK(BM_Ours_FirstListing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_ListingAgain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plain_ReaddirStatx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_SortByName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plain_SortNamesByBytes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    if (folder(0).empty() || folder(1).empty()) {
        std::fprintf(stderr, "cannot make the bench folder\n");
        return 1;
    }
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        const double first = t.seconds("BM_Ours_FirstListing");
        const double again = t.seconds("BM_Ours_ListingAgain");
        const double plain = t.seconds("BM_Plain_ReaddirStatx");
        const double sort = t.seconds("BM_Ours_SortByName");
        const double bytes = t.seconds("BM_Plain_SortNamesByBytes");
        if (first <= 0 || again <= 0 || plain <= 0 || sort <= 0 || bytes <= 0) return;
        std::printf("\nlocal folder of %d files, 100 extensions (target: listing at most 4 times the plain loop)\n",
                    kFiles);
        std::printf("  readdir + statx %.1f ms\n", plain * 1e3);
        for (const auto& [what, time] : {std::pair{"first listing", first}, std::pair{"listing again", again}})
            std::printf("  %-14s %6.1f ms   ratio %.2f   %s\n", what, time * 1e3, time / plain,
                        time / plain <= 4 ? "within target" : "OVER TARGET");
        std::printf("  sort by name %.1f ms   std::sort of the names by bytes %.1f ms   ratio %.2f\n", sort * 1e3,
                    bytes * 1e3, sort / bytes);
    });
}
