// The controller on the fakes: the launch gate, the window's layout, the delegate's answers and
// the shared routines `button`, `message` and `selectedID`. Also checks the behaviour of
// the toolkit, scheduler and pasteboard fakes that later flow tests rely on.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/authentication.h"
#include "platform/keychain.h"
#include "tests/support/fake_pasteboard.h"
#include "tests/support/fake_scheduler.h"
#include "tests/support/fake_toolkit.h"
#include "ui/safe_controller.h"

namespace quorlen {
namespace {

using testing::eventCount;
using testing::eventIndex;
using testing::FakeAlert;
using testing::fakeAs;
using testing::FakeButton;
using testing::FakeLabel;
using testing::FakePasteboard;
using testing::FakePopUpButton;
using testing::fakeRef;
using testing::FakeScheduler;
using testing::FakeSecureTextField;
using testing::FakeStackView;
using testing::FakeToolkit;
using testing::FakeWindow;
using testing::OffThreadPolicy;
using testing::RecordedItem;

// A keychain that holds nothing and records every call in the shared event log.
class LoggingKeychain : public Keychain {
  public:
    explicit LoggingKeychain(std::vector<std::string>& log) : log_(log) {}
    std::size_t calls = 0;

    Status copyMatching(const Query&, KeychainResult& result) override {
        note("copyMatching");
        result = std::monostate{};
        return status::itemNotFound;
    }
    Status add(const Query&) override {
        note("add");
        return status::notAvailable;
    }
    Status remove(const Query&) override {
        note("remove");
        return status::itemNotFound;
    }
    std::shared_ptr<const AccessControl> createAccessControl(Accessibility,
                                                             std::uint32_t) override {
        note("createAccessControl");
        return nullptr;
    }

  private:
    void note(const char* name) {
        ++calls;
        log_.emplace_back(name);
    }
    std::vector<std::string>& log_;
};

// An authentication the window and its launch never use; a context that grants nothing.
class RefusingContext : public AuthenticationContext {
  public:
    bool canEvaluatePolicy(int) override { return false; }
    void setLocalizedReason(std::string) override {}
    void setTouchIDAuthenticationAllowableReuseDuration(double) override {}
    void evaluatePolicy(int, std::string, std::function<void(bool, Status)> reply) override {
        reply(false, status::authFailed);
    }
    void invalidate() override {}
    Status authenticateForRead() override { return status::authFailed; }
    bool isGranted() const override { return false; }
};

class CountingAuthentication : public Authentication {
  public:
    std::size_t contexts = 0;
    std::shared_ptr<AuthenticationContext> makeContext() override {
        ++contexts;
        return std::make_shared<RefusingContext>();
    }
};

constexpr const char* kUnavailableText =
    "This feature requires the correctly signed, sandboxed Mac app and local device "
    "authentication. It will not fall back to a file or a cloud vault.";
constexpr const char* kExplanation =
    "Stored in this device\u2019s protected Keychain, not Quorlen\u2019s servers. Each copy "
    "requires macOS approval. There is no agent access, cloud sync, or recovery on a "
    "replacement device. Keep an independent recovery copy.";
constexpr const char* kWarning =
    "Copy only when necessary: other apps can read the clipboard. Never paste a master key "
    "into an AI conversation. Give agents separate, restricted keys instead. This preview "
    "still requires independent security review.";

// One controller on fresh fakes, wired as the entry point wires it.
class WindowTest : public ::testing::Test {
  protected:
    FakeToolkit toolkit;
    LoggingKeychain keychain{toolkit.events};
    CountingAuthentication authentication;
    FakePasteboard pasteboard;
    FakeScheduler scheduler;
    bool gate = true;
    int gateCalls = 0;
    std::unique_ptr<SafeController> controller;

    void SetUp() override {
        pasteboard.setEventLog(&toolkit.events);
        scheduler.setEventLog(&toolkit.events);
        controller = std::make_unique<SafeController>(
            Services{keychain, authentication, toolkit, pasteboard, scheduler, [this] {
                         ++gateCalls;
                         toolkit.events.emplace_back("protectionAvailable");
                         return gate;
                     }});
        toolkit.setDelegate(controller.get());
    }

    void launch(bool available) {
        gate = available;
        controller->applicationDidFinishLaunching();
    }

