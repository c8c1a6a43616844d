#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/secret_bytes.h"

namespace quorlen {

// A rectangle in the toolkit's points; y grows upward, as in the program's layouts.
struct Rect {
    double x = 0, y = 0, width = 0, height = 0;
};

// Window style bits.
inline constexpr unsigned kWindowStyleTitled = 1;
inline constexpr unsigned kWindowStyleClosable = 2;
inline constexpr unsigned kWindowStyleMiniaturizable = 4;
inline constexpr int kBackingStoreBuffered = 2;
inline constexpr int kWindowSharingNone = 0;
inline constexpr int kActivationPolicyRegular = 0;
inline constexpr int kBezelStyleRounded = 1;

// Alert responses: the first button added answers 1000, the second 1001, and so on.
inline constexpr int kAlertFirstButtonReturn = 1000;
inline constexpr int kAlertSecondButtonReturn = 1001;

enum class Orientation { horizontal = 0, vertical = 1 };
enum class Alignment { leading = 5 };
enum class Anchor { leading, trailing, top, width };

struct Font {
    bool bold = false;
    double size = 0;
};

enum class Color { secondaryLabel };

// Any view that can be placed in a window, a stack or an alert's accessory area.
class View {
  public:
    virtual ~View() = default;
    // Appends `child` to this view's subviews, on top of the earlier ones.
    virtual void addSubview(std::shared_ptr<View> child) = 0;
    // Turns the autoresizing-mask translation on or off; off means constraints place it.
    virtual void setTranslatesAutoresizingMaskIntoConstraints(bool translates) = 0;
};

// A read-only label, one-line or wrapping.
class Label : public View {
  public:
    // Sets the shown text.
    virtual void setStringValue(const std::string& text) = 0;
    // Returns the shown text.
    virtual std::string stringValue() const = 0;
    virtual void setFont(Font font) = 0;
    virtual void setTextColor(Color color) = 0;
};

// An editable one-line text field.
class TextField : public View {
  public:
    virtual void setPlaceholderString(const std::string& placeholder) = 0;
    // Returns the current text exactly as typed.
    virtual std::string stringValue() const = 0;
    virtual void setStringValue(const std::string& text) = 0;
};

// A masked one-line field for a secret. Its text leaves it only as a SecretBytes.
class SecureTextField : public View {
  public:
    virtual void setPlaceholderString(const std::string& placeholder) = 0;
    // Returns the length of the current text in UTF-8 bytes.
    virtual std::size_t utf8Length() const = 0;
    // Returns the current text encoded in UTF-8, without terminator; the only copy made.
    virtual SecretBytes utf8Value() const = 0;
    // Empties the field, wiping what the field itself held where the toolkit allows.
    virtual void clear() = 0;
};

// A push button that calls its action when pressed.
class Button : public View {
  public:
    virtual void setBezelStyle(int style) = 0;
};

// A pop-up list of titled entries with one selected position.
class PopUpButton : public View {
  public:
    virtual void removeAllItems() = 0;
    // Appends one entry at the end.
    virtual void addItemWithTitle(const std::string& title) = 0;
    // Returns the selected position, or -1 when nothing is selected.
    virtual int indexOfSelectedItem() const = 0;
};

// A stack of views laid out in a row or a column.
class StackView : public View {
  public:
    virtual void setOrientation(Orientation orientation) = 0;
    virtual void setAlignment(Alignment alignment) = 0;
    virtual void setSpacing(double spacing) = 0;
};

// first.anchor = second.anchor + constant. `second` empty with Anchor::width is not used.
struct Constraint {
    std::shared_ptr<View> first;
    Anchor firstAnchor;
    std::shared_ptr<View> second;
    Anchor secondAnchor;
    double constant = 0;
};

class Window {
  public:
    virtual ~Window() = default;
    virtual void setTitle(const std::string& title) = 0;
    // Records the sharing type; 0 asks that other processes cannot capture the contents.
    virtual void setSharingType(int type) = 0;
    // Returns the window's content view; never null.
    virtual std::shared_ptr<View> contentView() = 0;
    // Centres the window on the screen.
    virtual void center() = 0;
    // Makes it the key window and orders it front.
    virtual void makeKeyAndOrderFront() = 0;
};

// A modal alert with a message text, an informative text, buttons and an optional accessory.
class Alert {
  public:
    virtual ~Alert() = default;
    virtual void setMessageText(const std::string& text) = 0;
    virtual void setInformativeText(const std::string& text) = 0;
    // Adds a button; the first added is the default (Return) and answers 1000.
    virtual void addButtonWithTitle(const std::string& title) = 0;
    virtual void setAccessoryView(std::shared_ptr<View> view) = 0;
    // Sets the sharing type of the alert's window, as Window::setSharingType.
    virtual void setWindowSharingType(int type) = 0;
    // Runs the alert modally; returns the response of the pressed button (1000, 1001, ...),
    // or another value when it ended otherwise.
    virtual int runModal() = 0;
};

// The application's callbacks, all on the main thread.
class ApplicationDelegate {
  public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    virtual bool applicationShouldTerminateAfterLastWindowClosed() = 0;
    virtual void applicationWillTerminate() = 0;
};

// The window toolkit: the application object and the factories of its widgets.
class Toolkit {
  public:
    virtual ~Toolkit() = default;

    // Application. Returns whether the policy was taken.
    virtual bool setActivationPolicy(int policy) = 0;
    // The delegate is not owned; it outlives the event loop.
    virtual void setDelegate(ApplicationDelegate* delegate) = 0;
    // Runs the event loop on the main thread until the application terminates; returns 0.
    virtual int run() = 0;
    virtual void activateIgnoringOtherApps(bool ignoring) = 0;
    // Ends the application: applicationWillTerminate runs, then the event loop returns.
    virtual void terminate() = 0;

    // Returns a new window; never null.
    virtual std::shared_ptr<Window> makeWindow(Rect content, unsigned styleMask, int backing,
                                               bool defer) = 0;
    virtual std::shared_ptr<Label> labelWithString(const std::string& text) = 0;
    virtual std::shared_ptr<Label> wrappingLabelWithString(const std::string& text) = 0;
    // `selector` names the action for the record; `action` runs on each press.
    virtual std::shared_ptr<Button> buttonWithTitle(const std::string& title,
                                                    const std::string& selector,
                                                    std::function<void()> action) = 0;
    virtual std::shared_ptr<PopUpButton> makePopUpButton(Rect frame, bool pullsDown) = 0;
    virtual std::shared_ptr<StackView> stackViewWithViews(
        std::vector<std::shared_ptr<View>> views) = 0;
    virtual std::shared_ptr<View> makeView(Rect frame) = 0;
    virtual std::shared_ptr<TextField> makeTextField(Rect frame) = 0;
    virtual std::shared_ptr<SecureTextField> makeSecureTextField(Rect frame) = 0;
    virtual std::shared_ptr<Alert> makeAlert() = 0;
    // Activates the constraints together.
    virtual void activateConstraints(std::vector<Constraint> constraints) = 0;
    virtual Font boldSystemFontOfSize(double size) = 0;
};

}  // namespace quorlen
