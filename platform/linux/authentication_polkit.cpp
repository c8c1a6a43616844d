// Device-owner authentication through the polkit authority on the system bus.

#include <gio/gio.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/factory.h"

namespace quorlen {
namespace {

// The system bus at its fixed path: DBUS_SYSTEM_BUS_ADDRESS is never read, so a process of
// the same user cannot point the program at an authority of its own that says yes.
constexpr const char* kSystemBusAddress = "unix:path=/run/dbus/system_bus_socket";
constexpr const char* kAuthorityName = "org.freedesktop.PolicyKit1";
constexpr const char* kAuthorityPath = "/org/freedesktop/PolicyKit1/Authority";
constexpr const char* kAuthorityInterface = "org.freedesktop.PolicyKit1.Authority";
constexpr guint32 kAllowUserInteraction = 1;
// A non-interactive check answers at once; an interactive one waits for the owner.
constexpr gint kQuickTimeoutMs = 5000;

constexpr std::string_view kCopyAction = "com.quorlen.safe.copy";
constexpr std::string_view kDeleteAction = "com.quorlen.safe.delete";
// The prompt's text lives in the installed policy (unprivileged callers cannot pass
// details), so each fixed reason selects the action whose message it is.
constexpr std::string_view kCopyReason = "Copy this device-only Quorlen key for 20 seconds";
constexpr std::string_view kDeleteReason = "Delete a device-only Quorlen key";

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GVariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using Connection = std::unique_ptr<GDBusConnection, GObjectUnref>;
using Variant = std::unique_ptr<GVariant, GVariantUnref>;
using Error = std::unique_ptr<GError, GErrorFree>;

Connection connectSystemBus() {
    GError* raw = nullptr;
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    Connection connection(
        g_dbus_connection_new_for_address_sync(kSystemBusAddress, flags, nullptr, nullptr, &raw));
    Error error(raw);
    return connection;
}

// The process start time in clock ticks since boot, which polkit uses to tell a process
// from a later one that reuses its id.
std::optional<guint64> processStartTime() {
    std::ifstream stat("/proc/self/stat");
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;
    // The command name may hold spaces and parentheses; fields resume after the last ')'.
    auto close = line.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    // After the name come state (field 3) ... starttime (field 22).
    for (int index = 3; index < 22; ++index) fields >> field;
    guint64 start = 0;
    if (!(fields >> start)) return std::nullopt;
    return start;
}

enum class Answer { authorized, challenge, dismissed, denied, unavailable };

// The arguments of one CheckAuthorization call for this process, or null when its start
// time cannot be read.
GVariant* checkParameters(std::string_view action, bool interactive) {
    auto start = processStartTime();
    if (!start) return nullptr;
    GVariantBuilder subject;
    g_variant_builder_init(&subject, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&subject, "{sv}", "pid",
                          g_variant_new_uint32(static_cast<guint32>(::getpid())));
    g_variant_builder_add(&subject, "{sv}", "start-time", g_variant_new_uint64(*start));
    g_variant_builder_add(&subject, "{sv}", "uid",
                          g_variant_new_int32(static_cast<gint32>(::getuid())));
    GVariantBuilder details;
    g_variant_builder_init(&details, G_VARIANT_TYPE("a{ss}"));
    const std::string actionId(action);
    return g_variant_new("((sa{sv})sa{ss}us)", "unix-process", &subject, actionId.c_str(), &details,
                         interactive ? kAllowUserInteraction : 0u, "");
}

// A bus failure, a missing authority and an unregistered action all come as no reply.
Answer answerOf(GVariant* reply) {
    if (reply == nullptr) return Answer::unavailable;
    gboolean authorized = FALSE, challenge = FALSE;
    GVariant* resultDetails = nullptr;
    g_variant_get(reply, "((bb@a{ss}))", &authorized, &challenge, &resultDetails);
    Variant detailsOwner(resultDetails);
    if (authorized) return Answer::authorized;
    const char* dismissed = nullptr;
    if (g_variant_lookup(resultDetails, "polkit.dismissed", "&s", &dismissed) && dismissed &&
        std::string_view(dismissed) == "true") {
        return Answer::dismissed;
    }
    return challenge ? Answer::challenge : Answer::denied;
}

// One interactive check, waiting as long as the owner takes.
Answer checkInteractively(GDBusConnection* bus, std::string_view action) {
    GVariant* parameters = bus ? checkParameters(action, true) : nullptr;
    if (parameters == nullptr) return Answer::unavailable;
    GError* raw = nullptr;
    Variant reply(g_dbus_connection_call_sync(
        bus, kAuthorityName, kAuthorityPath, kAuthorityInterface, "CheckAuthorization", parameters,
        G_VARIANT_TYPE("((bba{ss}))"), G_DBUS_CALL_FLAGS_NONE, G_MAXINT, nullptr, &raw));
    Error error(raw);
    return answerOf(reply.get());
}

// Non-interactive checks of several actions, sent together so that they cost one round
// trip; returns true when every one answers authorized or challenge.
bool allAuthorizable(GDBusConnection* bus, std::initializer_list<std::string_view> actions) {
    if (bus == nullptr) return false;
    struct Pending {
        int remaining = 0;
        bool allAuthorizable = true;
    } pending;
    std::unique_ptr<GMainContext, void (*)(GMainContext*)> context(g_main_context_new(),
                                                                   g_main_context_unref);
    g_main_context_push_thread_default(context.get());
    auto done = +[](GObject* source, GAsyncResult* result, gpointer data) {
        auto* state = static_cast<Pending*>(data);
        GError* raw = nullptr;
        Variant reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw));
        Error error(raw);
        auto answer = answerOf(reply.get());
        if (answer != Answer::authorized && answer != Answer::challenge) {
            state->allAuthorizable = false;
        }
        --state->remaining;
    };
    for (auto action : actions) {
        GVariant* parameters = checkParameters(action, false);
        if (parameters == nullptr) {
            pending.allAuthorizable = false;
            break;
        }
        ++pending.remaining;
        g_dbus_connection_call(bus, kAuthorityName, kAuthorityPath, kAuthorityInterface,
                               "CheckAuthorization", parameters, G_VARIANT_TYPE("((bba{ss}))"),
                               G_DBUS_CALL_FLAGS_NONE, kQuickTimeoutMs, nullptr, done, &pending);
    }
    while (pending.remaining > 0) g_main_context_iteration(context.get(), TRUE);
    g_main_context_pop_thread_default(context.get());
    return pending.allAuthorizable;
}

