#include "crypto/curve25519/Exceptions.h"

#include <utility>

namespace ostrelcomm {

Exceptions::Exceptions(Case errorCase, std::string message)
    : case_(errorCase), message_(std::move(message)) {}

Exceptions Exceptions::ArgumentException(std::string message) {
    return Exceptions(Case::ArgumentException, std::move(message));
}

}  // namespace ostrelcomm
