// What a hostile server can hand the folder listing reader: any body under a
// fixed password key. It must give a listing or a clear error (a decode or
// key error), never a crash, hang, leak or unbounded allocation. Bodies the
// fuzzer writes rarely carry keys that unwrap, so on request the target puts
// sound wrapped keys into a body that parses, and the readers behind the key
// checks see the fuzzer's items and metadata.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "crypto/CbcEnvelope.h"
#include "crypto/CryptoError.h"
#include "crypto/EncryptionKey.h"
#include "encoding/Encoding.h"
#include "json/StrictJson.h"
#include "tree/RemoteDirInfo.h"

using namespace ostrelcomm;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

struct Keys {
    SecretBytes password = EncryptionKey::prepareEncryptionPassword("fuzz password");
    EncryptionKey umk{CipherAlgorithm::aes256, 32};
    EncryptionKey item{CipherAlgorithm::aes256, 32};
    std::string wrappedUmk = umk.encryptKeyText(password.view());
    std::string wrappedItem = item.encryptKeyText(umk.key.key.view());
};

const Keys& keys() {
    static const Keys k;
    return k;
}

// Sound keys in every place that holds a key; the metadata sealed from the
// fuzzer's own text when it gives one.
void mend(nlohmann::json& body) {
    body["umk"] = keys().wrappedUmk;
    const auto mendItem = [](nlohmann::json& item) {
        if (!item.is_object()) return;
        item["itemkey"] = keys().wrappedItem;
        if (item.contains("metadata") && item["metadata"].is_string()) {
            const auto& clear = item["metadata"].get_ref<const std::string&>();
            const Bytes sealed = CbcEnvelope::seal(keys().item.key.key.view(), Bytes(16, 7), asBytes(clear));
            item["metadata"] = base64Encode(sealed);
        }
    };
    if (body.contains("informations")) mendItem(body["informations"]);
    if (body.contains("content") && body["content"].is_array())
        for (auto& item : body["content"]) mendItem(item);
}

void read(const std::string& body) {
    try {
        const auto info = RemoteDirInfo::create(asBytes(body), keys().password.view());
        for (auto order : {RemoteDirInfo::FileOrder::name, RemoteDirInfo::FileOrder::itemType}) {
            const auto before = info->content.size();
            info->contentsOrderedBy(order, body.size() % 2 == 0);
            check(info->content.size() == before);
        }
    } catch (const json::DecodeError&) {
    } catch (const KeyDecodeError&) {
    } catch (const CryptoError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const bool mendKeys = in.ConsumeBool();
    std::string body = in.ConsumeRemainingBytesAsString();
    if (mendKeys) {
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
    read(body);
    return 0;
}
