#include "srp/AuthenticationFailure.h"

namespace ostrelcomm::SRP {

AuthenticationFailure::AuthenticationFailure(Case errorCase)
    : case_(errorCase), message_(description(errorCase)) {}

const char* AuthenticationFailure::description(Case errorCase) noexcept {
    switch (errorCase) {
        case Case::invalidPublicKey:
            return "security breach - the provided public key is invalid";
        case Case::missingChallenge:
            return "invalid client state - call `processChallenge` before `verifySession`";
        case Case::keyProofMismatch:
            return "failed authentication - the key proof didn't match our own";
    }
    return "";
}

}  // namespace ostrelcomm::SRP
