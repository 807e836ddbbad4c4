#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "crypto/EncryptionKey.h"
#include "crypto/StreamCryptor.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// A file's thumbnail image and its MIME type. Sealed like the metadata, under
// the file's own key, but as a value of its own: the sealed metadata never
// holds the thumbnail.
struct RemoteItemThumbnail {
    enum class exceptions { unableToEncryptThumbnail, unableToDecryptThumbnail, invalidThumbnail };

    // Thrown by encrypt and decrypt; carries the case only.
    class ThumbnailError : public std::exception {
    public:
        explicit ThumbnailError(exceptions errorCase) : case_(errorCase) {}
        exceptions errorCase() const noexcept { return case_; }
        const char* what() const noexcept override;

    private:
        exceptions case_;
    };

    RemoteItemThumbnail(std::string thumbnailmime, Bytes thumbnail);

    std::string thumbnailmime;
    Bytes thumbnail;

    // The JSON form {"thumbnailmime", "thumbnail"}: both required, the image
    // strict base64, unknown keys ignored. Throws json::DecodeError.
    static RemoteItemThumbnail decode(ByteView json);
    Bytes encode() const;

    // IV ‖ AES-256-CBC/PKCS#7 of the JSON form under the 32 key bytes of
    // encryptionKey (its IV is not used); keyLen changes nothing. An absent
    // thumbnail gives an absent result. Throws ThumbnailError
    // (unableToEncryptThumbnail) when the cipher cannot be set up; a failing
    // random source passes through as CryptoError.
    static std::optional<Bytes> encrypt(const std::optional<RemoteItemThumbnail>& thumbnailData,
                                        const EncryptionKey& encryptionKey,
                                        CipherAlgorithm algorythm = CipherAlgorithm::aes256, std::int64_t keyLen = 32);
    // The reverse; absent bytes give an absent result. Throws ThumbnailError:
    // unableToDecryptThumbnail when the cipher run cannot finish,
    // invalidThumbnail when the clear bytes are not the JSON form.
    static std::optional<RemoteItemThumbnail> decrypt(const std::optional<Bytes>& cypher,
                                                      const EncryptionKey& encryptionKey,
                                                      CipherAlgorithm algorythm = CipherAlgorithm::aes256,
                                                      std::int64_t keyLen = 32);

    friend bool operator==(const RemoteItemThumbnail&, const RemoteItemThumbnail&) = default;
};

}  // namespace ostrelcomm