Status statusOfInteractive(Answer answer) {
    switch (answer) {
        case Answer::authorized:
            return status::success;
        case Answer::dismissed:
            return status::userCancelled;
        case Answer::challenge:
            // After an interactive check a challenge means no agent could ask the owner.
            return status::interactionNotAllowed;
        case Answer::denied:
            return status::authFailed;
        case Answer::unavailable:
            break;
    }
    return status::notAvailable;
}

std::optional<std::string_view> actionForReason(std::string_view reason) {
    if (reason == kCopyReason) return kCopyAction;
    if (reason == kDeleteReason) return kDeleteAction;
    return std::nullopt;
}

class PolkitContext final : public AuthenticationContext,
                            public std::enable_shared_from_this<PolkitContext> {
  public:
    bool canEvaluatePolicy(int policy) override {
        if (policy != LAPolicyDeviceOwnerAuthentication) return false;
        Connection bus = connectSystemBus();
        return allAuthorizable(bus.get(), {kCopyAction, kDeleteAction});
    }

    void setLocalizedReason(std::string reason) override {
        std::lock_guard lock(mutex_);
        reason_ = std::move(reason);
    }

    // Every evaluation asks anew: the policy's defaults never keep an authorization.
    void setTouchIDAuthenticationAllowableReuseDuration(double) override {}

    void evaluatePolicy(int policy, std::string reason,
                        std::function<void(bool, Status)> reply) override {
        // The prompt can take as long as the owner needs; the caller's thread stays free.
        std::thread([self = shared_from_this(), policy, reason = std::move(reason),
                     reply = std::move(reply)] {
            Status result = self->evaluate(policy, reason);
            reply(result == status::success, result);
        }).detach();
    }

    void invalidate() override {
        invalidated_ = true;
        granted_ = false;
    }

    Status authenticateForRead() override {
        std::string reason;
        {
            std::lock_guard lock(mutex_);
            reason = reason_;
        }
        return evaluate(LAPolicyDeviceOwnerAuthentication, reason);
    }

    bool isGranted() const override { return granted_ && !invalidated_; }

  private:
    Status evaluate(int policy, std::string_view reason) {
        if (invalidated_) return status::authFailed;
        auto action = actionForReason(reason);
        if (policy != LAPolicyDeviceOwnerAuthentication || !action) return status::notAvailable;
        Connection bus = connectSystemBus();
        Status result = statusOfInteractive(checkInteractively(bus.get(), *action));
        if (result == status::success && !invalidated_) granted_ = true;
        return result;
    }

    std::mutex mutex_;
    std::string reason_;
    std::atomic<bool> granted_{false};
    std::atomic<bool> invalidated_{false};
};

class PolkitAuthentication final : public Authentication {
  public:
    std::shared_ptr<AuthenticationContext> makeContext() override {
        return std::make_shared<PolkitContext>();
    }
};

}  // namespace

std::unique_ptr<Authentication> makeSystemAuthentication() {
    return std::make_unique<PolkitAuthentication>();
}

}  // namespace quorlen
