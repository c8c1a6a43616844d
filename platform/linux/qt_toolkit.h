#pragma once

// The window toolkit on Qt 6 Widgets.
//
// Each toolkit object wraps one widget. A wrapper owns its widget while the widget has no
// Qt parent; once the widget is placed (in a window, a stack or an alert) Qt's parent owns
// it and the wrapper only refers to it, so a wrapper may outlive its widget (its calls then
// do nothing and its getters answer empty). Every widget gets a stable objectName: the
// buttons their selector ("addKey"), the other views their kind and a number counted per
// kind and toolkit from 1 ("label-1", "wrappingLabel-2", "popUpButton-1", "stackView-2",
// "window-1", "textField-1", "secureTextField-1", "view-1"), alert buttons
// "alertButton-1000", "alertButton-1001", ... Accessible names are Qt's defaults (the
// visible texts); text fields also take their placeholder as accessible name.
//
// Everything here runs on the thread that made the toolkit, the Qt GUI thread.

#include <QPointer>
#include <QWidget>

#include <csignal>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/toolkit.h"

class QApplication;
class QBoxLayout;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QSocketNotifier;

namespace quorlen {

class QtToolkit;

// Returns the widget behind a view made by a QtToolkit, or null (another toolkit's view, or
// a widget that is gone).
QWidget* qtWidget(const std::shared_ptr<View>& view);

// The part every Qt view shares.
class QtViewBase {
  public:
    QtViewBase(const QtViewBase&) = delete;
    QtViewBase& operator=(const QtViewBase&) = delete;
    virtual ~QtViewBase();
    QWidget* widget() const { return widget_.data(); }
    // The frame given at creation, in the toolkit's points (origin bottom left, y up).
    Rect frame() const { return frame_; }

    // Takes `widget`; `owned` false for a widget someone else owns (a window's content).
    QtViewBase(QWidget* widget, Rect frame, bool owned = true);

  protected:
    void placeSubview(const std::shared_ptr<View>& child);

  private:
    QPointer<QWidget> widget_;
    Rect frame_;
    bool owned_;
};

template <class Interface>
class QtViewOf : public Interface, public QtViewBase {
  public:
    using QtViewBase::QtViewBase;
    // Places `child` at its frame, converted to Qt's top-left coordinates:
    // qtY = height of this view - y - height of the child.
    void addSubview(std::shared_ptr<View> child) override { placeSubview(child); }
    // Recorded only: a view placed by constraints is laid out by a Qt layout.
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates) override {
        translates_ = translates;
    }
    bool translatesAutoresizingMask() const { return translates_; }

  private:
    bool translates_ = true;
};

class QtPlainView : public QtViewOf<View> {
  public:
    using QtViewOf::QtViewOf;
};

class QtLabel : public QtViewOf<Label> {
  public:
    QtLabel(const std::string& text, bool wrapping, QString objectName);
    QLabel* label() const;
    void setStringValue(const std::string& text) override;
    std::string stringValue() const override;
    // Bold and pixel size as given; the application font otherwise.
    void setFont(Font font) override;
    // secondaryLabel paints with the palette's PlaceholderText role.
    void setTextColor(Color color) override;
};

class QtTextField : public QtViewOf<TextField> {
  public:
    QtTextField(Rect frame, QString objectName);
    QLineEdit* lineEdit() const;
    void setPlaceholderString(const std::string& placeholder) override;
    std::string stringValue() const override;
    void setStringValue(const std::string& text) override;
};

// A QLineEdit in password echo mode with input methods off, so no input method, predictive
// keyboard or clipboard sees the text.
class QtSecureTextField : public QtViewOf<SecureTextField> {
  public:
    QtSecureTextField(Rect frame, QString objectName);
    QLineEdit* lineEdit() const;
    void setPlaceholderString(const std::string& placeholder) override;
    std::size_t utf8Length() const override;
    // Encodes the field's UTF-16 text straight into the returned buffer; no other copy is
    // made. An unpaired surrogate (only a paste can bring one) becomes U+FFFD, the Unicode
    // replacement character, where Qt's own toUtf8 writes '?'.
    SecretBytes utf8Value() const override;
    // Overwrites the field's text buffer in place with zeros, then empties the field and
    // its undo history. Copies Qt made while the user typed (freed buffers, undo entries
    // freed by the reset) are out of reach.
    void clear() override;
};

