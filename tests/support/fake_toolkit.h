#pragma once

// A recording, scriptable stand-in for the window toolkit, for the unit tests of the flows.
//
// Every object the toolkit makes is kept with everything that was set on it, and every call
// through the toolkit's interfaces (getters included) is appended, by its bare selector name
// ("makeWindow", "setTitle", "runModal", ...), to one ordered event log (`events`). Other
// fakes and the tests may append to the same log, so that a test can assert the order of
// calls across services. Alerts answer from a queue of scripted answers; buttons can be
// pressed and the pop-up's selection set by the test. All calls are expected on the thread
// that made the toolkit; a call from another thread is counted and fails the running test
// (or aborts, or is let through, as `offThreadPolicy` says).

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/toolkit.h"

namespace quorlen::testing {

class FakeToolkit;

// Returns the position of the first entry equal to `name` at or after `from`, or -1.
std::ptrdiff_t eventIndex(const std::vector<std::string>& events, std::string_view name,
                          std::size_t from = 0);
// Returns how many entries equal `name`.
std::size_t eventCount(const std::vector<std::string>& events, std::string_view name);

// What every fake view records, whatever its kind. Reach it from a View with fakeView().
struct FakeViewRecord {
    // "view", "contentView", "label", "wrappingLabel", "button", "popUpButton", "stackView",
    // "textField" or "secureTextField".
    std::string kind;
    // The frame given at creation (empty for the kinds made without one).
    Rect frame;
    // Every view added, in order; for a stack view the views it was made with come first.
    std::vector<std::shared_ptr<View>> subviews;
    // The last value set; empty when never set.
    std::optional<bool> translatesAutoresizingMask;
    // Position in the toolkit's event log of the call that made the view.
    std::size_t createdAt = 0;

    virtual ~FakeViewRecord() = default;

  protected:
    FakeToolkit* toolkit_ = nullptr;
    friend class FakeToolkit;
    template <class Interface>
    friend class FakeViewOf;
};

// The View part shared by every fake view kind.
template <class Interface>
class FakeViewOf : public Interface, public FakeViewRecord {
  public:
    void addSubview(std::shared_ptr<View> child) override;
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates) override;

  protected:
    // Checks the thread and appends `name` to the event log.
    void note(std::string_view name) const;
};

class FakeView : public FakeViewOf<View> {};

class FakeLabel : public FakeViewOf<Label> {
  public:
    std::string text;
    bool wrapping = false;
    std::optional<Font> font;
    std::optional<Color> textColor;
    // Every text set after creation, in order.
    std::vector<std::string> textHistory;

    void setStringValue(const std::string& value) override;
    std::string stringValue() const override;
    void setFont(Font value) override;
    void setTextColor(Color color) override;
};

class FakeTextField : public FakeViewOf<TextField> {
  public:
    std::string text;
    std::optional<std::string> placeholder;

    void setPlaceholderString(const std::string& value) override;
    std::string stringValue() const override;
    void setStringValue(const std::string& value) override;
};

class FakeSecureTextField : public FakeViewOf<SecureTextField> {
  public:
    // What the user typed (a test-only copy; the real field keeps it inside the toolkit).
    std::string text;
    std::optional<std::string> placeholder;
    std::size_t clearCount = 0;
    mutable std::size_t utf8ValueCount = 0;

    void setPlaceholderString(const std::string& value) override;
    std::size_t utf8Length() const override;
    SecretBytes utf8Value() const override;
    void clear() override;
};

class FakeButton : public FakeViewOf<Button> {
  public:
    std::string title;
    std::string selector;
    std::optional<int> bezelStyle;
    std::size_t pressCount = 0;

    void setBezelStyle(int style) override;
    // Presses the button as the user would: logs "press" and runs its action.
    void press();

  private:
    std::function<void()> action_;
    friend class FakeToolkit;
};

class FakePopUpButton : public FakeViewOf<PopUpButton> {
  public:
    bool pullsDown = true;
    std::vector<std::string> titles;
    // As the platform: the first entry added to an empty list becomes selected, and
    // removeAllItems leaves nothing selected (-1).
    int selectedIndex = -1;

    void removeAllItems() override;
    void addItemWithTitle(const std::string& title) override;
    int indexOfSelectedItem() const override;
    // Sets the selection as the user would, or to any index at all for edge cases.
    void select(int index) { selectedIndex = index; }
};

class FakeStackView : public FakeViewOf<StackView> {
  public:
    std::optional<Orientation> orientation;
    std::optional<Alignment> alignment;
    std::optional<double> spacing;

    void setOrientation(Orientation value) override;
    void setAlignment(Alignment value) override;
    void setSpacing(double value) override;
};

class FakeWindow : public Window {
  public:
    Rect contentRect;
    unsigned styleMask = 0;
    int backing = 0;
    bool defer = true;
    std::optional<std::string> title;
    std::optional<int> sharingType;
    std::size_t centerCount = 0;
    std::size_t orderFrontCount = 0;
    bool closed = false;
    std::size_t createdAt = 0;
    std::shared_ptr<FakeView> content;

    void setTitle(const std::string& value) override;
    void setSharingType(int type) override;
    std::shared_ptr<View> contentView() override;
    void center() override;
    void makeKeyAndOrderFront() override;

    // True while it is shown: ordered front and not closed since.
    bool isVisible() const { return orderFrontCount > 0 && !closed; }

  private:
    FakeToolkit* toolkit_ = nullptr;
    friend class FakeToolkit;
};

