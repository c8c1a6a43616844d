#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "platform/text.h"
#include "tests/support/safe_fixture.h"

namespace quorlen::testing {
namespace {

constexpr const char* kLimitsText = "Provide a name up to 120 characters and a key up to 32 KB.";

std::string repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

std::string textOf(const SecretBytes& bytes) { return std::string(bytes.view()); }

// One add, with the dialog answered as scripted; the window is up first.
struct AddRun : SafeWorld {
    AddRun(int response, std::string name, std::string secret) {
        launch();
        listedBefore = calls(FakeKeychain::Call::copyMatching);
        toolkit.scriptAlert(response, {std::move(name), std::move(secret)});
        keychain.onCall([this](FakeKeychain::Call call, const Query& query) {
            if (call != FakeKeychain::Call::add) return;
            if (auto it = query.find(kSecValueData); it != query.end()) {
                handedToStore = std::get<SecretRef>(it->second).bytes->data();
            }
        });
        controller->addKey();
    }
    FakeAlert& dialog() { return *toolkit.alertsShown.at(0); }
    FakeSecureTextField& secretField() {
        return *dynamic_cast<FakeSecureTextField*>(dialog().fields().at(1));
    }
    bool reloaded() { return calls(FakeKeychain::Call::copyMatching) > listedBefore; }

