#pragma once

#include <utility>

#include "crypto/EncryptionKey.h"
#include "crypto/curve25519/PrivateKey.h"
#include "crypto/curve25519/PublicKey.h"
#include "crypto/curve25519/SharedSecretKey.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

// The key of a file shared with the user, from an answer record's
// "pubshkey", "privshkey" and "itemkey": the private sharing key unwrapped
// under the 32-byte password key, the key it agrees on with the owner's
// public one, then the item key unwrapped under that. Error is the answer's
// own error type, thrown in this order: ownerPublicKeyNotPresent,
// userPrivateKeyNotPresent, unableToDecryptUserPrivateKey. The derivation's
// Exceptions (an owner key that is not 32 bytes) and the unwrap's errors pass
// through.
template <class Error, class Record>
EncryptionKey openSharedItemKey(const Record& infos, ByteView password) {
    using Case = decltype(std::declval<const Error&>().errorCase());
    if (!infos.pubshkey) throw Error(Case::ownerPublicKeyNotPresent);
    if (!infos.privshkey) throw Error(Case::userPrivateKeyNotPresent);
    const PrivateKey privateKey(*infos.privshkey, password);
    if (!privateKey.KeyValue()) throw Error(Case::unableToDecryptUserPrivateKey);
    // A key received from the server is a new object with an identifier of
    // its own, so the derivation's test against the private key's own object
    // never applies; only a key that is not 32 bytes fails.
    const PublicKey ownerKey(*infos.pubshkey);
    const SharedSecretKey shared(privateKey, ownerKey);
    return EncryptionKey::unwrapAes256(infos.itemkey, shared.KeyValue().view());
}

}  // namespace ostrelcomm
