#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/authentication.h"
#include "platform/secret_bytes.h"
#include "platform/status.h"

namespace quorlen {

// Attribute keys of a query dictionary, held as text.
inline constexpr std::string_view kSecClass = "kSecClass";
inline constexpr std::string_view kSecAttrService = "kSecAttrService";
inline constexpr std::string_view kSecAttrAccount = "kSecAttrAccount";
inline constexpr std::string_view kSecAttrLabel = "kSecAttrLabel";
inline constexpr std::string_view kSecAttrSynchronizable = "kSecAttrSynchronizable";
inline constexpr std::string_view kSecAttrAccessControl = "kSecAttrAccessControl";
inline constexpr std::string_view kSecValueData = "kSecValueData";
inline constexpr std::string_view kSecUseDataProtectionKeychain = "kSecUseDataProtectionKeychain";
inline constexpr std::string_view kSecUseAuthenticationContext = "kSecUseAuthenticationContext";
inline constexpr std::string_view kSecReturnAttributes = "kSecReturnAttributes";
inline constexpr std::string_view kSecReturnData = "kSecReturnData";
inline constexpr std::string_view kSecMatchLimit = "kSecMatchLimit";

// The store's own constant values.
enum class KeychainConstant {
    kSecClassGenericPassword,
    kSecMatchLimitAll,
    kSecMatchLimitOne,
};

// Protection classes an access-control object can carry.
enum class Accessibility {
    kSecAttrAccessibleWhenUnlockedThisDeviceOnly,
};

// Flags of an access-control object.
inline constexpr std::uint32_t kSecAccessControlUserPresence = 1;

// What a stored item demands before its secret is read or it is removed.
struct AccessControl {
    Accessibility protection;
    std::uint32_t flags;
};

// A non-owning reference to the one buffer holding a secret: the query makes no copy.
struct SecretRef {
    const SecretBytes* bytes;
};

// The six kinds of value a query dictionary holds.
using QueryValue =
    std::variant<KeychainConstant, std::string, bool, SecretRef,
                 std::shared_ptr<const AccessControl>, std::shared_ptr<AuthenticationContext>>;

// A query dictionary: attribute-key text to value. Each flow builds a fresh one.
using Query = std::map<std::string, QueryValue, std::less<>>;

// A value read back from an item's attributes: text, a flag, a number or raw bytes.
using AttributeValue = std::variant<std::string, bool, std::int64_t, std::vector<std::uint8_t>>;
using AttributeMap = std::map<std::string, AttributeValue, std::less<>>;
using AttributeList = std::vector<AttributeMap>;

// What a copy-matching call hands back: nothing, a list of attribute maps, the secret's
// bytes, or something of another shape (text), which callers treat as no result.
using KeychainResult = std::variant<std::monostate, AttributeList, SecretBytes, std::string>;

// The protected credential store. Calls are synchronous and made on the main thread.
class Keychain {
  public:
    virtual ~Keychain() = default;

    // Returns 0 with the matches in `result` (attribute maps for a listing, the secret's
    // bytes for a read); -25300 when nothing matches; another status on failure, with
    // `result` left empty. A read of a user-presence item authenticates through the
    // query's context first and returns that evaluation's status when it is not granted.
    virtual Status copyMatching(const Query& query, KeychainResult& result) = 0;

    // Returns 0 once the item is stored; -25299 when its account exists; -128 when the
    // owner dismissed an unlock prompt; another status on failure, storing nothing.
    virtual Status add(const Query& query) = 0;

    // Returns 0 once the item is removed; -25300 when it does not exist; -25293 when a
    // user-presence item's query carries no successfully evaluated context; another status
    // on failure.
    virtual Status remove(const Query& query) = 0;

    // Returns an access-control object, or null when it cannot be made.
    virtual std::shared_ptr<const AccessControl> createAccessControl(Accessibility protection,
                                                                     std::uint32_t flags) = 0;
};

}  // namespace quorlen
