// The store on the desktop's Secret Service, spoken to over GDBus directly: the listing has
// to be one search plus one pipelined property read per item, which the per-item proxies
// of the usual client library cannot give.
#include <gio/gio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "app/identity.h"
#include "platform/factory.h"
#include "platform/keychain.h"
#include "platform/linux/secret_session.h"
#include "platform/query_shape.h"

namespace quorlen {
namespace {

constexpr const char* kBusName = "org.freedesktop.secrets";
constexpr const char* kServicePath = "/org/freedesktop/secrets";
constexpr const char* kServiceInterface = "org.freedesktop.Secret.Service";
constexpr const char* kItemInterface = "org.freedesktop.Secret.Item";
constexpr const char* kPromptInterface = "org.freedesktop.Secret.Prompt";
constexpr const char* kSessionInterface = "org.freedesktop.Secret.Session";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

// Item attributes. The schema attribute is the one the common client library writes, so
// other tools see our items as belonging to this schema; every search matches on it, which
// keeps items that other programs filed under our service name out of the list.
constexpr const char* kSchemaAttribute = "xdg:schema";
constexpr const char* kSchemaName = "com.quorlen.safe.v1";
constexpr const char* kServiceAttribute = "service";
constexpr const char* kAccountAttribute = "account";
constexpr const char* kSynchronizableAttribute = "synchronizable";
constexpr const char* kAccessControlAttribute = "access-control";
constexpr const char* kProtectionAttribute = "protection";

// ---- Small owners of GLib handles -------------------------------------------------------

struct VariantUnref {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

struct ObjectUnref {
    void operator()(gpointer o) const { g_object_unref(o); }
};
using ConnectionPtr = std::unique_ptr<GDBusConnection, ObjectUnref>;

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct FreeString {
    void operator()(gchar* s) const { g_free(s); }
};

// A private main context made the thread default for one store call, so the replies of
// the calls issued during it are dispatched here and nowhere else.
class CallContext {
  public:
    CallContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
    ~CallContext() {
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    CallContext(const CallContext&) = delete;
    CallContext& operator=(const CallContext&) = delete;

    // Runs the context until `done` turns true.
    template <class Done>
    void runUntil(Done done) {
        while (!done()) g_main_context_iteration(context_, TRUE);
    }

  private:
    GMainContext* context_;
};

class Batch;

// One method call of a batch: what to send and, once it has come back, its reply or error.
struct Pending {
    Batch* batch = nullptr;
    std::string path;
    const char* interface = nullptr;
    const char* method = nullptr;
    VariantPtr parameters;
    const char* replyType = nullptr;
    VariantPtr reply;
    ErrorPtr error;
};

// Issues calls on one connection without waiting for each reply, then waits for all of them,
// so n calls cost about one round trip instead of n. At most kWindow calls are out at once:
// a bus refuses a connection too many pending replies (128 by default), and a refused call
// would otherwise look like a missing item.
class Batch {
  public:
    static constexpr std::size_t kWindow = 64;

    Batch(GDBusConnection* connection, std::size_t capacity) : connection_(connection) {
        // Pending records must not move while their calls are out.
        calls_.reserve(capacity);
    }

    // Queues a call; `parameters` may be null or floating, and is consumed. Returns its index.
    std::size_t call(std::string path, const char* interface, const char* method,
                     GVariant* parameters, const char* replyType) {
        calls_.push_back(Pending{this, std::move(path), interface, method,
                                 VariantPtr(parameters ? g_variant_ref_sink(parameters) : nullptr),
                                 replyType, nullptr, nullptr});
        return calls_.size() - 1;
    }

    // Sends the queued calls and returns once every reply or error is in.
    void wait() {
        while (sent_ < calls_.size() && sent_ - done_ < kWindow) send();
        context_.runUntil([this] { return done_ == calls_.size(); });
    }

