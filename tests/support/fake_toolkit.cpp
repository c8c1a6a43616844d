#include "tests/support/fake_toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace quorlen::testing {

std::ptrdiff_t eventIndex(const std::vector<std::string>& events, std::string_view name,
                          std::size_t from) {
    for (std::size_t i = from; i < events.size(); ++i) {
        if (events[i] == name) return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

std::size_t eventCount(const std::vector<std::string>& events, std::string_view name) {
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), name));
}

FakeViewRecord* fakeView(const std::shared_ptr<View>& view) {
    return dynamic_cast<FakeViewRecord*>(view.get());
}

// ---- views ----

template <class Interface>
void FakeViewOf<Interface>::note(std::string_view name) const {
    if (toolkit_ != nullptr) toolkit_->note(name);
}

template <class Interface>
void FakeViewOf<Interface>::addSubview(std::shared_ptr<View> child) {
    note("addSubview");
    subviews.push_back(std::move(child));
}

template <class Interface>
void FakeViewOf<Interface>::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
    note("setTranslatesAutoresizingMaskIntoConstraints");
    translatesAutoresizingMask = translates;
}

template class FakeViewOf<View>;
template class FakeViewOf<Label>;
template class FakeViewOf<TextField>;
template class FakeViewOf<SecureTextField>;
template class FakeViewOf<Button>;
template class FakeViewOf<PopUpButton>;
template class FakeViewOf<StackView>;

void FakeLabel::setStringValue(const std::string& value) {
    note("setStringValue");
    text = value;
    textHistory.push_back(value);
}

std::string FakeLabel::stringValue() const {
    note("stringValue");
    return text;
}

void FakeLabel::setFont(Font value) {
    note("setFont");
    font = value;
}

void FakeLabel::setTextColor(Color color) {
    note("setTextColor");
    textColor = color;
}

void FakeTextField::setPlaceholderString(const std::string& value) {
    note("setPlaceholderString");
    placeholder = value;
}

std::string FakeTextField::stringValue() const {
    note("stringValue");
    return text;
}

void FakeTextField::setStringValue(const std::string& value) {
    note("setStringValue");
    text = value;
}

void FakeSecureTextField::setPlaceholderString(const std::string& value) {
    note("setPlaceholderString");
    placeholder = value;
}

std::size_t FakeSecureTextField::utf8Length() const {
    note("utf8Length");
    return text.size();
}

SecretBytes FakeSecureTextField::utf8Value() const {
    note("utf8Value");
    ++utf8ValueCount;
    return SecretBytes::copyOf(std::string_view(text));
}

void FakeSecureTextField::clear() {
    note("clear");
    ++clearCount;
    text.clear();
}

void FakeButton::setBezelStyle(int style) {
    note("setBezelStyle");
    bezelStyle = style;
}

void FakeButton::press() {
    note("press");
    ++pressCount;
    if (action_) action_();
}

void FakePopUpButton::removeAllItems() {
    note("removeAllItems");
    titles.clear();
    selectedIndex = -1;
}

void FakePopUpButton::addItemWithTitle(const std::string& title) {
    note("addItemWithTitle");
    titles.push_back(title);
    if (selectedIndex < 0) selectedIndex = 0;
}

int FakePopUpButton::indexOfSelectedItem() const {
    note("indexOfSelectedItem");
    return selectedIndex;
}

void FakeStackView::setOrientation(Orientation value) {
    note("setOrientation");
    orientation = value;
}

void FakeStackView::setAlignment(Alignment value) {
    note("setAlignment");
    alignment = value;
}

void FakeStackView::setSpacing(double value) {
    note("setSpacing");
    spacing = value;
}

// ---- window ----

void FakeWindow::setTitle(const std::string& value) {
    toolkit_->note("setTitle");
    title = value;
}

void FakeWindow::setSharingType(int type) {
    toolkit_->note("setSharingType");
    sharingType = type;
}

std::shared_ptr<View> FakeWindow::contentView() {
    toolkit_->note("contentView");
    return content;
}

void FakeWindow::center() {
    toolkit_->note("center");
    ++centerCount;
}

