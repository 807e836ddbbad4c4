#include "securestore/AppleSecureStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SecretServiceOracle.h"
#include "securestore/GenericPasswordQueryable.h"
#include "securestore/Keychain.h"

using namespace ostrelcomm;
using securestore_test::SecretServiceTest;
using securestore_test::storedItems;
using securestore_test::storeRaw;

namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

// Runs `operation`, which must throw SecureStoreError, and hands the error back.
template <typename Operation>
SecureStoreError thrownBy(Operation&& operation) {
    try {
        operation();
    } catch (const SecureStoreError& error) {
        return error;
    }
    ADD_FAILURE() << "no SecureStoreError was thrown";
    return SecureStoreError::unhandledError("nothing thrown");
}

class AppleSecureStoreTest : public SecretServiceTest {
protected:
    AppleSecureStore store() const { return AppleSecureStore(GenericPasswordQueryable(service)); }
};

TEST_F(AppleSecureStoreTest, SettingTwiceLeavesOneItemWithTheSecondValue) {
    store().setValue("first secret", "credentials");
    store().setValue("second secret", "credentials");

    auto items = storedItems(service);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].account, "credentials");
    EXPECT_FALSE(items[0].accessGroup.has_value());
    EXPECT_EQ(items[0].data, bytesOf("second secret"));
    EXPECT_EQ(store().getValue("credentials"), "second secret");
}

TEST_F(AppleSecureStoreTest, AccountsOfOneServiceAreKeptApart) {
    store().setValue("for alice", "alice");
    store().setValue("for bob", "bob");
    store().setValue("for alice, again", "alice");

    EXPECT_EQ(store().getValue("alice"), "for alice, again");
    EXPECT_EQ(store().getValue("bob"), "for bob");
    EXPECT_EQ(storedItems(service).size(), 2u);
}

TEST_F(AppleSecureStoreTest, MissingAccountIsAbsentWithoutFailing) {
    EXPECT_EQ(store().getValue("credentials"), std::nullopt);  // nothing in the service at all

    store().setValue("bob's", "bob");
    EXPECT_EQ(store().getValue("credentials"), std::nullopt);
    EXPECT_EQ(store().getValue("bo"), std::nullopt);  // no prefix matching
}

TEST_F(AppleSecureStoreTest, RemovingAMissingAccountSucceeds) {
    EXPECT_NO_THROW(store().removeValue("credentials"));
    EXPECT_NO_THROW(store().removeAllValues());

    store().setValue("bob's", "bob");
    EXPECT_NO_THROW(store().removeValue("credentials"));
    EXPECT_EQ(store().getValue("bob"), "bob's");
}

TEST_F(AppleSecureStoreTest, RemovingAnAccountLeavesTheOthers) {
    store().setValue("alice's", "alice");
    store().setValue("bob's", "bob");

    store().removeValue("alice");

    EXPECT_EQ(store().getValue("alice"), std::nullopt);
    auto items = storedItems(service);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].account, "bob");
}

TEST_F(AppleSecureStoreTest, RemoveAllValuesRemovesTheServiceAndNoOther) {
    const AppleSecureStore other(GenericPasswordQueryable{otherService});
    store().setValue("one", "alice");
    store().setValue("two", "bob");
    other.setValue("kept", "alice");

    store().removeAllValues();

    EXPECT_TRUE(storedItems(service).empty());
    EXPECT_EQ(store().getValue("alice"), std::nullopt);
    EXPECT_EQ(other.getValue("alice"), "kept");
    EXPECT_EQ(storedItems(otherService).size(), 1u);
}

// Empty stays empty (never absent), and every byte of the text comes back.
TEST_F(AppleSecureStoreTest, TextValuesRoundTripExactly) {
    const std::vector<std::string> values = {
        "",
        "plain ascii",
        "Grüße, Zoë — пароль 🔑 パスワード",
        std::string("before\0after", 12),
        R"({"username":"zoë","password":"p\"w\\d"})",
        std::string(20000, 'x') + "ende",
    };
    for (const auto& value : values) {
        SCOPED_TRACE(value.substr(0, 40));
        store().setValue(value, "zoë@例え");
        EXPECT_EQ(store().getValue("zoë@例え"), value);
        auto items = storedItems(service);
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].data, bytesOf(value));
    }
}

