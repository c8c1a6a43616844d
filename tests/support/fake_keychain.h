#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/identity.h"
#include "platform/keychain.h"

namespace quorlen::testing {

// An in-memory store that follows the rules of the real backend, so a flow behaves the same
// on both: it serves exactly the program's four query shapes (list, add, copy, delete) and
// answers -50 to anything else; items of another service and synchronised items are
// invisible; user-presence items authenticate through the query's context.
// Returns the query as text, entries in key order, for comparing and for failure output.
// Secret values show as their length only.
std::string describe(const Query& query);

class FakeKeychain : public Keychain {
  public:
    // One stored item. Account and label take any attribute kind so tests can plant odd
    // items; the program itself only writes text.
    struct Item {
        std::string service = std::string(quorlen::service);
        AttributeValue account = std::string();
        std::optional<AttributeValue> label;
        bool synchronizable = false;
        std::shared_ptr<const AccessControl> accessControl;
        SecretBytes secret;
    };

    enum class Call { copyMatching, add, remove };

    // One call as the store received it. SecretRef values point at the caller's buffer and
    // are only valid during the call; use `onCall` to look at them then.
    struct Record {
        Call call;
        Query query;
    };

    // Keychain.
    Status copyMatching(const Query& query, KeychainResult& result) override;
    Status add(const Query& query) override;
    Status remove(const Query& query) override;
    std::shared_ptr<const AccessControl> createAccessControl(Accessibility protection,
                                                             std::uint32_t flags) override;

    // Stores `item` as it is, after the existing ones; listings return items in that order.
    void plant(Item item) { items_.push_back(std::move(item)); }
    // Plants a key as the add flow stores it: text account and label, user presence.
    void plantKey(std::string account, std::string label, std::string_view secret = "secret");
    const std::vector<Item>& items() const { return items_; }
    // Returns the visible item with this text account, or null.
    const Item* find(std::string_view account) const;

    // The next call of kind `call` does nothing but return `forced` (queued, first in first
    // out, per kind).
    void forceStatus(Call call, Status forced);
    // The next copyMatching returns exactly this status and result, of whatever shape.
    void forceResult(Status forced, KeychainResult result);
    // Makes createAccessControl return null while set.
    void failAccessControl(bool fail) { failAccessControl_ = fail; }

    // Every call in order, forced ones included.
    const std::vector<Record>& calls() const { return calls_; }
    // Access-control requests in order.
    const std::vector<AccessControl>& accessControlRequests() const { return accessRequests_; }
    // Runs at the start of each call with the live query.
    void onCall(std::function<void(Call, const Query&)> hook) { hook_ = std::move(hook); }
    // Appends "copyMatching", "add" or "remove" to a log shared with other fakes; null stops.
    void setEventLog(std::vector<std::string>* log) { eventLog_ = log; }

  private:
    bool begin(Call call, const Query& query, Status& forced);
    std::vector<Item>::iterator findVisible(const std::string& within, const std::string& account);

    std::vector<Item> items_;
    std::deque<std::pair<Call, Status>> forcedStatuses_;
    std::deque<std::pair<Status, KeychainResult>> forcedResults_;
    bool failAccessControl_ = false;
    std::vector<Record> calls_;
    std::vector<AccessControl> accessRequests_;
    std::function<void(Call, const Query&)> hook_;
    std::vector<std::string>* eventLog_ = nullptr;
};

}  // namespace quorlen::testing
