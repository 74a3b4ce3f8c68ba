// SPDX-License-Identifier: GPL-3.0-or-later
// GLib code: this file includes no Qt header.
#include "platform/SecretServiceKeychain.h"

#include <condition_variable>
#include <libsecret/secret.h>
#include <map>
#include <sys/stat.h>
#include <thread>

namespace tallowin {

namespace {

/// Attributes only, no schema name: items are found by service, account and group alone.
const SecretSchema* itemSchema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "com.tallowin.Keychain";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[2] = {"group", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

/// SecretService points every instance at the process's shared session bus (its GObject
/// constructor sets "g-bus-type"). This subclass keeps the connection it is given instead, and
/// asks for no cached properties and no signal handlers: only method calls are made, and
/// nothing piles up in a main loop that this process may never run.
GObject* (*baseServiceConstructor)(GType, guint, GObjectConstructParam*) = nullptr;

GObject* constructOnOwnConnection(GType type, guint count, GObjectConstructParam* parameters) {
    GObject* object = baseServiceConstructor(type, count, parameters);
    g_object_set(object, "g-bus-type", G_BUS_TYPE_NONE, "g-flags",
                 static_cast<GDBusProxyFlags>(G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES |
                                              G_DBUS_PROXY_FLAGS_DO_NOT_CONNECT_SIGNALS),
                 nullptr);
    return object;
}

GType privateServiceType() {
    static const GType type = [] {
        GTypeQuery query{};
        g_type_query(SECRET_TYPE_SERVICE, &query);
        return g_type_register_static_simple(
            SECRET_TYPE_SERVICE, "TallowinPrivateSecretService", query.class_size,
            [](gpointer klass, gpointer) {
                auto* objectClass = G_OBJECT_CLASS(klass);
                baseServiceConstructor = objectClass->constructor;
                objectClass->constructor = constructOnOwnConnection;
            },
            query.instance_size, nullptr, static_cast<GTypeFlags>(0));
    }();
    return type;
}

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <class T> using ObjectPtr = std::unique_ptr<T, ObjectUnref>;

struct HashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;

struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;

struct ItemList {
    GList* items = nullptr;
    ItemList() = default;
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;
    ~ItemList() { g_list_free_full(items, g_object_unref); }
};

bool isUtf8(const std::string& text) {
    return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

/// The query as Secret Service attributes, or nothing when a value is not UTF-8.
AttributesPtr attributesFor(const KeychainQuery& query) {
    if (!isUtf8(query.service) || !isUtf8(query.account) || !isUtf8(query.accessGroup)) {
        return nullptr;
    }
    AttributesPtr attributes(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    g_hash_table_insert(attributes.get(), g_strdup("service"), g_strdup(query.service.c_str()));
    g_hash_table_insert(attributes.get(), g_strdup("account"), g_strdup(query.account.c_str()));
    if (!query.accessGroup.empty()) {
        g_hash_table_insert(attributes.get(), g_strdup("group"),
                            g_strdup(query.accessGroup.c_str()));
    }
    return attributes;
}

/// Cancels a GCancellable when the time is up. D-Bus calls otherwise wait 25 seconds for a
/// reply, and prompts wait without limit.
class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds timeout)
        : cancellable_(g_cancellable_new()), watcher_([this, timeout] {
              std::unique_lock lock(mutex_);
              if (!finished_.wait_for(lock, timeout, [this] { return done_; })) {
                  expired_ = true;
                  g_cancellable_cancel(cancellable_.get());
              }
          }) {}
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
    ~Deadline() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        finished_.notify_one();
        watcher_.join();
    }

    [[nodiscard]] GCancellable* cancellable() const { return cancellable_.get(); }
    [[nodiscard]] bool expired() {
        std::lock_guard lock(mutex_);
        return expired_;
    }

private:
    ObjectPtr<GCancellable> cancellable_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    bool expired_ = false;
    std::thread watcher_;
};

KeychainStatus statusFor(const GError* error) {
    if (error == nullptr) {
        return KeychainStatus::userCanceled; // a prompt was dismissed
    }
    if (error->domain == SECRET_ERROR) {
        switch (error->code) {
        case SECRET_ERROR_IS_LOCKED:
            return KeychainStatus::interactionNotAllowed;
        case SECRET_ERROR_NO_SUCH_OBJECT:
            return KeychainStatus::itemNotFound;
        default:
            return KeychainStatus::failed;
        }
    }
    if (error->domain == G_DBUS_ERROR) {
        switch (error->code) {
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_NO_REPLY:
        case G_DBUS_ERROR_TIMEOUT:
        case G_DBUS_ERROR_TIMED_OUT:
        case G_DBUS_ERROR_DISCONNECTED:
        case G_DBUS_ERROR_NO_SERVER:
        case G_DBUS_ERROR_NO_NETWORK:
        case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
        case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
        case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
        case G_DBUS_ERROR_SPAWN_FAILED:
        case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
        case G_DBUS_ERROR_SPAWN_SERVICE_INVALID:
            return KeychainStatus::serviceUnavailable;
        default:
            return KeychainStatus::failed;
        }
    }
    if (error->domain == G_IO_ERROR) {
        switch (error->code) {
        case G_IO_ERROR_CANCELLED:
            return KeychainStatus::userCanceled;
        case G_IO_ERROR_CLOSED:
        case G_IO_ERROR_CONNECTION_CLOSED:
        case G_IO_ERROR_NOT_CONNECTED:
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_TIMED_OUT:
        case G_IO_ERROR_NOT_FOUND:
        case G_IO_ERROR_HOST_UNREACHABLE:
        case G_IO_ERROR_NETWORK_UNREACHABLE:
            return KeychainStatus::serviceUnavailable;
        default:
            return KeychainStatus::failed;
        }
    }
    return KeychainStatus::failed;
}

std::string escapeAddressValue(const std::string& value) {
    static const char* hex = "0123456789abcdef";
    std::string escaped;
    for (const unsigned char c : value) {
        if (g_ascii_isalnum(c) || c == '-' || c == '_' || c == '/' || c == '.' || c == '\\' ||
            c == '*') {
            escaped += static_cast<char>(c);
        } else {
            escaped += '%';
            escaped += hex[c >> 4];
            escaped += hex[c & 0xf];
        }
    }
    return escaped;
}
} // namespace

std::optional<std::string> sessionBusAddress(const Environment& environment) {
    if (const auto address = environment.get("DBUS_SESSION_BUS_ADDRESS")) {
        std::string kept;
        std::size_t start = 0;
        while (start <= address->size()) {
            const auto end = std::min(address->find(';', start), address->size());
            const std::string entry = address->substr(start, end - start);
            if (!entry.empty() && entry.rfind("autolaunch:", 0) != 0) {
                kept += (kept.empty() ? "" : ";") + entry;
            }
            start = end + 1;
        }
        if (kept.empty()) {
            return std::nullopt;
        }
        return kept;
    }
    if (const auto runtime = environment.get("XDG_RUNTIME_DIR")) {
        const std::string socket = *runtime + "/bus";
        struct stat info {};
        if (::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
            return "unix:path=" + escapeAddressValue(socket);
        }
    }
    return std::nullopt;
}

SecretServiceOptions SecretServiceOptions::from(const Environment& environment) {
    SecretServiceOptions options;
    options.busAddress = sessionBusAddress(environment).value_or(std::string());
    return options;
}

/// A private connection to the bus and the service proxy on it. Private, not the process's
/// shared session bus, so the address is exactly the one configured, GLib never launches a
/// bus, and a bus that goes away does not end the process.
struct SecretServiceKeychain::Connection {
    ObjectPtr<GDBusConnection> bus;
    ObjectPtr<SecretService> service;

