#include "crypto/curve25519/PublicKey.h"

#include "encoding/Encoding.h"
#include "crypto/curve25519/AlgorithmService.h"
#include "crypto/curve25519/PrivateKey.h"
#include "platform/Uuid.h"

namespace ostrelcomm {

PublicKey::PublicKey(const PrivateKey& privateKey)
    : keyValue_(AlgorithmService::GetPublicKey(privateKey.KeyValue() ? privateKey.KeyValue()->view()
                                                                     : ByteView())),
      uid_(newUuidString()) {}

PublicKey::PublicKey(ByteView keyValue)
    : keyValue_(keyValue.begin(), keyValue.end()), uid_(newUuidString()) {}

std::string PublicKey::toString() const { return toHexUpper(keyValue_); }

}  // namespace ostrelcomm