    Pending& operator[](std::size_t index) { return calls_[index]; }
    std::size_t size() const { return calls_.size(); }

  private:
    void send() {
        Pending& pending = calls_[sent_++];
        g_dbus_connection_call(connection_, kBusName, pending.path.c_str(), pending.interface,
                               pending.method, pending.parameters.get(),
                               G_VARIANT_TYPE(pending.replyType), G_DBUS_CALL_FLAGS_NONE, -1,
                               nullptr, &Batch::finished, &pending);
    }

    static void finished(GObject* source, GAsyncResult* result, gpointer data) {
        auto* pending = static_cast<Pending*>(data);
        GError* error = nullptr;
        pending->reply.reset(
            g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
        pending->error.reset(error);
        Batch& batch = *pending->batch;
        ++batch.done_;
        if (batch.sent_ < batch.calls_.size()) batch.send();
    }

    GDBusConnection* connection_;
    CallContext context_;
    std::vector<Pending> calls_;
    std::size_t sent_ = 0;
    std::size_t done_ = 0;
};

// ---- Statuses ---------------------------------------------------------------------------

// The name a remote error was sent with, or empty for a local one.
std::string remoteErrorName(const GError* error) {
    std::unique_ptr<gchar, FreeString> name(g_dbus_error_get_remote_error(error));
    return name ? std::string(name.get()) : std::string();
}

// Maps a failed call to the store's statuses. Anything that means nobody serves the store
// here (no session bus, no daemon, the daemon gone or not answering) is "not available".
Status statusOf(const GError* error) {
    const std::string remote = remoteErrorName(error);
    if (remote == "org.freedesktop.Secret.Error.IsLocked") return status::interactionNotAllowed;
    if (remote == "org.freedesktop.Secret.Error.NoSuchObject" ||
        remote == "org.freedesktop.DBus.Error.UnknownObject") {
        return status::itemNotFound;
    }
    return status::notAvailable;
}

// True when a failure only says that the object is gone (deleted since it was found).
bool vanished(const GError* error) {
    const std::string remote = remoteErrorName(error);
    // gnome-keyring answers UnknownMethod for an object path it no longer serves.
    return remote == "org.freedesktop.Secret.Error.NoSuchObject" ||
           remote == "org.freedesktop.DBus.Error.UnknownObject" ||
           remote == "org.freedesktop.DBus.Error.UnknownMethod";
}

// ---- Attributes -------------------------------------------------------------------------

// The search every call starts from: this schema, this service, never synchronised.
GVariant* searchAttributes(const std::string& itemService, const std::string* account) {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
    g_variant_builder_add(&builder, "{ss}", kSchemaAttribute, kSchemaName);
    g_variant_builder_add(&builder, "{ss}", kServiceAttribute, itemService.c_str());
    g_variant_builder_add(&builder, "{ss}", kSynchronizableAttribute, "false");
    if (account != nullptr)
        g_variant_builder_add(&builder, "{ss}", kAccountAttribute, account->c_str());
    return g_variant_builder_end(&builder);
}

const char* protectionName(Accessibility protection) {
    switch (protection) {
        case Accessibility::kSecAttrAccessibleWhenUnlockedThisDeviceOnly:
            return "when-unlocked-this-device-only";
    }
    return "unknown";
}

// Returns the text under `key` in an a{ss} dictionary, or empty.
std::optional<std::string> lookupText(GVariant* dictionary, const char* key) {
    const gchar* value = nullptr;
    if (dictionary == nullptr || !g_variant_lookup(dictionary, key, "&s", &value)) {
        return std::nullopt;
    }
    return std::string(value);
}

// Item paths of the collection at `collection` among the paths in an "ao" value.
void appendItemsOf(GVariant* paths, std::string_view collection, std::vector<std::string>& out) {
    GVariantIter iter;
    g_variant_iter_init(&iter, paths);
    const gchar* path = nullptr;
    while (g_variant_iter_next(&iter, "&o", &path)) {
        const std::string_view p(path);
        if (p.size() > collection.size() + 1 && p.substr(0, collection.size()) == collection &&
            p[collection.size()] == '/') {
            out.emplace_back(p);
        }
    }
}

// The program's items in the default collection: one search and the default alias, sent
// together so they cost one round trip.
struct Matches {
    std::string collection;  // "/" when there is no default collection
    std::vector<std::string> unlocked;
    std::vector<std::string> locked;
};

struct MatchCalls {
    std::size_t search;
    std::size_t alias;
};

MatchCalls queueMatches(Batch& batch, const std::string& itemService, const std::string* account) {
    return MatchCalls{
        batch.call(kServicePath, kServiceInterface, "SearchItems",
                   g_variant_new("(@a{ss})", searchAttributes(itemService, account)), "(aoao)"),
        batch.call(kServicePath, kServiceInterface, "ReadAlias", g_variant_new("(s)", "default"),
                   "(o)")};
}

// Reads both replies of a waited batch into `out`; returns the status of a failed one, or 0.
Status readMatches(Batch& batch, MatchCalls calls, Matches& out) {
    for (const std::size_t i : {calls.search, calls.alias}) {
        if (batch[i].error) return statusOf(batch[i].error.get());
    }
    const gchar* collection = nullptr;
    g_variant_get(batch[calls.alias].reply.get(), "(&o)", &collection);
    out.collection = collection;
    VariantPtr unlocked(g_variant_get_child_value(batch[calls.search].reply.get(), 0));
    VariantPtr locked(g_variant_get_child_value(batch[calls.search].reply.get(), 1));
    appendItemsOf(unlocked.get(), out.collection, out.unlocked);
    appendItemsOf(locked.get(), out.collection, out.locked);
    return status::success;
}

// ---- Sessions ----------------------------------------------------------------------------

GVariant* byteArray(std::span<const std::uint8_t> bytes) {
    return g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, bytes.data(), bytes.size(), 1);
}

// One encrypted session with the service, closed when it goes. A service that offers only
// plain sessions is treated as unreachable: a secret never crosses the bus in the clear.
class ServiceSession {
  public:
    explicit ServiceSession(GDBusConnection* bus) : bus_(bus) {}
    ~ServiceSession() { close(); }
    ServiceSession(const ServiceSession&) = delete;
    ServiceSession& operator=(const ServiceSession&) = delete;

