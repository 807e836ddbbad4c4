#include "crypto/curve25519/SharedSecretKey.h"

#include "encoding/Encoding.h"
#include "crypto/curve25519/AlgorithmService.h"
#include "crypto/curve25519/PrivateKey.h"
#include "crypto/curve25519/PublicKey.h"
#include "platform/Uuid.h"

namespace ostrelcomm {

SharedSecretKey::SharedSecretKey(const PrivateKey& secretKey, const PublicKey& peerPublicKey)
    : SharedSecretKey(secretKey, ByteView(peerPublicKey.KeyValue())) {}

SharedSecretKey::SharedSecretKey(const PrivateKey& secretKey, ByteView peerPublicKey)
    : keyValue_(AlgorithmService::GetSharedSecretKey(
          peerPublicKey, secretKey.KeyValue() ? secretKey.KeyValue()->view() : ByteView())),
      uid_(newUuidString()) {}

std::string SharedSecretKey::toString() const { return toHexUpper(keyValue_.view()); }

}  // namespace ostrelcomm
