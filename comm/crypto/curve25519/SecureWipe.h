#pragma once

#include <cstddef>

namespace ostrelcomm {

// Overwrites scratch copies of secrets (clamped scalars, digits, cipher state)
// before their stack space is reused. The volatile stores keep the compiler
// from dropping a write to memory that is about to die.
inline void secureWipe(void* data, std::size_t size) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        p[i] = 0;
    }
}

}  // namespace ostrelcomm
