#pragma once

// Everything the application uses of the library.

#include "crypto/CryptoError.h"
#include "crypto/Digest.h"
#include "crypto/Encoding.h"
#include "crypto/EncryptionKey.h"
#include "crypto/Hmac.h"
#include "crypto/Random.h"
#include "crypto/SecretBytes.h"
#include "crypto/StreamCryptor.h"
#include "json/StrictJson.h"
#include "platform/AppInfo.h"
#include "platform/Bytes.h"
#include "platform/IntExtensions.h"
#include "platform/LocalizedString.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"
#include "platform/Uuid.h"
