// What a hostile server can hand the file copy's preparation: any body, read
// and then unwrapped under a fixed password key. It must give the answer or
// a decode error, and then the user master key and the file key or a key
// error, never a crash, hang, leak or other exception. On request the target
// puts sound keys of the own or the shared path into a body that parses, so
// that the unwraps behind the decoder are reached.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "FuzzKeys.h"
#include "crypto/CryptoError.h"
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/Exceptions.h"
#include "encoding/Encoding.h"
#include "json/StrictJson.h"
#include "tree/Server_CopyPrepare.h"

using namespace ostrelcomm;
using fuzzkeys::check;
using fuzzkeys::keys;

namespace {

// Sound keys of one path, the other path's keys taken out.
void mend(nlohmann::json& body, bool shared) {
    body["umk"] = keys().wrappedUmk;
    if (shared) {
        body["pubshkey"] = keys().pubshkey;
        body["privshkey"] = keys().privshkey;
        body["itemkey"] = keys().sharedItemKey;
    } else {
        body.erase("pubshkey");
        body.erase("privshkey");
        body["itemkey"] = keys().ownItemKey;
    }
}

template <class Unwrap>
void unwrapOrFail(Unwrap unwrap, bool mended, const EncryptionKey& expected) {
    try {
        const EncryptionKey key = unwrap();
        check(key.key.key.size() == 32 && key.key.iv.size() == 16);
        if (mended) check(key.key.key.copyOut() == expected.key.key.copyOut());
    } catch (const Server_CopyPrepare::CopyPrepareError&) {
        check(!mended);
    } catch (const KeyDecodeError&) {
        check(!mended);
    } catch (const CryptoError&) {
        check(!mended);
    } catch (const Exceptions&) {
        check(!mended);
    }
}

void read(const std::string& body, bool mended) {
    std::optional<Server_CopyPrepare> answer;
    try {
        answer = Server_CopyPrepare::fromBody(asBytes(body));
    } catch (const json::DecodeError&) {
        return;
    }
    unwrapOrFail([&] { return answer->decryptUserKey(keys().password.view()); }, mended, keys().umk);
    unwrapOrFail([&] { return answer->decryptFileKey(keys().password.view()); }, mended, keys().file);
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
