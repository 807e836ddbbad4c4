#pragma once

// Reference implementations of the key and metadata formats, written on
// OpenSSL's EVP interface (and the openssl command line) and, for X25519, on
// libsodium, with no use of the client's own key or metadata code, so a fault
// there cannot hide in the check. Shared by the key, account, tree and
// transfer tests and the benchmarks.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Bytes.h"

namespace testsupport {

using ostrelcomm::Bytes;

Bytes oracleRandom(std::size_t count);

// The password key: UTF-8 bytes padded with zeros to 32, SHA-256 when longer.
Bytes oraclePasswordKey(const std::string& password);

// AES-256-CBC with PKCS#7. Decryption is absent when the run cannot finish.
Bytes oracleCbcEncrypt(const Bytes& key, const Bytes& iv, const Bytes& plain);
std::optional<Bytes> oracleCbcDecrypt(const Bytes& key, const Bytes& iv, const Bytes& cipher);

// The sealed form of metadata and thumbnails: a fresh 16-byte IV followed by
// the CBC ciphertext. Opening is absent when the form does not decrypt.
Bytes oracleSeal(const Bytes& key, const Bytes& plain);
std::optional<Bytes> oracleOpen(const Bytes& key, const Bytes& sealed);

// The wrapped-key JSON text {"iv","key"} (base64 values) of a key object's
// iv ‖ key (48 bytes for AES-256) under wrappingKey, with a fresh IV.
std::string oracleWrap(const Bytes& ivAndKey, const Bytes& wrappingKey);
// The iv ‖ key inside a wrapped-key text; absent when it does not decrypt.
std::optional<Bytes> oracleUnwrap(const std::string& wrappedText, const Bytes& key);

// The X25519 public key of a private key, by libsodium; empty when the
// private key is not 32 bytes.
Bytes oraclePublicKey(const Bytes& privateKey);

// The private sharing key in a wrapped "privshkey" (the 32 bytes after the
// carrier's IV), unwrapped under the password key of `password`.
std::optional<Bytes> oraclePrivateKey(const std::string& privshkey, const std::string& password);

// `openssl enc -aes-256-cbc [-d] -K … -iv …` over input, through files; absent
// when the command fails (a decryption whose padding does not check).
std::optional<Bytes> opensslCbc(bool decrypt, const Bytes& key, const Bytes& iv, const Bytes& input);

}  // namespace testsupport