    FakeWindow& window() { return *toolkit.windows.at(0); }
    FakeStackView& mainStack() { return fakeRef<FakeStackView>(window().content->subviews.at(0)); }
    FakeStackView& row() { return fakeRef<FakeStackView>(mainStack().subviews.at(3)); }
    FakeButton& rowButton(std::size_t i) { return fakeRef<FakeButton>(row().subviews.at(i)); }
};

// ---- construction ----

TEST_F(WindowTest, InitMakesOnlyThePopUpAndTheStatusLabel) {
    // Made in SetUp: the controller exists, launching has not finished.
    EXPECT_EQ(toolkit.events, (std::vector<std::string>{"makePopUpButton",
                                                        "wrappingLabelWithString", "setDelegate"}));
    EXPECT_EQ(controller->window, nullptr);
    EXPECT_TRUE(toolkit.windows.empty());
    EXPECT_TRUE(toolkit.alerts.empty());
    EXPECT_EQ(keychain.calls, 0u);
    EXPECT_EQ(pasteboard.callCount(), 0u);
    EXPECT_TRUE(scheduler.timers.empty());
    EXPECT_EQ(authentication.contexts, 0u);
    EXPECT_EQ(gateCalls, 0);

    auto* items = fakeAs<FakePopUpButton>(controller->items);
    ASSERT_NE(items, nullptr);
    EXPECT_EQ(items->frame.x, 0);
    EXPECT_EQ(items->frame.y, 0);
    EXPECT_EQ(items->frame.width, 0);
    EXPECT_EQ(items->frame.height, 0);
    EXPECT_FALSE(items->pullsDown);
    EXPECT_TRUE(items->titles.empty());
    EXPECT_EQ(items->selectedIndex, -1);

    auto* status = fakeAs<FakeLabel>(controller->status);
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->wrapping);
    EXPECT_EQ(status->text, "");