    ~Connection() {
        service.reset();
        if (bus) {
            g_dbus_connection_close(bus.get(), nullptr, nullptr, nullptr);
        }
    }
};

/// One serialised, time-limited call: connects when needed, maps the outcome, and retries
/// once on a fresh connection when a kept one turns out to be stale.
class SecretServiceKeychain::Call {
public:
    Call(SecretServiceKeychain& keychain, bool interactive)
        : keychain_(keychain), lock_(keychain.mutex_),
          deadline_(interactive ? keychain.options_.interactiveTimeout
                                : keychain.options_.callTimeout) {}

    /// Runs `body(service, cancellable, &error)`, which gives a status and may raise an error.
    template <class Body> KeychainStatus run(Body&& body) {
        for (int attempt = 0;; ++attempt) {
            const bool reused = keychain_.connection_ != nullptr;
            KeychainStatus status = KeychainStatus::failed;
            SecretService* service = this->service(status);
            if (!service) {
                return status;
            }
            GError* error = nullptr;
            status = body(service, deadline_.cancellable(), &error);
            status = finish(status, error);
            // A kept connection fails when the service was restarted (the session libsecret
            // opened with it is gone) or the bus went away; one more try on a new one.
            const bool stale =
                status == KeychainStatus::serviceUnavailable || status == KeychainStatus::failed;
            if (!(attempt == 0 && reused && stale && !deadline_.expired())) {
                return status;
            }
        }
    }

private:
    /// The service, or null with `status` saying why.
    SecretService* service(KeychainStatus& status) {
        if (keychain_.connection_ &&
            !g_dbus_connection_is_closed(keychain_.connection_->bus.get())) {
            return keychain_.connection_->service.get();
        }
        keychain_.connection_.reset();
        const std::string& address = keychain_.options_.busAddress;
        if (address.empty()) {
            status = KeychainStatus::serviceUnavailable;
            return nullptr;
        }
        GError* error = nullptr;
        auto connection = std::make_unique<Connection>();
        connection->bus.reset(g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, deadline_.cancellable(), &error));
        if (!connection->bus) {
            g_clear_error(&error);
            status = KeychainStatus::serviceUnavailable;
            return nullptr;
        }
        g_dbus_connection_set_exit_on_close(connection->bus.get(), FALSE);
        connection->service.reset(static_cast<SecretService*>(
            g_initable_new(privateServiceType(), deadline_.cancellable(), &error, "g-connection",
                           connection->bus.get(), "flags", SECRET_SERVICE_OPEN_SESSION, nullptr)));
        if (!connection->service) {
            g_clear_error(&error);
            status = KeychainStatus::serviceUnavailable; // no Secret Service on this bus
            return nullptr;
        }
        keychain_.connection_ = std::move(connection);
        return keychain_.connection_->service.get();
    }

