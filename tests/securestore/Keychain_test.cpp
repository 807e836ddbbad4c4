#include "securestore/Keychain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SecretServiceOracle.h"

using namespace ostrelcomm::keychain;
using securestore_test::SecretServiceTest;
using securestore_test::storedItems;

namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

class KeychainTest : public SecretServiceTest {
protected:
    KeychainDictionary itemQuery(std::string_view account) const {
        KeychainDictionary query;
        query.setText(kSecClass, kSecClassGenericPassword);
        query.setText(kSecAttrService, service);
        query.setText(kSecAttrAccount, account);
        return query;
    }

    void addItem(std::string_view account, std::string_view value) const {
        KeychainDictionary attributes = itemQuery(account);
        attributes.setData(kSecValueData, bytesOf(value));
        ASSERT_EQ(SecItemAdd(attributes, nullptr), errSecSuccess);
    }
};

TEST_F(KeychainTest, CopyMatchingGivesAttributesAndDataWhenAsked) {
    addItem("alice", "secret");
    KeychainDictionary query = itemQuery("alice");
    query.setText(kSecMatchLimit, kSecMatchLimitOne);
    query.setFlag(kSecReturnAttributes, true);
    query.setFlag(kSecReturnData, true);

    KeychainDictionary result;
    ASSERT_EQ(SecItemCopyMatching(query, &result), errSecSuccess);
    ASSERT_NE(result.findText(kSecClass), nullptr);
    EXPECT_EQ(*result.findText(kSecClass), kSecClassGenericPassword);
    ASSERT_NE(result.findText(kSecAttrService), nullptr);
    EXPECT_EQ(*result.findText(kSecAttrService), service);
    ASSERT_NE(result.findText(kSecAttrAccount), nullptr);
    EXPECT_EQ(*result.findText(kSecAttrAccount), "alice");
    EXPECT_FALSE(result.contains(kSecAttrAccessGroup));
    ASSERT_NE(result.findData(kSecValueData), nullptr);
    EXPECT_EQ(*result.findData(kSecValueData), bytesOf("secret"));

    EXPECT_EQ(SecItemCopyMatching(itemQuery("alice"), nullptr), errSecSuccess);
    EXPECT_EQ(SecItemCopyMatching(itemQuery("bob"), &result), errSecItemNotFound);
}

TEST_F(KeychainTest, UpdateAndDeleteOfNothingReportItemNotFound) {
    KeychainDictionary newData;
    newData.setData(kSecValueData, bytesOf("x"));
    EXPECT_EQ(SecItemUpdate(itemQuery("nobody"), newData), errSecItemNotFound);
    EXPECT_EQ(SecItemDelete(itemQuery("nobody")), errSecItemNotFound);
    EXPECT_TRUE(storedItems(service).empty());
}

// A selector the layer does not understand must never be dropped: the
// removal would then reach items the caller did not name.
TEST_F(KeychainTest, MalformedQueriesAreRefusedAndTouchNothing) {
    addItem("alice", "kept");
    addItem("bob", "kept too");

    struct Case {
        const char* what;
        KeychainDictionary query;
    };
    std::vector<Case> cases;
    {
        KeychainDictionary query = itemQuery("alice");
        query.setText("label", "alice");
        cases.push_back({"unknown key", query});
    }
    {
        KeychainDictionary query;
        query.setText(kSecClass, kSecClassGenericPassword);
        cases.push_back({"no service", query});
    }
    {
        KeychainDictionary query;
        query.setText(kSecAttrService, service);
        cases.push_back({"no class", query});
    }
    {
        KeychainDictionary query = itemQuery("alice");
        query.setText(kSecClass, "internet-password");
        cases.push_back({"other class", query});
    }
    {
        KeychainDictionary query = itemQuery("alice");
        query.setFlag(kSecAttrAccount, true);
        cases.push_back({"account of the wrong type", query});
    }
    {
        KeychainDictionary query = itemQuery("alice");
        query.setText(kSecMatchLimit, kSecMatchLimitOne);
        cases.push_back({"match limit on a removal", query});
    }
    {
        KeychainDictionary query = itemQuery(std::string("alice\0x", 7));
        cases.push_back({"NUL in the account", query});
    }

    KeychainDictionary newData;
    newData.setData(kSecValueData, bytesOf("overwritten"));
    for (const auto& [what, query] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(SecItemDelete(query), errSecParam);
        EXPECT_EQ(SecItemUpdate(query, newData), errSecParam);
    }
    KeychainDictionary moreThanData = newData;
    moreThanData.setText(kSecAttrAccount, "bob");
    EXPECT_EQ(SecItemUpdate(itemQuery("alice"), moreThanData), errSecParam);
    EXPECT_EQ(SecItemAdd(itemQuery("carol"), nullptr), errSecParam);  // no data

    auto items = storedItems(service);
    ASSERT_EQ(items.size(), 2u);
    for (const auto& item : items) {
        EXPECT_EQ(item.data, bytesOf(item.account == "alice" ? "kept" : "kept too"));
    }
}

}  // namespace