void FakeWindow::makeKeyAndOrderFront() {
    toolkit_->note("makeKeyAndOrderFront");
    ++orderFrontCount;
    closed = false;
}

// ---- alert ----

void FakeAlert::setMessageText(const std::string& text) {
    toolkit_->note("setMessageText");
    messageText = text;
}

void FakeAlert::setInformativeText(const std::string& text) {
    toolkit_->note("setInformativeText");
    informativeText = text;
}

void FakeAlert::addButtonWithTitle(const std::string& title) {
    toolkit_->note("addButtonWithTitle");
    buttons.push_back(title);
}

void FakeAlert::setAccessoryView(std::shared_ptr<View> view) {
    toolkit_->note("setAccessoryView");
    accessory = std::move(view);
}

void FakeAlert::setWindowSharingType(int type) {
    toolkit_->note("setWindowSharingType");
    sharingType = type;
}

namespace {

void collectFields(const std::shared_ptr<View>& view, std::vector<View*>& out) {
    if (!view) return;
    if (dynamic_cast<FakeTextField*>(view.get()) != nullptr ||
        dynamic_cast<FakeSecureTextField*>(view.get()) != nullptr) {
        out.push_back(view.get());
    }
    if (auto* record = fakeView(view)) {
        for (const auto& child : record->subviews) collectFields(child, out);
    }
}

}  // namespace

std::vector<View*> FakeAlert::fields() const {
    std::vector<View*> out;
    collectFields(accessory, out);
    return out;
}

int FakeAlert::runModal() {
    if (!toolkit_->note("runModal")) return 0;
    ++runCount;
    for (const auto& made : toolkit_->alerts) {
        if (made.get() == this) toolkit_->alertsShown.push_back(made);
    }
    AlertAnswer answer = toolkit_->nextAnswer();
    std::vector<View*> typed = fields();
    for (std::size_t i = 0; i < typed.size() && i < answer.fieldTexts.size(); ++i) {
        if (auto* field = dynamic_cast<FakeTextField*>(typed[i])) {
            field->text = answer.fieldTexts[i];
        } else if (auto* secure = dynamic_cast<FakeSecureTextField*>(typed[i])) {
            secure->text = answer.fieldTexts[i];
        }
    }
    if (answer.whileShown) answer.whileShown();
    response = answer.response;
    return answer.response;
}

// ---- toolkit ----

FakeToolkit::FakeToolkit() : mainThread_(std::this_thread::get_id()) {}

bool FakeToolkit::note(std::string_view name) {
    if (std::this_thread::get_id() != mainThread_) {
        ++offThreadCalls;
        switch (offThreadPolicy) {
            case OffThreadPolicy::abort:
                std::abort();
            case OffThreadPolicy::fail:
                ADD_FAILURE() << "toolkit call " << name << " off the main thread";
                break;
            case OffThreadPolicy::ignore:
                break;
        }
        return false;
    }
    events.emplace_back(name);
    return true;
}

void FakeToolkit::scriptAlert(int response, std::vector<std::string> fieldTexts,
                              std::function<void()> whileShown) {
    alertAnswers.push_back({response, std::move(fieldTexts), std::move(whileShown)});
}

AlertAnswer FakeToolkit::nextAnswer() {
    if (alertAnswers.empty()) {
        ++unscriptedAlertCount;
        return AlertAnswer{};
    }
    AlertAnswer answer = std::move(alertAnswers.front());
    alertAnswers.pop_front();
    return answer;
}

void FakeToolkit::closeWindow(FakeWindow& window) {
    note("close");
    window.closed = true;
    bool anyShown =
        std::any_of(windows.begin(), windows.end(), [](const auto& w) { return w->isVisible(); });
    if (anyShown || delegate == nullptr) return;
    note("applicationShouldTerminateAfterLastWindowClosed");
    if (delegate->applicationShouldTerminateAfterLastWindowClosed()) terminate();
}

bool FakeToolkit::setActivationPolicy(int policy) {
    note("setActivationPolicy");
    activationPolicy = policy;
    return true;
}

void FakeToolkit::setDelegate(ApplicationDelegate* value) {
    note("setDelegate");
    delegate = value;
}

