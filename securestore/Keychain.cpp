#include "securestore/Keychain.h"

#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace ostrelcomm::keychain {
namespace {

// Long enough for a person to answer a prompt that unlocks the keyring, short
// enough that a wedged Secret Service never freezes the caller for good.
constexpr std::chrono::seconds callTimeout{60};

// Names of the item attributes as they are kept in the Secret Service.
constexpr const char* serviceAttribute = "service";
constexpr const char* accountAttribute = "account";
constexpr const char* accessGroupAttribute = "access-group";

// Items are matched by schema name as well, so no item written by another
// program with look-alike attributes is ever read, replaced or removed.
const SecretSchema& itemSchema() {
    static const SecretSchema schema = {
        "org.quorvel.ostrelcomm.GenericPassword",
        SECRET_SCHEMA_NONE,
        {
            {serviceAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING},
            {accountAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING},
            {accessGroupAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
    };
    return schema;
}

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct TableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct ItemListFree {
    void operator()(GList* items) const { g_list_free_full(items, g_object_unref); }
};
using ServicePtr = std::unique_ptr<SecretService, ObjectUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using TablePtr = std::unique_ptr<GHashTable, TableUnref>;
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;
using ItemListPtr = std::unique_ptr<GList, ItemListFree>;

// Cancels its GCancellable when the time is up, which ends any blocking call
// that was given it.
class Deadline {
public:
    explicit Deadline(std::chrono::seconds limit) : cancellable_(g_cancellable_new()) {
        watcher_ = std::thread([this, limit] {
            bool expired = false;
            {
                std::unique_lock lock(mutex_);
                expired = !finished_changed_.wait_for(lock, limit, [this] { return finished_; });
            }
            if (expired) g_cancellable_cancel(cancellable_);
        });
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    // The watcher is woken first, so the join returns at once.
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        finished_changed_.notify_one();
        watcher_.join();
        g_object_unref(cancellable_);
    }

    GCancellable* cancellable() const { return cancellable_; }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable finished_changed_;
    bool finished_ = false;
    std::thread watcher_;
};

OSStatus statusOf(const GError* error) {
    if (error == nullptr) return errSecInternalComponent;
    if (error->domain == G_IO_ERROR) {
        switch (error->code) {
            case G_IO_ERROR_CANCELLED:  // only the deadline cancels
            case G_IO_ERROR_TIMED_OUT:
                return errSecTimedOut;
            case G_IO_ERROR_NOT_FOUND:
            case G_IO_ERROR_CLOSED:
            case G_IO_ERROR_CONNECTION_REFUSED:
            case G_IO_ERROR_BROKEN_PIPE:
            case G_IO_ERROR_NOT_CONNECTED:
            case G_IO_ERROR_PERMISSION_DENIED:
            case G_IO_ERROR_HOST_UNREACHABLE:
            case G_IO_ERROR_NETWORK_UNREACHABLE:
                return errSecNotAvailable;
            default:
                return errSecInternalComponent;
        }
    }
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
            case G_DBUS_ERROR_SERVICE_UNKNOWN:
            case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
            case G_DBUS_ERROR_NO_SERVER:
            case G_DBUS_ERROR_DISCONNECTED:
            case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
            case G_DBUS_ERROR_SPAWN_FAILED:
            case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
            case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
                return errSecNotAvailable;
            case G_DBUS_ERROR_NO_REPLY:
            case G_DBUS_ERROR_TIMEOUT:
            case G_DBUS_ERROR_TIMED_OUT:
                return errSecTimedOut;
            case G_DBUS_ERROR_ACCESS_DENIED:
            case G_DBUS_ERROR_AUTH_FAILED:
                return errSecAuthFailed;
            case G_DBUS_ERROR_UNKNOWN_OBJECT:
                return errSecItemNotFound;
            default:
                return errSecInternalComponent;
        }
    }
    if (error->domain == SECRET_ERROR) {
        switch (error->code) {
            case SECRET_ERROR_IS_LOCKED:
                return errSecInteractionNotAllowed;
            case SECRET_ERROR_NO_SUCH_OBJECT:
                return errSecItemNotFound;
            default:
                return errSecInternalComponent;
        }
    }
    return errSecInternalComponent;
}

// What a query asks for, checked against what the operation takes.
enum class Operation { copyMatching, add, update, remove };

struct Selection {
    // Schema attribute name and value, in the order given.
    std::vector<std::pair<const char*, std::string>> attributes;
    bool returnAttributes = false;
    bool returnData = false;
    const std::vector<std::uint8_t>* data = nullptr;

