// Plants keys in, or lists keys from, the session's Secret Service through the program's
// own store backend.
//   listing_bench plant N    stores N keys under the program's service name
//   listing_bench list RUNS  lists RUNS times; prints the key count and each run's time
//   listing_bench floor RUNS the bare D-Bus floor: one search, then every item's properties
//                            requested at once, nothing checked; prints as `list` does
#include <gio/gio.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/identity.h"
#include "platform/factory.h"
#include "platform/text.h"

namespace {

using namespace quorlen;

Query base() {
    return Query{{std::string(kSecClass), KeychainConstant::kSecClassGenericPassword},
                 {std::string(kSecAttrService), std::string(service)},
                 {std::string(kSecUseDataProtectionKeychain), true},
                 {std::string(kSecAttrSynchronizable), false}};
}

int plant(Keychain& keychain, long count) {
    const SecretBytes secret = SecretBytes::copyOf("bench placeholder");
    const auto access = keychain.createAccessControl(
        Accessibility::kSecAttrAccessibleWhenUnlockedThisDeviceOnly, kSecAccessControlUserPresence);
    for (long i = 0; i < count; ++i) {
        Query query = base();
        query.emplace(kSecAttrAccount, makeUUIDText());
        query.emplace(kSecAttrLabel, "Bench key " + std::to_string(i));
        query.emplace(kSecAttrAccessControl, access);
        query.emplace(kSecValueData, SecretRef{&secret});
        if (const Status rc = keychain.add(query); rc != status::success) {
            std::fprintf(stderr, "add failed: %d\n", rc);
            return 1;
        }
    }
    return 0;
}

int list(Keychain& keychain, long runs) {
    for (long i = 0; i < runs; ++i) {
        Query query = base();
        query.emplace(kSecReturnAttributes, true);
        query.emplace(kSecMatchLimit, KeychainConstant::kSecMatchLimitAll);
        KeychainResult result;
        const auto start = std::chrono::steady_clock::now();
        const Status rc = keychain.copyMatching(query, result);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        const auto* items = std::get_if<AttributeList>(&result);
        if (rc != status::success || items == nullptr) {
            std::fprintf(stderr, "listing failed: %d\n", rc);
            return 1;
        }
        std::printf("%zu %.3f\n", items->size(), took.count());
    }
    return 0;
}

// The least any listing on this service can cost: one SearchItems call, then one GetAll per
// item, all sent before any reply is awaited.
int floorRuns(long runs) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return 1;
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    for (long run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        GVariantBuilder attributes;
        g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
        g_variant_builder_add(&attributes, "{ss}", "service", std::string(service).c_str());
        GVariant* found = g_dbus_connection_call_sync(
            bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
            "org.freedesktop.Secret.Service", "SearchItems", g_variant_new("(a{ss})", &attributes),
            G_VARIANT_TYPE("(aoao)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        if (found == nullptr) return 1;
        GVariantIter* unlocked = nullptr;
        GVariantIter* locked = nullptr;
        g_variant_get(found, "(aoao)", &unlocked, &locked);
        std::size_t outstanding = 0;
        auto done = +[](GObject* source, GAsyncResult* result, gpointer data) {
            GVariant* reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
            if (reply != nullptr) g_variant_unref(reply);
            --*static_cast<std::size_t*>(data);
        };
        std::size_t items = 0;
        for (GVariantIter* paths : {unlocked, locked}) {
            const gchar* path = nullptr;
            while (g_variant_iter_next(paths, "&o", &path)) {
                ++outstanding;
                ++items;
                g_dbus_connection_call(bus, "org.freedesktop.secrets", path,
                                       "org.freedesktop.DBus.Properties", "GetAll",
                                       g_variant_new("(s)", "org.freedesktop.Secret.Item"),
                                       G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NONE, -1,
                                       nullptr, done, &outstanding);
            }
            g_variant_iter_free(paths);
        }
        while (outstanding > 0) g_main_context_iteration(context, TRUE);
        g_variant_unref(found);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        std::printf("%zu %.3f\n", items, took.count());
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    g_object_unref(bus);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: listing_bench plant N | list RUNS | floor RUNS\n");
        return 64;
    }
    const std::string_view mode = argv[1];
    const long n = std::strtol(argv[2], nullptr, 10);
    auto keychain = makeSystemKeychain();
    if (mode == "plant") return plant(*keychain, n);
    if (mode == "list") return list(*keychain, n);
    if (mode == "floor") return floorRuns(n);
    return 64;
}