    std::size_t listedBefore = 0;
    const std::uint8_t* handedToStore = nullptr;
};

TEST(AddKey, DialogIsBuiltAsTheWindowShowsIt) {
    AddRun run(kAlertFirstButtonReturn, "", "");
    FakeAlert& dialog = run.dialog();
    EXPECT_EQ(dialog.messageText, "Add a device-only key");
    EXPECT_EQ(dialog.informativeText,
              "This key stays in this Mac\u2019s protected Keychain. Nothing is uploaded. Keep "
              "your own recovery copy before continuing.");
    EXPECT_EQ(dialog.informativeText->size(), 118u);
    EXPECT_EQ(dialog.buttons, (std::vector<std::string>{"Cancel", "Store on this Mac"}));
    EXPECT_EQ(dialog.sharingType, kWindowSharingNone);
    auto* accessory = fakeView(dialog.accessory);
    ASSERT_NE(accessory, nullptr);
    EXPECT_EQ(accessory->frame.width, 420);
    EXPECT_EQ(accessory->frame.height, 90);
    ASSERT_EQ(accessory->subviews.size(), 2u);
    auto& name = fakeRef<FakeTextField>(accessory->subviews[0]);
    auto& secret = fakeRef<FakeSecureTextField>(accessory->subviews[1]);
    EXPECT_EQ(name.placeholder, "Name (not a secret)");
    EXPECT_EQ(secret.placeholder, "Master key or password");
    EXPECT_EQ(name.frame.y, 50);
    EXPECT_EQ(secret.frame.y, 5);
    EXPECT_EQ(name.frame.width, 420);
    EXPECT_EQ(secret.frame.height, 26);
}

TEST(AddKey, AnyAnswerButStoreDoesNothing) {
    for (int response : {kAlertFirstButtonReturn, 0, -1000, 1002}) {
        AddRun run(response, "name", "secret");
        EXPECT_TRUE(run.keychain.items().empty()) << response;
        EXPECT_EQ(run.calls(FakeKeychain::Call::add), 0u);
        EXPECT_EQ(run.toolkit.alertsShown.size(), 1u) << response;
        EXPECT_FALSE(run.reloaded());
        EXPECT_EQ(run.secretField().text, "");
        EXPECT_GE(run.secretField().clearCount, 1u);
    }
}

TEST(AddKey, ValidatesNameAndSecret) {
    const std::string family =
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    const struct {
        const char* what;
        std::string name;
        std::string secret;
        bool stored;
    } cases[] = {
        {"spaces", "   ", "s", false},
        {"tab", "\t", "s", false},
        {"line breaks", "\r\n", "s", false},
        {"no-break space", "\u00A0", "s", false},
        {"line separator", "\u2028", "s", false},
        {"empty name", "", "s", false},
        {"padded name", "  padded  ", "s", true},
        {"120 characters", repeat("a", 120), "s", true},
        {"121 characters", repeat("a", 121), "s", false},
        {"119 characters and two spaces", repeat("a", 119) + "  ", "s", false},
        {"120 family emoji", repeat(family, 120), "s", true},
        {"120 flags", repeat("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 120), "s", true},
        {"one-space secret", "name", " ", true},
        {"32768 bytes", "name", repeat("x", 32768), true},
        {"32769 bytes", "name", repeat("x", 32769), false},
        {"16385 two-byte characters", "name", repeat("\xC3\xA9", 16385), false},
        {"empty secret", "name", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AddRun run(kAlertSecondButtonReturn, c.name, c.secret);
        EXPECT_EQ(run.secretField().text, "");
        if (c.stored) {
            ASSERT_EQ(run.keychain.items().size(), 1u);
            const auto& item = run.keychain.items()[0];
            EXPECT_EQ(item.label, AttributeValue(c.name));
            EXPECT_EQ(textOf(item.secret), c.secret);
            EXPECT_TRUE(run.reloaded());
            EXPECT_EQ(run.toolkit.alertsShown.size(), 1u);
        } else {
            EXPECT_EQ(run.calls(FakeKeychain::Call::add), 0u);
            EXPECT_EQ(
                run.alertTexts(1),
                (std::vector<std::pair<std::string, std::string>>{{"Not stored", kLimitsText}}));
            EXPECT_FALSE(run.reloaded());
        }
    }
}

TEST(AddKey, StoresUnderAFreshUppercaseUUIDWithUserPresence) {
    AddRun run(kAlertSecondButtonReturn, "Laptop", " ");
    ASSERT_EQ(run.keychain.calls().size(), 3u);  // launch listing, add, listing
    const Query& query = run.keychain.calls()[1].query;
    EXPECT_EQ(query.size(), 8u);
    EXPECT_EQ(std::get<std::string>(query.at(std::string(kSecAttrLabel))), "Laptop");
    const auto& account = std::get<std::string>(query.at(std::string(kSecAttrAccount)));
    EXPECT_TRUE(parseUUID(account).has_value());
    EXPECT_EQ(account, [&] {
        std::string upper = account;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(ch));
        return upper;
    }());
    ASSERT_EQ(run.keychain.accessControlRequests().size(), 1u);
    EXPECT_EQ(run.keychain.accessControlRequests()[0].flags, kSecAccessControlUserPresence);
    EXPECT_EQ(run.keychain.items()[0].secret.size(), 1u);
    EXPECT_EQ(run.keychain.items()[0].secret.data()[0], 0x20);
    // The secret field is emptied before the store is called.
    EXPECT_EQ(run.popUp().titles, (std::vector<std::string>{"Laptop"}));
    EXPECT_EQ(run.statusLine(), "1 device-only key(s). Agents cannot open this safe.");
}

TEST(AddKey, TwoAddsUnderOneNameMakeTwoKeys) {
    SafeWorld world;
    world.launch();
    for (int i = 0; i < 2; ++i) {
        world.toolkit.scriptAlert(kAlertSecondButtonReturn, {"Same", "secret"});
        world.controller->addKey();
    }
    ASSERT_EQ(world.controller->identifiers.size(), 2u);
    EXPECT_NE(world.controller->identifiers[0], world.controller->identifiers[1]);
    EXPECT_EQ(world.popUp().titles, (std::vector<std::string>{"Same", "Same"}));
}

TEST(AddKey, FailuresOfTheStoreAreShown) {
    {
        SCOPED_TRACE("access control");
        SafeWorld world;
        world.launch();
        world.keychain.failAccessControl(true);
        world.toolkit.scriptAlert(kAlertSecondButtonReturn, {"name", "secret"});
        world.controller->addKey();
        EXPECT_EQ(world.calls(FakeKeychain::Call::add), 0u);
        EXPECT_EQ(world.alertTexts(1),
                  (std::vector<std::pair<std::string, std::string>>{
                      {"Not stored", "The required device protection could not be created."}}));
    }
    {
        SCOPED_TRACE("store refuses");
        SafeWorld world;
        world.launch();
        world.keychain.forceStatus(FakeKeychain::Call::add, status::badParameter);
        world.toolkit.scriptAlert(kAlertSecondButtonReturn, {"name", "secret"});
        const auto listed = world.calls(FakeKeychain::Call::copyMatching);
        world.controller->addKey();
        EXPECT_EQ(world.alertTexts(1),
                  (std::vector<std::pair<std::string, std::string>>{
                      {"Not stored",
                       "Keychain refused the required protection (-50). No file or "
                       "cloud fallback was used."}}));
        EXPECT_EQ(world.calls(FakeKeychain::Call::copyMatching), listed);
    }
}

TEST(AddKey, SecretBufferIsZeroedOnBothOutcomes) {
    for (Status outcome : {status::success, status::duplicateItem}) {
        SafeWorld world;
        world.launch();
        if (outcome != status::success)
            world.keychain.forceStatus(FakeKeychain::Call::add, outcome);
        const std::uint8_t* handed = nullptr;
        world.keychain.onCall([&](FakeKeychain::Call call, const Query& query) {
            if (call == FakeKeychain::Call::add) {
                handed = std::get<SecretRef>(query.at(std::string(kSecValueData))).bytes->data();
            }
        });
        world.toolkit.scriptAlert(kAlertSecondButtonReturn, {"name", "hunter2 secret"});
        world.controller->addKey();
        ASSERT_NE(handed, nullptr);
        auto* released = SafeWorld::releasedAt(handed);
        ASSERT_NE(released, nullptr) << outcome;
        EXPECT_EQ(released->bytes.size(), 14u);
        EXPECT_TRUE(SafeWorld::allZero(released->bytes)) << outcome;
    }
}

}  // namespace
}  // namespace quorlen::testing