    const std::string* attribute(const char* name) const {
        for (const auto& [key, value] : attributes) {
            if (key == name) return &value;
        }
        return nullptr;
    }
};

// Attribute texts travel as D-Bus strings: they must be UTF-8 and, being C
// strings on the way, free of NUL (else "a\0b" would quietly become "a").
bool isAttributeText(const std::string& text) {
    return g_utf8_validate_len(text.data(), text.size(), nullptr) != FALSE;
}

OSStatus parse(const KeychainDictionary& query, Operation operation, Selection& selection) {
    bool hasClass = false;
    for (const auto& [key, value] : query) {
        if (key == kSecClass) {
            const auto* text = std::get_if<std::string>(&value);
            if (text == nullptr || *text != kSecClassGenericPassword) return errSecParam;
            hasClass = true;
        } else if (key == kSecAttrService || key == kSecAttrAccount || key == kSecAttrAccessGroup) {
            const auto* text = std::get_if<std::string>(&value);
            if (text == nullptr || !isAttributeText(*text)) return errSecParam;
            const char* name = key == kSecAttrService   ? serviceAttribute
                               : key == kSecAttrAccount ? accountAttribute
                                                        : accessGroupAttribute;
            selection.attributes.emplace_back(name, *text);
        } else if (key == kSecMatchLimit && operation == Operation::copyMatching) {
            const auto* text = std::get_if<std::string>(&value);
            if (text == nullptr || *text != kSecMatchLimitOne) return errSecParam;
        } else if ((key == kSecReturnAttributes || key == kSecReturnData) &&
                   operation == Operation::copyMatching) {
            const auto* flag = std::get_if<bool>(&value);
            if (flag == nullptr) return errSecParam;
            (key == kSecReturnData ? selection.returnData : selection.returnAttributes) = *flag;
        } else if (key == kSecValueData && operation == Operation::add) {
            selection.data = std::get_if<std::vector<std::uint8_t>>(&value);
            if (selection.data == nullptr) return errSecParam;
        } else {
            return errSecParam;
        }
    }
    if (!hasClass || selection.attribute(serviceAttribute) == nullptr) return errSecParam;
    if (operation == Operation::add && selection.data == nullptr) return errSecParam;
    return errSecSuccess;
}

// The table borrows the selection's strings; it must not outlive it.
TablePtr attributeTable(const Selection& selection) {
    TablePtr table(g_hash_table_new(g_str_hash, g_str_equal));
    for (const auto& [name, value] : selection.attributes) {
        g_hash_table_insert(table.get(), const_cast<char*>(name), const_cast<char*>(value.c_str()));
    }
    return table;
}

OSStatus connect(GCancellable* cancellable, ServicePtr& service) {
    GError* raw = nullptr;
    service.reset(secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, cancellable, &raw));
    ErrorPtr error(raw);
    if (service) return errSecSuccess;
    // However the bus or the service failed us, the keychain is not there.
    return g_error_matches(raw, G_IO_ERROR, G_IO_ERROR_CANCELLED) ? errSecTimedOut : errSecNotAvailable;
}

OSStatus search(SecretService* service, const Selection& selection, int flags, GCancellable* cancellable,
                ItemListPtr& items) {
    TablePtr attributes = attributeTable(selection);
    GError* raw = nullptr;
    items.reset(secret_service_search_sync(service, &itemSchema(), attributes.get(),
                                           static_cast<SecretSearchFlags>(flags), cancellable, &raw));
    ErrorPtr error(raw);
    if (error) return statusOf(error.get());
    return items ? errSecSuccess : errSecItemNotFound;
}

