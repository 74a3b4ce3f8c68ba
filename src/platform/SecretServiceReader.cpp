// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SecretServiceReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <dbus/dbus.h>
#include <mutex>
#include <openssl/crypto.h>

namespace tallowin {

namespace {

constexpr const char* kSecretsName = "org.freedesktop.secrets";
constexpr const char* kSecretsPath = "/org/freedesktop/secrets";
constexpr const char* kServiceInterface = "org.freedesktop.Secret.Service";
constexpr const char* kItemInterface = "org.freedesktop.Secret.Item";

using Clock = std::chrono::steady_clock;

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

/// A call sent and not yet answered; dropping it forgets the answer.
struct PendingCallDrop {
    void operator()(DBusPendingCall* pending) const {
        if (!dbus_pending_call_get_completed(pending)) {
            dbus_pending_call_cancel(pending);
        }
        dbus_pending_call_unref(pending);
    }
};
using PendingCallPtr = std::unique_ptr<DBusPendingCall, PendingCallDrop>;

/// A D-Bus error that frees itself.
class Error {
public:
    Error() { dbus_error_init(&error_); }
    ~Error() { dbus_error_free(&error_); }
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;

    [[nodiscard]] DBusError* get() { return &error_; }
    [[nodiscard]] bool is(const char* name) const { return dbus_error_has_name(&error_, name); }

private:
    DBusError error_;
};

/// What a failed call means for the caller: the bus or the service is away (or too slow),
/// or something else went wrong.
KeychainStatus statusFor(const Error& error) {
    static constexpr std::array unavailable{
        DBUS_ERROR_SERVICE_UNKNOWN, DBUS_ERROR_NAME_HAS_NO_OWNER, DBUS_ERROR_NO_REPLY,
        DBUS_ERROR_TIMEOUT,         DBUS_ERROR_TIMED_OUT,         DBUS_ERROR_DISCONNECTED,
        DBUS_ERROR_NO_SERVER,       DBUS_ERROR_NO_NETWORK,        DBUS_ERROR_IO_ERROR,
        DBUS_ERROR_AUTH_FAILED,     DBUS_ERROR_BAD_ADDRESS,       DBUS_ERROR_FILE_NOT_FOUND,
        DBUS_ERROR_SPAWN_FAILED,    DBUS_ERROR_SPAWN_EXEC_FAILED, DBUS_ERROR_SPAWN_CHILD_EXITED,
    };
    for (const char* name : unavailable) {
        if (error.is(name)) {
            return KeychainStatus::serviceUnavailable;
        }
    }
    return KeychainStatus::failed;
}

/// Milliseconds left before `deadline`, at least 1.
int millisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 1, 1'000'000'000));
}

/// The first object path in the array the iterator points at, or null when it is empty.
const char* firstPath(DBusMessageIter* array) {
    DBusMessageIter element;
    dbus_message_iter_recurse(array, &element);
    if (dbus_message_iter_get_arg_type(&element) != DBUS_TYPE_OBJECT_PATH) {
        return nullptr;
    }
    const char* path = nullptr;
    dbus_message_iter_get_basic(&element, &path);
    return path;
}

} // namespace

