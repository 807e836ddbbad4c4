// What a hostile server can hand the key and login code: wrapped-key texts
// ("umk", "privshkey", "itemkey"), base64 and hexadecimal texts, JSON with
// dates and numbers, the SRP parameter text, and the salt and public value B
// of a login's first answer. Each must give a value or a clear error: no
// crash, hang, out-of-bounds read or unbounded allocation.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "auth/SRPAuthParms.h"
#include "crypto/CryptoError.h"
#include "encoding/Encoding.h"
#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/PrivateKey.h"
#include "json/StrictJson.h"
#include "srp/AuthenticationFailure.h"
#include "srp/Client.h"

using namespace ostrelcomm;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void codecs(const std::string& text) {
    if (auto bytes = base64Decode(text)) {
        // Whatever was accepted must come back unchanged through the encoder.
        check(base64Decode(base64Encode(*bytes)) == bytes);
        check(base64Encode(*bytes).size() == text.size());
    }
    if (auto bytes = fromHex(text)) check(fromHex(toHex(*bytes)) == bytes);
    if (auto date = json::parseDate(text)) check(json::parseDate(json::formatDate(*date)) == date);
}

void strictJson(const std::string& text) {
    try {
        const auto value = json::parse(std::string_view(text));
        if (!value.is_object()) return;
        for (const char* key : {"iv", "key", "since", "n"}) {
            try { (void)json::optionalBase64(value, key); } catch (const json::DecodeError&) {}
            try { (void)json::optionalDate(value, key); } catch (const json::DecodeError&) {}
            try { (void)json::optionalInteger<std::uint32_t>(value, key); } catch (const json::DecodeError&) {}
            try { (void)json::optionalInteger<std::int64_t>(value, key); } catch (const json::DecodeError&) {}
            try { (void)json::optionalString(value, key); } catch (const json::DecodeError&) {}
        }
    } catch (const json::DecodeError&) {
    }
}

void wrappedKey(const std::string& text, const Bytes& unwrappingKey) {
    try {
        (void)EncryptionKey::decryptKey(text, unwrappingKey, CipherAlgorithm::aes256, 32);
    } catch (const KeyDecodeError&) {
    } catch (const CryptoError&) {
    }
    // Never throws: a text that does not unwrap leaves the key without a value.
    PrivateKey key(text, unwrappingKey);
    if (key.KeyValue()) check(key.KeyValue()->size() == 32);
}

void parameters(const std::string& text) {
    try {
        (void)SRPAuthParms::decode(text);
    } catch (const SRPAuthParms::SRPAuthParmsExceptions&) {
    } catch (const json::DecodeError&) {
    } catch (const std::exception&) {
        // The JSON reader's own errors are passed on; anything is fine but a crash.
    }
}

void challenge(const Bytes& salt, const Bytes& serverPublicKey) {
    static const Bytes a(32, 0x5a);
    auto client = SRP::Client::withPassword("alice", "password123", SRP::Group::N1024(), DigestAlgorithm::sha1, a);
    try {
        const Bytes proof = client.processChallenge(salt, serverPublicKey);
        check(!proof.empty());
        check(!client.sessionKey().has_value());
        client.verifySession(proof);  // the client's own proof is never the server's
        std::abort();
    } catch (const SRP::AuthenticationFailure&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: codecs(in.ConsumeRemainingBytesAsString()); break;
        case 1: strictJson(in.ConsumeRemainingBytesAsString()); break;
        case 2: {
            const Bytes unwrappingKey = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<int>(0, 40));
            wrappedKey(in.ConsumeRemainingBytesAsString(), unwrappingKey);
            break;
        }
        case 3: parameters(in.ConsumeRemainingBytesAsString()); break;
        default: {
            const Bytes salt = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<int>(0, 64));
            challenge(salt, in.ConsumeRemainingBytes<std::uint8_t>());
            break;
        }
    }
    return 0;
}
