#pragma once

#include <exception>
#include <string>

#include "securestore/Keychain.h"

namespace ostrelcomm {

// A failure of the keychain store: which case it is and, for
// `unhandledError`, the keychain's message.
class SecureStoreError : public std::exception {
public:
    enum class Case { string2DataConversionError, data2StringConversionError, unhandledError };

    static SecureStoreError string2DataConversionError();
    static SecureStoreError data2StringConversionError();
    static SecureStoreError unhandledError(std::string message);
    // `unhandledError` with the keychain's text for `status`, or the localized
    // "Unhandled Error" when the keychain has none.
    static SecureStoreError unhandledError(keychain::OSStatus status);

    Case errorCase() const { return case_; }
    // The message carried by `unhandledError`; empty for the other cases.
    const std::string& message() const { return message_; }
    // The localized description of the case (the message itself for
    // `unhandledError`).
    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    SecureStoreError(Case errorCase, std::string message);

    Case case_;
    std::string message_;
    std::string description_;
};

}  // namespace ostrelcomm
