#pragma once

// A file's key chain and sealed records made on OpenSSL (CryptoOracle) and,
// for the key a sharer and a reader share, on libsodium, never on the
// client's key or metadata code: the file key wrapped under a user master key
// (an own file) or under the X25519/HSalsa20 key of an owner's and a reader's
// sharing keys (a file shared with the reader), metadata and thumbnails
// sealed under the file key, and information answers as the server sends
// them.

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/Bytes.h"
#include "support/CryptoOracle.h"

namespace testsupport {

// The key `ownPrivate` shares with the holder of `peerPublic`:
// crypto_box_beforenm (X25519, then HSalsa20 with a zero nonce). Empty when
// either key is not 32 bytes.
Bytes oracleSharedKey(const Bytes& peerPublic, const Bytes& ownPrivate);

// A thumbnail's clear JSON text {"thumbnailmime", "thumbnail"}.
std::string thumbnailText(const std::string& mime, const Bytes& image);

struct FileOracle {
    Bytes passwordKey = oraclePasswordKey("file oracle password");
    Bytes umk = oracleRandom(48);      // iv ‖ key
    Bytes fileKey = oracleRandom(48);  // iv ‖ key
    // The reader's private sharing key, wrapped behind a carrier IV of its own.
    Bytes readerPrivate = oracleRandom(32);
    Bytes ownerPrivate = oracleRandom(32);

    Bytes fileKeyBytes() const { return Bytes(fileKey.begin() + 16, fileKey.end()); }
    Bytes ownerPublic() const { return oraclePublicKey(ownerPrivate); }
    Bytes sharedKey() const { return oracleSharedKey(ownerPublic(), readerPrivate); }

    std::string wrappedUmk() const { return oracleWrap(umk, passwordKey); }
    std::string ownItemKey() const { return oracleWrap(fileKey, Bytes(umk.begin() + 16, umk.end())); }
    std::string sharedItemKey() const { return oracleWrap(fileKey, sharedKey()); }
    std::string wrappedReaderPrivate() const;

    Bytes seal(const std::string& clear) const { return oracleSeal(fileKeyBytes(), ostrelcomm::toBytes(clear)); }
    // The clear text of a sealed form under the file key; absent when it
    // does not open.
    std::optional<std::string> open(const Bytes& sealed) const;

    // The information answer of the user's own file ("umk" and the item key
    // under it) and of a file shared with the user ("pubshkey", "privshkey"
    // and the item key under their shared key); no "thumbnail" when absent.
    nlohmann::json ownBody(const std::string& metadata, const std::optional<std::string>& thumbnail) const;
    nlohmann::json sharedBody(const std::string& metadata, const std::optional<std::string>& thumbnail) const;
};

}  // namespace testsupport
