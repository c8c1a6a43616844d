#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/safe_fixture.h"

namespace quorlen {
namespace {

using testing::describe;
using testing::FakeKeychain;

const std::string kFirst = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
const std::string kSecond = "11111111-2222-4333-8444-555555555555";
const std::string kThird = "ABCDEF01-2345-4678-9ABC-DEF012345678";
const std::string kUnavailable = "Protected Keychain is unavailable (-25291). Nothing was read.";

// One attribute map as the store returns it; no label entry when `label` is empty.
AttributeMap key(AttributeValue account, std::optional<AttributeValue> label) {
    AttributeMap map{{std::string(kSecAttrAccount), std::move(account)}};
    if (label) map.emplace(kSecAttrLabel, std::move(*label));
    return map;
}

class ListingTest : public testing::SafeFixture {
  protected:
    const std::vector<std::string>& titles() { return popUp().titles; }
    std::string line() { return statusLine(); }
};

TEST_F(ListingTest, AsksForAttributesOfAllItemsWithOneCall) {
    controller->refresh();

    ASSERT_EQ(keychain.calls().size(), 1u);
    const auto& call = keychain.calls()[0];
    EXPECT_EQ(call.call, FakeKeychain::Call::copyMatching);
    Query expected = controller->baseQuery(std::nullopt);
    expected.emplace(kSecReturnAttributes, true);
    expected.emplace(kSecMatchLimit, KeychainConstant::kSecMatchLimitAll);
    EXPECT_EQ(describe(call.query), describe(expected));
}

// Each case is one store answer and what the pop-up, `identifiers` and the status line show.
struct ListingCase {
    const char* name;
    Status status;
    KeychainResult (*result)();
    std::vector<std::string> identifiers;
    std::vector<std::string> titles;
    std::string line;
};

KeychainResult maps(std::vector<AttributeMap> list) { return AttributeList(std::move(list)); }

const ListingCase kCases[] = {
    {"EmptyStore", -25300, [] { return KeychainResult{}; }, {}, {}, "No keys stored here."},
    {"SuccessWithEmptyList", 0, [] { return maps({}); }, {}, {}, "No keys stored here."},
    {"SuccessWithNoResult", 0, [] { return KeychainResult{}; }, {}, {}, "No keys stored here."},
    {"ResultOfAnotherShape",
     0,
     [] { return KeychainResult{std::string("odd")}; },
     {},
     {},
     "No keys stored here."},
    {"SecretBytesInsteadOfMaps",
     0,
     [] { return KeychainResult{SecretBytes::copyOf("x")}; },
     {},
     {},
     "No keys stored here."},
    {"OneKeyHasNoSingularWording",
     0,
     [] { return maps({key(kFirst, std::string("Laptop"))}); },
     {kFirst},
     {"Laptop"},
     "1 device-only key(s). Agents cannot open this safe."},
    {"NonUUIDAccountIsSkipped",
     0,
     [] {
         return maps({key(kFirst, std::string("A")),
                      key(std::string("not-a-uuid"), std::string("B")),
                      key(kSecond, std::string("C"))});
     },
     {kFirst, kSecond},
     {"A", "C"},
     "2 device-only key(s). Agents cannot open this safe."},
    {"AccountMissingOrNotTextIsSkipped",
     0,
     [] {
         AttributeMap noAccount{{std::string(kSecAttrLabel), std::string("none")}};
         return maps(
             {noAccount, key(std::int64_t{7}, std::string("number")),
              key(std::vector<std::uint8_t>(kFirst.begin(), kFirst.end()), std::string("bytes")),
              key(true, std::string("flag")), key(kThird, std::string("kept"))});
     },
     {kThird},
     {"kept"},
     "1 device-only key(s). Agents cannot open this safe."},
    {"LabelMissingEmptyOrNotText",
     0,
     [] {
         return maps({key(kFirst, std::nullopt), key(kSecond, std::string()),
                      key(kThird, std::vector<std::uint8_t>{0x41})});
     },
     {kFirst, kSecond, kThird},
     {"Unnamed key", "", "Unnamed key"},
     "3 device-only key(s). Agents cannot open this safe."},
    {"AccountKeptExactlyAsRead",
     0,
     [] {
         return maps(
             {key(std::string("abcdef01-2345-4678-9abc-def012345678"), std::string("lower"))});
     },
     {"abcdef01-2345-4678-9abc-def012345678"},
     {"lower"},
     "1 device-only key(s). Agents cannot open this safe."},
    {"FailureStatus",
     -25291,
     [] { return maps({key(kFirst, std::string("A"))}); },
     {},
     {},
     kUnavailable},
    {"PositiveFailureStatus",
     4,
     [] { return KeychainResult{}; },
     {},
     {},
     "Protected Keychain is unavailable (4). Nothing was read."},
};

class ListingCases : public ListingTest, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(ListingCases, ShowsWhatTheStoreAnswered) {
    const ListingCase& c = GetParam();
    keychain.forceResult(c.status, c.result());

