// What a hostile server can hand the file information reader: any body,
// read and then decrypted under a fixed password key. It must give the
// answer or a decode error, and then the file key and metadata (perhaps the
// placeholder) or a key error, never a crash, hang, leak or other exception.
// Bodies the fuzzer writes rarely carry keys that unwrap, so on request the
// target puts sound keys of the own or the shared path into a body that
// parses, and seals its "metadata" and "thumbnail" texts under the file key,
// so that the readers behind the key chain see the fuzzer's records.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "FuzzKeys.h"
#include "crypto/CryptoError.h"
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/Exceptions.h"
#include "encoding/Encoding.h"
#include "json/StrictJson.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/Server_FileInformations.h"

using namespace ostrelcomm;
using fuzzkeys::check;
using fuzzkeys::keys;

namespace {

void mend(nlohmann::json& body, bool shared) {
    if (shared) {
        body.erase("umk");
        body["pubshkey"] = keys().pubshkey;
        body["privshkey"] = keys().privshkey;
        body["itemkey"] = keys().sharedItemKey;
    } else {
        body["umk"] = keys().wrappedUmk;
        body["itemkey"] = keys().ownItemKey;
    }
    fuzzkeys::sealMember(body, "metadata");
    fuzzkeys::sealMember(body, "thumbnail");
}

void read(const std::string& body, bool mended) {
    std::optional<Server_FileInformations> info;
    try {
        info = Server_FileInformations::fromBody(asBytes(body));
    } catch (const json::DecodeError&) {
        return;
    }
    check(!info->fileMetadata);
    try {
        const EncryptionKey key = info->decryptMetadata(keys().password.view());
        check(info->fileMetadata.has_value());
        check(info->metadataDecrypted() ||
              info->fileMetadata->name == RemoteItemMetadata::kInvalidMetadataName);
        check(key.key.key.size() == 32 && key.key.iv.size() == 16);
        if (mended) check(key.key.key.copyOut() == keys().file.key.key.copyOut());
    } catch (const Server_FileInformations::FileInformationsError&) {
        check(!mended && !info->fileMetadata);
    } catch (const KeyDecodeError&) {
        check(!mended && !info->fileMetadata);
    } catch (const CryptoError&) {
        check(!mended && !info->fileMetadata);
    } catch (const Exceptions&) {
        check(!mended && !info->fileMetadata);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange<int>(0, 2);
    std::string body = in.ConsumeRemainingBytesAsString();
    if (mode > 0 && !fuzzkeys::mendBody(body, [&](nlohmann::json& value) { mend(value, mode == 2); })) return 0;
    read(body, mode > 0);
    return 0;
}
