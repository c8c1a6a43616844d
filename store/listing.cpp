#include <string>
#include <variant>

#include "platform/text.h"
#include "ui/safe_controller.h"

namespace quorlen {

void SafeController::refresh() {
    Query query = baseQuery(std::nullopt);
    query.emplace(kSecReturnAttributes, true);
    query.emplace(kSecMatchLimit, KeychainConstant::kSecMatchLimitAll);

    KeychainResult result;
    const Status rc = services_.keychain.copyMatching(query, result);

    // The old list goes whatever the outcome, so a failed reload never leaves stale
    // identifiers for the copy and delete flows to act on.
    items->removeAllItems();
    identifiers.clear();

    if (rc != status::success && rc != status::itemNotFound) {
        status->setStringValue("Protected Keychain is unavailable (" + std::to_string(rc) +
                               "). Nothing was read.");
        return;
    }

    if (const auto* list = std::get_if<AttributeList>(&result)) {
        for (const AttributeMap& attributes : *list) {
            const auto account = attributes.find(kSecAttrAccount);
            if (account == attributes.end()) continue;
            const auto* accountText = std::get_if<std::string>(&account->second);
            if (accountText == nullptr || !parseUUID(*accountText)) continue;

            std::string title = "Unnamed key";
            if (const auto label = attributes.find(kSecAttrLabel); label != attributes.end()) {
                if (const auto* labelText = std::get_if<std::string>(&label->second)) {
                    title = *labelText;
                }
            }
            identifiers.push_back(*accountText);
            items->addItemWithTitle(title);
        }
    }

    if (identifiers.empty()) {
        status->setStringValue("No keys stored here.");
    } else {
        status->setStringValue(std::to_string(identifiers.size()) +
                               " device-only key(s). Agents cannot open this safe.");
    }
}

}  // namespace quorlen
