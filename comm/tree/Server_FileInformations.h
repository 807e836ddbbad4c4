#pragma once

#include <any>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "crypto/EncryptionKey.h"
#include "json/StrictJson.h"
#include "platform/Bytes.h"
#include "tree/RemoteItemMetadata.h"

namespace ostrelcomm {

// Answer of "/file/info/" and "/file/modify_prepare/": one remote file as the
// server stores it, its metadata and thumbnail still sealed and its key still
// wrapped, either under the user master key (the user's own file) or under
// the key the user shares with the file's owner (a file shared with the
// user). decryptMetadata walks the key chain down to the file key.
class Server_FileInformations {
public:
    struct RawFileInfo {
        std::string itemUUID;
        std::optional<std::string> parentUUID;
        // The kind as the server names it; not read here.
        std::string type;
        // The size as the server reports it; not read here.
        std::uint64_t fileSize = 0;
        // Sent back unchanged by a modification.
        std::vector<std::string> attrib;
        Bytes metadata;
        std::optional<Bytes> thumbnail;
        // The file key, wrapped (wrapped-key JSON text).
        std::string itemkey;
        // The user master key wrapped under the password key: the user's own file.
        std::optional<std::string> umk;
        // The owner's public sharing key and the user's private sharing key
        // wrapped under the password key: a file shared with the user.
        std::optional<Bytes> pubshkey;
        std::optional<std::string> privshkey;
    };

    // The codes count from 0 in this order; unableToDecryptUK is never thrown.
    enum class exceptions {
        unableToDecryptUK,
        ownerPublicKeyNotPresent,
        userPrivateKeyNotPresent,
        unableToDecryptUserPrivateKey,
    };

    // Thrown by decryptMetadata for the cases above; carries the case only.
    class FileInformationsError : public std::exception {
    public:
        explicit FileInformationsError(exceptions errorCase) : case_(errorCase) {}
        exceptions errorCase() const noexcept { return case_; }
        int code() const noexcept { return static_cast<int>(case_); }
        const char* what() const noexcept override;

    private:
        exceptions case_;
    };

    RawFileInfo infos;
    // Absent until decryptMetadata has unwrapped the file key.
    std::optional<RemoteItemMetadata> fileMetadata;

    // The whole body is one RawFileInfo object: "fileSize" an unsigned 64-bit
    // integer, bytes strict base64. Throws json::DecodeError.
    static Server_FileInformations fromBody(ByteView body);
    std::any getAnswer() const { return infos; }

    // Unwraps the file key under the 32-byte password key and decrypts the
    // metadata with it, and returns the key.
    //  - "umk" present: the user's own file (the sharing keys are not looked
    //    at): "umk" under the password key, then "itemkey" under its 32 key
    //    bytes; their errors (KeyDecodeError, CryptoError) pass through.
    //  - otherwise a shared file: FileInformationsError
    //    ownerPublicKeyNotPresent without "pubshkey", then
    //    userPrivateKeyNotPresent without "privshkey", then
    //    unableToDecryptUserPrivateKey when "privshkey" does not unwrap under
    //    the password key; the derivation's Exceptions for a "pubshkey" that
    //    is not an X25519 key; then "itemkey" under the shared key.
    // A key that does not unwrap to an AES-256 key object throws CryptoError.
    // Past the file key nothing is thrown: the metadata is decrypted and,
    // when it names no thumbnail MIME type, the separate "thumbnail" is
    // merged into it; when either fails, fileMetadata is the placeholder
    // (RemoteItemMetadata::invalidPlaceholder) and metadataDecrypted() false.
    EncryptionKey decryptMetadata(ByteView password);

    // True once decryptMetadata has read the real metadata; false while there
    // is none and when fileMetadata is the placeholder.
    bool metadataDecrypted() const { return metadataDecrypted_; }

private:
    bool metadataDecrypted_ = false;
};

void from_json(const json::Json& value, Server_FileInformations::RawFileInfo& record);
void to_json(json::OrderedJson& value, const Server_FileInformations::RawFileInfo& record);

}  // namespace ostrelcomm
