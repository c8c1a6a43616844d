// The Secret Service store's reading of query dictionaries, with no service reachable: any
// dictionary that is not one of the four the program builds is refused with -50 before
// anything else happens; one of the four reaches the bus and fails as unreachable. Inputs
// start from one of the program's dictionaries and edit it, so near misses are common.
#include <fuzzer/FuzzedDataProvider.h>
#include <glib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "app/identity.h"
#include "platform/factory.h"
#include "platform/keychain.h"
#include "platform/text.h"

namespace quorlen {
namespace {

// Grants nothing and never prompts: nothing here may get as far as asking the owner.
class DeniedContext final : public AuthenticationContext {
  public:
    bool canEvaluatePolicy(int) override { return false; }
    void setLocalizedReason(std::string) override {}
    void setTouchIDAuthenticationAllowableReuseDuration(double) override {}
    void evaluatePolicy(int, std::string, std::function<void(bool, Status)> reply) override {
        reply(false, status::authFailed);
    }
    void invalidate() override {}
    Status authenticateForRead() override { return status::authFailed; }
    bool isGranted() const override { return granted; }
    bool granted = false;
};

constexpr std::array<std::string_view, 12> kKeys = {
    kSecClass,          kSecAttrService,       kSecAttrAccount,
    kSecAttrLabel,      kSecAttrSynchronizable, kSecAttrAccessControl,
    kSecValueData,      kSecUseDataProtectionKeychain, kSecUseAuthenticationContext,
    kSecReturnAttributes, kSecReturnData,      kSecMatchLimit,
};

enum class Operation { list, copy, add, remove };

// Everything a query may point at; outlives the calls made with it.
struct Arena {
    SecretBytes secret = SecretBytes::copyOf(std::string_view("not a real secret"));
    SecretBytes emptySecret;
};

std::string text(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: return std::string(service);
        case 1: return "";
        default: return in.ConsumeRandomLengthString(48);  // any bytes: ill-formed, NUL, ...
    }
}

QueryValue value(FuzzedDataProvider& in, Arena& arena) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
            // Includes a value outside the named constants.
            return static_cast<KeychainConstant>(in.ConsumeIntegralInRange(0, 3));
        case 1: return text(in);
        case 2: return in.ConsumeBool();
        case 3: {
            const int which = in.ConsumeIntegralInRange(0, 2);
            return SecretRef{which == 0 ? &arena.secret : which == 1 ? &arena.emptySecret : nullptr};
        }
        case 4:
            if (in.ConsumeBool()) return std::shared_ptr<const AccessControl>();
            return std::make_shared<const AccessControl>(
                AccessControl{static_cast<Accessibility>(in.ConsumeIntegralInRange(0, 1)),
                              in.ConsumeIntegral<std::uint32_t>()});
        default: {
            if (in.ConsumeBool()) return std::shared_ptr<AuthenticationContext>();
            auto context = std::make_shared<DeniedContext>();
            context->granted = in.ConsumeBool();
            return std::shared_ptr<AuthenticationContext>(std::move(context));
        }
    }
}

std::string key(FuzzedDataProvider& in) {
    const auto known = kKeys[in.ConsumeIntegralInRange<std::size_t>(0, kKeys.size() - 1)];
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: return in.ConsumeRandomLengthString(24);  // junk
        case 1: return std::string(known.substr(0, known.size() - 1));  // one short
        default: return std::string(known);
    }
}

// The dictionaries the program's flows build, as they build them.
Query programQuery(Operation operation, FuzzedDataProvider& in, Arena& arena) {
    Query query;
    query.emplace(kSecClass, KeychainConstant::kSecClassGenericPassword);
    query.emplace(kSecAttrService, std::string(service));
    query.emplace(kSecUseDataProtectionKeychain, true);
    query.emplace(kSecAttrSynchronizable, false);
    if (operation != Operation::list) query.emplace(kSecAttrAccount, text(in));
    switch (operation) {
        case Operation::list:
            query.emplace(kSecReturnAttributes, true);
            query.emplace(kSecMatchLimit, KeychainConstant::kSecMatchLimitAll);
            break;
        case Operation::copy:
            query.emplace(kSecReturnData, true);
            query.emplace(kSecMatchLimit, KeychainConstant::kSecMatchLimitOne);
            query.emplace(kSecUseAuthenticationContext,
                          std::shared_ptr<AuthenticationContext>(std::make_shared<DeniedContext>()));
            break;
        case Operation::add:
            query.emplace(kSecAttrLabel, text(in));
            query.emplace(kSecAttrAccessControl,
                          std::make_shared<const AccessControl>(AccessControl{
                              Accessibility::kSecAttrAccessibleWhenUnlockedThisDeviceOnly,
                              kSecAccessControlUserPresence}));
            query.emplace(kSecValueData, SecretRef{in.ConsumeBool() ? &arena.secret
                                                                    : &arena.emptySecret});
            break;
        case Operation::remove:
            query.emplace(kSecUseAuthenticationContext,
                          std::shared_ptr<AuthenticationContext>(std::make_shared<DeniedContext>()));
            break;
    }
    return query;
}

// ---- What counts as one of the program's dictionaries -----------------------------------

