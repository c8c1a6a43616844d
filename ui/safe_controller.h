#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/authentication.h"
#include "platform/keychain.h"
#include "platform/pasteboard.h"
#include "platform/scheduler.h"
#include "platform/toolkit.h"

namespace quorlen {

// The platform services the controller works through. Not owned; they outlive it.
struct Services {
    Keychain& keychain;
    Authentication& authentication;
    Toolkit& toolkit;
    Pasteboard& pasteboard;
    Scheduler& scheduler;
    // The launch gate's availability test.
    std::function<bool()> protectionAvailable;
};

// The application delegate and sole owner of the program's state. Everything runs on the
// main thread; the delete flow's authentication reply hops there first.
class SafeController : public ApplicationDelegate,
                       public std::enable_shared_from_this<SafeController> {
public:
    // Sets the six properties to their initial values; builds no window and touches
    // neither the store nor the clipboard.
    explicit SafeController(Services services);

    // The launch gate, then the window.
    void applicationDidFinishLaunching() override;
    // Button actions.
    void addKey();
    void copyKey();
    void deleteKey();
    // Always true: closing the window ends the application.
    bool applicationShouldTerminateAfterLastWindowClosed() override;
    // Clears a pending copy.
    void applicationWillTerminate() override;

    // Returns a new query dictionary holding the four fixed entries, and the account when
    // one is passed.
    Query baseQuery(std::optional<std::string> account) const;
    // Reloads the pop-up, `identifiers` and the status line from the store.
    void refresh();
    // Stops the clipboard timer and clears the clipboard if it still holds this copy.
    void clearClipboard();

    // Returns a new push button that runs `action` on this controller.
    std::shared_ptr<Button> button(const std::string& title, const std::string& selector,
                                   void (SafeController::*action)());
    // Shows a modal alert with one "OK" button and returns once it is dismissed.
    void message(const std::string& title, const std::string& text);
    // Returns the account identifier of the selected entry, or empty.
    std::optional<std::string> selectedID() const;

    // State, in declaration order.
    std::shared_ptr<Window> window;
    const std::shared_ptr<PopUpButton> items;
    const std::shared_ptr<Label> status;
    std::vector<std::string> identifiers;
    std::optional<std::int64_t> clipboardGeneration;
    std::shared_ptr<Timer> clipboardTimer;

private:
    Services services_;
};

}  // namespace quorlen