struct SecretServiceReader::Connection {
    DBusConnection* bus = nullptr;
    std::string session; ///< the "plain" session's object path, once opened

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (bus != nullptr) {
            dbus_connection_close(bus);
            dbus_connection_unref(bus);
        }
    }

    /// Sends `message` without waiting for its reply, which `finish` collects: calls that do
    /// not need each other's answers travel together, one round trip for all of them. The
    /// service answers them in the order sent. Null when it could not be sent.
    PendingCallPtr start(DBusMessage* message, Clock::time_point deadline) const {
        const MessagePtr owned(message);
        DBusPendingCall* pending = nullptr;
        if (message == nullptr ||
            !dbus_connection_send_with_reply(bus, message, &pending, millisecondsUntil(deadline))) {
            return nullptr;
        }
        return PendingCallPtr(pending); // null too when the connection is gone
    }

    /// Waits for the reply of a call that `start` sent (until the deadline given there). Null
    /// with `error` set when the call failed or the reply has another signature than
    /// `signature`.
    static MessagePtr finish(PendingCallPtr pending, const char* signature, Error& error) {
        if (!pending) {
            dbus_set_error_const(error.get(), DBUS_ERROR_DISCONNECTED, "not sent");
            return nullptr;
        }
        dbus_pending_call_block(pending.get());
        MessagePtr reply(dbus_pending_call_steal_reply(pending.get()));
        if (!reply) {
            dbus_set_error_const(error.get(), DBUS_ERROR_NO_REPLY, "no reply");
            return nullptr;
        }
        if (dbus_set_error_from_message(error.get(), reply.get())) {
            return nullptr;
        }
        if (!dbus_message_has_signature(reply.get(), signature)) {
            dbus_set_error_const(error.get(), DBUS_ERROR_INVALID_SIGNATURE, "unexpected reply");
            return nullptr;
        }
        return reply;
    }

    /// Sends `message` and waits for the reply until `deadline` (see finish).
    MessagePtr call(DBusMessage* message, const char* signature, Clock::time_point deadline,
                    Error& error) const {
        return finish(start(message, deadline), signature, error);
    }
};

SecretServiceReader::SecretServiceReader(std::string busAddress, std::chrono::milliseconds timeout)
    : busAddress_(std::move(busAddress)), timeout_(timeout) {
    static std::once_flag once;
    // libdbus would otherwise set SIGPIPE to be ignored process-wide on the first connection;
    // it writes with MSG_NOSIGNAL anyway.
    std::call_once(once, [] { dbus_connection_set_change_sigpipe(FALSE); });
}

SecretServiceReader::~SecretServiceReader() = default;

KeychainStatus SecretServiceReader::read(const std::map<std::string, std::string>& attributes,
                                         SecretBytes& data) {
    if (busAddress_.empty()) {
        return KeychainStatus::serviceUnavailable;
    }
    const bool reused = connection_ != nullptr;
    KeychainStatus status = readOnce(attributes, data);
    // A kept connection fails when the service was restarted (its session is gone) or the
    // bus went away: one more try on a new one.
    if (reused &&
        (status == KeychainStatus::serviceUnavailable || status == KeychainStatus::failed)) {
        status = readOnce(attributes, data);
    }
    return status;
}

