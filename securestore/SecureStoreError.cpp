#include "securestore/SecureStoreError.h"

#include <utility>

namespace ostrelcomm {
namespace {

// The store's texts in the application's default table. English is the only
// language, and its texts are the keys themselves.
std::string localized(const char* key) { return key; }

std::string describe(SecureStoreError::Case errorCase, const std::string& message) {
    switch (errorCase) {
        case SecureStoreError::Case::string2DataConversionError:
            return localized("String to Data conversion error");
        case SecureStoreError::Case::data2StringConversionError:
            return localized("Data to String conversion error");
        case SecureStoreError::Case::unhandledError:
            return message;
    }
    return message;
}

}  // namespace

SecureStoreError::SecureStoreError(Case errorCase, std::string message)
    : case_(errorCase), message_(std::move(message)), description_(describe(case_, message_)) {}

SecureStoreError SecureStoreError::string2DataConversionError() {
    return SecureStoreError(Case::string2DataConversionError, {});
}

SecureStoreError SecureStoreError::data2StringConversionError() {
    return SecureStoreError(Case::data2StringConversionError, {});
}

SecureStoreError SecureStoreError::unhandledError(std::string message) {
    return SecureStoreError(Case::unhandledError, std::move(message));
}

SecureStoreError SecureStoreError::unhandledError(keychain::OSStatus status) {
    auto text = keychain::SecCopyErrorMessageString(status);
    return unhandledError(text ? std::move(*text) : localized("Unhandled Error"));
}

}  // namespace ostrelcomm
