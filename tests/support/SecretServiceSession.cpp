// SPDX-License-Identifier: GPL-3.0-or-later
// GLib code: this file includes no Qt header.
#include "SecretServiceSession.h"

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <gio/gio.h>
#include <glib-unix.h>
#include <mutex>
#include <sstream>
#include <thread>

namespace tallowin::testsupport {

namespace {
constexpr const char* kSecretsName = "org.freedesktop.secrets";
constexpr const char* kLoginCollection = "/org/freedesktop/secrets/collection/login";

std::string tail(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    std::string content = text.str();
    if (content.size() > 2000) {
        content = "..." + content.substr(content.size() - 2000);
    }
    return content;
}

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

/// Cancels a GCancellable when the time is up.
class CancelAfter {
public:
    explicit CancelAfter(std::chrono::milliseconds timeout)
        : cancellable_(g_cancellable_new()), watcher_([this, timeout] {
              std::unique_lock lock(mutex_);
              if (!finished_.wait_for(lock, timeout, [this] { return done_; })) {
                  g_cancellable_cancel(cancellable_);
              }
          }) {}
    CancelAfter(const CancelAfter&) = delete;
    CancelAfter& operator=(const CancelAfter&) = delete;
    ~CancelAfter() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        finished_.notify_one();
        watcher_.join();
        g_object_unref(cancellable_);
    }
    [[nodiscard]] GCancellable* get() const { return cancellable_; }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread watcher_;
};

/// A bus connection of our own for the test's bookkeeping.
std::unique_ptr<GDBusConnection, ObjectUnref> connect(const std::string& address,
                                                      std::string& problem) {
    GError* error = nullptr;
    CancelAfter deadline(std::chrono::seconds(10));
    std::unique_ptr<GDBusConnection, ObjectUnref> bus(g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, deadline.get(), &error));
    if (!bus) {
        problem = error ? error->message : "cannot connect to the bus";
        g_clear_error(&error);
        return nullptr;
    }
    g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
    return bus;
}

struct NameWait {
    GMainLoop* loop = nullptr;
    bool wantOwner = true;
    bool reached = false;
};

void nameChanged(NameWait& wait, bool owned) {
    if (owned == wait.wantOwner) {
        wait.reached = true;
        g_main_loop_quit(wait.loop);
    }
}

/// Waits until `name` has an owner on `bus` (or, with `wantOwner` false, has none), the
/// process `pidfd` ends, or the time is up.
bool waitForName(GDBusConnection* bus, const char* name, bool wantOwner, int pidfd,
                 std::chrono::milliseconds timeout) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    NameWait wait{g_main_loop_new(context, FALSE), wantOwner, false};
    const guint watch = g_bus_watch_name_on_connection(
        bus, name, G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, gpointer data) {
            nameChanged(*static_cast<NameWait*>(data), true);
        },
        [](GDBusConnection*, const gchar*, gpointer data) {
            nameChanged(*static_cast<NameWait*>(data), false);
        },
        &wait, nullptr);
    GSource* timer = g_timeout_source_new(static_cast<guint>(timeout.count()));
    g_source_set_callback(
        timer,
        [](gpointer data) {
            g_main_loop_quit(static_cast<NameWait*>(data)->loop);
            return G_SOURCE_REMOVE;
        },
        &wait, nullptr);
    g_source_attach(timer, context);
    GSource* ended = nullptr;
    if (pidfd >= 0) {
        ended = g_unix_fd_source_new(pidfd, G_IO_IN);
        g_source_set_callback(ended, G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer data) {
                                  g_main_loop_quit(static_cast<NameWait*>(data)->loop);
                                  return G_SOURCE_REMOVE;
                              }),
                              &wait, nullptr);
        g_source_attach(ended, context);
    }
    g_main_loop_run(wait.loop);
    g_bus_unwatch_name(watch);
    g_source_destroy(timer);
    g_source_unref(timer);
    if (ended) {
        g_source_destroy(ended);
        g_source_unref(ended);
    }
    // Let the unwatch finish its clean-up in this context before it goes away.
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_loop_unref(wait.loop);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return wait.reached;
}
} // namespace

bool secretServiceRequired() {
    const char* ci = std::getenv("CI");
    return ci && std::string_view(ci) == "true";
}

SecretServiceSession::SecretServiceSession() : SecretServiceSession(Options{}) {}