    // Queues the opening on `batch`; returns false when no key pair could be made.
    bool queue(Batch& batch) {
        crypto_ = SecretSession::begin();
        if (!crypto_) return false;
        call_ = batch.call(kServicePath, kServiceInterface, "OpenSession",
                           g_variant_new("(s@v)", SecretSession::kAlgorithm,
                                         g_variant_new_variant(byteArray(crypto_->publicKey()))),
                           "(vo)");
        return true;
    }

    // Reads the opening's reply from a waited batch: 0 when the session is ready, the
    // failure's status, or nothing when the keys did not agree and another session is needed.
    std::optional<Status> take(Batch& batch) {
        if (batch[call_].error) return statusOf(batch[call_].error.get());
        GVariant* boxed = nullptr;
        const gchar* path = nullptr;
        g_variant_get(batch[call_].reply.get(), "(v&o)", &boxed, &path);
        const VariantPtr output(boxed);
        close();
        path_ = path;
        if (!g_variant_is_of_type(output.get(), G_VARIANT_TYPE_BYTESTRING)) {
            return status::notAvailable;
        }
        gsize size = 0;
        const auto* bytes =
            static_cast<const std::uint8_t*>(g_variant_get_fixed_array(output.get(), &size, 1));
        if (!crypto_->agree(std::span(bytes, size))) return std::nullopt;
        return status::success;
    }

