#include "crypto/Random.h"

#include <openssl/rand.h>

#include <climits>
#include <cstring>

#include "crypto/CryptoError.h"

namespace ostrelcomm {

void fillRandom(std::uint8_t* out, std::size_t count) {
    while (count > 0) {
        int chunk = count > INT_MAX ? INT_MAX : static_cast<int>(count);
        if (RAND_bytes(out, chunk) != 1) throw CryptoError("the secure random generator failed");
        out += chunk;
        count -= static_cast<std::size_t>(chunk);
    }
}

Bytes randomBytes(std::size_t count) {
    Bytes out(count);
    fillRandom(out.data(), count);
    return out;
}

std::uint64_t randomUInt64() {
    std::uint8_t raw[8];
    fillRandom(raw, sizeof raw);
    std::uint64_t v;
    std::memcpy(&v, raw, sizeof v);
    return v;
}

}  // namespace ostrelcomm