// One scripted answer of an alert.
struct AlertAnswer {
    // What runModal returns: 1000 for the first button, 1001 for the second, or anything
    // else for an alert that ended otherwise (Escape, closed).
    int response = kAlertFirstButtonReturn;
    // The text typed into each text field and secure field of the accessory view, in the
    // order they were added to it (depth first); fields past the end keep their text.
    std::vector<std::string> fieldTexts;
    // Runs while the alert is up, after the fields are filled, before runModal returns.
    std::function<void()> whileShown;
};

class FakeAlert : public Alert {
  public:
    std::optional<std::string> messageText;
    std::optional<std::string> informativeText;
    std::vector<std::string> buttons;
    std::shared_ptr<View> accessory;
    std::optional<int> sharingType;
    std::size_t runCount = 0;
    // The response of the last run.
    std::optional<int> response;
    std::size_t createdAt = 0;

    void setMessageText(const std::string& text) override;
    void setInformativeText(const std::string& text) override;
    void addButtonWithTitle(const std::string& title) override;
    void setAccessoryView(std::shared_ptr<View> view) override;
    void setWindowSharingType(int type) override;
    int runModal() override;

    // The accessory's text and secure fields, in the order the answer fills them.
    std::vector<View*> fields() const;

  private:
    FakeToolkit* toolkit_ = nullptr;
    friend class FakeToolkit;
};

struct ConstraintActivation {
    std::vector<Constraint> constraints;
    // Position of this activateConstraints call in the event log.
    std::size_t eventIndex = 0;
};

// What to do about a call from a thread other than the toolkit's.
enum class OffThreadPolicy { fail, abort, ignore };

class FakeToolkit : public Toolkit {
  public:
    FakeToolkit();

    // The shared, ordered event log. Only the toolkit's thread may append.
    std::vector<std::string> events;

    // Application state.
    std::optional<int> activationPolicy;
    ApplicationDelegate* delegate = nullptr;
    std::vector<bool> activateIgnoringOtherAppsCalls;
    std::size_t terminateCount = 0;
    std::size_t willTerminateCount = 0;

    // Everything made, in order.
    std::vector<std::shared_ptr<FakeWindow>> windows;
    std::vector<std::shared_ptr<View>> views;
    std::vector<std::shared_ptr<FakeAlert>> alerts;
    // The alerts in the order they were run (an alert run twice appears twice).
    std::vector<std::shared_ptr<FakeAlert>> alertsShown;
    std::vector<ConstraintActivation> constraintActivations;
    std::vector<double> boldFontSizes;

    // Scripted alert answers, used front first. An alert run with the queue empty answers
    // 1000 (the default button) and is counted here.
    std::deque<AlertAnswer> alertAnswers;
    std::size_t unscriptedAlertCount = 0;
    void scriptAlert(int response, std::vector<std::string> fieldTexts = {},
                     std::function<void()> whileShown = {});

    // The thread check. Calls from another thread never touch `events`.
    OffThreadPolicy offThreadPolicy = OffThreadPolicy::fail;
    std::atomic<std::size_t> offThreadCalls{0};
    std::thread::id mainThread() const { return mainThread_; }

    // Test actions. Closes the window as the user would; when no other window is shown, asks
    // the delegate applicationShouldTerminateAfterLastWindowClosed and terminates on true.
    void closeWindow(FakeWindow& window);

    // Toolkit.
    bool setActivationPolicy(int policy) override;
    void setDelegate(ApplicationDelegate* value) override;
    // There is no loop: logs "run", calls applicationDidFinishLaunching, returns 0.
    int run() override;
    void activateIgnoringOtherApps(bool ignoring) override;
    // Logs "terminate"; the first call also runs the delegate's applicationWillTerminate.
    void terminate() override;

    std::shared_ptr<Window> makeWindow(Rect content, unsigned styleMask, int backing,
                                       bool defer) override;
    std::shared_ptr<Label> labelWithString(const std::string& text) override;
    std::shared_ptr<Label> wrappingLabelWithString(const std::string& text) override;
    std::shared_ptr<Button> buttonWithTitle(const std::string& title, const std::string& selector,
                                            std::function<void()> action) override;
    std::shared_ptr<PopUpButton> makePopUpButton(Rect frame, bool pullsDown) override;
    std::shared_ptr<StackView> stackViewWithViews(
        std::vector<std::shared_ptr<View>> subviews) override;
    std::shared_ptr<View> makeView(Rect frame) override;
    std::shared_ptr<TextField> makeTextField(Rect frame) override;
    std::shared_ptr<SecureTextField> makeSecureTextField(Rect frame) override;
    std::shared_ptr<Alert> makeAlert() override;
    void activateConstraints(std::vector<Constraint> constraints) override;
    Font boldSystemFontOfSize(double size) override;

    // Checks the calling thread; on the toolkit's thread appends `name` to the log.
    // Returns false for a call from another thread.
    bool note(std::string_view name);

  private:
    template <class T>
    std::shared_ptr<T> makeViewOf(std::string kind, Rect frame);
    AlertAnswer nextAnswer();
    std::size_t lastEvent() const { return events.empty() ? 0 : events.size() - 1; }

    std::thread::id mainThread_;
    friend class FakeAlert;
};

// Returns the record behind a view made by a FakeToolkit, or null.
FakeViewRecord* fakeView(const std::shared_ptr<View>& view);
// Returns the view as a fake of kind T (FakeLabel, FakeButton, ...), or null.
template <class T>
T* fakeAs(const std::shared_ptr<View>& view) {
    return dynamic_cast<T*>(view.get());
}
// Returns the view as a fake of kind T; throws std::logic_error (which fails the running
// test) when it is not one.
template <class T>
T& fakeRef(const std::shared_ptr<View>& view) {
    T* fake = dynamic_cast<T*>(view.get());
    if (fake == nullptr) throw std::logic_error("view is not of the expected fake kind");
    return *fake;
}

}  // namespace quorlen::testing