    controller->refresh();

    EXPECT_EQ(controller->identifiers, c.identifiers);
    EXPECT_EQ(titles(), c.titles);
    EXPECT_EQ(line(), c.line);
}

INSTANTIATE_TEST_SUITE_P(Listing, ListingCases, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(ListingTest, FailureAfterSuccessEmptiesTheList) {
    keychain.plantKey(kFirst, "A");
    keychain.plantKey(kSecond, "B");
    controller->refresh();
    ASSERT_EQ(titles().size(), 2u);

    keychain.forceStatus(FakeKeychain::Call::copyMatching, -25291);
    controller->refresh();

    EXPECT_TRUE(controller->identifiers.empty());
    EXPECT_TRUE(titles().empty());
    EXPECT_EQ(line(), kUnavailable);
}

TEST_F(ListingTest, EqualLabelsStayTwoEntriesEachWithItsOwnIdentifier) {
    keychain.plantKey(kSecond, "Same");
    keychain.plantKey(kFirst, "Same");

    controller->refresh();

    // Store order, not sorted.
    EXPECT_EQ(controller->identifiers, (std::vector<std::string>{kSecond, kFirst}));
    EXPECT_EQ(titles(), (std::vector<std::string>{"Same", "Same"}));
    popUp().select(1);
    EXPECT_EQ(controller->selectedID(), kFirst);
    popUp().select(0);
    EXPECT_EQ(controller->selectedID(), kSecond);
}

// Items the program did not write for itself never reach the list, through the same store
// rules the real backend follows.
TEST_F(ListingTest, ListsOnlyThisServicesDeviceOnlyKeys) {
    keychain.plantKey(kFirst, "Mine");
    auto odd = [](AttributeValue account, std::optional<AttributeValue> label) {
        FakeKeychain::Item item;
        item.account = std::move(account);
        item.label = std::move(label);
        item.secret = SecretBytes::copyOf("\xff\xfe");  // not UTF-8; never read here
        return item;
    };
    auto other = odd(kSecond, std::string("Other"));
    other.service = "com.example.other";
    keychain.plant(std::move(other));
    auto synced = odd(kThird, std::string("Synced"));
    synced.synchronizable = true;
    keychain.plant(std::move(synced));
    keychain.plant(odd(std::string("plain-name"), std::string("Odd")));
    keychain.plant(odd(kSecond, std::nullopt));

    controller->refresh();

    EXPECT_EQ(controller->identifiers, (std::vector<std::string>{kFirst, kSecond}));
    EXPECT_EQ(titles(), (std::vector<std::string>{"Mine", "Unnamed key"}));
    EXPECT_EQ(line(), "2 device-only key(s). Agents cannot open this safe.");
}

TEST(BaseQueryTest, HoldsTheFourFixedEntriesAndTheAccountWhenPassed) {
    const Query base{
        {std::string(kSecClass), KeychainConstant::kSecClassGenericPassword},
        {std::string(kSecAttrService), std::string("com.quorlen.safe.v1")},
        {std::string(kSecUseDataProtectionKeychain), true},
        {std::string(kSecAttrSynchronizable), false},
    };
    testing::SafeWorld world;
    const SafeController& controller = *world.controller;

    EXPECT_EQ(describe(controller.baseQuery(std::nullopt)), describe(base));
    for (const std::string& account : {kFirst, std::string(), std::string(" x ")}) {
        Query withAccount = base;
        withAccount.emplace(kSecAttrAccount, account);
        EXPECT_EQ(describe(controller.baseQuery(account)), describe(withAccount))
            << "account '" << account << "'";
    }

    // Fresh maps every time: one flow's additions never leak into the next query.
    Query first = controller.baseQuery(kFirst);
    first.emplace(kSecReturnData, true);
    first[std::string(kSecAttrService)] = std::string("changed");
    EXPECT_EQ(describe(controller.baseQuery(std::nullopt)), describe(base));
    EXPECT_EQ(controller.baseQuery(kFirst).size(), 5u);
}

}  // namespace
}  // namespace quorlen