KeychainStatus SecretServiceReader::readOnce(const std::map<std::string, std::string>& attributes,
                                             SecretBytes& data) {
    const Clock::time_point deadline = Clock::now() + timeout_;
    Error error;
    const auto fail = [&](KeychainStatus status) {
        connection_.reset();
        return status;
    };

    // A new connection says Hello to the bus; the session is opened once per connection.
    // Those calls and the search go out together and are answered in turn.
    std::unique_ptr<Connection> fresh;
    if (!connection_) {
        fresh = std::make_unique<Connection>();
        fresh->bus = dbus_connection_open_private(busAddress_.c_str(), error.get());
        if (fresh->bus == nullptr) {
            return KeychainStatus::serviceUnavailable;
        }
        dbus_connection_set_exit_on_disconnect(fresh->bus, FALSE);
        // A blocking call would wait for the handshake without limit: drive it here instead.
        while (!dbus_connection_get_is_authenticated(fresh->bus)) {
            if (Clock::now() >= deadline || !dbus_connection_get_is_connected(fresh->bus)) {
                return KeychainStatus::serviceUnavailable;
            }
            dbus_connection_read_write(fresh->bus, millisecondsUntil(deadline));
        }
    }
    Connection& connection = fresh ? *fresh : *connection_;

    PendingCallPtr hello;
    if (fresh) {
        hello = connection.start(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                              DBUS_INTERFACE_DBUS, "Hello"),
                                 deadline);
    }
    PendingCallPtr open;
    if (connection.session.empty()) {
        DBusMessage* message = dbus_message_new_method_call(kSecretsName, kSecretsPath,
                                                            kServiceInterface, "OpenSession");
        if (message != nullptr) {
            DBusMessageIter arguments;
            DBusMessageIter input;
            const char* algorithm = "plain";
            const char* nothing = "";
            dbus_message_iter_init_append(message, &arguments);
            dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &algorithm);
            dbus_message_iter_open_container(&arguments, DBUS_TYPE_VARIANT, "s", &input);
            dbus_message_iter_append_basic(&input, DBUS_TYPE_STRING, &nothing);
            dbus_message_iter_close_container(&arguments, &input);
        }
        open = connection.start(message, deadline);
    }
    DBusMessage* search =
        dbus_message_new_method_call(kSecretsName, kSecretsPath, kServiceInterface, "SearchItems");
    if (search != nullptr) {
        DBusMessageIter arguments;
        DBusMessageIter dictionary;
        dbus_message_iter_init_append(search, &arguments);
        dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "{ss}", &dictionary);
        for (const auto& [name, value] : attributes) {
            DBusMessageIter entry;
            const char* key = name.c_str();
            const char* text = value.c_str();
            dbus_message_iter_open_container(&dictionary, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
            dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
            dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &text);
            dbus_message_iter_close_container(&dictionary, &entry);
        }
        dbus_message_iter_close_container(&arguments, &dictionary);
    }
    PendingCallPtr searching = connection.start(search, deadline);

    if (fresh) {
        const MessagePtr named = Connection::finish(std::move(hello), "s", error);
        const char* name = nullptr;
        if (!named || !dbus_message_get_args(named.get(), error.get(), DBUS_TYPE_STRING, &name,
                                             DBUS_TYPE_INVALID)) {
            return KeychainStatus::serviceUnavailable;
        }
        dbus_bus_set_unique_name(connection.bus, name);
        connection_ = std::move(fresh);
    }
    if (open) {
        const MessagePtr opened = Connection::finish(std::move(open), "vo", error);
        if (!opened) {
            return fail(statusFor(error));
        }
        DBusMessageIter reply;
        dbus_message_iter_init(opened.get(), &reply);
        dbus_message_iter_next(&reply);
        const char* path = nullptr;
        dbus_message_iter_get_basic(&reply, &path);
        connection.session = path;
    }
    const MessagePtr found = Connection::finish(std::move(searching), "aoao", error);
    if (!found) {
        return fail(statusFor(error));
    }
    DBusMessageIter lists;
    dbus_message_iter_init(found.get(), &lists);
    const char* item = firstPath(&lists);
    if (item == nullptr) {
        dbus_message_iter_next(&lists);
        return firstPath(&lists) != nullptr ? KeychainStatus::interactionNotAllowed
                                            : KeychainStatus::itemNotFound;
    }

    DBusMessage* get =
        dbus_message_new_method_call(kSecretsName, item, kItemInterface, "GetSecret");
    if (get != nullptr) {
        const char* session = connection.session.c_str();
        dbus_message_append_args(get, DBUS_TYPE_OBJECT_PATH, &session, DBUS_TYPE_INVALID);
    }
    const MessagePtr secret = connection.call(get, "(oayays)", deadline, error);
    if (!secret) {
        if (error.is(DBUS_ERROR_UNKNOWN_OBJECT) || error.is(DBUS_ERROR_UNKNOWN_METHOD)) {
            return KeychainStatus::itemNotFound; // deleted since the search
        }
        return fail(statusFor(error));
    }
    DBusMessageIter reply;
    DBusMessageIter fields;
    DBusMessageIter bytes;
    dbus_message_iter_init(secret.get(), &reply);
    dbus_message_iter_recurse(&reply, &fields);
    dbus_message_iter_next(&fields); // the session
    dbus_message_iter_next(&fields); // the parameters, empty in a plain session
    dbus_message_iter_recurse(&fields, &bytes);
    const std::uint8_t* start = nullptr;
    int length = 0;
    dbus_message_iter_get_fixed_array(&bytes, &start, &length);
    data = SecretBytes(std::span<const std::uint8_t>(start, static_cast<std::size_t>(length)));
    if (length > 0) {
        OPENSSL_cleanse(const_cast<std::uint8_t*>(start), static_cast<std::size_t>(length));
    }
    return KeychainStatus::success;
}

} // namespace tallowin
