#include "SecretServiceOracle.h"

#include <libsecret/secret.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace securestore_test {
namespace {

// The store's item schema, written out again here on purpose: if the store
// ever changed how it files items, earlier items would be lost to it, and
// these tests would say so.
const SecretSchema& schema() {
    static const SecretSchema s = {
        "org.quorvel.ostrelcomm.GenericPassword",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"access-group", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
    };
    return s;
}

std::string takeMessage(GError* error) {
    std::string message = error ? error->message : "unknown error";
    if (error) g_error_free(error);
    return message;
}

SecretService* connect() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (service == nullptr) ADD_FAILURE() << "Secret Service: " << takeMessage(error);
    return service;
}

GHashTable* serviceAttributes(const std::string& service) {
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("service"), const_cast<char*>(service.c_str()));
    return attributes;
}

bool inCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
}

}  // namespace

bool secretServiceReady(std::string& why) {
    if (std::getenv("QUORVEL_TEST_KEYRING") == nullptr) {
        why = "not run under scripts/with-keyring";
        return false;
    }
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (service == nullptr) {
        why = "no Secret Service: " + takeMessage(error);
        return false;
    }
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    g_object_unref(service);
    if (collection == nullptr) {
        why = error ? "no default collection: " + takeMessage(error) : "no default collection";
        return false;
    }
    g_object_unref(collection);
    return true;
}

std::vector<StoredItem> storedItems(const std::string& service) {
    std::vector<StoredItem> found;
    SecretService* secretService = connect();
    if (secretService == nullptr) return found;
    GHashTable* attributes = serviceAttributes(service);
    GError* error = nullptr;
    GList* items = secret_service_search_sync(
        secretService, &schema(), attributes,
        static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS), nullptr,
        &error);
    g_hash_table_unref(attributes);
    if (error != nullptr) ADD_FAILURE() << "search: " << takeMessage(error);
    for (GList* node = items; node != nullptr; node = node->next) {
        auto* item = SECRET_ITEM(node->data);
        GHashTable* itemAttributes = secret_item_get_attributes(item);
        StoredItem stored;
        if (const auto* account = static_cast<const char*>(g_hash_table_lookup(itemAttributes, "account"))) {
            stored.account = account;
        }
        if (const auto* group = static_cast<const char*>(g_hash_table_lookup(itemAttributes, "access-group"))) {
            stored.accessGroup = group;
        }
        g_hash_table_unref(itemAttributes);
        if (SecretValue* value = secret_item_get_secret(item)) {
            gsize length = 0;
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(secret_value_get(value, &length));
            stored.data.assign(bytes, bytes + length);
            secret_value_unref(value);
        } else {
            ADD_FAILURE() << "an item of " << service << " has no readable secret";
        }
        found.push_back(std::move(stored));
    }
    g_list_free_full(items, g_object_unref);
    g_object_unref(secretService);
    return found;
}

void storeRaw(const std::string& service, const std::string& account, const std::vector<std::uint8_t>& data) {
    SecretService* secretService = connect();
    if (secretService == nullptr) return;
    GHashTable* attributes = serviceAttributes(service);
    g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    SecretValue* value = secret_value_new(reinterpret_cast<const gchar*>(data.data()),
                                          static_cast<gssize>(data.size()), "application/octet-stream");
    GError* error = nullptr;
    if (!secret_service_store_sync(secretService, &schema(), attributes, SECRET_COLLECTION_DEFAULT, "raw test item",
                                   value, nullptr, &error)) {
        ADD_FAILURE() << "store: " << takeMessage(error);
    }
    secret_value_unref(value);
    g_hash_table_unref(attributes);
    g_object_unref(secretService);
}

void clearService(const std::string& service) {
    SecretService* secretService = connect();
    if (secretService == nullptr) return;
    GHashTable* attributes = serviceAttributes(service);
    GError* error = nullptr;
    secret_service_clear_sync(secretService, &schema(), attributes, nullptr, &error);
    if (error != nullptr) ADD_FAILURE() << "clear: " << takeMessage(error);
    g_hash_table_unref(attributes);
    g_object_unref(secretService);
}

std::string freshServiceName() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "org.quorvel.test.";
    name += info ? std::string(info->test_suite_name()) + "." + info->name() : "unnamed";
    return name + "." + std::to_string(getpid()) + "." + std::to_string(counter++);
}

void SecretServiceTest::SetUp() {
    std::string why;
    if (!secretServiceReady(why)) {
        if (inCI()) FAIL() << "The keychain tests must run against a Secret Service in CI: " << why;
        GTEST_SKIP() << "Needs a Secret Service (run under scripts/with-keyring): " << why;
    }
    service = freshServiceName();
    otherService = service + ".other";
}

void SecretServiceTest::TearDown() {
    if (service.empty()) return;
    clearService(service);
    clearService(otherService);
}

}  // namespace securestore_test
