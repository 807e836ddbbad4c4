#pragma once

#include <memory>

#include "platform/Bytes.h"

namespace ostrelcomm {

// HMAC with SHA-256, incremental.
class HmacSha256 {
public:
    explicit HmacSha256(ByteView key);
    ~HmacSha256();
    HmacSha256(const HmacSha256&) = delete;
    HmacSha256& operator=(const HmacSha256&) = delete;

    HmacSha256& update(ByteView bytes);
    Bytes final();

    static Bytes compute(ByteView key, ByteView bytes);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace ostrelcomm
