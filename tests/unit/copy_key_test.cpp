#include <gtest/gtest.h>

#include <string>

#include "tests/support/safe_fixture.h"

namespace quorlen::testing {
namespace {

constexpr const char* kFirst = "11111111-1111-4111-8111-111111111111";
constexpr const char* kSecond = "22222222-2222-4222-8222-222222222222";
constexpr const char* kCopied = "Copied for 20 seconds. Paste only into the intended trusted app.";

std::string notCopied(Status status) {
    return "Not copied. Local authentication or protected access was declined (" +
           std::to_string(status) + ").";
}

// Two stored keys, the window up, the first key selected.
class CopyKey : public SafeFixture {
  protected:
    CopyKey() {
        keychain.plantKey(kFirst, "first", "first secret");
        keychain.plantKey(kSecond, "second", "second secret");
        launch();
        popUp().select(0);
    }
    void copy(int index) {
        popUp().select(index);
        controller->copyKey();
    }
    bool pending() const { return controller->clipboardGeneration && controller->clipboardTimer; }
};

TEST_F(CopyKey, WritesOneMarkedItemAndArmsTwentySeconds) {
    copy(0);
    ASSERT_EQ(pasteboard.writes.size(), 1u);
    ASSERT_EQ(pasteboard.writes[0].size(), 1u);
    EXPECT_EQ(pasteboard.writes[0][0],
              (RecordedItem{{std::string(NSPasteboardTypeString), true, "first secret"},
                            {std::string(kConcealedType), false, ""},
                            {std::string(kTransientType), false, ""}}));
    EXPECT_EQ(controller->clipboardGeneration, pasteboard.changeCount());
    EXPECT_EQ(statusLine(), kCopied);
    ASSERT_EQ(scheduler.timers.size(), 1u);
    EXPECT_EQ(scheduler.timers[0]->interval, 20.0);

    ASSERT_EQ(authentication.contexts.size(), 1u);
    const auto& context = *authentication.contexts[0];
    EXPECT_EQ(context.reason, "Copy this device-only Quorlen key for 20 seconds");
    EXPECT_EQ(context.reuseDuration, 0.0);
    EXPECT_EQ(context.invalidations, 1);
    const Query& query = keychain.calls().back().query;
    EXPECT_EQ(query.size(), 8u);
    EXPECT_EQ(std::get<std::string>(query.at(std::string(kSecAttrAccount))), kFirst);

    scheduler.advance(19.9);
    EXPECT_EQ(pasteboard.text(), "first secret");
    scheduler.advance(0.1);
    EXPECT_EQ(pasteboard.text(), std::nullopt);
    EXPECT_FALSE(controller->clipboardGeneration || controller->clipboardTimer);
    EXPECT_EQ(statusLine(), kCopied);  // the clear writes no status
}

TEST_F(CopyKey, NothingSelectedDoesNothing) {
    popUp().select(-1);
    const auto before = keychain.calls().size();
    controller->copyKey();
    EXPECT_EQ(keychain.calls().size(), before);
    EXPECT_TRUE(authentication.contexts.empty());
    EXPECT_EQ(pasteboard.callCount(), 0u);
    EXPECT_EQ(statusLine(), "2 device-only key(s). Agents cannot open this safe.");
}

TEST_F(CopyKey, RefusedReadKeepsAnEarlierCopyOnItsOwnTimer) {
    copy(0);
    scheduler.advance(5);
    authentication.scriptAnswers({status::userCancelled});
    const auto writes = pasteboard.writes.size();
    copy(1);
    EXPECT_EQ(statusLine(), notCopied(-128));
    EXPECT_EQ(pasteboard.writes.size(), writes);
    EXPECT_EQ(pasteboard.text(), "first secret");
    EXPECT_TRUE(pending());
    scheduler.advance(15);
    EXPECT_EQ(pasteboard.text(), std::nullopt);
    for (const auto& context : authentication.contexts) EXPECT_EQ(context->invalidations, 1);
}

TEST_F(CopyKey, ReadsWithoutTextBytesShowNothingOrZero) {
    {
        SCOPED_TRACE("status 0, no bytes");
        keychain.forceResult(status::success, std::string("not bytes"));
        copy(0);
        EXPECT_EQ(statusLine(), notCopied(0));
        EXPECT_EQ(pasteboard.callCount(), 0u);
    }
    {
        SCOPED_TRACE("bytes that are not UTF-8");
        SafeWorld world;
        world.keychain.plantKey(kFirst, "odd", "\xFF\xFE\xFD");
        world.launch();
        const std::string listed = world.statusLine();
        world.controller->copyKey();
        EXPECT_EQ(world.statusLine(), listed);
        EXPECT_EQ(world.pasteboard.callCount(), 0u);
        EXPECT_FALSE(world.controller->clipboardGeneration);
        ASSERT_EQ(SafeWorld::released().size(), 1u);
        EXPECT_EQ(SafeWorld::released()[0].bytes, std::vector<std::uint8_t>(3, 0));
        EXPECT_EQ(world.authentication.contexts.at(0)->invalidations, 1);
    }
}

TEST_F(CopyKey, RefusedClipboardWriteIsNotReportedAsCopied) {
    pasteboard.acceptWrites = false;
    copy(0);
    EXPECT_EQ(statusLine(), notCopied(0));
    EXPECT_FALSE(controller->clipboardGeneration || controller->clipboardTimer);
    EXPECT_TRUE(scheduler.timers.empty());
    ASSERT_FALSE(released().empty());
    for (const auto& buffer : released()) EXPECT_TRUE(allZero(buffer.bytes));
}

TEST_F(CopyKey, SessionThatCannotClearSaysSoInsteadOfPromisingTwentySeconds) {
    pasteboard.clearable = false;
    copy(0);
    EXPECT_EQ(statusLine(),
              "Copied. This session cannot clear the clipboard: clear it yourself after pasting.");
    // The clear is still tried on time; it may take where the session lets it.
    ASSERT_TRUE(pending());
    scheduler.advance(20);
    EXPECT_EQ(pasteboard.text(), std::nullopt);
}

TEST_F(CopyKey, SecondCopyClearsTheFirstAndGetsAFullTwentySeconds) {
    copy(0);
    scheduler.advance(10);
    copy(1);
    EXPECT_EQ(pasteboard.text(), "second secret");
    EXPECT_FALSE(scheduler.timers[0]->pending());
    scheduler.advance(19);
    EXPECT_EQ(pasteboard.text(), "second secret");
    scheduler.advance(1);
    EXPECT_EQ(pasteboard.text(), std::nullopt);
    // Every secret buffer (the two reads, the items handed to the clipboard) was zeroed
    // before it was freed.
    ASSERT_GE(released().size(), 2u);
    for (const auto& buffer : released()) EXPECT_TRUE(allZero(buffer.bytes));
}

TEST_F(CopyKey, AnotherProgramsCopyIsLeftAlone) {
    copy(0);
    scheduler.advance(5);
    pasteboard.externalWrite("the user's own text");
    scheduler.advance(15);
    EXPECT_EQ(pasteboard.text(), "the user's own text");
    EXPECT_FALSE(controller->clipboardGeneration || controller->clipboardTimer);
}

TEST_F(CopyKey, QuittingClearsAPendingCopy) {
    copy(0);
    scheduler.advance(3);
    controller->applicationWillTerminate();
    EXPECT_EQ(pasteboard.text(), std::nullopt);
    EXPECT_FALSE(pending());
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
}

TEST_F(CopyKey, TimerAfterTheControllerIsGoneDoesNothing) {
    copy(0);
    const auto calls = pasteboard.callCount();
    controller.reset();
    scheduler.advance(20);
    EXPECT_EQ(pasteboard.callCount(), calls);
}

}  // namespace
}  // namespace quorlen::testing
