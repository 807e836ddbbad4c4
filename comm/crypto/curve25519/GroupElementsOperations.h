#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/curve25519/GroupElementP3.h"
#include "crypto/curve25519/GroupElementP4.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

class GroupElementsOperations {
public:
    GroupElementsOperations() = delete;

    // a * B for the clamped 32-byte scalar at offset, B the base point of
    // edwards25519. Runs in time independent of the scalar: 64 table selects
    // that read every entry of their row and 4 doublings. The scalar must be
    // clamped (its lowest signed digit is then 0 or 8). Throws Exceptions
    // (ArgumentException) when fewer than 32 bytes follow offset.
    static GroupElementP3 ScalarMultiplicationBase(ByteView a, std::size_t offset);

private:
    // digit * 256^row * B for a digit in [-8, 8], chosen by masks.
    static GroupElementP4 Select(int row, std::int8_t b);
};

}  // namespace ostrelcomm
