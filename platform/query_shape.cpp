#include "platform/query_shape.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <variant>

#include "platform/text.h"

namespace quorlen {
namespace {

template <class T>
const T* entry(const Query& query, std::string_view key) {
    const auto it = query.find(key);
    return it == query.end() ? nullptr : std::get_if<T>(&it->second);
}

// The object under `key`, or null when it is missing or empty.
template <class T>
T* object(const Query& query, std::string_view key) {
    const auto* held = entry<std::shared_ptr<T>>(query, key);
    return held != nullptr ? held->get() : nullptr;
}

bool isFlag(const Query& query, std::string_view key, bool value) {
    const bool* flag = entry<bool>(query, key);
    return flag != nullptr && *flag == value;
}

bool isConstant(const Query& query, std::string_view key, KeychainConstant value) {
    const KeychainConstant* constant = entry<KeychainConstant>(query, key);
    return constant != nullptr && *constant == value;
}

// The text under `key` when a store can carry it: a NUL or ill-formed UTF-8 would cut it
// short or break the message that carries it.
const std::string* textEntry(const Query& query, std::string_view key) {
    const std::string* text = entry<std::string>(query, key);
    if (text == nullptr || text->find('\0') != std::string::npos ||
        !decodeUTF8(std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()))) {
        return nullptr;
    }
    return text;
}

// The service named by the four entries every query starts with, or null when they are not
// all there with their fixed values.
const std::string* baseService(const Query& query) {
    if (!isConstant(query, kSecClass, KeychainConstant::kSecClassGenericPassword)) return nullptr;
    if (!isFlag(query, kSecUseDataProtectionKeychain, true)) return nullptr;
    if (!isFlag(query, kSecAttrSynchronizable, false)) return nullptr;
    return textEntry(query, kSecAttrService);
}

std::optional<ItemRequest> itemRequest(const Query& query, std::size_t size) {
    ItemRequest request{baseService(query), textEntry(query, kSecAttrAccount),
                        object<AuthenticationContext>(query, kSecUseAuthenticationContext)};
    if (query.size() != size || request.service == nullptr || request.account == nullptr ||
        request.context == nullptr) {
        return std::nullopt;
    }
    return request;
}

}  // namespace

std::optional<ListingRequest> listingRequest(const Query& query) {
    const std::string* service = baseService(query);
    if (query.size() != 6 || service == nullptr || !isFlag(query, kSecReturnAttributes, true) ||
        !isConstant(query, kSecMatchLimit, KeychainConstant::kSecMatchLimitAll)) {
        return std::nullopt;
    }
    return ListingRequest{service};
}

std::optional<AddRequest> addRequest(const Query& query) {
    const SecretRef* secret = entry<SecretRef>(query, kSecValueData);
    AddRequest request{baseService(query), textEntry(query, kSecAttrAccount),
                       textEntry(query, kSecAttrLabel),
                       object<const AccessControl>(query, kSecAttrAccessControl),
                       secret != nullptr ? secret->bytes : nullptr};
    if (query.size() != 8 || request.service == nullptr || request.account == nullptr ||
        request.label == nullptr || request.access == nullptr || request.secret == nullptr) {
        return std::nullopt;
    }
    return request;
}

std::optional<ItemRequest> readRequest(const Query& query) {
    if (!isFlag(query, kSecReturnData, true) ||
        !isConstant(query, kSecMatchLimit, KeychainConstant::kSecMatchLimitOne)) {
        return std::nullopt;
    }
    return itemRequest(query, 8);
}

std::optional<ItemRequest> deleteRequest(const Query& query) { return itemRequest(query, 6); }

}  // namespace quorlen