class QtButton : public QtViewOf<Button> {
  public:
    QtButton(const std::string& title, const std::string& selector, std::function<void()> action);
    QPushButton* pushButton() const;
    // Recorded only: a QPushButton has one standard look.
    void setBezelStyle(int style) override { bezelStyle_ = style; }
    int bezelStyle() const { return bezelStyle_; }

  private:
    int bezelStyle_ = 0;
};

// A QComboBox: always a pop-up (a pull-down request is recorded and ignored).
class QtPopUpButton : public QtViewOf<PopUpButton> {
  public:
    QtPopUpButton(Rect frame, bool pullsDown, QString objectName);
    QComboBox* comboBox() const;
    void removeAllItems() override;
    void addItemWithTitle(const std::string& title) override;
    int indexOfSelectedItem() const override;
    bool pullsDown() const { return pullsDown_; }

  private:
    bool pullsDown_;
};

// A container widget whose QBoxLayout arranges the stack's views (no margins).
class QtStackView : public QtViewOf<StackView> {
  public:
    QtStackView(std::vector<std::shared_ptr<View>> views, QString objectName);
    QBoxLayout* layout() const;
    void setOrientation(Orientation orientation) override;
    // Leading in a vertical stack: each view at the left edge at its natural width, except
    // wrapping labels and views whose width is constrained to the stack's, which span it.
    void setAlignment(Alignment alignment) override;
    void setSpacing(double spacing) override;
    // For width constraints: makes `view` span the stack's width.
    void spanWidth(QWidget* view);
    bool arranges(QWidget* view) const;

  private:
    void applyAlignment();

    Orientation orientation_ = Orientation::horizontal;
    std::optional<Alignment> alignment_;
    std::vector<QPointer<QWidget>> arranged_;
    std::vector<QPointer<QWidget>> spanning_;
};

class QtWindow : public Window {
  public:
    QtWindow(QtToolkit& toolkit, Rect content, unsigned styleMask, int backing, bool defer,
             QString objectName);
    ~QtWindow() override;
    QWidget* widget() const;
    void setTitle(const std::string& title) override;
    // Recorded only: neither X11 nor Wayland lets a client withhold a window from capture.
    void setSharingType(int type) override { sharingType_ = type; }
    std::optional<int> sharingType() const { return sharingType_; }
    std::shared_ptr<View> contentView() override;
    // Centres the content area on the primary screen's available area (the decorations'
    // size is unknown until the window manager has framed the window).
    void center() override;
    void makeKeyAndOrderFront() override;
    unsigned styleMask() const { return styleMask_; }

  private:
    QPointer<QWidget> widget_;
    std::shared_ptr<View> content_;
    std::optional<int> sharingType_;
    unsigned styleMask_;
    QtToolkit& toolkit_;
};

// A modal QDialog: the message text in a larger bold font, the informative text, the
// accessory view at its frames, then the buttons. The first button added is the default
// (Return presses it, wherever the focus is) and answers 1000, the next 1001, ...; they sit
// right to left, the first at the right, as on the Mac. Escape or closing the dialog
// answers 0, whatever the buttons' titles.
class QtAlert : public Alert {
  public:
    explicit QtAlert(QtToolkit& toolkit);
    ~QtAlert() override;
    void setMessageText(const std::string& text) override;
    void setInformativeText(const std::string& text) override;
    void addButtonWithTitle(const std::string& title) override;
    void setAccessoryView(std::shared_ptr<View> view) override;
    // Recorded only, as QtWindow::setSharingType.
    void setWindowSharingType(int type) override { sharingType_ = type; }
    std::optional<int> sharingType() const { return sharingType_; }
    int runModal() override;
    // The dialog, once runModal has built it; null before.
    QDialog* dialog() const;