ValuePtr secretValue(const std::vector<std::uint8_t>& data) {
    // The Secret Service keeps the bytes as given; the content type only tells
    // other keyring tools that the store's values are text.
    const auto* bytes = data.empty() ? "" : reinterpret_cast<const gchar*>(data.data());
    return ValuePtr(secret_value_new(bytes, static_cast<gssize>(data.size()), "text/plain"));
}

void copyAttributes(SecretItem* item, KeychainDictionary& result) {
    TablePtr attributes(secret_item_get_attributes(item));
    if (!attributes) return;
    const std::pair<const char*, std::string_view> names[] = {
        {serviceAttribute, kSecAttrService},
        {accountAttribute, kSecAttrAccount},
        {accessGroupAttribute, kSecAttrAccessGroup},
    };
    for (const auto& [stored, key] : names) {
        const auto* value = static_cast<const char*>(g_hash_table_lookup(attributes.get(), stored));
        if (value != nullptr) result.setText(key, value);
    }
}

OSStatus copyMatching(const KeychainDictionary& query, KeychainDictionary* result) {
    Selection selection;
    if (OSStatus status = parse(query, Operation::copyMatching, selection); status != errSecSuccess) return status;
    const bool wantData = result != nullptr && selection.returnData;

    Deadline deadline(callTimeout);
    ServicePtr service;
    if (OSStatus status = connect(deadline.cancellable(), service); status != errSecSuccess) return status;
    int flags = SECRET_SEARCH_UNLOCK;
    if (wantData) flags |= SECRET_SEARCH_LOAD_SECRETS;
    ItemListPtr items;
    if (OSStatus status = search(service.get(), selection, flags, deadline.cancellable(), items);
        status != errSecSuccess) {
        return status;
    }
    if (result == nullptr) return errSecSuccess;

    auto* item = SECRET_ITEM(items->data);
    KeychainDictionary found;
    if (selection.returnAttributes) {
        found.setText(kSecClass, kSecClassGenericPassword);
        copyAttributes(item, found);
    }
    if (wantData) {
        ValuePtr value(secret_item_get_secret(item));
        if (!value) return secret_item_get_locked(item) ? errSecInteractionNotAllowed : errSecInternalComponent;
        gsize length = 0;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(secret_value_get(value.get(), &length));
        found.setData(kSecValueData, std::vector<std::uint8_t>(bytes, bytes + length));
    }
    *result = std::move(found);
    return errSecSuccess;
}

OSStatus add(const KeychainDictionary& attributes, KeychainDictionary* result) {
    Selection selection;
    if (OSStatus status = parse(attributes, Operation::add, selection); status != errSecSuccess) return status;
    if (result != nullptr) *result = KeychainDictionary();

    Deadline deadline(callTimeout);
    ServicePtr service;
    if (OSStatus status = connect(deadline.cancellable(), service); status != errSecSuccess) return status;

    std::string label = *selection.attribute(serviceAttribute);
    if (const auto* account = selection.attribute(accountAttribute)) label += " (" + *account + ")";
    ValuePtr value = secretValue(*selection.data);
    TablePtr table = attributeTable(selection);
    GError* raw = nullptr;
    // Storing replaces an item with exactly these attributes, so the
    // collection never holds two of them.
    gboolean stored = secret_service_store_sync(service.get(), &itemSchema(), table.get(), SECRET_COLLECTION_DEFAULT,
                                                label.c_str(), value.get(), deadline.cancellable(), &raw);
    ErrorPtr error(raw);
    if (stored) return errSecSuccess;
    if (g_error_matches(raw, SECRET_ERROR, SECRET_ERROR_NO_SUCH_OBJECT)) return errSecNoDefaultKeychain;
    return statusOf(raw);
}

