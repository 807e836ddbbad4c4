#include "app/utils/DesktopPortalAppearanceProvider.h"

#include <dbus/dbus.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;

struct ConnectionCloser {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// The session bus's address as the desktop gives it, or its usual socket. No
// bus is started for the question.
std::optional<std::string> sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return std::nullopt;
    const std::string socket = std::string(runtime) + "/bus";
    struct stat info {};
    if (::stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return std::nullopt;
    return "unix:path=" + socket;
}

// Sends `call` and waits for its answer until `deadline`; none on an error
// answer, a failure or no answer in time.
Message ask(DBusConnection* connection, DBusMessage* call, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return nullptr;
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply =
        dbus_connection_send_with_reply_and_block(connection, call, static_cast<int>(left.count()), &error);
    dbus_error_free(&error);
    return Message(reply);
}

// The scheme in the answer to "Read", which wraps the value in a variant once
// more than its signature says ("ReadOne" does not): either shape is taken,
// and no deeper. Only an integer counts.
std::optional<std::int64_t> schemeNumber(DBusMessage* reply) {
    DBusMessageIter iter;
    if (!dbus_message_iter_init(reply, &iter)) return std::nullopt;
    for (int depth = 0; depth < 2 && dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT; ++depth) {
        DBusMessageIter inner;
        dbus_message_iter_recurse(&iter, &inner);
        iter = inner;
    }
    switch (dbus_message_iter_get_arg_type(&iter)) {
        case DBUS_TYPE_UINT32: {
            dbus_uint32_t value = 0;
            dbus_message_iter_get_basic(&iter, &value);
            return value;
        }
        case DBUS_TYPE_INT32: {
            dbus_int32_t value = 0;
            dbus_message_iter_get_basic(&iter, &value);
            return value;
        }
        default: return std::nullopt;
    }
}

}  // namespace

DesktopPortalAppearanceProvider::DesktopPortalAppearanceProvider(std::string service,
                                                                 std::chrono::milliseconds timeout)
    : service_(std::move(service)), timeout_(timeout) {}

std::optional<std::string> DesktopPortalAppearanceProvider::appleInterfaceStyle() const {
    const Clock::time_point deadline = Clock::now() + timeout_;
    const auto address = sessionBusAddress();
    if (!address || !dbus_validate_bus_name(service_.c_str(), nullptr)) return std::nullopt;

    DBusError error;
    dbus_error_init(&error);
    Connection connection(dbus_connection_open_private(address->c_str(), &error));
    dbus_error_free(&error);
    if (!connection) return std::nullopt;
    // A bus that goes away must not end the program.
    dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);

    // Every connection greets the bus first. Sent by hand, so that the
    // greeting too waits no longer than the bound.
    Message hello(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"));
    if (!hello || !ask(connection.get(), hello.get(), deadline)) return std::nullopt;

    Message read(dbus_message_new_method_call(service_.c_str(), kPortalPath, kSettingsInterface, "Read"));
    const char* settingsNamespace = "org.freedesktop.appearance";
    const char* key = "color-scheme";
    if (!read || !dbus_message_append_args(read.get(), DBUS_TYPE_STRING, &settingsNamespace, DBUS_TYPE_STRING, &key,
                                           DBUS_TYPE_INVALID))
        return std::nullopt;
    const Message reply = ask(connection.get(), read.get(), deadline);
    if (!reply) return std::nullopt;
    const auto scheme = schemeNumber(reply.get());
    if (scheme == 1) return "Dark";
    if (scheme == 2) return "Light";
    return std::nullopt;
}

}  // namespace quorvel
