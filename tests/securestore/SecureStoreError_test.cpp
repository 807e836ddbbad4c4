#include "securestore/SecureStoreError.h"

#include <gtest/gtest.h>

using namespace ostrelcomm;

namespace {

TEST(SecureStoreError, DescriptionsOfTheCases) {
    struct Case {
        SecureStoreError error;
        SecureStoreError::Case expectedCase;
        const char* description;
    };
    const Case cases[] = {
        {SecureStoreError::string2DataConversionError(), SecureStoreError::Case::string2DataConversionError,
         "String to Data conversion error"},
        {SecureStoreError::data2StringConversionError(), SecureStoreError::Case::data2StringConversionError,
         "Data to String conversion error"},
        {SecureStoreError::unhandledError("The keyring said no."), SecureStoreError::Case::unhandledError,
         "The keyring said no."},
    };
    for (const auto& [error, expectedCase, description] : cases) {
        SCOPED_TRACE(description);
        EXPECT_EQ(error.errorCase(), expectedCase);
        EXPECT_EQ(error.errorDescription(), description);
        EXPECT_STREQ(error.what(), description);
    }
}

TEST(SecureStoreError, UnhandledStatusCarriesTheKeychainTextOrUnhandledError) {
    const auto known = SecureStoreError::unhandledError(keychain::errSecNotAvailable);
    ASSERT_TRUE(keychain::SecCopyErrorMessageString(keychain::errSecNotAvailable).has_value());
    EXPECT_EQ(known.message(), *keychain::SecCopyErrorMessageString(keychain::errSecNotAvailable));

    for (keychain::OSStatus status : {-1, 1, -25302, -67000}) {
        SCOPED_TRACE(status);
        EXPECT_FALSE(keychain::SecCopyErrorMessageString(status).has_value());
        const auto error = SecureStoreError::unhandledError(status);
        EXPECT_EQ(error.errorCase(), SecureStoreError::Case::unhandledError);
        EXPECT_EQ(error.message(), "Unhandled Error");
        EXPECT_EQ(error.errorDescription(), "Unhandled Error");
    }
}

}  // namespace
