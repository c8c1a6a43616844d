#include <gtest/gtest.h>

#include <string>

#include "tests/support/safe_fixture.h"

namespace quorlen::testing {
namespace {

constexpr const char* kFirst = "11111111-1111-4111-8111-111111111111";
constexpr const char* kSecond = "22222222-2222-4222-8222-222222222222";

// Two stored keys and the window up; the owner's answer comes back on another thread.
class DeleteKey : public SafeFixture {
  protected:
    DeleteKey() {
        keychain.plantKey(kFirst, "first", "first secret");
        keychain.plantKey(kSecond, "second", "second secret");
        launch();
        authentication.delivery = FakeAuthentication::Delivery::held;
    }
    // Presses delete with `index` selected and confirms; the reply waits.
    void pressDelete(int index, int response = kAlertSecondButtonReturn) {
        popUp().select(index);
        toolkit.scriptAlert(response);
        controller->deleteKey();
    }
    // The owner answers on a platform thread; the main queue then runs the rest.
    void answer(Status answer) {
        authentication.scriptAnswers({answer});
        ASSERT_EQ(authentication.heldReplies(), 0u);  // scripted before the press
    }
    void reply() {
        authentication.deliverReplies();
        scheduler.drain();
    }
    void copyFirst() {
        popUp().select(0);
        controller->copyKey();
    }
    bool confirmationShown() const {
        for (const auto& alert : toolkit.alertsShown) {
            if (alert->messageText == "Permanently delete this device-only key?") return true;
        }
        return false;
    }
};

TEST_F(DeleteKey, ConfirmationAsksFirst) {
    pressDelete(0, kAlertFirstButtonReturn);
    ASSERT_EQ(toolkit.alertsShown.size(), 1u);
    const auto& alert = *toolkit.alertsShown[0];
    EXPECT_EQ(alert.informativeText,
              "This app cannot recover it. Confirm you have another recovery copy.");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Cancel", "Delete"}));
}

TEST_F(DeleteKey, NoSelectionOrNoConfirmationDoesNothing) {
    popUp().select(-1);
    controller->deleteKey();
    EXPECT_TRUE(toolkit.alertsShown.empty());
    for (int response : {kAlertFirstButtonReturn, 0, 1002}) {
        pressDelete(0, response);
        EXPECT_TRUE(authentication.contexts.empty()) << response;
    }
    EXPECT_EQ(calls(FakeKeychain::Call::remove), 0u);
    EXPECT_EQ(keychain.items().size(), 2u);
}

TEST_F(DeleteKey, RefusedAuthenticationKeepsKeyAndPendingCopy) {
    copyFirst();
    answer(status::userCancelled);
    pressDelete(1);
    reply();
    EXPECT_EQ(statusLine(), "Deletion cancelled.");
    EXPECT_EQ(calls(FakeKeychain::Call::remove), 0u);
    EXPECT_EQ(popUp().titles, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(pasteboard.text(), "first secret");
    EXPECT_TRUE(controller->clipboardTimer);
    EXPECT_EQ(authentication.contexts.back()->invalidations, 1);
}

TEST_F(DeleteKey, SuccessClearsThePendingCopyAndReloads) {
    copyFirst();
    answer(status::success);
    pressDelete(1);
    reply();
    EXPECT_EQ(keychain.find(kSecond), nullptr);
    EXPECT_EQ(pasteboard.text(), std::nullopt);
    EXPECT_FALSE(controller->clipboardGeneration || controller->clipboardTimer);
    EXPECT_EQ(popUp().titles, (std::vector<std::string>{"first"}));
    EXPECT_EQ(statusLine(), "1 device-only key(s). Agents cannot open this safe.");
    const Query& query = keychain.calls()[keychain.calls().size() - 2].query;
    EXPECT_EQ(query.size(), 6u);
    EXPECT_EQ(authentication.contexts.back()->evaluatedReasons,
              (std::vector<std::string>{"Delete a device-only Quorlen key"}));
    EXPECT_EQ(authentication.contexts.back()->invalidations, 1);
}

TEST_F(DeleteKey, KeyRemovedElsewhereIsReportedAfterTheCopyIsCleared) {
    copyFirst();
    answer(status::success);
    pressDelete(1);
    // Another client of the store removes the key while the prompt is open.
    auto other = authentication.makeContext();
    other->evaluatePolicy(LAPolicyDeviceOwnerAuthentication, "elsewhere", [](bool, Status) {});
    authentication.delivery = FakeAuthentication::Delivery::immediately;
    Query elsewhere = controller->baseQuery(kSecond);
    elsewhere.emplace(kSecUseAuthenticationContext, other);
    ASSERT_EQ(keychain.remove(elsewhere), status::success);
    toolkit.events.clear();

    reply();
    EXPECT_EQ(alertTexts(1), (std::vector<std::pair<std::string, std::string>>{
                                 {"Not deleted", "Keychain refused the deletion (-25300)."}}));
    const auto cleared = eventIndex(toolkit.events, "clearContents");
    const auto alerted = eventIndex(toolkit.events, "runModal");
    ASSERT_GE(cleared, 0);
    EXPECT_LT(cleared, alerted);
    EXPECT_GT(eventIndex(toolkit.events, "copyMatching", static_cast<std::size_t>(alerted)),
              alerted);
    EXPECT_EQ(popUp().titles, (std::vector<std::string>{"first"}));
}

TEST_F(DeleteKey, TheKeySelectedAtThePressIsTheOneDeleted) {
    answer(status::success);
    pressDelete(0);
    popUp().select(1);
    reply();
    EXPECT_EQ(keychain.find(kFirst), nullptr);
    EXPECT_NE(keychain.find(kSecond), nullptr);
}

TEST_F(DeleteKey, ReplyOnAnotherThreadOnlyQueuesTheRest) {
    copyFirst();
    answer(status::success);
    pressDelete(1);
    toolkit.offThreadPolicy = OffThreadPolicy::fail;
    authentication.deliverReplies();
    EXPECT_EQ(toolkit.offThreadCalls, 0u);
    EXPECT_EQ(pasteboard.offThreadCalls, 0u);
    EXPECT_EQ(scheduler.offThreadCalls, 0u);
    // Nothing has changed until the main queue runs.
    EXPECT_EQ(keychain.items().size(), 2u);
    EXPECT_EQ(pasteboard.text(), "first secret");
    EXPECT_EQ(scheduler.queuedBlocks(), 1u);
    scheduler.drain();
    EXPECT_EQ(keychain.items().size(), 1u);
    EXPECT_EQ(toolkit.offThreadCalls, 0u);
}

}  // namespace
}  // namespace quorlen::testing
