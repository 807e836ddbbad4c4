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

#include "FuzzKeys.h"
#include "crypto/CryptoError.h"
#include "crypto/EncryptionKey.h"
#include "encoding/Encoding.h"
#include "json/StrictJson.h"
#include "tree/RemoteDirInfo.h"

using namespace ostrelcomm;
using fuzzkeys::check;
using fuzzkeys::keys;

namespace {

// Sound keys in every place that holds a key; the metadata sealed from the
// fuzzer's own text when it gives one.
void mend(nlohmann::json& body) {
    body["umk"] = keys().wrappedUmk;
    const auto mendItem = [](nlohmann::json& item) {
        if (!item.is_object()) return;
        item["itemkey"] = keys().ownItemKey;
        fuzzkeys::sealMember(item, "metadata");
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
    if (mendKeys && !fuzzkeys::mendBody(body, mend)) return 0;
    read(body);
    return 0;
}
