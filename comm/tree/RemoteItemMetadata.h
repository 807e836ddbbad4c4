#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/EncryptionKey.h"
#include "crypto/StreamCryptor.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// What the server never sees of a remote item: its name, dates, size, type,
// hashes and thumbnail. It reaches the server only sealed under the item's
// own key (see encrypt), and every client that reads or writes an item must
// produce and accept exactly those bytes.
struct RemoteItemMetadata {
    enum class exceptions { unableToEncryptMetadata, unableToDecryptMetadata, invalidMetadata };

    // Thrown by encrypt and decrypt; carries the case only, so no clear
    // metadata or key material can reach a log through it.
    class MetadataError : public std::exception {
    public:
        explicit MetadataError(exceptions errorCase) : case_(errorCase) {}
        exceptions errorCase() const noexcept { return case_; }
        const char* what() const noexcept override;

    private:
        exceptions case_;
    };

    // The name shown for an item whose metadata cannot be read.
    static constexpr std::string_view kInvalidMetadataName = "*** Invalid metadata found ***";

    // All optional fields absent.
    RemoteItemMetadata(std::string name, std::chrono::sys_seconds creationDate,
                       std::chrono::sys_seconds modificationDate);

    std::string name;
    std::chrono::sys_seconds creationDate;
    std::chrono::sys_seconds modificationDate;
    std::optional<std::int64_t> fileSize;
    std::optional<std::string> mime;
    std::optional<bool> isPackage;
    std::optional<std::string> thumbnailmime;
    // Held with the record in memory only: encrypt never seals it.
    std::optional<Bytes> thumbnail;
    // "treehash-SHA256", lower-case hexadecimal.
    std::optional<std::string> treehash;
    // "filehash-SHA256", lower-case hexadecimal.
    std::optional<std::string> clearFileHash;

    // The stand-in for metadata that does not decrypt or decode: the name
    // above, the current time (whole seconds) as both dates.
    static RemoteItemMetadata invalidPlaceholder();

    // The JSON form: "name" and both dates required, dates whole-second UTC
    // ("Z"; a fraction is refused), "thumbnail" strict base64, a missing or
    // null optional absent, unknown keys ignored. Throws json::DecodeError.
    static RemoteItemMetadata decode(ByteView json);
    // Keys in declaration order; an absent optional writes no key. A text
    // field that is not valid UTF-8 cannot be written: the JSON library's
    // type_error passes through.
    Bytes encode() const;

    // IV ‖ AES-256-CBC/PKCS#7 of the JSON form under the 32 key bytes of
    // encryptionKey (its IV is not used), without the thumbnail pair, which
    // travels separately as a RemoteItemThumbnail. keyLen changes nothing.
    // Throws MetadataError(unableToEncryptMetadata) when the cipher cannot be
    // set up (a key that is not 32 bytes, a non-AES algorithm); encode's
    // error and a failing random source (CryptoError) pass through.
    static Bytes encrypt(const RemoteItemMetadata& metadata, const EncryptionKey& encryptionKey,
                         CipherAlgorithm algorythm = CipherAlgorithm::aes256, std::int64_t keyLen = 32);
    // The reverse. Throws MetadataError: unableToDecryptMetadata when the
    // cipher run cannot finish (fewer than 16 bytes, an IV alone, a partial
    // block, bad padding, a wrong key), invalidMetadata when the clear bytes
    // are not the JSON form.
    static RemoteItemMetadata decrypt(ByteView cypher, const EncryptionKey& encryptionKey,
                                      CipherAlgorithm algorythm = CipherAlgorithm::aes256, std::int64_t keyLen = 32);

    friend bool operator==(const RemoteItemMetadata&, const RemoteItemMetadata&) = default;
};

}  // namespace ostrelcomm