    EXPECT_TRUE(controller->identifiers.empty());
    EXPECT_FALSE(controller->clipboardGeneration.has_value());
    EXPECT_EQ(controller->clipboardTimer, nullptr);
}

// ---- the launch gate ----

TEST_F(WindowTest, GateFalseShowsOneAlertThenTerminates) {
    launch(false);

    EXPECT_EQ(gateCalls, 1);
    ASSERT_EQ(toolkit.alertsShown.size(), 1u);
    const FakeAlert& alert = *toolkit.alertsShown[0];
    EXPECT_EQ(alert.messageText, "On-device safe unavailable");
    EXPECT_EQ(alert.informativeText, kUnavailableText);
    EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(alert.accessory, nullptr);
    EXPECT_FALSE(alert.sharingType.has_value());
    EXPECT_EQ(alert.runCount, 1u);

    EXPECT_EQ(toolkit.terminateCount, 1u);
    EXPECT_EQ(toolkit.willTerminateCount, 1u);
    // The alert is dismissed first; terminating is the last thing the launch sequence does.
    const auto terminate = eventIndex(toolkit.events, "terminate");
    EXPECT_LT(eventIndex(toolkit.events, "runModal"), terminate);
    EXPECT_EQ(toolkit.events.at(static_cast<std::size_t>(terminate) + 1),
              "applicationWillTerminate");
    EXPECT_EQ(eventCount(toolkit.events, "makeAlert"), 1u);

    EXPECT_TRUE(toolkit.windows.empty());
    EXPECT_EQ(controller->window, nullptr);
    EXPECT_EQ(eventCount(toolkit.events, "labelWithString"), 0u);
    EXPECT_TRUE(toolkit.constraintActivations.empty());
    EXPECT_TRUE(toolkit.activateIgnoringOtherAppsCalls.empty());
    // The listing never ran: the keychain saw nothing.
    EXPECT_EQ(keychain.calls, 0u);
}

TEST_F(WindowTest, GateFalseTerminatesWhateverTheAlertAnswers) {
    toolkit.scriptAlert(0);  // closed by Escape
    launch(false);
    EXPECT_EQ(toolkit.alertsShown.size(), 1u);
    EXPECT_EQ(toolkit.terminateCount, 1u);
    EXPECT_TRUE(toolkit.windows.empty());
}

TEST_F(WindowTest, GateTrueMakesTheWindow) {
    launch(true);

    EXPECT_EQ(gateCalls, 1);
    EXPECT_TRUE(toolkit.alertsShown.empty());
    EXPECT_EQ(toolkit.terminateCount, 0u);
    ASSERT_EQ(toolkit.windows.size(), 1u);
    FakeWindow& w = window();
    EXPECT_EQ(controller->window.get(), &w);
    EXPECT_EQ(w.contentRect.x, 0);
    EXPECT_EQ(w.contentRect.y, 0);
    EXPECT_EQ(w.contentRect.width, 570);
    EXPECT_EQ(w.contentRect.height, 400);
    EXPECT_EQ(w.styleMask, 7u);
    EXPECT_EQ(w.backing, 2);
    EXPECT_FALSE(w.defer);
    EXPECT_EQ(w.title, "Quorlen \u00B7 On-device key safe");
    EXPECT_EQ(w.title, "Quorlen \xC2\xB7 On-device key safe");
    EXPECT_EQ(w.sharingType, 0);
    EXPECT_EQ(w.centerCount, 1u);
    EXPECT_EQ(w.orderFrontCount, 1u);
    EXPECT_EQ(toolkit.activateIgnoringOtherAppsCalls, std::vector<bool>{true});
}

TEST_F(WindowTest, MainStackHoldsTheSixViewsInOrder) {
    launch(true);
    ASSERT_EQ(window().content->subviews.size(), 1u);
    FakeStackView& stack = mainStack();
    EXPECT_EQ(stack.orientation, Orientation::vertical);
    EXPECT_EQ(stack.alignment, Alignment::leading);
    EXPECT_EQ(stack.spacing, 18);
    EXPECT_EQ(stack.translatesAutoresizingMask, false);
    ASSERT_EQ(stack.subviews.size(), 6u);

    auto* heading = fakeAs<FakeLabel>(stack.subviews[0]);
    ASSERT_NE(heading, nullptr);
    EXPECT_FALSE(heading->wrapping);
    EXPECT_EQ(heading->text, "Your most powerful keys stay on this Mac.");
    ASSERT_TRUE(heading->font.has_value());
    EXPECT_TRUE(heading->font->bold);
    EXPECT_EQ(heading->font->size, 18);
    EXPECT_EQ(toolkit.boldFontSizes, std::vector<double>{18});
    EXPECT_FALSE(heading->textColor.has_value());

    auto* explanation = fakeAs<FakeLabel>(stack.subviews[1]);
    ASSERT_NE(explanation, nullptr);
    EXPECT_TRUE(explanation->wrapping);
    EXPECT_EQ(explanation->text, kExplanation);
    EXPECT_FALSE(explanation->font.has_value());
    EXPECT_FALSE(explanation->textColor.has_value());

    EXPECT_EQ(stack.subviews[2], controller->items);

    auto* rowStack = fakeAs<FakeStackView>(stack.subviews[3]);
    ASSERT_NE(rowStack, nullptr);

    auto* warning = fakeAs<FakeLabel>(stack.subviews[4]);
    ASSERT_NE(warning, nullptr);
    EXPECT_TRUE(warning->wrapping);
    EXPECT_EQ(warning->text, kWarning);
    EXPECT_EQ(warning->textColor, Color::secondaryLabel);
    EXPECT_FALSE(warning->font.has_value());

    EXPECT_EQ(stack.subviews[5], std::static_pointer_cast<View>(controller->status));
}

TEST_F(WindowTest, ButtonRowInOrder) {
    launch(true);
    FakeStackView& r = row();
    EXPECT_EQ(r.orientation, Orientation::horizontal);
    EXPECT_EQ(r.spacing, 10);
    EXPECT_FALSE(r.alignment.has_value());
    ASSERT_EQ(r.subviews.size(), 3u);
    struct Expected {
        const char* title;
        const char* selector;
    };
    const Expected expected[] = {
        {"Add a key", "addKey"}, {"Copy for 20 seconds", "copyKey"}, {"Delete\u2026", "deleteKey"}};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        FakeButton& b = rowButton(i);
        EXPECT_EQ(b.title, expected[i].title);
        EXPECT_EQ(b.selector, expected[i].selector);
        EXPECT_EQ(b.bezelStyle, 1);
    }
    EXPECT_EQ(rowButton(2).title, "Delete\xE2\x80\xA6");
}

