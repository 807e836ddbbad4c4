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

#include "crypto/CbcEnvelope.h"
#include "crypto/CryptoError.h"
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/Exceptions.h"
#include "crypto/curve25519/PrivateKey.h"
#include "crypto/curve25519/PublicKey.h"
#include "crypto/curve25519/SharedSecretKey.h"
#include "encoding/Encoding.h"
#include "json/StrictJson.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/Server_FileInformations.h"

using namespace ostrelcomm;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

struct Keys {
    SecretBytes password = EncryptionKey::prepareEncryptionPassword("fuzz password");
    EncryptionKey umk{CipherAlgorithm::aes256, 32};
    EncryptionKey file{CipherAlgorithm::aes256, 32};
    PrivateKey reader;
    PrivateKey owner;
    std::string wrappedUmk = umk.encryptKeyText(password.view());
    std::string ownItemKey = file.encryptKeyText(umk.key.key.view());
    std::string sharedItemKey = file.encryptKeyText(SharedSecretKey(reader, owner.publicKey()).KeyValue().view());
    std::string privshkey = *reader.getPrivateEncryptedKey(password.view());
    std::string pubshkey = base64Encode(owner.publicKey().KeyValue());
};

const Keys& keys() {
    static const Keys k;
    return k;
}

void seal(nlohmann::json& body, const char* key) {
    if (!body.contains(key) || !body[key].is_string()) return;
    const auto& clear = body[key].get_ref<const std::string&>();
    body[key] = base64Encode(CbcEnvelope::seal(keys().file.key.key.view(), Bytes(16, 7), asBytes(clear)));
}

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
    seal(body, "metadata");
    seal(body, "thumbnail");
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
    if (mode > 0) {
        // The depth check of the reader comes first, so the mended body is
        // never deeper than one it would refuse.
        try {
            (void)json::parse(std::string_view(body));
        } catch (const json::DecodeError&) {
            return 0;
        }
        auto value = nlohmann::json::parse(body, nullptr, false);
        if (!value.is_object()) return 0;
        mend(value, mode == 2);
        body = value.dump();
    }
    read(body, mode > 0);
    return 0;
}
