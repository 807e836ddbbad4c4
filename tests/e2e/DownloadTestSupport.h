#pragma once

// The download tests' common ground, on top of the file tests': a logged-in
// account that records its transfer notifications, files stored as another
// client would have left them (blocks encrypted and hashed on OpenSSL, the
// tree hash by the stand-in's own code), a destination folder of the test's
// own, and what a job ended with.

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FileTestSupport.h"
#include "devserver/Signing.h"
#include "devserver/TransferEndpoints.h"
#include "jobs/SrvComm.h"
#include "xfer/XferNotifications.h"

namespace ostrelcomm::downloadtest {

using filetest::server;
using Posted = testsupport::PostedNotification;
namespace fs = std::filesystem;

inline constexpr std::uint64_t kBlock = 4'194'304;

inline std::string sha256Hex(const Bytes& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(bytes.data(), bytes.size(), digest);
    return devserver::hexLower(std::span<const std::uint8_t>(digest, sizeof digest));
}

inline Bytes patterned(std::uint64_t size, std::uint8_t seed = 7) {
    Bytes bytes(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    return bytes;
}

inline Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Every entry of a folder, by name.
inline std::set<std::string> entriesOf(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// A folder of the test's own, with a destination inside it, removed at the end.
struct TempFolder {
    fs::path root;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "download-test-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    fs::path destination() const { return root / "dest"; }
};

// How a stored file differs from a sound one.
struct Spoil {
    std::optional<std::string> serverTreehash;
    // Absent: the metadata carries the sound tree hash.
    std::optional<std::optional<std::string>> metadataTreehash;
    std::optional<std::vector<devserver::Chunk>> chunks;
    std::optional<std::uint64_t> size;
};

struct StoredFile {
    std::string uuid;
    Bytes clear;
    filetest::ListingOracle::Item item;
    std::vector<devserver::Chunk> chunks;
    std::vector<std::string> bodies;
};

struct Outcome {
    std::string result;
    std::optional<Posted> end;
    std::optional<std::string> error;
    std::string localURL() const {
        const auto* data = end ? end->data<xfer::RemoteFileDownloadPayload>() : nullptr;
        if (!data || !data->count(xfer::kDownloadLocalURLKey)) return {};
        return std::any_cast<std::string>(data->at(xfer::kDownloadLocalURLKey));
    }
    template <class T>
    T value(const char* key) const {
        const auto* data = end ? end->data<xfer::RemoteFileDownloadPayload>() : nullptr;
        EXPECT_TRUE(data && data->count(key)) << key;
        return data && data->count(key) ? std::any_cast<T>(data->at(key)) : T{};
    }
};

struct DownloadSession : filetest::FileSession {
    testsupport::NotificationRecorder transfers{
        engine->notifications(), {xfer::kRemoteFileDownloadNotification, xfer::kLocalFileUploadNotification}};
    TempFolder folder;

    explicit DownloadSession(const std::string& stem) : FileSession("dl-" + stem) {}

    // The file `clear` named `name`, cut in 4 MiB blocks, each encrypted under
    // the file key (CBC, the key's own IV) on OpenSSL.
    StoredFile store(const Bytes& clear, const std::string& name, const Spoil& spoil = {}) const {
        StoredFile file;
        file.clear = clear;
        const Bytes key(file.item.itemKey.begin() + 16, file.item.itemKey.end());
        const Bytes iv(file.item.itemKey.begin(), file.item.itemKey.begin() + 16);
        for (std::uint64_t begin = 0; begin < clear.size(); begin += kBlock) {
            const std::uint64_t end = std::min<std::uint64_t>(begin + kBlock, clear.size());
            const Bytes cipher = testsupport::oracleCbcEncrypt(
                key, iv, Bytes(clear.begin() + static_cast<std::ptrdiff_t>(begin), clear.begin() + static_cast<std::ptrdiff_t>(end)));
            file.chunks.push_back(devserver::Chunk{begin, end - 1, sha256Hex(cipher)});
            file.bodies.emplace_back(cipher.begin(), cipher.end());
        }
        const std::string treehash = devserver::treeHashHex(file.chunks);
        nlohmann::json metadata{{"name", name},
                                {"creationDate", "2021-03-04T05:06:07Z"},
                                {"modificationDate", "2021-03-04T05:06:07Z"},
                                {"fileSize", clear.size()},
                                {"filehash-SHA256", sha256Hex(clear)}};
        const auto metadataTreehash = spoil.metadataTreehash.value_or(std::optional<std::string>(treehash));
        if (metadataTreehash) metadata["treehash-SHA256"] = *metadataTreehash;
        file.item.metadata = metadata.dump();

        devserver::Item stored;
        stored.owner = owner();
        stored.itemkey = oracle().wrappedItemKey(file.item);
        stored.metadata = oracle().sealedMetadata(file.item);
        stored.size = spoil.size.value_or(clear.size());
        stored.chunks = spoil.chunks.value_or(file.chunks);
        stored.treehash = spoil.serverTreehash.value_or(treehash);
        auto added = devserver::storeFile(server(), stored, file.bodies);
        EXPECT_TRUE(added);
        file.uuid = added ? added->uuid : std::string();
        return file;
    }

    // Downloads `uuid` into `into` (the test's destination by default) and
    // waits until the engine has run dry.
    Outcome download(const std::string& uuid, const std::optional<fs::path>& into = std::nullopt) {
        transfers.clear();
        auto id = engine->fileReceive_add(uuid, into.value_or(folder.destination()), "item name", "dl-tag");
        EXPECT_TRUE(id);
        EXPECT_TRUE(recorder.waitIdle());
        Outcome outcome;
        outcome.end = transfers.last(xfer::kRemoteFileDownloadNotification);
        if (outcome.end) outcome.result = outcome.end->result;
        if (outcome.result == xfer::kError) outcome.error = testsupport::lastError(*engine);
        return outcome;
    }

    fs::path temporaryFile(const std::string& uuid) const {
        return folder.destination() / (uuid + ".OstrelDownload");
    }
};

}  // namespace ostrelcomm::downloadtest
