// The store backend against a real Secret Service daemon on a private session bus, started
// by run-keyring.sh. Items are planted either through the backend or with secret-tool, which
// can write what the program never would.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/identity.h"
#include "platform/factory.h"
#include "ui/safe_controller.h"

namespace quorlen {
namespace {

const std::string kFirst = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
const std::string kSecond = "11111111-2222-4333-8444-555555555555";
const std::string kThird = "ABCDEF01-2345-4678-9ABC-DEF012345678";
const std::string kCollection = "/org/freedesktop/secrets/collection/login";

// Runs a shell command; returns its standard output, or empty when it failed.
std::optional<std::string> run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return std::nullopt;
    std::string out;
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) out += buffer.data();
    if (pclose(pipe.release()) != 0) return std::nullopt;
    return out;
}

// Stores an item with exactly these attributes, as another program could.
void plant(const std::string& label, const std::string& attributes,
           const std::string& secretBytes = "dummy") {
    ASSERT_TRUE(run("printf '" + secretBytes + "' | secret-tool store --label='" + label + "' " +
                    attributes))
        << attributes;
}

std::string schemaAttributes(const std::string& itemService, const std::string& account,
                             const std::string& synchronizable = "false") {
    return "xdg:schema com.quorlen.safe.v1 service " + itemService + " account '" + account +
           "' synchronizable " + synchronizable;
}

Query base(const std::string& itemService, std::optional<std::string> account = std::nullopt) {
    Query query{{std::string(kSecClass), KeychainConstant::kSecClassGenericPassword},
                {std::string(kSecAttrService), itemService},
                {std::string(kSecUseDataProtectionKeychain), true},
                {std::string(kSecAttrSynchronizable), false}};
    if (account) query.emplace(kSecAttrAccount, *account);
    return query;
}

Query listing(const std::string& itemService) {
    Query query = base(itemService);
    query.emplace(kSecReturnAttributes, true);
    query.emplace(kSecMatchLimit, KeychainConstant::kSecMatchLimitAll);
    return query;
}

// A context whose owner answers as the test says, counting how often it was asked.
class ScriptedContext final : public AuthenticationContext {
  public:
    explicit ScriptedContext(Status answer, bool granted = false)
        : answer_(answer), granted_(granted) {}
    bool canEvaluatePolicy(int) override { return true; }
    void setLocalizedReason(std::string) override {}
    void setTouchIDAuthenticationAllowableReuseDuration(double) override {}
    void evaluatePolicy(int, std::string, std::function<void(bool, Status)>) override {}
    void invalidate() override { granted_ = false; }
    Status authenticateForRead() override {
        ++asked;
        return answer_;
    }
    bool isGranted() const override { return granted_; }
    int asked = 0;

  private:
    Status answer_;
    bool granted_;
};

Query reading(const std::string& itemService, const std::string& account,
              std::shared_ptr<AuthenticationContext> context) {
    Query query = base(itemService, account);
    query.emplace(kSecReturnData, true);
    query.emplace(kSecMatchLimit, KeychainConstant::kSecMatchLimitOne);
    query.emplace(kSecUseAuthenticationContext, std::move(context));
    return query;
}

Query removing(const std::string& itemService, const std::string& account,
               std::shared_ptr<AuthenticationContext> context) {
    Query query = base(itemService, account);
    query.emplace(kSecUseAuthenticationContext, std::move(context));
    return query;
}

// Accounts and labels of a listing, in the order returned; "-" for an absent label.
std::vector<std::string> summary(const KeychainResult& result) {
    std::vector<std::string> out;
    if (const auto* list = std::get_if<AttributeList>(&result)) {
        for (const AttributeMap& map : *list) {
            std::string line;
            if (auto it = map.find(kSecAttrAccount); it != map.end()) {
                line = std::get<std::string>(it->second);
            }
            auto label = map.find(kSecAttrLabel);
            line += " " +
                    (label == map.end() ? std::string("-") : std::get<std::string>(label->second));
            out.push_back(line);
        }
    }
    return out;
}

class KeychainTest : public ::testing::Test {
  protected:
    std::unique_ptr<Keychain> keychain = makeSystemKeychain();