template <class T>
const T* get(const Query& query, std::string_view name) {
    const auto it = query.find(name);
    return it == query.end() ? nullptr : std::get_if<T>(&it->second);
}

bool flag(const Query& query, std::string_view name, bool expected) {
    const bool* b = get<bool>(query, name);
    return b != nullptr && *b == expected;
}

bool constant(const Query& query, std::string_view name, KeychainConstant expected) {
    const auto* c = get<KeychainConstant>(query, name);
    return c != nullptr && *c == expected;
}

bool hasText(const Query& query, std::string_view name) { return get<std::string>(query, name); }

bool hasContext(const Query& query) {
    const auto* c = get<std::shared_ptr<AuthenticationContext>>(query, kSecUseAuthenticationContext);
    return c != nullptr && *c != nullptr;
}

bool base(const Query& query) {
    return constant(query, kSecClass, KeychainConstant::kSecClassGenericPassword) &&
           hasText(query, kSecAttrService) && flag(query, kSecUseDataProtectionKeychain, true) &&
           flag(query, kSecAttrSynchronizable, false);
}

bool isShape(const Query& query, Operation operation) {
    if (!base(query)) return false;
    switch (operation) {
        case Operation::list:
            return query.size() == 6 && flag(query, kSecReturnAttributes, true) &&
                   constant(query, kSecMatchLimit, KeychainConstant::kSecMatchLimitAll);
        case Operation::copy:
            return query.size() == 8 && hasText(query, kSecAttrAccount) &&
                   flag(query, kSecReturnData, true) &&
                   constant(query, kSecMatchLimit, KeychainConstant::kSecMatchLimitOne) &&
                   hasContext(query);
        case Operation::add: {
            const auto* access =
                get<std::shared_ptr<const AccessControl>>(query, kSecAttrAccessControl);
            const auto* secret = get<SecretRef>(query, kSecValueData);
            return query.size() == 8 && hasText(query, kSecAttrAccount) &&
                   hasText(query, kSecAttrLabel) && access != nullptr && *access != nullptr &&
                   secret != nullptr && secret->bytes != nullptr;
        }
        case Operation::remove:
            return query.size() == 6 && hasText(query, kSecAttrAccount) && hasContext(query);
    }
    return false;
}

// Text the bus can carry: well-formed UTF-8 without NUL. A dictionary of the right shape
// whose texts cannot travel is refused like any other it cannot serve.
bool textsTravel(const Query& query) {
    for (const auto& [name, v] : query) {
        const auto* s = std::get_if<std::string>(&v);
        if (s == nullptr) continue;
        const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(s->data()), s->size());
        if (!decodeUTF8(bytes) || s->find('\0') != std::string::npos) return false;
    }
    return true;
}

Keychain* keychain = nullptr;

[[noreturn]] void fail(const char* what, Operation operation, Status got) {
    std::fprintf(stderr, "keychain query: %s (operation %d, status %d)\n", what,
                 static_cast<int>(operation), static_cast<int>(got));
    std::abort();
}

}  // namespace
}  // namespace quorlen

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No store can answer: a socket that cannot exist, and no fallback to look for another.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorlen-fuzz/bus", 1);
    unsetenv("DISPLAY");
    // A warning or critical from GLib means a call was made with values it refuses.
    g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
    static std::unique_ptr<quorlen::Keychain> made = quorlen::makeSystemKeychain();
    quorlen::keychain = made.get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorlen;
    FuzzedDataProvider in(data, size);
    Arena arena;
    const auto operation = static_cast<Operation>(in.ConsumeIntegralInRange(0, 3));

    // Either one of the program's own dictionaries, edited a few times, or one from scratch.
    Query query;
    if (in.ConsumeBool()) {
        const auto shape = static_cast<Operation>(in.ConsumeIntegralInRange(0, 3));
        query = programQuery(shape, in, arena);
    }
    for (int edits = in.ConsumeIntegralInRange(0, 4); edits > 0 && in.remaining_bytes() > 0;
         --edits) {
        const std::string name = key(in);
        switch (in.ConsumeIntegralInRange(0, 2)) {
            case 0: query.erase(name); break;
            default: query.insert_or_assign(name, value(in, arena)); break;
        }
    }

    Status got;
    KeychainResult result = std::string("untouched");
    switch (operation) {
        case Operation::list:
        case Operation::copy: got = keychain->copyMatching(query, result); break;
        case Operation::add: got = keychain->add(query); result = std::monostate{}; break;
        case Operation::remove: got = keychain->remove(query); result = std::monostate{}; break;
    }
    // copyMatching serves both the listing and the read of one secret.
    const bool served = (operation == Operation::list || operation == Operation::copy)
                            ? isShape(query, Operation::list) || isShape(query, Operation::copy)
                            : isShape(query, operation);
    if (!std::holds_alternative<std::monostate>(result)) fail("a result without a store", operation, got);
    if (!served || !textsTravel(query)) {
        if (got != status::badParameter) fail("served a dictionary it should refuse", operation, got);
    } else if (got != status::notAvailable) {
        fail("a dictionary of the program did not reach the bus", operation, got);
    }
    return 0;
}