    /// The status of the call: `status` when no error was raised, else the error's. Takes
    /// the error. Drops the connection when the call failed.
    KeychainStatus finish(KeychainStatus status, GError* error) {
        if (error != nullptr || status == KeychainStatus::userCanceled) {
            status = deadline_.expired() ? KeychainStatus::serviceUnavailable : statusFor(error);
        }
        g_clear_error(&error);
        if (status == KeychainStatus::serviceUnavailable || status == KeychainStatus::failed) {
            keychain_.connection_.reset();
        }
        return status;
    }

    SecretServiceKeychain& keychain_;
    std::lock_guard<std::mutex> lock_;
    Deadline deadline_;
};

namespace {
/// The items matching `attributes`, locked ones included; unlocking (which may prompt) and
/// loading secrets as `flags` say.
GList* search(SecretService* service, GHashTable* attributes, int flags, GCancellable* cancellable,
              GError** error) {
    return secret_service_search_sync(service, itemSchema(), attributes,
                                      static_cast<SecretSearchFlags>(flags | SECRET_SEARCH_ALL),
                                      cancellable, error);
}
} // namespace

SecretServiceKeychain::SecretServiceKeychain(SecretServiceOptions options)
    : options_(std::move(options)), reader_(options_.busAddress, options_.callTimeout) {}

SecretServiceKeychain::~SecretServiceKeychain() = default;

KeychainStatus SecretServiceKeychain::add(const KeychainQuery& query,
                                          const KeychainItemAttributes& attributes,
                                          std::span<const std::uint8_t> data) {
    const AttributesPtr wanted = attributesFor(query);
    if (!wanted || !isUtf8(attributes.label)) {
        return KeychainStatus::failed;
    }
    const ValuePtr value(secret_value_new(reinterpret_cast<const gchar*>(data.data()),
                                          static_cast<gssize>(data.size()), "text/plain"));
    return Call(*this, true)
        .run([&](SecretService* service, GCancellable* cancellable, GError** error) {
            // Replaces an item with the same attributes; a locked keyring may show its own prompt.
            const gboolean stored = secret_service_store_sync(
                service, itemSchema(), wanted.get(), SECRET_COLLECTION_DEFAULT,
                attributes.label.c_str(), value.get(), cancellable, error);
            return stored ? KeychainStatus::success : KeychainStatus::userCanceled;
        });
}