    // A service name of the test's own, so tests never see each other's items.
    static std::string ownService() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return std::string("com.quorlen.test.") + info->name();
    }

    Status add(const std::string& itemService, const std::string& account, const std::string& label,
               const SecretBytes& secret) {
        Query query = base(itemService, account);
        query.emplace(kSecAttrLabel, label);
        query.emplace(kSecAttrAccessControl,
                      keychain->createAccessControl(
                          Accessibility::kSecAttrAccessibleWhenUnlockedThisDeviceOnly,
                          kSecAccessControlUserPresence));
        query.emplace(kSecValueData, SecretRef{&secret});
        return keychain->add(query);
    }
};

TEST_F(KeychainTest, StoresKeysThatTheListingReturnsWithTheirAttributes) {
    const std::string svc = ownService();
    KeychainResult result;
    EXPECT_EQ(keychain->copyMatching(listing(svc), result), status::itemNotFound);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(result));

    const SecretBytes secret = SecretBytes::copyOf("correct horse");
    ASSERT_EQ(add(svc, kFirst, "Laptop ✓", secret), status::success);
    ASSERT_EQ(add(svc, kSecond, "  spaced  ", secret), status::success);
    EXPECT_EQ(add(svc, kFirst, "Again", secret), status::duplicateItem);

    ASSERT_EQ(keychain->copyMatching(listing(svc), result), status::success);
    auto lines = summary(result);
    std::sort(lines.begin(), lines.end());  // the daemon's order is its own
    EXPECT_EQ(lines, (std::vector<std::string>{kFirst + " Laptop ✓", kSecond + "   spaced  "}));

    // What the store holds, as other tools see it: the schema's attributes, a binary secret.
    const auto stored = run("secret-tool search --all service " + svc + " account " + kFirst +
                            " 2>&1 | grep -v '^secret = '");
    ASSERT_TRUE(stored);
    for (const char* expected : {"label = Laptop ✓", "schema = com.quorlen.safe.v1",
                                 "attribute.synchronizable = false", "attribute.access-control = 1",
                                 "attribute.protection = when-unlocked-this-device-only"}) {
        EXPECT_NE(stored->find(expected), std::string::npos) << expected << "\n" << *stored;
    }
}

TEST_F(KeychainTest, SecretsThatAreNotTextStoreUnchanged) {
    const std::string svc = ownService();
    const std::vector<std::uint8_t> raw{0xff, 0x00, 0xfe, 0x41};
    const SecretBytes secret = SecretBytes::copyOf(raw);
    ASSERT_EQ(add(svc, kFirst, "Binary", secret), status::success);

    // secret-tool prints a value that is not text as raw bytes.
    const auto dumped = run("secret-tool lookup service " + svc + " | od -An -tx1");
    ASSERT_TRUE(dumped);
    EXPECT_NE(dumped->find("ff 00 fe 41"), std::string::npos) << *dumped;
}

