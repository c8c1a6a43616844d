#pragma once

#include <optional>
#include <string>

#include "platform/keychain.h"

namespace quorlen {

// The four query shapes the program makes, as a store reads them back. Each pointer refers
// into the query and lives as long as it does. Texts are ones a store can carry: well-formed
// UTF-8 without NUL.

struct ListingRequest {
    const std::string* service;
};

struct AddRequest {
    const std::string* service;
    const std::string* account;
    const std::string* label;
    const AccessControl* access;
    const SecretBytes* secret;
};

// A read of one secret, or a delete: the item and the context it authenticates through.
struct ItemRequest {
    const std::string* service;
    const std::string* account;
    AuthenticationContext* context;
};

// Each returns the request when `query` is exactly that shape (its entries and no others,
// objects present); empty otherwise.
std::optional<ListingRequest> listingRequest(const Query& query);
std::optional<AddRequest> addRequest(const Query& query);
std::optional<ItemRequest> readRequest(const Query& query);
std::optional<ItemRequest> deleteRequest(const Query& query);

}  // namespace quorlen
