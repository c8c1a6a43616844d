#pragma once

// The controller on the fakes of every service, for the unit tests of the flows.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/fake_authentication.h"
#include "tests/support/fake_keychain.h"
#include "tests/support/fake_pasteboard.h"
#include "tests/support/fake_scheduler.h"
#include "tests/support/fake_toolkit.h"
#include "ui/safe_controller.h"

namespace quorlen::testing {

// The controller and the fakes it runs on; one world per test or per table row.
class SafeWorld {
  public:
    SafeWorld() {
        keychain.setEventLog(&toolkit.events);
        pasteboard.setEventLog(&toolkit.events);
        scheduler.setEventLog(&toolkit.events);
        controller =
            std::make_shared<SafeController>(Services{keychain, authentication, toolkit, pasteboard,
                                                      scheduler, [this] { return available; }});
        released().clear();
        SecretBytes::setReleaseObserver(&SafeWorld::observeRelease);
    }
    ~SafeWorld() { SecretBytes::setReleaseObserver(nullptr); }
    SafeWorld(const SafeWorld&) = delete;
    SafeWorld& operator=(const SafeWorld&) = delete;

    // Launches with the gate passed, so the window and the list exist.
    void launch() { controller->applicationDidFinishLaunching(); }

    FakePopUpButton& popUp() { return fakeRef<FakePopUpButton>(controller->items); }
    std::string statusLine() { return fakeRef<FakeLabel>(controller->status).text; }
    std::size_t calls(FakeKeychain::Call kind) const {
        std::size_t n = 0;
        for (const auto& record : keychain.calls()) n += record.call == kind;
        return n;
    }
    // The alerts shown after the first `skip`, as (message, informative text).
    std::vector<std::pair<std::string, std::string>> alertTexts(std::size_t skip = 0) const {
        std::vector<std::pair<std::string, std::string>> texts;
        for (std::size_t i = skip; i < toolkit.alertsShown.size(); ++i) {
            const auto& alert = *toolkit.alertsShown[i];
            texts.emplace_back(alert.messageText.value_or(""), alert.informativeText.value_or(""));
        }
        return texts;
    }

    // What each released secret buffer held after it was zeroed, in release order.
    struct Released {
        const std::uint8_t* data;
        std::vector<std::uint8_t> bytes;
    };
    static std::vector<Released>& released() {
        static std::vector<Released> all;
        return all;
    }
    // Returns the released buffer that lived at `data`, or null.
    static const Released* releasedAt(const std::uint8_t* data) {
        for (const auto& r : released()) {
            if (r.data == data) return &r;
        }
        return nullptr;
    }
    static bool allZero(const std::vector<std::uint8_t>& bytes) {
        for (auto b : bytes) {
            if (b != 0) return false;
        }
        return true;
    }

    bool available = true;
    FakeKeychain keychain;
    FakeAuthentication authentication;
    FakeToolkit toolkit;
    FakePasteboard pasteboard;
    FakeScheduler scheduler;
    std::shared_ptr<SafeController> controller;

  private:
    static void observeRelease(const std::uint8_t* data, std::size_t size) {
        released().push_back({data, std::vector<std::uint8_t>(data, data + size)});
    }
};

class SafeFixture : public ::testing::Test, public SafeWorld {};

}  // namespace quorlen::testing
