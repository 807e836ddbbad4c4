#pragma once

// Reads and writes the store's items through libsecret itself, beside the
// code under test, so the tests see what actually sits in the Secret Service.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace securestore_test {

struct StoredItem {
    std::string account;
    std::optional<std::string> accessGroup;
    std::vector<std::uint8_t> data;
};

// Whether the throw-away Secret Service of scripts/with-keyring is there
// with a default collection; `why` says what is missing.
bool secretServiceReady(std::string& why);

// Every item of `service` written with the store's schema.
std::vector<StoredItem> storedItems(const std::string& service);

// Writes an item with the store's schema and arbitrary bytes.
void storeRaw(const std::string& service, const std::string& account, const std::vector<std::uint8_t>& data);

// Removes every item of `service` written with the store's schema.
void clearService(const std::string& service);

// A service name no other test (or earlier run) uses.
std::string freshServiceName();

// Base of the tests that need the real Secret Service: they fail when it is
// missing in CI and are skipped elsewhere. Items of `service` and
// `otherService` are removed afterwards.
class SecretServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string service;
    std::string otherService;
};

}  // namespace securestore_test
