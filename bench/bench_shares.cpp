// Opening the items shared with the user: Server_GetSharedItems::decryptKeys
// over 1,000 items beside the same work called directly in the same run
// (libsodium's crypto_box_beforenm for each item's shared key, OpenSSL EVP
// for the item key's unwrap and the metadata's decryption, one JSON parse of
// the metadata), with the ratio of the two printed at the end.

#include "BenchSupport.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#if __has_include(<sodium.h>)
#include <sodium.h>
#define QUORVEL_BENCH_SODIUM 1
#endif

#include "crypto/curve25519/PrivateKey.h"
#include "shares/Server_GetSharedItems.h"
#include "support/CryptoOracle.h"

namespace {

using namespace ostrelcomm;
using testsupport::oracleOpen;
using testsupport::oracleRandom;
using testsupport::oracleSeal;
using testsupport::oracleUnwrap;
using testsupport::oracleWrap;

constexpr std::size_t kItems = 1000;

// One owner sharing kItems files with the reader, each with its own key and
// metadata, all made on OpenSSL (and libsodium for the shared key).
struct Fixture {
    Bytes readerPrivate = oracleRandom(32);
    Bytes ownerPrivate = oracleRandom(32);
    Bytes ownerPublic = Bytes(32);
    Bytes passwordKey = testsupport::oraclePasswordKey("bench password");
    Server_GetSharedItems answer;
    bool ready = false;

    Fixture() {
#ifdef QUORVEL_BENCH_SODIUM
        if (sodium_init() < 0) return;
        crypto_scalarmult_base(ownerPublic.data(), ownerPrivate.data());
        Bytes shared(32);
        if (crypto_box_beforenm(shared.data(), ownerPublic.data(), readerPrivate.data()) != 0) return;
        for (std::size_t i = 0; i < kItems; ++i) {
            const Bytes itemKey = oracleRandom(48);
            const std::string metadata = R"({"name":"file )" + std::to_string(i) +
                                         R"(.pdf","creationDate":"2021-03-04T05:06:07Z",)"
                                         R"("modificationDate":"2022-01-02T03:04:05Z","fileSize":123456,)"
                                         R"("mime":"application/pdf","filehash-SHA256":")" +
                                         std::string(64, 'a') + R"("})";
            Server_GetSharedItems::RawRemoteItemInfo raw{};
            raw.ownerusername = "owner";
            raw.ownerpubshkey = ownerPublic;
            raw.owneruuid = "owner-uuid";
            raw.shareid = "share-" + std::to_string(i);
            raw.itemuuid = "item-" + std::to_string(i);
            raw.itemkey = oracleWrap(itemKey, shared);
            raw.keyalgorythm = "aes256";
            raw.itemtype = RemoteItemType::FILE;
            raw.orig_size = 123456;
            raw.treehash = std::string(64, 'b');
            raw.itemalgorythm = "aes256";
            raw.itemencoderversion = "1.0";
            raw.metadata = oracleSeal(Bytes(itemKey.begin() + 16, itemKey.end()), toBytes(metadata));
            answer.sharedItems.push_back(std::move(raw));
        }
        ready = true;
#endif
    }

    PrivateKey reader() const {
        Bytes carrier = oracleRandom(16);
        carrier.insert(carrier.end(), readerPrivate.begin(), readerPrivate.end());
        return PrivateKey(oracleWrap(carrier, passwordKey), passwordKey);
    }
};

const Fixture& fixture() {
    static const Fixture f;
    return f;
}

void DecryptKeys_ours(benchmark::State& state) {
    const Fixture& f = fixture();
    if (!f.ready) {
        state.SkipWithError("libsodium is missing");
        return;
    }
    const PrivateKey reader = f.reader();
    for (auto _ : state) {
        const auto items = f.answer.decryptKeys(reader);
        if (items.size() != kItems) state.SkipWithError("an item did not open");
        benchmark::DoNotOptimize(items.data());
    }
}
BENCHMARK(DecryptKeys_ours)->Unit(benchmark::kMillisecond);

#ifdef QUORVEL_BENCH_SODIUM
void DecryptKeys_direct(benchmark::State& state) {
    const Fixture& f = fixture();
    if (!f.ready) {
        state.SkipWithError("libsodium is missing");
        return;
    }
    for (auto _ : state) {
        std::size_t opened = 0;
        for (const auto& raw : f.answer.sharedItems) {
            Bytes shared(32);
            if (crypto_box_beforenm(shared.data(), raw.ownerpubshkey.data(), f.readerPrivate.data()) != 0) continue;
            const auto itemKey = oracleUnwrap(raw.itemkey, shared);
            if (!itemKey || itemKey->size() != 48) continue;
            const auto clear = oracleOpen(Bytes(itemKey->begin() + 16, itemKey->end()), raw.metadata);
            if (!clear) continue;
            const auto metadata = nlohmann::json::parse(clear->begin(), clear->end(), nullptr, false);
            if (metadata.is_discarded()) continue;
            benchmark::DoNotOptimize(metadata);
            ++opened;
        }
        if (opened != kItems) state.SkipWithError("an item did not open");
    }
}
BENCHMARK(DecryptKeys_direct)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
    return benchsupport::run(argc, argv, [](const benchsupport::TimesReporter& t) {
        const double ours = t.seconds("DecryptKeys_ours");
        const double direct = t.seconds("DecryptKeys_direct");
        std::printf("\ndecryptKeys over %zu items, ours / direct (target: <= 1.60)\n", kItems);
        if (ours > 0 && direct > 0)
            std::printf("  %10.2f ms  %10.2f ms  ratio %.2f\n", ours * 1e3, direct * 1e3, ours / direct);
    });
}