OSStatus update(const KeychainDictionary& query, const KeychainDictionary& attributesToUpdate) {
    Selection selection;
    if (OSStatus status = parse(query, Operation::update, selection); status != errSecSuccess) return status;
    const auto* data = attributesToUpdate.findData(kSecValueData);
    if (data == nullptr || attributesToUpdate.size() != 1) return errSecParam;

    Deadline deadline(callTimeout);
    ServicePtr service;
    if (OSStatus status = connect(deadline.cancellable(), service); status != errSecSuccess) return status;
    ItemListPtr items;
    if (OSStatus status = search(service.get(), selection, SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK,
                                 deadline.cancellable(), items);
        status != errSecSuccess) {
        return status;
    }
    ValuePtr value = secretValue(*data);
    int updated = 0;
    for (GList* node = items.get(); node != nullptr; node = node->next) {
        GError* raw = nullptr;
        gboolean done = secret_item_set_secret_sync(SECRET_ITEM(node->data), value.get(), deadline.cancellable(), &raw);
        ErrorPtr error(raw);
        if (done) {
            ++updated;
            continue;
        }
        OSStatus status = statusOf(raw);
        if (status != errSecItemNotFound) return status;  // an item removed meanwhile is no failure
    }
    return updated > 0 ? errSecSuccess : errSecItemNotFound;
}

OSStatus removeMatching(const KeychainDictionary& query) {
    Selection selection;
    if (OSStatus status = parse(query, Operation::remove, selection); status != errSecSuccess) return status;

    Deadline deadline(callTimeout);
    ServicePtr service;
    if (OSStatus status = connect(deadline.cancellable(), service); status != errSecSuccess) return status;
    // Items are looked up and removed one by one, locked ones included (after
    // the keyring is unlocked): a bulk clear skips locked items and would
    // report a removal that did not happen.
    ItemListPtr items;
    if (OSStatus status = search(service.get(), selection, SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK,
                                 deadline.cancellable(), items);
        status != errSecSuccess) {
        return status;
    }
    int removed = 0;
    for (GList* node = items.get(); node != nullptr; node = node->next) {
        GError* raw = nullptr;
        gboolean done = secret_item_delete_sync(SECRET_ITEM(node->data), deadline.cancellable(), &raw);
        ErrorPtr error(raw);
        if (done) {
            ++removed;
            continue;
        }
        OSStatus status = statusOf(raw);
        if (status != errSecItemNotFound) return status;
    }
    return removed > 0 ? errSecSuccess : errSecItemNotFound;
}

// The operations answer with a status, never with an exception.
template <typename Call>
OSStatus guarded(Call&& call) noexcept {
    try {
        return call();
    } catch (...) {
        return errSecInternalComponent;
    }
}

}  // namespace

OSStatus SecItemCopyMatching(const KeychainDictionary& query, KeychainDictionary* result) {
    return guarded([&] { return copyMatching(query, result); });
}

OSStatus SecItemAdd(const KeychainDictionary& attributes, KeychainDictionary* result) {
    return guarded([&] { return add(attributes, result); });
}

OSStatus SecItemUpdate(const KeychainDictionary& query, const KeychainDictionary& attributesToUpdate) {
    return guarded([&] { return update(query, attributesToUpdate); });
}

OSStatus SecItemDelete(const KeychainDictionary& query) {
    return guarded([&] { return removeMatching(query); });
}

std::optional<std::string> SecCopyErrorMessageString(OSStatus status) {
    switch (status) {
        case errSecSuccess:
            return "No error.";
        case errSecParam:
            return "One or more parameters passed to the keychain were not valid.";
        case errSecInternalComponent:
            return "The Secret Service failed to carry out the keychain request.";
        case errSecNotAvailable:
            return "No Secret Service is reachable on the session bus, so the keychain is not available.";
        case errSecAuthFailed:
            return "The Secret Service refused access to the keychain.";
        case errSecItemNotFound:
            return "The item could not be found in the keychain.";
        case errSecNoDefaultKeychain:
            return "The Secret Service has no default keyring to keep the item in.";
        case errSecInteractionNotAllowed:
            return "The keyring is locked and could not be unlocked.";
        case errSecTimedOut:
            return "The Secret Service did not answer in time.";
        default:
            return std::nullopt;
    }
}

}  // namespace ostrelcomm::keychain
