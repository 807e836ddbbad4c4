#include "crypto/curve25519/FieldElement.h"

#include "crypto/curve25519/Exceptions.h"

namespace ostrelcomm {

FieldElement::FieldElement(std::span<const std::int64_t> elements) {
    if (elements.size() != 10) {
        throw Exceptions::ArgumentException("elements array must have 10 elements");
    }
    X0 = elements[0];
    X1 = elements[1];
    X2 = elements[2];
    X3 = elements[3];
    X4 = elements[4];
    X5 = elements[5];
    X6 = elements[6];
    X7 = elements[7];
    X8 = elements[8];
    X9 = elements[9];
}

}  // namespace ostrelcomm