    // Opens a session on its own round trips.
    Status open() {
        // A retry is needed once in 256 sessions; a service whose key never agrees is broken.
        for (int attempt = 0; attempt < 4; ++attempt) {
            Batch batch(bus_, 1);
            if (!queue(batch)) return status::notAvailable;
            batch.wait();
            if (const std::optional<Status> rc = take(batch)) return *rc;
        }
        return status::notAvailable;
    }

    const std::string& path() const { return path_; }
    const SecretSession& crypto() const { return *crypto_; }

  private:
    void close() {
        if (path_.empty()) return;
        // No reply is needed; the message still goes out.
        g_dbus_connection_call(bus_, kBusName, path_.c_str(), kSessionInterface, "Close", nullptr,
                               nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
        g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
        path_.clear();
    }

    GDBusConnection* bus_;
    std::unique_ptr<SecretSession> crypto_;
    std::size_t call_ = 0;
    std::string path_;
};

// ---- The backend ------------------------------------------------------------------------

class SecretServiceKeychain final : public Keychain {
  public:
    Status copyMatching(const Query& query, KeychainResult& result) override {
        result = std::monostate{};
        if (auto request = listingRequest(query)) return list(*request->service, result);
        if (auto request = readRequest(query)) return read(*request, result);
        return status::badParameter;
    }

    Status add(const Query& query) override {
        const std::optional<AddRequest> request = addRequest(query);
        if (!request) return status::badParameter;
        return store(*request);
    }

    Status remove(const Query& query) override {
        const std::optional<ItemRequest> request = deleteRequest(query);
        if (!request) return status::badParameter;
        return erase(*request);
    }

    std::shared_ptr<const AccessControl> createAccessControl(Accessibility protection,
                                                             std::uint32_t flags) override {
        return std::make_shared<const AccessControl>(AccessControl{protection, flags});
    }

  private:
    // The session bus, or null when there is none.
    static ConnectionPtr connect() {
        GError* error = nullptr;
        ConnectionPtr bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
        if (error != nullptr) g_error_free(error);
        if (!bus || g_dbus_connection_is_closed(bus.get())) return nullptr;
        // A bus that goes away must fail our calls, not end the program.
        g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
        return bus;
    }

    // Reads labels and attributes only: no secret is loaded, nothing is unlocked and no
    // prompt can appear, so locked items list like unlocked ones.
    static Status list(const std::string& itemService, KeychainResult& result) {
        const ConnectionPtr bus = connect();
        if (!bus) return status::notAvailable;

        Matches matches;
        {
            Batch first(bus.get(), 2);
            const MatchCalls calls = queueMatches(first, itemService, nullptr);
            first.wait();
            if (Status rc = readMatches(first, calls, matches); rc != status::success) return rc;
        }
        if (matches.collection == "/") return status::itemNotFound;  // no default collection
        std::vector<std::string> paths = std::move(matches.unlocked);
        paths.insert(paths.end(), matches.locked.begin(), matches.locked.end());
        if (paths.empty()) return status::itemNotFound;

        Batch reads(bus.get(), paths.size());
        for (const std::string& path : paths) {
            reads.call(path, kPropertiesInterface, "GetAll", g_variant_new("(s)", kItemInterface),
                       "(a{sv})");
        }
        reads.wait();

        AttributeList list;
        list.reserve(paths.size());
        for (std::size_t i = 0; i < reads.size(); ++i) {
            Pending& read = reads[i];
            if (read.error) {
                // An item deleted since the search drops out; any other failure fails the
                // whole listing rather than showing part of the keys as if that were all.
                if (vanished(read.error.get())) continue;
                return statusOf(read.error.get());
            }
            VariantPtr properties(g_variant_get_child_value(read.reply.get(), 0));
            VariantPtr attributes(
                g_variant_lookup_value(properties.get(), "Attributes", G_VARIANT_TYPE("a{ss}")));
            // The service's own matching is not trusted to keep foreign items out.
            if (lookupText(attributes.get(), kSchemaAttribute) != kSchemaName ||
                lookupText(attributes.get(), kServiceAttribute) != itemService ||
                lookupText(attributes.get(), kSynchronizableAttribute) != "false") {
                continue;
            }
            AttributeMap map{{std::string(kSecAttrService), itemService},
                             {std::string(kSecAttrSynchronizable), false}};
            if (auto account = lookupText(attributes.get(), kAccountAttribute)) {
                map.emplace(kSecAttrAccount, std::move(*account));
            }
            // Every item here has a label, perhaps empty: an empty one is still text and is
            // shown as it is. Only a reply without one leaves the label out.
            const gchar* label = nullptr;
            if (g_variant_lookup(properties.get(), "Label", "&s", &label)) {
                map.emplace(kSecAttrLabel, std::string(label));
            }
            list.push_back(std::move(map));
        }
        if (list.empty()) return status::itemNotFound;
        result = std::move(list);
        return status::success;
    }

