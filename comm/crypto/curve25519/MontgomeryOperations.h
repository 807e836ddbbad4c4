#pragma once

#include <cstddef>

#include "crypto/curve25519/FieldElement.h"
#include "platform/Bytes.h"

namespace ostrelcomm {

class MontgomeryOperations {
public:
    MontgomeryOperations() = delete;

    // The u-coordinate of (clamped scalar) * P, where P has u-coordinate p,
    // by the Montgomery ladder: 255 identical steps with masked swaps, then
    // one inversion. The scalar's own bytes stay as they are (a copy is
    // clamped). A point of small order, or u = 0, gives 0. Throws Exceptions
    // (ArgumentException) when fewer than 32 bytes follow noffset.
    static FieldElement CalculateLadderStep(ByteView n, const FieldElement& p, std::size_t noffset);
};

}  // namespace ostrelcomm