TEST_F(WindowTest, FourConstraintsInOneCall) {
    launch(true);
    ASSERT_EQ(toolkit.constraintActivations.size(), 1u);
    const auto& c = toolkit.constraintActivations[0].constraints;
    ASSERT_EQ(c.size(), 4u);
    auto stack = window().content->subviews.at(0);
    auto content = std::static_pointer_cast<View>(window().content);

    struct Expected {
        std::shared_ptr<View> first;
        Anchor firstAnchor;
        std::shared_ptr<View> second;
        Anchor secondAnchor;
        double constant;
    };
    const Expected expected[] = {
        {stack, Anchor::leading, content, Anchor::leading, 24},
        {stack, Anchor::trailing, content, Anchor::trailing, -24},
        {stack, Anchor::top, content, Anchor::top, 24},
        {controller->items, Anchor::width, stack, Anchor::width, 0},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(c[i].first, expected[i].first);
        EXPECT_EQ(c[i].firstAnchor, expected[i].firstAnchor);
        EXPECT_EQ(c[i].second, expected[i].second);
        EXPECT_EQ(c[i].secondAnchor, expected[i].secondAnchor);
        EXPECT_EQ(c[i].constant, expected[i].constant);
    }
    // No bottom or height constraint: the stack hangs from the top, 570 - 2 x 24 = 522 wide.
}

TEST_F(WindowTest, LaunchSequenceOrder) {
    launch(true);
    const std::vector<std::string> expected = {
        "protectionAvailable",
        "makeWindow",
        "setTitle",
        "setSharingType",
        "labelWithString",
        "boldSystemFontOfSize",
        "setFont",
        "wrappingLabelWithString",
        "wrappingLabelWithString",
        "setTextColor",
        "buttonWithTitle",
        "setBezelStyle",
        "buttonWithTitle",
        "setBezelStyle",
        "buttonWithTitle",
        "setBezelStyle",
        "stackViewWithViews",
        "setOrientation",
        "setSpacing",
        "stackViewWithViews",
        "setOrientation",
        "setAlignment",
        "setSpacing",
        "setTranslatesAutoresizingMaskIntoConstraints",
        "contentView",
        "addSubview",
        "activateConstraints",
        "center",
        "makeKeyAndOrderFront",
        "activateIgnoringOtherApps",
    };
    // The listing may add its own calls between the constraints and `center`;
    // everything else is exactly this sequence.
    std::vector<std::string> launchEvents(toolkit.events.begin() + 3, toolkit.events.end());
    const auto constraints = eventIndex(launchEvents, "activateConstraints");
    const auto center = eventIndex(launchEvents, "center");
    ASSERT_GE(constraints, 0);
    ASSERT_GT(center, constraints);
    launchEvents.erase(launchEvents.begin() + constraints + 1, launchEvents.begin() + center);
    EXPECT_EQ(launchEvents, expected);
}

TEST_F(WindowTest, ListingRunsOnceBetweenConstraintsAndOrderFront) {
    launch(true);
    // The listing makes exactly one copyMatching call.
    EXPECT_EQ(eventCount(toolkit.events, "copyMatching"), 1u);
    const auto listing = eventIndex(toolkit.events, "copyMatching");
    EXPECT_LT(eventIndex(toolkit.events, "activateConstraints"), listing);
    EXPECT_LT(listing, eventIndex(toolkit.events, "center"));
    EXPECT_LT(listing, eventIndex(toolkit.events, "makeKeyAndOrderFront"));
}

// ---- delegate answers and closing ----

TEST_F(WindowTest, ClosingTheLastWindowTerminates) {
    EXPECT_TRUE(controller->applicationShouldTerminateAfterLastWindowClosed());
    launch(true);
    EXPECT_EQ(toolkit.terminateCount, 0u);
    toolkit.closeWindow(window());
    EXPECT_EQ(toolkit.terminateCount, 1u);
    EXPECT_EQ(toolkit.willTerminateCount, 1u);
    EXPECT_LT(eventIndex(toolkit.events, "applicationShouldTerminateAfterLastWindowClosed"),
              eventIndex(toolkit.events, "terminate"));
}

TEST_F(WindowTest, RunFinishesLaunching) {
    EXPECT_EQ(toolkit.run(), 0);
    EXPECT_EQ(gateCalls, 1);
    EXPECT_EQ(toolkit.windows.size(), 1u);
}

// ---- shared routines ----

TEST_F(WindowTest, ButtonRunsTheMemberOnThisController) {
    // applicationDidFinishLaunching is a member without arguments whose effect is visible.
    auto made =
        controller->button("Launch", "launch", &SafeController::applicationDidFinishLaunching);
    auto* b = fakeAs<FakeButton>(made);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->title, "Launch");
    EXPECT_EQ(b->selector, "launch");
    EXPECT_EQ(b->bezelStyle, 1);
    EXPECT_LT(eventIndex(toolkit.events, "buttonWithTitle"),
              eventIndex(toolkit.events, "setBezelStyle"));
    // The caller places it: not added anywhere by `button`.
    EXPECT_EQ(eventCount(toolkit.events, "addSubview"), 0u);
    EXPECT_EQ(gateCalls, 0);
    b->press();
    EXPECT_EQ(gateCalls, 1);
}

