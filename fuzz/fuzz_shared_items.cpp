// What a hostile server can hand the list of items shared with the user: any
// body, read and then opened with a fixed private sharing key. It must give
// the answer or a decode error, and then the items that open, never a crash,
// hang, leak or other exception. Bodies the fuzzer writes rarely carry keys
// that open, so on request the target gives the items of a body that parses
// a sound owner key and item key, and seals their "metadata" texts under the
// item key, so that the metadata reader behind the key chain sees the
// fuzzer's records.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "crypto/CbcEnvelope.h"
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/PrivateKey.h"
#include "crypto/curve25519/SharedSecretKey.h"
#include "encoding/Encoding.h"
#include "json/StrictJson.h"
#include "platform/SystemLog.h"
#include "shares/Server_GetSharedItems.h"

using namespace ostrelcomm;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

struct Keys {
    PrivateKey reader;
    PrivateKey owner;
    EncryptionKey item{CipherAlgorithm::aes256, 32};
    std::string pubshkey = base64Encode(owner.publicKey().KeyValue());
    std::string itemkey = item.encryptKeyText(SharedSecretKey(reader, owner.publicKey()).KeyValue().view());
};

const Keys& keys() {
    static const Keys k = [] {
        // The skipped items' lines would flood the fuzzer's output.
        setSystemLogSink([](const std::string&) {});
        return Keys{};
    }();
    return k;
}

void mend(nlohmann::json& body) {
    if (!body.contains("sharedItems") || !body["sharedItems"].is_array()) return;
    for (auto& item : body["sharedItems"]) {
        if (!item.is_object()) continue;
        item["ownerpubshkey"] = keys().pubshkey;
        item["itemkey"] = keys().itemkey;
        if (item.contains("metadata") && item["metadata"].is_string()) {
            const auto& clear = item["metadata"].get_ref<const std::string&>();
            item["metadata"] = base64Encode(CbcEnvelope::seal(keys().item.key.key.view(), Bytes(16, 7), asBytes(clear)));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)keys();
    FuzzedDataProvider in(data, size);
    const bool mended = in.ConsumeBool();
    std::string body = in.ConsumeRemainingBytesAsString();
    if (mended) {
        // The depth check of the reader comes first, so the mended body is
        // never deeper than one it would refuse.
        try {
            (void)json::parse(std::string_view(body));
        } catch (const json::DecodeError&) {
            return 0;
        }
        auto value = nlohmann::json::parse(body, nullptr, false);
        if (!value.is_object()) return 0;
        mend(value);
        body = value.dump();
    }
    std::optional<Server_GetSharedItems> answer;
    try {
        answer = Server_GetSharedItems::fromBody(asBytes(body));
    } catch (const json::DecodeError&) {
        return 0;
    }
    const auto items = answer->decryptKeys(keys().reader);
    check(items.size() <= answer->sharedItems.size());
    for (const SharedItem& item : items) {
        check(item.itemkey.key.iv.size() == 16 && item.itemkey.key.key.size() == 32);
        if (mended) check(item.itemkey.key.key.copyOut() == keys().item.key.key.copyOut());
    }
    return 0;
}