    // The one item of the default collection with this service and account.
    struct FoundItem {
        std::string path;
        bool locked = false;
        // Whether reading or removing it needs the owner: unless the item says it was stored
        // without user presence, it does, so a foreign or damaged item is never laxer.
        bool needsOwner = true;
    };

    static Status find(GDBusConnection* bus, const ItemRequest& request, FoundItem& found) {
        Matches matches;
        {
            Batch first(bus, 2);
            const MatchCalls calls = queueMatches(first, *request.service, request.account);
            first.wait();
            if (Status rc = readMatches(first, calls, matches); rc != status::success) return rc;
        }
        if (matches.unlocked.empty() && matches.locked.empty()) return status::itemNotFound;
        found.locked = matches.unlocked.empty();
        found.path = found.locked ? matches.locked.front() : matches.unlocked.front();

        Batch read(bus, 1);
        read.call(found.path, kPropertiesInterface, "Get",
                  g_variant_new("(ss)", kItemInterface, "Attributes"), "(v)");
        read.wait();
        if (read[0].error) {
            return vanished(read[0].error.get()) ? status::itemNotFound
                                                 : statusOf(read[0].error.get());
        }
        VariantPtr boxed(g_variant_get_child_value(read[0].reply.get(), 0));
        VariantPtr attributes(g_variant_get_variant(boxed.get()));
        // The service's own matching is not trusted: the item must really be this account's.
        if (lookupText(attributes.get(), kSchemaAttribute) != kSchemaName ||
            lookupText(attributes.get(), kServiceAttribute) != *request.service ||
            lookupText(attributes.get(), kAccountAttribute) != *request.account ||
            lookupText(attributes.get(), kSynchronizableAttribute) != "false") {
            return status::itemNotFound;
        }
        found.needsOwner = lookupText(attributes.get(), kAccessControlAttribute) != "0";
        return status::success;
    }

    // Reads one item's secret after the owner has authenticated through the query's context.
    static Status read(const ItemRequest& request, KeychainResult& result) {
        const ConnectionPtr bus = connect();
        if (!bus) return status::notAvailable;
        FoundItem item;
        if (Status rc = find(bus.get(), request, item); rc != status::success) return rc;
        if (item.needsOwner) {
            if (Status rc = request.context->authenticateForRead(); rc != status::success) {
                return rc;
            }
        }
        if (item.locked) {
            if (Status rc = unlock(bus.get(), item.path); rc != status::success) return rc;
        }

        ServiceSession session(bus.get());
        if (Status rc = session.open(); rc != status::success) return rc;

        Batch get(bus.get(), 1);
        get.call(item.path, kItemInterface, "GetSecret",
                 g_variant_new("(o)", session.path().c_str()), "((oayays))");
        get.wait();
        if (get[0].error) {
            return vanished(get[0].error.get()) ? status::itemNotFound
                                                : statusOf(get[0].error.get());
        }
        VariantPtr secret(g_variant_get_child_value(get[0].reply.get(), 0));
        VariantPtr parameter(g_variant_get_child_value(secret.get(), 1));
        VariantPtr value(g_variant_get_child_value(secret.get(), 2));
        gsize ivSize = 0;
        const auto* iv = static_cast<const std::uint8_t*>(
            g_variant_get_fixed_array(parameter.get(), &ivSize, 1));
        gsize size = 0;
        const auto* bytes =
            static_cast<const std::uint8_t*>(g_variant_get_fixed_array(value.get(), &size, 1));
        // A value that does not decrypt came from something that is not our session's peer.
        std::optional<SecretBytes> plain =
            session.crypto().open(std::span(iv, ivSize), std::span(bytes, size));
        if (!plain) return status::notAvailable;
        result = std::move(*plain);
        return status::success;
    }

