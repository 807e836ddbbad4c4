#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/Bytes.h"

namespace ostrelcomm {

// MD2 (RFC 1319). OpenSSL ships none, and a stored account may name it as its
// login digest, so it is kept here.
class Md2 {
public:
    static constexpr std::size_t kDigestLength = 16;

    void update(ByteView bytes);
    std::array<std::uint8_t, kDigestLength> final();

private:
    void transform(const std::uint8_t* block);

    std::array<std::uint8_t, 48> state_{};
    std::array<std::uint8_t, 16> checksum_{};
    std::array<std::uint8_t, 16> buffer_{};
    std::size_t buffered_ = 0;
};

}  // namespace ostrelcomm
