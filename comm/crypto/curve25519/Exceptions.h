#pragma once

#include <exception>
#include <string>

namespace ostrelcomm {

// The error of the key-agreement code. It has a single case, an argument that
// does not fit (a key of the wrong length, one's own public key as a peer),
// and carries a message that names the argument, never its value.
class Exceptions : public std::exception {
public:
    enum class Case { ArgumentException };

    static Exceptions ArgumentException(std::string message);

    Case errorCase() const noexcept { return case_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Exceptions(Case errorCase, std::string message);

    Case case_;
    std::string message_;
};

}  // namespace ostrelcomm
