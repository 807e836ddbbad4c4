#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Bytes.h"

struct evp_mac_ctx_st;

namespace ostrelcomm {

// HMAC with SHA-256, incremental.
class HmacSha256 {
public:
    explicit HmacSha256(ByteView key);
    ~HmacSha256();
    HmacSha256(const HmacSha256&) = delete;
    HmacSha256& operator=(const HmacSha256&) = delete;

    static constexpr std::size_t kSize = 32;

    HmacSha256& update(ByteView bytes);
    Bytes final();
    // Writes the kSize bytes of the result into out.
    void final(std::uint8_t* out);

    static Bytes compute(ByteView key, ByteView bytes);

private:
    evp_mac_ctx_st* ctx_ = nullptr;
};

}  // namespace ostrelcomm
