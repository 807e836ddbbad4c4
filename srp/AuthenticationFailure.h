#pragma once

#include <exception>
#include <string>

namespace ostrelcomm::SRP {

// Why an SRP exchange cannot go on. Carries its case and the case's fixed
// description; never a value of the exchange.
class AuthenticationFailure : public std::exception {
public:
    enum class Case { invalidPublicKey, missingChallenge, keyProofMismatch };

    explicit AuthenticationFailure(Case errorCase);

    static const char* description(Case errorCase) noexcept;

    Case errorCase() const noexcept { return case_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Case case_;
    std::string message_;
};

}  // namespace ostrelcomm::SRP
