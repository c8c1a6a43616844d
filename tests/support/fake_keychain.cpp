#include "tests/support/fake_keychain.h"

#include "platform/query_shape.h"

#include <algorithm>
#include <span>
#include <type_traits>

namespace quorlen::testing {
namespace {

bool needsPresence(const FakeKeychain::Item& item) {
    return item.accessControl != nullptr &&
           (item.accessControl->flags & kSecAccessControlUserPresence) != 0;
}

const char* constantName(KeychainConstant constant) {
    switch (constant) {
        case KeychainConstant::kSecClassGenericPassword:
            return "kSecClassGenericPassword";
        case KeychainConstant::kSecMatchLimitAll:
            return "kSecMatchLimitAll";
        case KeychainConstant::kSecMatchLimitOne:
            return "kSecMatchLimitOne";
    }
    return "?";
}

}  // namespace

std::string describe(const Query& query) {
    std::string out;
    for (const auto& [key, value] : query) {
        if (!out.empty()) out += ", ";
        out += key + "=";
        std::visit(
            [&out](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, KeychainConstant>) {
                    out += constantName(v);
                } else if constexpr (std::is_same_v<T, std::string>) {
                    out += "\"" + v + "\"";
                } else if constexpr (std::is_same_v<T, bool>) {
                    out += v ? "true" : "false";
                } else if constexpr (std::is_same_v<T, SecretRef>) {
                    out += v.bytes ? "<" + std::to_string(v.bytes->size()) + " secret bytes>"
                                   : "<no secret>";
                } else if constexpr (std::is_same_v<T, std::shared_ptr<const AccessControl>>) {
                    out += v ? "<access control " + std::to_string(v->flags) + ">"
                             : "<no access control>";
                } else {
                    out += v ? "<context>" : "<no context>";
                }
            },
            value);
    }
    return out;
}

void FakeKeychain::plantKey(std::string account, std::string label, std::string_view secret) {
    plant(Item{.account = std::move(account),
               .label = std::move(label),
               .accessControl = std::make_shared<const AccessControl>(
                   AccessControl{Accessibility::kSecAttrAccessibleWhenUnlockedThisDeviceOnly,
                                 kSecAccessControlUserPresence}),
               .secret = SecretBytes::copyOf(secret)});
}

const FakeKeychain::Item* FakeKeychain::find(std::string_view account) const {
    for (const Item& item : items_) {
        const auto* text = std::get_if<std::string>(&item.account);
        if (item.service == service && !item.synchronizable && text && *text == account) {
            return &item;
        }
    }
    return nullptr;
}

std::vector<FakeKeychain::Item>::iterator FakeKeychain::findVisible(const std::string& within,
                                                                    const std::string& account) {
    return std::find_if(items_.begin(), items_.end(), [&](const Item& item) {
        const auto* text = std::get_if<std::string>(&item.account);
        return item.service == within && !item.synchronizable && text && *text == account;
    });
}

void FakeKeychain::forceStatus(Call call, Status forced) {
    forcedStatuses_.emplace_back(call, forced);
}

void FakeKeychain::forceResult(Status forced, KeychainResult result) {
    forcedResults_.emplace_back(forced, std::move(result));
}

// Records the call and tells whether a forced status answers it instead of the store.
bool FakeKeychain::begin(Call call, const Query& query, Status& forced) {
    static constexpr const char* names[] = {"copyMatching", "add", "remove"};
    if (eventLog_ != nullptr) eventLog_->emplace_back(names[static_cast<int>(call)]);
    calls_.push_back(Record{call, query});
    if (hook_) hook_(call, query);
    const auto it = std::find_if(forcedStatuses_.begin(), forcedStatuses_.end(),
                                 [call](const auto& f) { return f.first == call; });
    if (it == forcedStatuses_.end()) return false;
    forced = it->second;
    forcedStatuses_.erase(it);
    return true;
}

Status FakeKeychain::copyMatching(const Query& query, KeychainResult& result) {
    result = std::monostate{};
    Status forced = 0;
    if (begin(Call::copyMatching, query, forced)) return forced;
    if (!forcedResults_.empty()) {
        auto [status, shaped] = std::move(forcedResults_.front());
        forcedResults_.pop_front();
        result = std::move(shaped);
        return status;
    }

    // Listing: attributes of every visible item, never a secret, never a prompt.
    if (const auto listing = listingRequest(query)) {
        AttributeList list;
        for (const Item& item : items_) {
            if (item.service != *listing->service || item.synchronizable) continue;
            AttributeMap attributes{{std::string(kSecAttrService), item.service},
                                    {std::string(kSecAttrAccount), item.account},
                                    {std::string(kSecAttrSynchronizable), false}};
            if (item.label) attributes.emplace(kSecAttrLabel, *item.label);
            list.push_back(std::move(attributes));
        }
        if (list.empty()) return status::itemNotFound;
        result = std::move(list);
        return status::success;
    }

    // Read of one secret through the flow's context.
    if (const auto read = readRequest(query)) {
        const auto item = findVisible(*read->service, *read->account);
        if (item == items_.end()) return status::itemNotFound;
        if (needsPresence(*item)) {
            if (const Status rc = read->context->authenticateForRead(); rc != status::success) {
                return rc;
            }
        }
        result = SecretBytes::copyOf(item->secret.bytes());
        return status::success;
    }
    return status::badParameter;
}

Status FakeKeychain::add(const Query& query) {
    Status forced = 0;
    if (begin(Call::add, query, forced)) return forced;

    const auto request = addRequest(query);
    if (!request) return status::badParameter;
    if (findVisible(*request->service, *request->account) != items_.end()) {
        return status::duplicateItem;
    }
    items_.push_back(Item{.service = *request->service,
                          .account = *request->account,
                          .label = *request->label,
                          .accessControl = std::make_shared<const AccessControl>(*request->access),
                          .secret = SecretBytes::copyOf(request->secret->bytes())});
    return status::success;
}

Status FakeKeychain::remove(const Query& query) {
    Status forced = 0;
    if (begin(Call::remove, query, forced)) return forced;

    const auto request = deleteRequest(query);
    if (!request) return status::badParameter;
    const auto item = findVisible(*request->service, *request->account);
    if (item == items_.end()) return status::itemNotFound;
    if (needsPresence(*item) && !request->context->isGranted()) return status::authFailed;
    items_.erase(item);
    return status::success;
}

std::shared_ptr<const AccessControl> FakeKeychain::createAccessControl(Accessibility protection,
                                                                       std::uint32_t flags) {
    accessRequests_.push_back(AccessControl{protection, flags});
    if (failAccessControl_) return nullptr;
    return std::make_shared<const AccessControl>(AccessControl{protection, flags});
}

}  // namespace quorlen::testing