    // Removes one item; one stored with user presence only with a granted context.
    static Status erase(const ItemRequest& request) {
        const ConnectionPtr bus = connect();
        if (!bus) return status::notAvailable;
        FoundItem item;
        if (Status rc = find(bus.get(), request, item); rc != status::success) return rc;
        if (item.needsOwner && !request.context->isGranted()) return status::authFailed;
        if (item.locked) {
            if (Status rc = unlock(bus.get(), item.path); rc != status::success) return rc;
        }
        Batch call(bus.get(), 1);
        call.call(item.path, kItemInterface, "Delete", nullptr, "(o)");
        call.wait();
        if (call[0].error) {
            return vanished(call[0].error.get()) ? status::itemNotFound
                                                 : statusOf(call[0].error.get());
        }
        const gchar* prompt = nullptr;
        g_variant_get(call[0].reply.get(), "(&o)", &prompt);
        return runPrompt(bus.get(), prompt);
    }

    // Stores one new item in the default collection, unlocking it first when needed.
    static Status store(const AddRequest& request) {
        const ConnectionPtr bus = connect();
        if (!bus) return status::notAvailable;

        Matches matches;
        ServiceSession session(bus.get());
        {
            Batch first(bus.get(), 3);
            const MatchCalls calls = queueMatches(first, *request.service, request.account);
            const bool queued = session.queue(first);
            first.wait();
            // Taken first, so that a session the service opened is closed on every return.
            const std::optional<Status> opened =
                queued ? session.take(first) : std::optional<Status>(status::notAvailable);
            Status rc = readMatches(first, calls, matches);
            if (rc != status::success) return rc;
            if (!matches.unlocked.empty() || !matches.locked.empty()) return status::duplicateItem;
            rc = opened ? *opened : session.open();
            if (rc != status::success) return rc;
        }
        const std::string& collection = matches.collection;
        if (collection == "/") return status::notAvailable;

        Status rc = createItem(bus.get(), collection, session, request);
        if (rc == status::interactionNotAllowed) {
            rc = unlock(bus.get(), collection);
            if (rc == status::success) rc = createItem(bus.get(), collection, session, request);
        }
        return rc;
    }

    static Status createItem(GDBusConnection* bus, const std::string& collection,
                             const ServiceSession& session, const AddRequest& request) {
        GVariantBuilder attributes;
        g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
        g_variant_builder_add(&attributes, "{ss}", kSchemaAttribute, kSchemaName);
        g_variant_builder_add(&attributes, "{ss}", kServiceAttribute, request.service->c_str());
        g_variant_builder_add(&attributes, "{ss}", kAccountAttribute, request.account->c_str());
        g_variant_builder_add(&attributes, "{ss}", kSynchronizableAttribute, "false");
        g_variant_builder_add(&attributes, "{ss}", kAccessControlAttribute,
                              std::to_string(request.access->flags).c_str());
        g_variant_builder_add(&attributes, "{ss}", kProtectionAttribute,
                              protectionName(request.access->protection));

        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Label",
                              g_variant_new_string(request.label->c_str()));
        g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Item.Attributes",
                              g_variant_builder_end(&attributes));

