#include "tests/support/fake_pasteboard.h"

#include <gtest/gtest.h>

#include <utility>

namespace quorlen::testing {

FakePasteboard::FakePasteboard() : mainThread_(std::this_thread::get_id()) {}

bool FakePasteboard::enter(const char* name) {
    if (std::this_thread::get_id() != mainThread_) {
        ++offThreadCalls;
        ADD_FAILURE() << "pasteboard call " << name << " off the main thread";
        return false;
    }
    ++calls_;
    if (log_ != nullptr) log_->emplace_back(name);
    return true;
}

std::int64_t FakePasteboard::clearContents() {
    if (!enter("clearContents")) return count_;
    ++clearCount;
    ++count_;
    contents_.clear();
    holdsOwnWrite = false;
    return count_;
}

bool FakePasteboard::writeObjects(std::vector<PasteboardItem> items) {
    if (!enter("writeObjects")) return false;
    if (!acceptWrites) return false;
    std::vector<RecordedItem> recorded;
    for (const auto& item : items) {
        RecordedItem copy;
        for (const auto& r : item.representations()) {
            copy.push_back({r.type, r.isText, std::string(r.data.view())});
        }
        recorded.push_back(std::move(copy));
    }
    writes.push_back(std::move(recorded));
    for (auto& item : items) contents_.push_back(std::move(item));
    ++count_;
    holdsOwnWrite = true;
    return true;
}

std::int64_t FakePasteboard::changeCount() {
    if (!enter("changeCount")) return count_;
    ++changeCountReads;
    return count_;
}

void FakePasteboard::externalWrite(std::string_view value) {
    if (log_ != nullptr) log_->emplace_back("externalWrite");
    PasteboardItem item;
    item.setString(value, NSPasteboardTypeString);
    contents_.clear();
    contents_.push_back(std::move(item));
    ++count_;
    holdsOwnWrite = false;
}

std::optional<std::string> FakePasteboard::text() const {
    for (const auto& item : contents_) {
        for (const auto& r : item.representations()) {
            if (r.isText) return std::string(r.data.view());
        }
    }
    return std::nullopt;
}

}  // namespace quorlen::testing
