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

#include "FuzzKeys.h"
#include "crypto/EncryptionKey.h"
#include "encoding/Encoding.h"
#include "json/StrictJson.h"
#include "platform/SystemLog.h"
#include "shares/Server_GetSharedItems.h"

using namespace ostrelcomm;
using fuzzkeys::check;
using fuzzkeys::keys;

namespace {

// The skipped items' lines would flood the fuzzer's output.
void quietLog() {
    static const bool quiet = [] {
        setSystemLogSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
}

void mend(nlohmann::json& body) {
    if (!body.contains("sharedItems") || !body["sharedItems"].is_array()) return;
    for (auto& item : body["sharedItems"]) {
        if (!item.is_object()) continue;
        item["ownerpubshkey"] = keys().pubshkey;
        item["itemkey"] = keys().sharedItemKey;
        fuzzkeys::sealMember(item, "metadata");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quietLog();
    FuzzedDataProvider in(data, size);
    const bool mended = in.ConsumeBool();
    std::string body = in.ConsumeRemainingBytesAsString();
    if (mended && !fuzzkeys::mendBody(body, mend)) return 0;
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
        if (mended) check(item.itemkey.key.key.copyOut() == keys().file.key.key.copyOut());
    }
    return 0;
}