TEST_F(WindowTest, WindowButtonsCanBePressed) {
    launch(true);
    // The flows are Parts 2.3, 3.1 and 2.4; with nothing selected copy and delete end at once,
    // and the add dialog, if shown, is cancelled by the unscripted default answer (1000).
    for (std::size_t i = 0; i < 3; ++i) rowButton(i).press();
    EXPECT_EQ(eventCount(toolkit.events, "press"), 3u);
    EXPECT_EQ(toolkit.terminateCount, 0u);
}

TEST_F(WindowTest, MessageShowsOneOkAlert) {
    toolkit.scriptAlert(1001);  // any answer: ignored
    controller->message("Title", "Some text.");
    ASSERT_EQ(toolkit.alerts.size(), 1u);
    ASSERT_EQ(toolkit.alertsShown.size(), 1u);
    const FakeAlert& alert = *toolkit.alerts[0];
    EXPECT_EQ(alert.messageText, "Title");
    EXPECT_EQ(alert.informativeText, "Some text.");
    EXPECT_EQ(alert.buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(alert.accessory, nullptr);
    EXPECT_FALSE(alert.sharingType.has_value());
    EXPECT_EQ(alert.runCount, 1u);
    EXPECT_EQ(toolkit.events,
              (std::vector<std::string>{"makePopUpButton", "wrappingLabelWithString", "setDelegate",
                                        "makeAlert", "setMessageText", "setInformativeText",
                                        "addButtonWithTitle", "runModal"}));
    EXPECT_EQ(toolkit.unscriptedAlertCount, 0u);
}

struct SelectedCase {
    const char* name;
    std::vector<std::string> titles;
    std::vector<std::string> identifiers;
    std::optional<int> select;  // empty: leave the pop-up's own selection
    std::optional<std::string> expected;
};

class SelectedIDTest : public WindowTest, public ::testing::WithParamInterface<SelectedCase> {};

TEST_P(SelectedIDTest, Table) {
    const SelectedCase& c = GetParam();
    auto& items = fakeRef<FakePopUpButton>(controller->items);
    for (const auto& t : c.titles) controller->items->addItemWithTitle(t);
    controller->identifiers = c.identifiers;
    if (c.select) items.select(*c.select);
    EXPECT_EQ(controller->selectedID(), c.expected);
    EXPECT_EQ(controller->identifiers, c.identifiers);  // unchanged
}

const std::vector<std::string> kThree = {"A", "B", "C"};
const std::vector<std::string> kIds = {"11111111-1111-4111-8111-111111111111",
                                       "22222222-2222-4222-8222-222222222222",
                                       "33333333-3333-4333-8333-333333333333"};

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectedIDTest,
    ::testing::Values(
        SelectedCase{"EmptyList", {}, {}, std::nullopt, std::nullopt},
        SelectedCase{"EmptyListIndexZero", {}, {}, 0, std::nullopt},
        SelectedCase{"FirstByDefault", kThree, kIds, std::nullopt, kIds[0]},
        SelectedCase{"Entry0", kThree, kIds, 0, kIds[0]},
        SelectedCase{"Entry1", kThree, kIds, 1, kIds[1]},
        SelectedCase{"Entry2", kThree, kIds, 2, kIds[2]},
        SelectedCase{"IndexAtEnd", kThree, kIds, 3, std::nullopt},
        SelectedCase{"IndexPastEnd", kThree, kIds, 7, std::nullopt},
        SelectedCase{"IdentifiersShorterThanList", kThree, {kIds[0], kIds[1]}, 2, std::nullopt},
        SelectedCase{"NothingSelected", kThree, kIds, -1, std::nullopt},
        SelectedCase{"NegativeIndex", kThree, kIds, -2, std::nullopt}),
    [](const auto& test) { return std::string(test.param.name); });

// ---- the fakes themselves ----

