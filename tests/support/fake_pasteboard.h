#pragma once

// An in-memory clipboard that records what was written and can be changed by "another
// program" (externalWrite), standing in for the system pasteboard.
//
// The change count goes up by one on every clearContents, every accepted writeObjects and
// every externalWrite. Calls are expected on the thread that made it; a call from another
// thread fails the running test.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/pasteboard.h"

namespace quorlen::testing {

// A plain copy of one representation, kept for the test (secrets included: test data).
struct RecordedRepresentation {
    std::string type;
    bool isText = false;
    std::string data;
    bool operator==(const RecordedRepresentation&) const = default;
};
using RecordedItem = std::vector<RecordedRepresentation>;

class FakePasteboard : public Pasteboard {
  public:
    FakePasteboard();
    // Appends "clearContents", "writeObjects", "changeCount" and "externalWrite" to `log`,
    // for example the fake toolkit's `events`. Not owned.
    void setEventLog(std::vector<std::string>* log) { log_ = log; }

    // Every accepted write, in order, each as the list of its items.
    std::vector<std::vector<RecordedItem>> writes;
    std::size_t clearCount = 0;
    std::size_t changeCountReads = 0;
    // When false, writeObjects refuses (returns false) and changes nothing.
    bool acceptWrites = true;
    // True when the current content was written by this program (writeObjects), false after
    // a clear or an externalWrite.
    bool holdsOwnWrite = false;
    // What canClear answers.
    bool clearable = true;

    // Another program writes `text` as the clipboard's only content.
    void externalWrite(std::string_view text);
    // The current content.
    const std::vector<PasteboardItem>& contents() const { return contents_; }
    // The first text representation of the current content, or empty.
    std::optional<std::string> text() const;
    // Every call of this fake's Pasteboard interface, any kind, counted.
    std::size_t callCount() const { return calls_; }

    std::atomic<std::size_t> offThreadCalls{0};

    std::int64_t clearContents() override;
    bool writeObjects(std::vector<PasteboardItem> items) override;
    std::int64_t changeCount() override;
    bool canClear() const override { return clearable; }

  private:
    bool enter(const char* name);

    std::int64_t count_ = 0;
    std::vector<PasteboardItem> contents_;
    std::size_t calls_ = 0;
    std::vector<std::string>* log_ = nullptr;
    std::thread::id mainThread_;
};

}  // namespace quorlen::testing
