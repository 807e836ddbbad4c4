// What another client or a hostile server can hand the sealed item records:
// clear metadata and thumbnail forms, and sealed bytes under a fixed item
// key. Each must give a record or the record's own error: no crash, hang,
// leak or other exception.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

#include "crypto/CbcEnvelope.h"
#include "crypto/EncryptionKey.h"
#include "json/StrictJson.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemThumbnail.h"

using namespace ostrelcomm;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

const EncryptionKey& fixedKey() {
    static const EncryptionKey key = [] {
        EncryptionKey k(CipherAlgorithm::aes256, 32);
        k.key.key = SecretBytes(Bytes(32, 0x42));
        return k;
    }();
    return key;
}

void clearForms(const Bytes& clear) {
    try {
        const auto metadata = RemoteItemMetadata::decode(clear);
        // Whatever was read is written back and read alike.
        check(RemoteItemMetadata::decode(metadata.encode()) == metadata);
    } catch (const json::DecodeError&) {
    }
    try {
        const auto thumbnail = RemoteItemThumbnail::decode(clear);
        check(RemoteItemThumbnail::decode(thumbnail.encode()) == thumbnail);
    } catch (const json::DecodeError&) {
    }
}

void sealed(const Bytes& cypher) {
    try {
        const auto metadata = RemoteItemMetadata::decrypt(cypher, fixedKey());
        check(!metadata.thumbnail || metadata.thumbnail->size() < cypher.size());
    } catch (const RemoteItemMetadata::MetadataError&) {
    }
    try {
        (void)RemoteItemThumbnail::decrypt(cypher, fixedKey());
    } catch (const RemoteItemThumbnail::ThumbnailError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange<int>(0, 2);
    const Bytes rest = in.ConsumeRemainingBytes<std::uint8_t>();
    switch (mode) {
        case 0: clearForms(rest); break;
        case 1: sealed(rest); break;
        default:
            // The clear bytes sealed under the fixed key, so the readers behind
            // the cipher see the fuzzer's text.
            sealed(CbcEnvelope::seal(fixedKey().key.key.view(), Bytes(16, 0), rest));
            break;
    }
    return 0;
}