// Minimal widgets, enough to run the listing flow on the real store.
struct RecordingPopUp : PopUpButton {
    std::vector<std::string> titles;
    void addSubview(std::shared_ptr<View>) override {}
    void setTranslatesAutoresizingMaskIntoConstraints(bool) override {}
    void removeAllItems() override { titles.clear(); }
    void addItemWithTitle(const std::string& title) override { titles.push_back(title); }
    int indexOfSelectedItem() const override { return titles.empty() ? -1 : 0; }
};
struct RecordingLabel : Label {
    std::string text;
    void addSubview(std::shared_ptr<View>) override {}
    void setTranslatesAutoresizingMaskIntoConstraints(bool) override {}
    void setStringValue(const std::string& value) override { text = value; }
    std::string stringValue() const override { return text; }
    void setFont(Font) override {}
    void setTextColor(Color) override {}
};
struct ListingOnlyToolkit : Toolkit {
    std::shared_ptr<RecordingPopUp> popUp = std::make_shared<RecordingPopUp>();
    std::shared_ptr<RecordingLabel> label = std::make_shared<RecordingLabel>();
    bool setActivationPolicy(int) override { return true; }
    void setDelegate(ApplicationDelegate*) override {}
    int run() override { return 0; }
    void activateIgnoringOtherApps(bool) override {}
    void terminate() override {}
    std::shared_ptr<Window> makeWindow(Rect, unsigned, int, bool) override { return nullptr; }
    std::shared_ptr<Label> labelWithString(const std::string&) override { return label; }
    std::shared_ptr<Label> wrappingLabelWithString(const std::string&) override { return label; }
    std::shared_ptr<Button> buttonWithTitle(const std::string&, const std::string&,
                                            std::function<void()>) override {
        return nullptr;
    }
    std::shared_ptr<PopUpButton> makePopUpButton(Rect, bool) override { return popUp; }
    std::shared_ptr<StackView> stackViewWithViews(std::vector<std::shared_ptr<View>>) override {
        return nullptr;
    }
    std::shared_ptr<View> makeView(Rect) override { return nullptr; }
    std::shared_ptr<TextField> makeTextField(Rect) override { return nullptr; }
    std::shared_ptr<SecureTextField> makeSecureTextField(Rect) override { return nullptr; }
    std::shared_ptr<Alert> makeAlert() override { return nullptr; }
    void activateConstraints(std::vector<Constraint>) override {}
    Font boldSystemFontOfSize(double size) override { return Font{true, size}; }
};
struct NoAuthentication : Authentication {
    std::shared_ptr<AuthenticationContext> makeContext() override { return nullptr; }
};
struct NoPasteboard : Pasteboard {
    std::int64_t clearContents() override { return 0; }
    bool writeObjects(std::vector<PasteboardItem>) override { return false; }
    std::int64_t changeCount() override { return 0; }
    bool canClear() const override { return false; }
};
struct NoScheduler : Scheduler {
    std::shared_ptr<Timer> scheduledTimer(double, std::function<void()>) override {
        return nullptr;
    }
    void submitToMainQueue(std::function<void()>) override {}
};

// The one test that uses the program's own service name, as the window does.
TEST_F(KeychainTest, ListingShowsOnlyTheProgramsKeysAmongOddItems) {
    const std::string svc(service);
    // secret-tool replaces an item whose attributes include the new ones, so this goes first.
    plant("No account", "xdg:schema com.quorlen.safe.v1 service " + svc + " synchronizable false");
    plant("Good one", schemaAttributes(svc, kFirst), "\\377\\376 not UTF-8");
    plant("", schemaAttributes(svc, kSecond));
    plant("Other service", schemaAttributes("com.example.other", kThird));
    plant("Synced", schemaAttributes(svc, kThird, "true"));
    plant("Not a UUID", schemaAttributes(svc, "plain-name"));
    plant("No schema", "service " + svc + " account " + kThird + " synchronizable false");

    NoAuthentication authentication;
    ListingOnlyToolkit toolkit;
    NoPasteboard pasteboard;
    NoScheduler scheduler;
    auto controller = std::make_shared<SafeController>(
        Services{*keychain, authentication, toolkit, pasteboard, scheduler, [] { return true; }});
    controller->refresh();

    std::vector<std::pair<std::string, std::string>> shown;
    for (std::size_t i = 0; i < controller->identifiers.size(); ++i) {
        shown.emplace_back(controller->identifiers[i], toolkit.popUp->titles.at(i));
    }
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::pair<std::string, std::string>>{{kFirst, "Good one"},
                                                                       {kSecond, ""}}));
    EXPECT_EQ(toolkit.label->text, "2 device-only key(s). Agents cannot open this safe.");
}

