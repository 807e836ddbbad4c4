#pragma once

#include <any>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "crypto/EncryptionKey.h"
#include "json/StrictJson.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// Answer of "/file/copy_prepare/": what the client needs to hand the server
// the key of a file to copy. The file key comes wrapped either under the
// user master key (the user's own file) or under the key the user shares
// with the file's owner (a file shared with the user); the copy's key is
// always wrapped under the user's own master key, so "umk" is needed in both
// cases.
class Server_CopyPrepare {
public:
    struct RawFileInfo {
        // Decoded, not used by the copy.
        std::string itemUUID;
        std::uint64_t fileSize = 0;
        // The file key, wrapped (wrapped-key JSON text).
        std::string itemkey;
        // The user master key wrapped under the password key.
        std::optional<std::string> umk;
        // The owner's public sharing key (32 bytes) and the user's private
        // sharing key wrapped under the password key: a shared file.
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

    class CopyPrepareError : public std::exception {
    public:
        explicit CopyPrepareError(exceptions errorCase) : case_(errorCase) {}
        exceptions errorCase() const noexcept { return case_; }
        int code() const noexcept { return static_cast<int>(case_); }
        const char* what() const noexcept override;

    private:
        exceptions case_;
    };

    RawFileInfo infos;

    // The whole body is one RawFileInfo object: "fileSize" an unsigned 64-bit
    // integer, "pubshkey" strict base64. Throws json::DecodeError.
    static Server_CopyPrepare fromBody(ByteView body);
    std::any getAnswer() const { return infos; }

    // The user master key, unwrapped under the 32-byte password key.
    // Throws CopyPrepareError unableToDecryptUserPrivateKey without "umk",
    // the unwrap's own error (KeyDecodeError, CryptoError) when it fails.
    EncryptionKey decryptUserKey(ByteView password) const;

    // The file key, unwrapped under the 32-byte password key. The path is
    // chosen by the sharing keys alone, never by "umk":
    //  - neither: the user's own file, "itemkey" under the user master key
    //    (decryptUserKey's errors pass through);
    //  - only "privshkey": ownerPublicKeyNotPresent;
    //  - only "pubshkey": userPrivateKeyNotPresent;
    //  - both: "privshkey" under the password key (unableToDecryptUserPrivateKey
    //    when it does not unwrap), the key it shares with "pubshkey" (the
    //    derivation's Exceptions for a key that is not 32 bytes), then
    //    "itemkey" under that.
    // A key that does not unwrap to an AES-256 key object throws CryptoError.
    EncryptionKey decryptFileKey(ByteView password) const;
};

void from_json(const json::Json& value, Server_CopyPrepare::RawFileInfo& record);
void to_json(json::OrderedJson& value, const Server_CopyPrepare::RawFileInfo& record);

// Body of the copy's execute request: the folder the copy goes to ("root"
// for the top of the tree) and the file key wrapped under the user master
// key.
struct CopyExecuteData {
    std::string parentUUID;
    std::string itemkey;

    // The JSON bytes, keys in this order.
    Bytes encode() const;
    // Both members required. Throws json::DecodeError.
    static CopyExecuteData decode(ByteView body);
};

void to_json(json::OrderedJson& value, const CopyExecuteData& data);
void from_json(const json::Json& value, CopyExecuteData& data);

}  // namespace ostrelcomm
