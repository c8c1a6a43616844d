// Plants keys in, or lists keys from, the session's Secret Service through the program's
// own store backend.
//   listing_bench plant N    stores N keys under the program's service name
//   listing_bench list RUNS  lists RUNS times; prints the key count and each run's time
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: listing_bench plant N | list RUNS\n");
        return 64;
    }
    const std::string_view mode = argv[1];
    const long n = std::strtol(argv[2], nullptr, 10);
    auto keychain = makeSystemKeychain();
    if (mode == "plant") return plant(*keychain, n);
    if (mode == "list") return list(*keychain, n);
    return 64;
}