TEST_F(KeychainTest, AnswersBadParameterToQueriesOfOtherShapes) {
    const std::string svc = ownService();
    const SecretBytes secret = SecretBytes::copyOf("x");
    ASSERT_EQ(add(svc, kFirst, "Key", secret), status::success);

    Query synchronised = listing(svc);
    synchronised[std::string(kSecAttrSynchronizable)] = true;
    Query outsideProtected = listing(svc);
    outsideProtected[std::string(kSecUseDataProtectionKeychain)] = false;
    Query extraEntry = listing(svc);
    extraEntry.emplace(kSecReturnData, true);
    Query oneOnly = listing(svc);
    oneOnly[std::string(kSecMatchLimit)] = KeychainConstant::kSecMatchLimitOne;
    Query noClass = listing(svc);
    noClass.erase(std::string(kSecClass));
    // Text a D-Bus string cannot carry is refused, not cut short.
    Query notUTF8 = listing(svc + "\xff");
    Query withNul = listing(svc + std::string(1, '\0') + "x");
    for (const Query* query :
         {&synchronised, &outsideProtected, &extraEntry, &oneOnly, &noClass, &notUTF8, &withNul}) {
        KeychainResult result;
        EXPECT_EQ(keychain->copyMatching(*query, result), status::badParameter);
        EXPECT_TRUE(std::holds_alternative<std::monostate>(result));
    }

    // An add without the secret or the access control stores nothing.
    Query incomplete = base(svc, kSecond);
    incomplete.emplace(kSecAttrLabel, "Half");
    incomplete.emplace(kSecValueData, SecretRef{&secret});
    EXPECT_EQ(keychain->add(incomplete), status::badParameter);
    EXPECT_EQ(add(svc, kSecond, "bad \xc3", secret), status::badParameter);
    EXPECT_EQ(add(svc, kThird, std::string("cut\0short", 9), secret), status::badParameter);
    KeychainResult result;
    ASSERT_EQ(keychain->copyMatching(listing(svc), result), status::success);
    EXPECT_EQ(summary(result), (std::vector<std::string>{kFirst + " Key"}));
}

TEST_F(KeychainTest, ReadsASecretOnlyAfterTheOwnerAuthenticated) {
    const std::string svc = ownService();
    const SecretBytes secret = SecretBytes::copyOf(std::string_view("\x00 binary \xff", 11));
    ASSERT_EQ(add(svc, kFirst, "Key", secret), status::success);

    const struct {
        Status answer;
        Status expected;
    } cases[] = {{status::success, status::success},
                 {status::userCancelled, status::userCancelled},
                 {status::authFailed, status::authFailed},
                 {status::interactionNotAllowed, status::interactionNotAllowed}};
    for (const auto& c : cases) {
        auto context = std::make_shared<ScriptedContext>(c.answer);
        KeychainResult result;
        EXPECT_EQ(keychain->copyMatching(reading(svc, kFirst, context), result), c.expected);
        EXPECT_EQ(context->asked, 1);
        const auto* bytes = std::get_if<SecretBytes>(&result);
        if (c.expected == status::success) {
            ASSERT_NE(bytes, nullptr);
            EXPECT_EQ(bytes->view(), secret.view());
        } else {
            EXPECT_TRUE(std::holds_alternative<std::monostate>(result)) << c.answer;
        }
    }

    // A key that is not there is not found, and nobody is asked.
    auto context = std::make_shared<ScriptedContext>(status::success);
    KeychainResult result;
    EXPECT_EQ(keychain->copyMatching(reading(svc, kSecond, context), result), status::itemNotFound);
    EXPECT_EQ(context->asked, 0);
    // Reads of another shape are refused.
    Query noContext = reading(svc, kFirst, context);
    noContext.erase(std::string(kSecUseAuthenticationContext));
    noContext.emplace(kSecAttrLabel, "x");
    Query all = reading(svc, kFirst, context);
    all[std::string(kSecMatchLimit)] = KeychainConstant::kSecMatchLimitAll;
    for (const Query* query : {&noContext, &all}) {
        EXPECT_EQ(keychain->copyMatching(*query, result), status::badParameter);
    }
    EXPECT_EQ(context->asked, 0);
}

// Run by run-keyring.sh under a bus monitor, which must never see these bytes.
TEST_F(KeychainTest, SecretCrossesTheBusOnlyEncrypted) {
    const std::string svc = ownService();
    const SecretBytes secret = SecretBytes::copyOf(std::string_view("quorlen-bus-canary-7Qx2"));
    ASSERT_EQ(add(svc, kFirst, "Watched key", secret), status::success);
    auto context = std::make_shared<ScriptedContext>(status::success);
    KeychainResult result;
    ASSERT_EQ(keychain->copyMatching(reading(svc, kFirst, context), result), status::success);
    const auto* bytes = std::get_if<SecretBytes>(&result);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes->view(), secret.view());
}

