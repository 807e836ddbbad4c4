#include "crypto/CbcEnvelope.h"

#include <algorithm>

#include "crypto/CryptoError.h"
#include "crypto/Random.h"
#include "crypto/StreamCryptor.h"

namespace ostrelcomm {

namespace {

// The key's length would otherwise pick AES-128 or AES-192 in the cryptor.
void checkKey(ByteView key) {
    if (key.size() != CbcEnvelope::kKeySize) throw CryptoError("envelope key has an invalid length");
}

}  // namespace

Bytes CbcEnvelope::seal(ByteView key, ByteView iv, ByteView plain) {
    checkKey(key);
    if (iv.size() != kIvSize) throw CryptoError("envelope IV has an invalid length");
    StreamCryptor cryptor(StreamCryptor::Operation::encrypt, CipherAlgorithm::aes256, key, iv);
    Bytes out(kIvSize + plain.size() + kIvSize);
    std::copy(iv.begin(), iv.end(), out.begin());
    std::size_t n = kIvSize + cryptor.update(plain, out.data() + kIvSize);
    n += cryptor.final(out.data() + n);
    out.resize(n);
    return out;
}

Bytes CbcEnvelope::seal(ByteView key, ByteView plain) {
    checkKey(key);
    const Bytes iv = randomBytes(kIvSize);
    return seal(key, iv, plain);
}

Bytes CbcEnvelope::open(ByteView key, ByteView sealed) {
    checkKey(key);
    if (sealed.size() < kIvSize) throw CryptoError("sealed form is shorter than its IV");
    StreamCryptor cryptor(StreamCryptor::Operation::decrypt, CipherAlgorithm::aes256, key, sealed.first(kIvSize));
    const ByteView cipher = sealed.subspan(kIvSize);
    Bytes out(cipher.size() + kIvSize);
    std::size_t n = cryptor.update(cipher, out.data());
    n += cryptor.final(out.data() + n);
    out.resize(n);
    return out;
}

}  // namespace ostrelcomm