SecretServiceSession::SecretServiceSession(Options options) : options_(std::move(options)) {
    try {
        std::string base = std::filesystem::temp_directory_path().string();
        if (base.size() > 40) {
            base = "/tmp"; // unix socket paths are limited to 108 bytes
        }
        std::string pattern = base + "/tallowin-secrets-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            throw SecretServiceUnavailable("cannot create a temporary folder in " + base);
        }
        root_ = pattern;
        home_ = root_ / "home";
        const auto runtime = root_ / "runtime";
        std::filesystem::create_directories(home_ / ".local" / "share");
        std::filesystem::create_directories(home_ / ".config");
        std::filesystem::create_directories(home_ / ".cache");
        std::filesystem::create_directory(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);

        const char* path = std::getenv("PATH");
        environment_.set("PATH", path && *path ? path : "/usr/local/bin:/usr/bin:/bin");
        environment_.set("HOME", home_.string());
        environment_.set("XDG_DATA_HOME", (home_ / ".local" / "share").string());
        environment_.set("XDG_CONFIG_HOME", (home_ / ".config").string());
        environment_.set("XDG_CACHE_HOME", (home_ / ".cache").string());
        environment_.set("XDG_RUNTIME_DIR", runtime.string());

        startBus();
        environment_.set("DBUS_SESSION_BUS_ADDRESS", busAddress_);
        if (options_.startKeyring) {
            startKeyring();
        }
        if (options_.exportBusAddress) {
            if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
                previousBusAddress_ = previous;
            }
            ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress_.c_str(), 1);
            exported_ = true;
        }
    } catch (const SecretServiceUnavailable&) {
        tearDown();
        throw;
    } catch (const std::exception& error) {
        tearDown();
        throw SecretServiceUnavailable(error.what());
    }
}

SecretServiceSession::~SecretServiceSession() {
    tearDown();
}

void SecretServiceSession::startBus() {
    const auto config = root_ / "bus.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path="
        << (root_ / "runtime" / "bus").string()
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
    const auto log = root_ / "dbus.log";
    // No service directories: nothing is ever activated on this bus, so a missing service
    // is reported at once, and no prompter or other helper is started behind our back.
    bus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--config-file=" + config.string(), "--nofork",
                                 "--print-address=1"},
        environment_, ChildProcess::Options{false, true, log});
    const auto address = bus_->readLine(options_.startTimeout);
    if (!address || address->empty()) {
        throw SecretServiceUnavailable("dbus-daemon did not start: " + tail(log));
    }
    busAddress_ = *address;
}

void SecretServiceSession::startKeyring() {
    const auto log = root_ / "keyring.log";
    keyring_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"gnome-keyring-daemon", "--foreground", "--components=secrets",
                                 "--unlock"},
        environment_, ChildProcess::Options{true, false, log});
    // --unlock reads the login keyring's password from standard input (creating the keyring
    // with it the first time) and makes it the default collection.
    if (!keyring_->writeInputAndClose(options_.keyringPassword)) {
        throw SecretServiceUnavailable("gnome-keyring-daemon did not take its password: " +
                                       tail(log));
    }
    std::string problem;
    const auto bus = connect(busAddress_, problem);
    if (!bus) {
        throw SecretServiceUnavailable("cannot connect to the private bus: " + problem);
    }
    if (!waitForName(bus.get(), kSecretsName, true, keyring_->exitDescriptor(),
                     options_.startTimeout)) {
        throw SecretServiceUnavailable(
            std::string(keyring_->running() ? "gnome-keyring-daemon did not register in time: "
                                            : "gnome-keyring-daemon stopped: ") +
            tail(log));
    }
}

void SecretServiceSession::restartKeyring() {
    std::string problem;
    const auto bus = connect(busAddress_, problem);
    if (!bus) {
        throw SecretServiceUnavailable("cannot connect to the private bus: " + problem);
    }
    keyring_.reset();
    if (!waitForName(bus.get(), kSecretsName, false, -1, options_.startTimeout)) {
        throw SecretServiceUnavailable("the stopped gnome-keyring-daemon kept its bus name");
    }
    startKeyring();
}

void SecretServiceSession::tearDown() noexcept {
    if (exported_) {
        if (previousBusAddress_) {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", previousBusAddress_->c_str(), 1);
        } else {
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        }
        exported_ = false;
    }
    keyring_.reset();
    bus_.reset();
    if (!root_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

UserDirectories SecretServiceSession::userDirectories() const {
    return UserDirectories::from(environment_);
}

SecretServiceOptions SecretServiceSession::keychainOptions() const {
    return SecretServiceOptions::from(environment_);
}

CommandResult SecretServiceSession::run(const std::vector<std::string>& argv,
                                        std::string_view input,
                                        std::chrono::milliseconds timeout) const {
    return runCommand(argv, environment_, input, timeout);
}

void SecretServiceSession::lockKeyring() const {
    std::string problem;
    const auto bus = connect(busAddress_, problem);
    if (!bus) {
        throw SecretServiceUnavailable("cannot connect to the private bus: " + problem);
    }
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus.get(), kSecretsName, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
        "Lock", g_variant_new("(@ao)", g_variant_new_objv(&kLoginCollection, 1)), nullptr,
        G_DBUS_CALL_FLAGS_NONE, 10'000, nullptr, &error);
    if (!reply) {
        const std::string message = error ? error->message : "no reply";
        g_clear_error(&error);
        throw SecretServiceUnavailable("cannot lock the login keyring: " + message);
    }
    g_variant_unref(reply);
}

} // namespace tallowin::testsupport