TEST_F(KeychainTest, RemovesAKeyOnlyWithAGrantedContext) {
    const std::string svc = ownService();
    const SecretBytes secret = SecretBytes::copyOf("x");
    ASSERT_EQ(add(svc, kFirst, "Key", secret), status::success);
    ASSERT_EQ(add(svc, kSecond, "Other", secret), status::success);

    EXPECT_EQ(keychain->remove(removing(svc, kFirst, std::make_shared<ScriptedContext>(0, false))),
              status::authFailed);
    Query extra = removing(svc, kFirst, std::make_shared<ScriptedContext>(0, true));
    extra.emplace(kSecReturnData, true);
    EXPECT_EQ(keychain->remove(extra), status::badParameter);
    KeychainResult result;
    ASSERT_EQ(keychain->copyMatching(listing(svc), result), status::success);
    EXPECT_EQ(summary(result).size(), 2u);

    auto granted = std::make_shared<ScriptedContext>(0, true);
    EXPECT_EQ(keychain->remove(removing(svc, kFirst, granted)), status::success);
    EXPECT_EQ(keychain->remove(removing(svc, kFirst, granted)), status::itemNotFound);
    ASSERT_EQ(keychain->copyMatching(listing(svc), result), status::success);
    EXPECT_EQ(summary(result), (std::vector<std::string>{kSecond + " Other"}));
}

// Runs last in its own process (see run-keyring.sh): it leaves the collection locked.
TEST_F(KeychainTest, LockedCollectionListsWithoutUnlocking) {
    const std::string svc = ownService();
    const SecretBytes secret = SecretBytes::copyOf("x");
    ASSERT_EQ(add(svc, kFirst, "Before lock", secret), status::success);
    const std::string bus = "gdbus call --session --dest org.freedesktop.secrets ";
    ASSERT_TRUE(run(bus +
                    "--object-path /org/freedesktop/secrets --method "
                    "org.freedesktop.Secret.Service.Lock \"['" +
                    kCollection + "']\""));
    const std::string lockedProperty =
        bus + "--object-path " + kCollection +
        " --method org.freedesktop.DBus.Properties.Get org.freedesktop.Secret.Collection Locked";
    ASSERT_EQ(run(lockedProperty), "(<true>,)\n");

    KeychainResult result;
    ASSERT_EQ(keychain->copyMatching(listing(svc), result), status::success);
    EXPECT_EQ(summary(result), (std::vector<std::string>{kFirst + " Before lock"}));
    EXPECT_EQ(run(lockedProperty), "(<true>,)\n") << "the listing unlocked the collection";

    // Storing needs the collection open; with no prompter here the unlock cannot be
    // answered, which counts as dismissed.
    EXPECT_EQ(add(svc, kSecond, "After lock", secret), status::userCancelled);
    ASSERT_EQ(keychain->copyMatching(listing(svc), result), status::success);
    EXPECT_EQ(summary(result).size(), 1u);

    // Reading and removing need the collection open too: an unanswered unlock is a
    // dismissal, never "not found", and the key stays.
    auto granted = std::make_shared<ScriptedContext>(status::success, true);
    EXPECT_EQ(keychain->copyMatching(reading(svc, kFirst, granted), result), status::userCancelled);
    EXPECT_EQ(keychain->remove(removing(svc, kFirst, granted)), status::userCancelled);
    ASSERT_EQ(keychain->copyMatching(listing(svc), result), status::success);
    EXPECT_EQ(summary(result), (std::vector<std::string>{kFirst + " Before lock"}));
}

// Run by run-keyring.sh in places where no store answers: no session bus at all, and a bus
// on which nobody owns the Secret Service name.
TEST(Unreachable, EveryCallSaysNotAvailable) {
    if (std::getenv("QUORLEN_EXPECT_UNREACHABLE") == nullptr) {
        GTEST_SKIP() << "needs a session without a Secret Service";
    }
    auto keychain = makeSystemKeychain();
    KeychainResult result;
    EXPECT_EQ(keychain->copyMatching(listing(std::string(service)), result), status::notAvailable);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(result));

    const SecretBytes secret = SecretBytes::copyOf("x");
    Query query = base(std::string(service), kFirst);
    query.emplace(kSecAttrLabel, "Key");
    query.emplace(kSecAttrAccessControl,
                  keychain->createAccessControl(
                      Accessibility::kSecAttrAccessibleWhenUnlockedThisDeviceOnly, 1));
    query.emplace(kSecValueData, SecretRef{&secret});
    EXPECT_EQ(keychain->add(query), status::notAvailable);
}

}  // namespace
}  // namespace quorlen