TEST_F(AppleSecureStoreTest, DataThatIsNotUtf8FailsWithDataToStringConversionError) {
    const std::vector<std::string> notUtf8 = {
        "\xff",
        "abc\xc3",             // cut-off sequence
        "\xc0\xaf",            // overlong "/"
        "\xe0\x80\xaf",        // overlong "/"
        "\xed\xa0\x80",        // surrogate half
        "\xf4\x90\x80\x80",    // past U+10FFFF
        "ok \x80 continuation",
    };
    for (const auto& bytes : notUtf8) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        storeRaw(service, "credentials", bytesOf(bytes));
        const auto error = thrownBy([&] { (void)store().getValue("credentials"); });
        EXPECT_EQ(error.errorCase(), SecureStoreError::Case::data2StringConversionError);
        EXPECT_EQ(error.errorDescription(), "Data to String conversion error");
    }
}

TEST_F(AppleSecureStoreTest, ValueThatIsNotUtf8IsRefusedAndNothingIsStored) {
    const auto error = thrownBy([&] { store().setValue("caf\xe9", "credentials"); });
    EXPECT_EQ(error.errorCase(), SecureStoreError::Case::string2DataConversionError);
    EXPECT_EQ(error.errorDescription(), "String to Data conversion error");
    EXPECT_TRUE(storedItems(service).empty());
}

// An account name that cannot travel as attribute text must not be cut short
// into some other account's name.
TEST_F(AppleSecureStoreTest, AccountNamesThatAreNotTextAreRefused) {
    store().setValue("alice's", "alice");
    const auto refused = keychain::SecCopyErrorMessageString(keychain::errSecParam);
    ASSERT_TRUE(refused.has_value());

    for (const std::string& account : {std::string("alice\0evil", 10), std::string("alice\xff")}) {
        SCOPED_TRACE(::testing::PrintToString(account));
        for (const auto& error : {
                 thrownBy([&] { store().setValue("overwritten?", account); }),
                 thrownBy([&] { (void)store().getValue(account); }),
                 thrownBy([&] { store().removeValue(account); }),
             }) {
            EXPECT_EQ(error.errorCase(), SecureStoreError::Case::unhandledError);
            EXPECT_EQ(error.message(), *refused);
        }
    }
    EXPECT_EQ(store().getValue("alice"), "alice's");
    EXPECT_EQ(storedItems(service).size(), 1u);
}

TEST_F(AppleSecureStoreTest, AccessGroupKeepsItemsApart) {
    const AppleSecureStore groupOne(GenericPasswordQueryable(service, "team.one"));
    const AppleSecureStore groupTwo(GenericPasswordQueryable(service, "team.two"));
    groupOne.setValue("one's", "credentials");

    EXPECT_EQ(groupOne.getValue("credentials"), "one's");
    EXPECT_EQ(groupTwo.getValue("credentials"), std::nullopt);
    groupTwo.removeAllValues();
    groupTwo.setValue("two's", "credentials");

    EXPECT_EQ(groupOne.getValue("credentials"), "one's");
    EXPECT_EQ(groupTwo.getValue("credentials"), "two's");
    auto items = storedItems(service);
    ASSERT_EQ(items.size(), 2u);
    for (const auto& item : items) {
        ASSERT_TRUE(item.accessGroup.has_value());
        EXPECT_EQ(item.data, bytesOf(*item.accessGroup == "team.one" ? "one's" : "two's"));
    }
}

TEST(AppleSecureStoreConstruction, NullQueryableIsRefused) {
    EXPECT_THROW(AppleSecureStore(std::shared_ptr<const SecureStoreQueryable>()), std::invalid_argument);
}

}  // namespace