KeychainStatus SecretServiceKeychain::copyData(const KeychainQuery& query,
                                               const AuthenticationContext* context,
                                               SecretBytes& data) {
    const AttributesPtr wanted = attributesFor(query);
    if (!wanted) {
        return KeychainStatus::failed;
    }
    const bool interactive = context != nullptr && !context->interactionNotAllowed;
    if (!interactive) {
        // The browser host reads its session this way on every start: no prompt, so no need
        // for libsecret's proxies and encrypted session.
        std::map<std::string, std::string> attributes{{"service", query.service},
                                                      {"account", query.account}};
        if (!query.accessGroup.empty()) {
            attributes.emplace("group", query.accessGroup);
        }
        const std::lock_guard lock(mutex_);
        return reader_.read(attributes, data);
    }
    return Call(*this, true)
        .run([&](SecretService* service, GCancellable* cancellable, GError** error) {
            ItemList found;
            found.items =
                search(service, wanted.get(), SECRET_SEARCH_LOAD_SECRETS | SECRET_SEARCH_UNLOCK,
                       cancellable, error);
            if (*error) {
                return KeychainStatus::failed;
            }
            bool locked = false;
            for (GList* entry = found.items; entry; entry = entry->next) {
                auto* item = static_cast<SecretItem*>(entry->data);
                if (secret_item_get_locked(item)) {
                    locked = true;
                    continue;
                }
                const ValuePtr value(secret_item_get_secret(item));
                if (!value) {
                    continue;
                }
                gsize length = 0;
                const gchar* bytes = secret_value_get(value.get(), &length);
                data = SecretBytes(std::span<const std::uint8_t>(
                    reinterpret_cast<const std::uint8_t*>(bytes), length));
                return KeychainStatus::success;
            }
            return locked ? KeychainStatus::interactionNotAllowed : KeychainStatus::itemNotFound;
        });
}

KeychainStatus SecretServiceKeychain::copyAttributes(const KeychainQuery& query,
                                                     const AuthenticationContext*,
                                                     std::string& label) {
    const AttributesPtr wanted = attributesFor(query);
    if (!wanted) {
        return KeychainStatus::failed;
    }
    return Call(*this, false)
        .run([&](SecretService* service, GCancellable* cancellable, GError** error) {
            ItemList found;
            found.items = search(service, wanted.get(), 0, cancellable, error);
            if (*error) {
                return KeychainStatus::failed;
            }
            SecretItem* chosen = nullptr; // an unlocked match if there is one
            for (GList* entry = found.items; entry; entry = entry->next) {
                auto* item = static_cast<SecretItem*>(entry->data);
                if (!chosen || (secret_item_get_locked(chosen) && !secret_item_get_locked(item))) {
                    chosen = item;
                }
            }
            if (!chosen) {
                return KeychainStatus::itemNotFound;
            }
            gchar* text = secret_item_get_label(chosen);
            label = text ? text : "";
            g_free(text);
            return secret_item_get_locked(chosen) ? KeychainStatus::interactionNotAllowed
                                                  : KeychainStatus::success;
        });
}

KeychainStatus SecretServiceKeychain::remove(const KeychainQuery& query) {
    const AttributesPtr wanted = attributesFor(query);
    if (!wanted) {
        return KeychainStatus::failed;
    }
    return Call(*this, false)
        .run([&](SecretService* service, GCancellable* cancellable, GError** error) {
            ItemList found;
            found.items = search(service, wanted.get(), 0, cancellable, error);
            if (*error) {
                return KeychainStatus::failed;
            }
            bool removed = false;
            bool locked = false;
            for (GList* entry = found.items; entry; entry = entry->next) {
                auto* item = static_cast<SecretItem*>(entry->data);
                if (secret_item_get_locked(item)) {
                    locked = true; // deleting it would need the keyring's unlock prompt
                    continue;
                }
                if (!secret_item_delete_sync(item, cancellable, error)) {
                    return KeychainStatus::failed;
                }
                removed = true;
            }
            if (locked) {
                return KeychainStatus::interactionNotAllowed;
            }
            return removed ? KeychainStatus::success : KeychainStatus::itemNotFound;
        });
}

} // namespace tallowin
