#include <utility>

#include "app/identity.h"
#include "ui/safe_controller.h"

namespace quorlen {

// Every store call starts here, so no call can reach items of another service, synchronised
// items or items outside the protected store.
Query SafeController::baseQuery(std::optional<std::string> account) const {
    Query query;
    query.emplace(kSecClass, KeychainConstant::kSecClassGenericPassword);
    query.emplace(kSecAttrService, std::string(service));
    query.emplace(kSecUseDataProtectionKeychain, true);
    query.emplace(kSecAttrSynchronizable, false);
    // An empty account is still an account: the caller decides what it passes.
    if (account) query.emplace(kSecAttrAccount, std::move(*account));
    return query;
}

}  // namespace quorlen