int FakeToolkit::run() {
    note("run");
    if (delegate != nullptr) {
        note("applicationDidFinishLaunching");
        delegate->applicationDidFinishLaunching();
    }
    return 0;
}

void FakeToolkit::activateIgnoringOtherApps(bool ignoring) {
    note("activateIgnoringOtherApps");
    activateIgnoringOtherAppsCalls.push_back(ignoring);
}

void FakeToolkit::terminate() {
    if (!note("terminate")) return;
    ++terminateCount;
    if (terminateCount != 1 || delegate == nullptr) return;
    note("applicationWillTerminate");
    ++willTerminateCount;
    delegate->applicationWillTerminate();
}

template <class T>
std::shared_ptr<T> FakeToolkit::makeViewOf(std::string kind, Rect frame) {
    auto view = std::make_shared<T>();
    view->kind = std::move(kind);
    view->frame = frame;
    view->toolkit_ = this;
    view->createdAt = lastEvent();
    views.push_back(view);
    return view;
}

std::shared_ptr<Window> FakeToolkit::makeWindow(Rect content, unsigned styleMask, int backing,
                                                bool defer) {
    note("makeWindow");
    auto window = std::make_shared<FakeWindow>();
    window->toolkit_ = this;
    window->contentRect = content;
    window->styleMask = styleMask;
    window->backing = backing;
    window->defer = defer;
    window->createdAt = lastEvent();
    window->content =
        makeViewOf<FakeView>("contentView", Rect{0, 0, content.width, content.height});
    windows.push_back(window);
    return window;
}

std::shared_ptr<Label> FakeToolkit::labelWithString(const std::string& text) {
    note("labelWithString");
    auto label = makeViewOf<FakeLabel>("label", Rect{});
    label->text = text;
    return label;
}

std::shared_ptr<Label> FakeToolkit::wrappingLabelWithString(const std::string& text) {
    note("wrappingLabelWithString");
    auto label = makeViewOf<FakeLabel>("wrappingLabel", Rect{});
    label->text = text;
    label->wrapping = true;
    return label;
}

std::shared_ptr<Button> FakeToolkit::buttonWithTitle(const std::string& title,
                                                     const std::string& selector,
                                                     std::function<void()> action) {
    note("buttonWithTitle");
    auto button = makeViewOf<FakeButton>("button", Rect{});
    button->title = title;
    button->selector = selector;
    button->action_ = std::move(action);
    return button;
}

std::shared_ptr<PopUpButton> FakeToolkit::makePopUpButton(Rect frame, bool pullsDown) {
    note("makePopUpButton");
    auto popUp = makeViewOf<FakePopUpButton>("popUpButton", frame);
    popUp->pullsDown = pullsDown;
    return popUp;
}

std::shared_ptr<StackView> FakeToolkit::stackViewWithViews(
    std::vector<std::shared_ptr<View>> subviews) {
    note("stackViewWithViews");
    auto stack = makeViewOf<FakeStackView>("stackView", Rect{});
    stack->subviews = std::move(subviews);
    return stack;
}

std::shared_ptr<View> FakeToolkit::makeView(Rect frame) {
    note("makeView");
    return makeViewOf<FakeView>("view", frame);
}

std::shared_ptr<TextField> FakeToolkit::makeTextField(Rect frame) {
    note("makeTextField");
    return makeViewOf<FakeTextField>("textField", frame);
}

std::shared_ptr<SecureTextField> FakeToolkit::makeSecureTextField(Rect frame) {
    note("makeSecureTextField");
    return makeViewOf<FakeSecureTextField>("secureTextField", frame);
}

std::shared_ptr<Alert> FakeToolkit::makeAlert() {
    note("makeAlert");
    auto alert = std::make_shared<FakeAlert>();
    alert->toolkit_ = this;
    alert->createdAt = lastEvent();
    alerts.push_back(alert);
    return alert;
}

void FakeToolkit::activateConstraints(std::vector<Constraint> constraints) {
    note("activateConstraints");
    constraintActivations.push_back({std::move(constraints), lastEvent()});
}

Font FakeToolkit::boldSystemFontOfSize(double size) {
    note("boldSystemFontOfSize");
    boldFontSizes.push_back(size);
    return Font{true, size};
}

}  // namespace quorlen::testing