TEST(FakeToolkitTest, AlertAnswersFillAccessoryFieldsInOrder) {
    FakeToolkit toolkit;
    auto alert = toolkit.makeAlert();
    auto name = toolkit.makeTextField(Rect{0, 50, 420, 26});
    auto secret = toolkit.makeSecureTextField(Rect{0, 5, 420, 26});
    auto accessory = toolkit.makeView(Rect{0, 0, 420, 90});
    accessory->addSubview(name);
    accessory->addSubview(secret);
    alert->setAccessoryView(accessory);
    alert->addButtonWithTitle("Cancel");
    alert->addButtonWithTitle("Store on this Mac");
    bool during = false;
    toolkit.scriptAlert(1001, {"My key", "s3cret"}, [&] { during = true; });
    EXPECT_EQ(alert->runModal(), 1001);
    EXPECT_TRUE(during);
    EXPECT_EQ(name->stringValue(), "My key");
    EXPECT_EQ(secret->utf8Length(), 6u);
    EXPECT_EQ(secret->utf8Value().view(), "s3cret");
    secret->clear();
    EXPECT_EQ(secret->utf8Length(), 0u);
    EXPECT_EQ(fakeRef<FakeSecureTextField>(secret).clearCount, 1u);
    // The queue is empty now: the default button answers.
    EXPECT_EQ(alert->runModal(), 1000);
    EXPECT_EQ(toolkit.unscriptedAlertCount, 1u);
    EXPECT_EQ(toolkit.alertsShown.size(), 2u);
}

TEST(FakeToolkitTest, PopUpSelectsFirstEntryAndClears) {
    FakeToolkit toolkit;
    auto popUp = toolkit.makePopUpButton(Rect{}, false);
    EXPECT_EQ(popUp->indexOfSelectedItem(), -1);
    popUp->addItemWithTitle("a");
    popUp->addItemWithTitle("b");
    EXPECT_EQ(popUp->indexOfSelectedItem(), 0);
    popUp->removeAllItems();
    EXPECT_EQ(popUp->indexOfSelectedItem(), -1);
}

TEST(FakeToolkitTest, CallsFromAnotherThreadAreCaught) {
    FakeToolkit toolkit;
    toolkit.offThreadPolicy = OffThreadPolicy::ignore;
    std::thread([&] { toolkit.makeAlert(); }).join();
    EXPECT_EQ(toolkit.offThreadCalls.load(), 1u);
    EXPECT_TRUE(toolkit.events.empty());
}

TEST(FakeSchedulerTest, TimersFireInDueOrderAndInvalidate) {
    FakeScheduler scheduler;
    std::vector<std::string> fired;
    auto late = scheduler.scheduledTimer(20, [&] { fired.push_back("late"); });
    auto early = scheduler.scheduledTimer(5, [&] { fired.push_back("early"); });
    auto gone = scheduler.scheduledTimer(10, [&] { fired.push_back("gone"); });
    gone->invalidate();
    scheduler.advance(19.5);
    EXPECT_EQ(fired, std::vector<std::string>{"early"});
    scheduler.advance(0.5);
    EXPECT_EQ(fired, (std::vector<std::string>{"early", "late"}));
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
    late->invalidate();  // harmless after firing
    EXPECT_EQ(scheduler.now(), 20);
}

TEST(FakeSchedulerTest, MainQueueTakesBlocksFromAnotherThread) {
    FakeScheduler scheduler;
    std::thread::id ranOn;
    std::thread([&] {
        scheduler.submitToMainQueue([&] { ranOn = std::this_thread::get_id(); });
    }).join();
    ASSERT_TRUE(scheduler.waitForBlocks(1));
    EXPECT_EQ(scheduler.drain(), 1u);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(scheduler.drain(), 0u);
}

TEST(FakePasteboardTest, CountsEveryChange) {
    FakePasteboard pasteboard;
    const auto start = pasteboard.changeCount();
    EXPECT_EQ(pasteboard.clearContents(), start + 1);
    PasteboardItem item;
    item.setString("secret", NSPasteboardTypeString);
    item.setData({}, kConcealedType);
    std::vector<PasteboardItem> items;
    items.push_back(std::move(item));
    EXPECT_TRUE(pasteboard.writeObjects(std::move(items)));
    EXPECT_EQ(pasteboard.changeCount(), start + 2);
    EXPECT_TRUE(pasteboard.holdsOwnWrite);
    EXPECT_EQ(pasteboard.text(), "secret");
    ASSERT_EQ(pasteboard.writes.size(), 1u);
    EXPECT_EQ(pasteboard.writes[0].at(0),
              (RecordedItem{{std::string(NSPasteboardTypeString), true, "secret"},
                            {std::string(kConcealedType), false, ""}}));
    pasteboard.externalWrite("other");
    EXPECT_EQ(pasteboard.changeCount(), start + 3);
    EXPECT_FALSE(pasteboard.holdsOwnWrite);
    EXPECT_EQ(pasteboard.text(), "other");
}

}  // namespace
}  // namespace quorlen