  private:
    void build();

    QtToolkit& toolkit_;
    QPointer<QDialog> dialog_;
    std::string messageText_;
    std::string informativeText_;
    std::vector<std::string> buttons_;
    std::shared_ptr<View> accessory_;
    std::optional<int> sharingType_;
};

class QtToolkit : public Toolkit {
  public:
    // Makes the QApplication when none exists yet (and then owns it), with a message handler
    // that drops every Qt message: the program writes nothing to standard error.
    QtToolkit(int& argc, char** argv);
    ~QtToolkit() override;

    // Recorded only; returns true.
    bool setActivationPolicy(int policy) override;
    void setDelegate(ApplicationDelegate* delegate) override { delegate_ = delegate; }
    // Queues applicationDidFinishLaunching, then runs the event loop until terminate. From the
    // start of the loop until the toolkit goes, SIGTERM, SIGINT and SIGHUP end the program
    // through terminate(), so a pending copy is cleared as on any other way out.
    int run() override;
    // Raises and activates the key window.
    void activateIgnoringOtherApps(bool ignoring) override;
    // The first call runs applicationWillTerminate, then ends the event loop.
    void terminate() override;

    std::shared_ptr<Window> makeWindow(Rect content, unsigned styleMask, int backing,
                                       bool defer) override;
    std::shared_ptr<Label> labelWithString(const std::string& text) override;
    std::shared_ptr<Label> wrappingLabelWithString(const std::string& text) override;
    std::shared_ptr<Button> buttonWithTitle(const std::string& title, const std::string& selector,
                                            std::function<void()> action) override;
    std::shared_ptr<PopUpButton> makePopUpButton(Rect frame, bool pullsDown) override;
    std::shared_ptr<StackView> stackViewWithViews(
        std::vector<std::shared_ptr<View>> views) override;
    std::shared_ptr<View> makeView(Rect frame) override;
    std::shared_ptr<TextField> makeTextField(Rect frame) override;
    std::shared_ptr<SecureTextField> makeSecureTextField(Rect frame) override;
    std::shared_ptr<Alert> makeAlert() override;
    // Interprets the shapes the program uses. Edges of a view to its superview
    // (leading/trailing/top + constant) put the view in a top-down layout of the superview,
    // inset by the constants, with free space below it; a view's width equal to the width
    // of the stack that arranges it makes the view span the stack. Other shapes are ignored.
    void activateConstraints(std::vector<Constraint> constraints) override;
    Font boldSystemFontOfSize(double size) override { return Font{true, size}; }

    std::optional<int> activationPolicy() const { return activationPolicy_; }
    bool terminated() const { return terminated_; }
    // For windows and alerts: the window made key last, if it still exists.
    QWidget* keyWindow() const { return keyWindow_.data(); }
    void setKeyWindow(QWidget* window) { keyWindow_ = window; }
    // Called (queued) when one of this toolkit's windows has closed.
    void windowDidClose();
    void addWindow(QWidget* window) { windows_.emplace_back(window); }
    QString nextName(const char* kind);

  private:
    void finishTermination();
    // Routes the termination signals into the event loop (a self-pipe read by a notifier);
    // does nothing when another toolkit has them already.
    void installSignalHandlers();
    void removeSignalHandlers();

    std::unique_ptr<QApplication> ownedApp_;
    std::unique_ptr<QObject> context_;
    ApplicationDelegate* delegate_ = nullptr;
    std::optional<int> activationPolicy_;
    bool running_ = false;
    bool terminating_ = false;
    bool terminated_ = false;
    QPointer<QWidget> keyWindow_;
    std::vector<QPointer<QWidget>> windows_;
    std::map<std::string, int> counters_;
    int signalPipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> signalNotifier_;
    std::vector<std::pair<int, struct sigaction>> previousActions_;
};

}  // namespace quorlen
