// The application delegate: its state, the launch gate, the main window and the routines
// that the flows share. The flows themselves live in store/ and clipboard/.

#include "ui/safe_controller.h"

#include <utility>

namespace quorlen {

namespace {

// The window's texts, exactly as shown (U+00B7, U+2019 and U+2026 are part of them).
constexpr const char* kUnavailableTitle = "On-device safe unavailable";
constexpr const char* kUnavailableText =
    "This feature requires the correctly signed, sandboxed Mac app and local device "
    "authentication. It will not fall back to a file or a cloud vault.";
constexpr const char* kWindowTitle = "Quorlen \u00B7 On-device key safe";
constexpr const char* kHeading = "Your most powerful keys stay on this Mac.";
constexpr const char* kExplanation =
    "Stored in this device\u2019s protected Keychain, not Quorlen\u2019s servers. Each copy "
    "requires macOS approval. There is no agent access, cloud sync, or recovery on a "
    "replacement device. Keep an independent recovery copy.";
constexpr const char* kWarning =
    "Copy only when necessary: other apps can read the clipboard. Never paste a master key "
    "into an AI conversation. Give agents separate, restricted keys instead. This preview "
    "still requires independent security review.";

// The window's geometry and spacing, in points.
constexpr double kContentWidth = 570;
constexpr double kContentHeight = 400;
constexpr double kInset = 24;
constexpr double kHeadingFontSize = 18;
constexpr double kMainSpacing = 18;
constexpr double kRowSpacing = 10;

}  // namespace

// The initial values of the table, in table order: `window`, `identifiers`,
// `clipboardGeneration` and `clipboardTimer` start empty by their declarations.
SafeController::SafeController(Services services)
    : items(services.toolkit.makePopUpButton(Rect{}, false)),
      status(services.toolkit.wrappingLabelWithString("")),
      services_(std::move(services)) {}

void SafeController::applicationDidFinishLaunching() {
    Toolkit& toolkit = services_.toolkit;

    // 1. The launch gate: no window, no listing and no keychain call when it fails.
    if (!services_.protectionAvailable()) {
        message(kUnavailableTitle, kUnavailableText);
        toolkit.terminate();
        return;
    }

    // 2-4. The window: content 570 x 400 at the origin, titled, closable, miniaturizable.
    window =
        toolkit.makeWindow(Rect{0, 0, kContentWidth, kContentHeight},
                           kWindowStyleTitled | kWindowStyleClosable | kWindowStyleMiniaturizable,
                           kBackingStoreBuffered, false);
    window->setTitle(kWindowTitle);
    window->setSharingType(kWindowSharingNone);

    // 5-7. The three texts.
    auto heading = toolkit.labelWithString(kHeading);
    heading->setFont(toolkit.boldSystemFontOfSize(kHeadingFontSize));
    auto explanation = toolkit.wrappingLabelWithString(kExplanation);
    auto warning = toolkit.wrappingLabelWithString(kWarning);
    warning->setTextColor(Color::secondaryLabel);

    // 8-9. The button row.
    auto add = button("Add a key", "addKey", &SafeController::addKey);
    auto copy = button("Copy for 20 seconds", "copyKey", &SafeController::copyKey);
    auto remove = button("Delete\u2026", "deleteKey", &SafeController::deleteKey);
    auto row = toolkit.stackViewWithViews({add, copy, remove});
    row->setOrientation(Orientation::horizontal);
    row->setSpacing(kRowSpacing);

    // 10-11. The main stack, placed by constraints only.
    auto stack = toolkit.stackViewWithViews({heading, explanation, items, row, warning, status});
    stack->setOrientation(Orientation::vertical);
    stack->setAlignment(Alignment::leading);
    stack->setSpacing(kMainSpacing);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto content = window->contentView();
    content->addSubview(stack);

    // 12. Hung from the top, inset on three sides; the pop-up as wide as the stack.
    toolkit.activateConstraints({
        Constraint{stack, Anchor::leading, content, Anchor::leading, kInset},
        Constraint{stack, Anchor::trailing, content, Anchor::trailing, -kInset},
        Constraint{stack, Anchor::top, content, Anchor::top, kInset},
        Constraint{items, Anchor::width, stack, Anchor::width, 0},
    });

    // 13-16.
    refresh();
    window->center();
    window->makeKeyAndOrderFront();
    toolkit.activateIgnoringOtherApps(true);
}

bool SafeController::applicationShouldTerminateAfterLastWindowClosed() { return true; }

std::shared_ptr<Button> SafeController::button(const std::string& title,
                                               const std::string& selector,
                                               void (SafeController::*action)()) {
    // The controller outlives its window and therefore every button's press.
    auto made =
        services_.toolkit.buttonWithTitle(title, selector, [this, action] { (this->*action)(); });
    made->setBezelStyle(kBezelStyleRounded);
    return made;
}

void SafeController::message(const std::string& title, const std::string& text) {
    auto alert = services_.toolkit.makeAlert();
    alert->setMessageText(title);
    alert->setInformativeText(text);
    alert->addButtonWithTitle("OK");
    static_cast<void>(alert->runModal());
}

std::optional<std::string> SafeController::selectedID() const {
    const int index = items->indexOfSelectedItem();
    if (index < 0 || static_cast<std::size_t>(index) >= identifiers.size()) return std::nullopt;
    return identifiers[static_cast<std::size_t>(index)];
}

}  // namespace quorlen
