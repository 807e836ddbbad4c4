#pragma once

#include <stdexcept>
#include <string>

namespace ostrelcomm {

// A failure of the crypto adapter: a cipher that cannot be created, a cipher run
// that cannot complete (bad padding, partial block), a failing random source.
// Messages name the operation only, never key material.
class CryptoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ostrelcomm