        // Only the encrypted value goes into the message; the plain bytes stay in the
        // caller's buffer and the session's own locked one.
        const std::optional<SealedSecret> sealed = session.crypto().seal(request.secret->bytes());
        if (!sealed) return status::notAvailable;
        GVariant* secret =
            g_variant_new("(o@ay@ays)", session.path().c_str(), byteArray(sealed->iv),
                          byteArray(sealed->ciphertext), "application/octet-stream");

        Batch call(bus, 1);
        call.call(
            collection.c_str(), "org.freedesktop.Secret.Collection", "CreateItem",
            g_variant_new("(@a{sv}@(oayays)b)", g_variant_builder_end(&properties), secret, FALSE),
            "(oo)");
        call.wait();
        if (call[0].error) return statusOf(call[0].error.get());
        const gchar* prompt = nullptr;
        g_variant_get(call[0].reply.get(), "(&o&o)", nullptr, &prompt);
        return runPrompt(bus, prompt);
    }

    // Unlocks a collection or an item through the service's prompt.
    static Status unlock(GDBusConnection* bus, const std::string& path) {
        const gchar* paths[] = {path.c_str()};
        Batch call(bus, 1);
        call.call(kServicePath, kServiceInterface, "Unlock",
                  g_variant_new("(@ao)", g_variant_new_objv(paths, 1)), "(aoo)");
        call.wait();
        if (call[0].error) return statusOf(call[0].error.get());
        const gchar* prompt = nullptr;
        g_variant_get(call[0].reply.get(), "(@ao&o)", nullptr, &prompt);
        return runPrompt(bus, prompt);
    }

    // Shows a prompt the service asked for and waits for the owner's answer: 0 when done,
    // -128 when dismissed, -25291 when the service went away meanwhile.
    static Status runPrompt(GDBusConnection* bus, const gchar* prompt) {
        if (prompt == nullptr || std::string_view(prompt) == "/") return status::success;

        struct Outcome {
            bool finished = false;
            Status status = status::success;
        } outcome;
        CallContext context;
        const auto completed = [](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar*, GVariant* parameters, gpointer data) {
            auto* out = static_cast<Outcome*>(data);
            gboolean dismissed = TRUE;
            if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bv)"))) {
                g_variant_get(parameters, "(bv)", &dismissed, nullptr);
            }
            out->finished = true;
            out->status = dismissed ? status::userCancelled : status::success;
        };
        const auto ownerChanged = [](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                     const gchar*, GVariant*, gpointer data) {
            auto* out = static_cast<Outcome*>(data);
            out->finished = true;
            out->status = status::notAvailable;
        };
        const guint completedId = g_dbus_connection_signal_subscribe(
            bus, kBusName, kPromptInterface, "Completed", prompt, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            completed, &outcome, nullptr);
        const guint ownerId = g_dbus_connection_signal_subscribe(
            bus, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
            "/org/freedesktop/DBus", kBusName, G_DBUS_SIGNAL_FLAGS_NONE, ownerChanged, &outcome,
            nullptr);

        {
            Batch call(bus, 1);
            call.call(prompt, kPromptInterface, "Prompt", g_variant_new("(s)", ""), "()");
            call.wait();
            if (call[0].error && !outcome.finished) {
                outcome.finished = true;
                outcome.status = statusOf(call[0].error.get());
            }
        }
        context.runUntil([&outcome] { return outcome.finished; });
        g_dbus_connection_signal_unsubscribe(bus, completedId);
        g_dbus_connection_signal_unsubscribe(bus, ownerId);
        return outcome.status;
    }
};

}  // namespace

std::unique_ptr<Keychain> makeSystemKeychain() { return std::make_unique<SecretServiceKeychain>(); }

}  // namespace quorlen
