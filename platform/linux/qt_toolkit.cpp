#include "platform/linux/qt_toolkit.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "platform/clipboard_session.h"
#include "platform/factory.h"
#include "platform/secret_bytes.h"

namespace quorlen {

namespace {

// The one style bit the program never sets: a window without it has a fixed size.
constexpr unsigned kWindowStyleResizable = 8;
// Text column of an alert without an accessory view, in pixels.
constexpr int kAlertTextWidth = 360;

// The signals that end the program as closing its window does.
constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the running toolkit's signal pipe, or -1. Read by the handler only.
volatile std::sig_atomic_t signalWriteEnd = -1;

// Async-signal-safe: writes one byte for the event loop to find. A full pipe already holds
// a byte that wakes the loop, so a failed write loses nothing.
void onTerminationSignal(int) {
    const int saved = errno;
    const int fd = signalWriteEnd;
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toStdString(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// A window title shows "[*]" literally only when doubled.
QString windowTitleText(const std::string& title) {
    QString text = toQString(title);
    text.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    return text;
}

// A button title shows "&" literally only when doubled; a single one marks a mnemonic.
QString buttonText(const std::string& title) {
    QString text = toQString(title);
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return text;
}

int toPixels(double points) { return static_cast<int>(std::lround(points)); }

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// The number of UTF-8 bytes of a UTF-16 text; an unpaired surrogate counts as U+FFFD.
std::size_t utf8Size(QStringView text) {
    std::size_t size = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit < 0x80) {
            size += 1;
        } else if (unit < 0x800) {
            size += 2;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
                   QChar::isLowSurrogate(text[i + 1].unicode())) {
            size += 4;
            ++i;
        } else {
            size += 3;  // a BMP character, or U+FFFD for an unpaired surrogate
        }
    }
    return size;
}

// Encodes `text` into `out`, which holds utf8Size(text) bytes.
void encodeUtf8(QStringView text, std::uint8_t* out) {
    auto put = [&out](char32_t c) {
        if (c < 0x80) {
            *out++ = static_cast<std::uint8_t>(c);
        } else if (c < 0x800) {
            *out++ = static_cast<std::uint8_t>(0xC0 | (c >> 6));
            *out++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out++ = static_cast<std::uint8_t>(0xE0 | (c >> 12));
            *out++ = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        } else {
            *out++ = static_cast<std::uint8_t>(0xF0 | (c >> 18));
            *out++ = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
            *out++ = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            put(QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            put(0xFFFD);
        } else {
            put(unit);
        }
    }
}

// The main window's widget: tells the toolkit when it has closed.
class WindowWidget : public QWidget {
  public:
    explicit WindowWidget(QtToolkit& toolkit) : toolkit_(toolkit) {}

  protected:
    void closeEvent(QCloseEvent* event) override {
        event->accept();
        // Asked once the window is hidden, as after an AppKit window has closed.
        QtToolkit* toolkit = &toolkit_;
        QMetaObject::invokeMethod(
            this, [toolkit] { toolkit->windowDidClose(); }, Qt::QueuedConnection);
    }

  private:
    QtToolkit& toolkit_;
};

bool isWrappingLabel(const QWidget* widget) {
    const auto* label = qobject_cast<const QLabel*>(widget);
    return label != nullptr && label->wordWrap();
}

template <class T>
bool holds(const std::vector<QPointer<T>>& list, const QWidget* widget) {
    return std::any_of(list.begin(), list.end(),
                       [widget](const QPointer<T>& p) { return p.data() == widget; });
}

}  // namespace

QWidget* qtWidget(const std::shared_ptr<View>& view) {
    const auto* base = dynamic_cast<const QtViewBase*>(view.get());
    return base != nullptr ? base->widget() : nullptr;
}

// ---- views ----

QtViewBase::QtViewBase(QWidget* widget, Rect frame, bool owned)
    : widget_(widget), frame_(frame), owned_(owned) {}

QtViewBase::~QtViewBase() {
    // A placed widget belongs to its Qt parent; an unplaced one is this wrapper's.
    if (owned_ && widget_ != nullptr && widget_->parent() == nullptr) delete widget_.data();
}

void QtViewBase::placeSubview(const std::shared_ptr<View>& child) {
    QWidget* parent = widget();
    const auto* base = dynamic_cast<const QtViewBase*>(child.get());
    QWidget* widget = base != nullptr ? base->widget() : nullptr;
    if (parent == nullptr || widget == nullptr) return;
    widget->setParent(parent);
    const Rect f = base->frame();
    if (f.width > 0 && f.height > 0) {
        // AppKit frames have their origin at the bottom left with y growing upward.
        const double parentHeight = frame_.height > 0 ? frame_.height : parent->height();
        widget->setGeometry(toPixels(f.x), toPixels(parentHeight - f.y - f.height),
                            toPixels(f.width), toPixels(f.height));
    } else {
        widget->adjustSize();
    }
    widget->show();
}

QtLabel::QtLabel(const std::string& text, bool wrapping, QString objectName)
    : QtViewOf(new QLabel, Rect{}) {
    QLabel* l = label();
    l->setObjectName(objectName);
    // Plain text always: a key's name must never be read as markup.
    l->setTextFormat(Qt::PlainText);
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    l->setWordWrap(wrapping);
    l->setText(toQString(text));
}

QLabel* QtLabel::label() const { return static_cast<QLabel*>(widget()); }

void QtLabel::setStringValue(const std::string& text) {
    if (QLabel* l = label()) l->setText(toQString(text));
}

std::string QtLabel::stringValue() const {
    const QLabel* l = label();
    return l != nullptr ? toStdString(l->text()) : std::string();
}

void QtLabel::setFont(Font font) {
    QLabel* l = label();
    if (l == nullptr) return;
    QFont f = QApplication::font(l);
    f.setBold(font.bold);
    if (font.size > 0) f.setPixelSize(toPixels(font.size));
    l->setFont(f);
}

void QtLabel::setTextColor(Color color) {
    QLabel* l = label();
    if (l == nullptr) return;
    switch (color) {
        case Color::secondaryLabel:
            // The palette's role for dimmed, secondary text (the text colour at half
            // strength in Qt's own palettes, like AppKit's secondary label colour). A role,
            // not a fixed colour, so it follows theme and dark-mode changes.
            l->setForegroundRole(QPalette::PlaceholderText);
            break;
    }
}

QtTextField::QtTextField(Rect frame, QString objectName) : QtViewOf(new QLineEdit, frame) {
    QLineEdit* e = lineEdit();
    e->setObjectName(objectName);
    if (frame.width > 0 && frame.height > 0)
        e->resize(toPixels(frame.width), toPixels(frame.height));
}

QLineEdit* QtTextField::lineEdit() const { return static_cast<QLineEdit*>(widget()); }

void QtTextField::setPlaceholderString(const std::string& placeholder) {
    if (QLineEdit* e = lineEdit()) {
        e->setPlaceholderText(toQString(placeholder));
        e->setAccessibleName(toQString(placeholder));
    }
}

std::string QtTextField::stringValue() const {
    const QLineEdit* e = lineEdit();
    return e != nullptr ? toStdString(e->text()) : std::string();
}

void QtTextField::setStringValue(const std::string& text) {
    if (QLineEdit* e = lineEdit()) e->setText(toQString(text));
}

QtSecureTextField::QtSecureTextField(Rect frame, QString objectName)
    : QtViewOf(new QLineEdit, frame) {
    QLineEdit* e = lineEdit();
    e->setObjectName(objectName);
    // The echo mode first: setting it re-enables input methods, which must stay off.
    e->setEchoMode(QLineEdit::Password);
    e->setAttribute(Qt::WA_InputMethodEnabled, false);
    e->setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText | Qt::ImhHiddenText |
                           Qt::ImhNoAutoUppercase);
    e->setContextMenuPolicy(Qt::NoContextMenu);
    e->setDragEnabled(false);
    if (frame.width > 0 && frame.height > 0)
        e->resize(toPixels(frame.width), toPixels(frame.height));
}

QLineEdit* QtSecureTextField::lineEdit() const { return static_cast<QLineEdit*>(widget()); }

void QtSecureTextField::setPlaceholderString(const std::string& placeholder) {
    if (QLineEdit* e = lineEdit()) {
        e->setPlaceholderText(toQString(placeholder));
        e->setAccessibleName(toQString(placeholder));
    }
}

std::size_t QtSecureTextField::utf8Length() const {
    const QLineEdit* e = lineEdit();
    if (e == nullptr) return 0;
    // text() shares the field's own buffer: no copy of the secret is made.
    const QString text = e->text();
    return utf8Size(text);
}

SecretBytes QtSecureTextField::utf8Value() const {
    const QLineEdit* e = lineEdit();
    if (e == nullptr) return SecretBytes();
    const QString text = e->text();
    SecretBytes bytes(utf8Size(text));
    if (!bytes.empty()) encodeUtf8(text, bytes.data());
    return bytes;
}

void QtSecureTextField::clear() {
    QLineEdit* e = lineEdit();
    if (e == nullptr) return;
    {
        // text() shares the field's buffer; zero it in place over its whole capacity (text
        // deleted while typing may linger past the end), unless Qt's data is static.
        QString shared = e->text();
        if (!shared.isEmpty() && shared.data_ptr().isMutable()) {
            const auto units = static_cast<std::size_t>(std::max(shared.size(), shared.capacity()));
            secureZero(const_cast<QChar*>(shared.constData()), units * sizeof(QChar));
        }
    }
    // setText, unlike QLineEdit::clear, also drops the undo history of the typed characters.
    e->setText(QString());
}

QtButton::QtButton(const std::string& title, const std::string& selector,
                   std::function<void()> action)
    : QtViewOf(new QPushButton, Rect{}) {
    QPushButton* b = pushButton();
    b->setText(buttonText(title));
    b->setObjectName(toQString(selector));
    b->setAutoDefault(false);
    QObject::connect(b, &QPushButton::clicked, b, [action = std::move(action)](bool) {
        if (action) action();
    });
}

QPushButton* QtButton::pushButton() const { return static_cast<QPushButton*>(widget()); }

QtPopUpButton::QtPopUpButton(Rect frame, bool pullsDown, QString objectName)
    : QtViewOf(new QComboBox, frame), pullsDown_(pullsDown) {
    QComboBox* c = comboBox();
    c->setObjectName(objectName);
    c->setEditable(false);
    // Long names must not widen the window: the width comes from the layout.
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(8);
    if (frame.width > 0 && frame.height > 0)
        c->resize(toPixels(frame.width), toPixels(frame.height));
}

QComboBox* QtPopUpButton::comboBox() const { return static_cast<QComboBox*>(widget()); }

void QtPopUpButton::removeAllItems() {
    if (QComboBox* c = comboBox()) c->clear();
}

void QtPopUpButton::addItemWithTitle(const std::string& title) {
    // The first entry added to an empty list becomes the selected one, as on the Mac.
    if (QComboBox* c = comboBox()) c->addItem(toQString(title));
}

int QtPopUpButton::indexOfSelectedItem() const {
    const QComboBox* c = comboBox();
    return c != nullptr ? c->currentIndex() : -1;
}

QtStackView::QtStackView(std::vector<std::shared_ptr<View>> views, QString objectName)
    : QtViewOf(new QWidget, Rect{}) {
    QWidget* container = widget();
    container->setObjectName(objectName);
    auto* box = new QBoxLayout(QBoxLayout::LeftToRight, container);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(8);  // AppKit's default, until setSpacing
    for (const auto& view : views) {
        if (QWidget* w = qtWidget(view)) {
            box->addWidget(w);
            arranged_.emplace_back(w);
        }
    }
    applyAlignment();
}

QBoxLayout* QtStackView::layout() const {
    QWidget* container = widget();
    return container != nullptr ? qobject_cast<QBoxLayout*>(container->layout()) : nullptr;
}

void QtStackView::setOrientation(Orientation orientation) {
    orientation_ = orientation;
    if (QBoxLayout* box = layout()) {
        box->setDirection(orientation == Orientation::vertical ? QBoxLayout::TopToBottom
                                                               : QBoxLayout::LeftToRight);
    }
    applyAlignment();
}

void QtStackView::setAlignment(Alignment alignment) {
    alignment_ = alignment;
    applyAlignment();
}

void QtStackView::setSpacing(double spacing) {
    if (QBoxLayout* box = layout()) box->setSpacing(toPixels(spacing));
}

void QtStackView::spanWidth(QWidget* view) {
    if (!holds(spanning_, view)) spanning_.emplace_back(view);
    applyAlignment();
}

bool QtStackView::arranges(QWidget* view) const { return holds(arranged_, view); }

void QtStackView::applyAlignment() {
    QBoxLayout* box = layout();
    if (box == nullptr) return;
    for (const auto& w : arranged_) {
        if (w == nullptr) continue;
        Qt::Alignment a;
        if (orientation_ == Orientation::vertical) {
            if (holds(spanning_, w.data()) || isWrappingLabel(w.data())) {
                a = {};  // spans the stack's width
            } else if (alignment_ == Alignment::leading) {
                a = Qt::AlignLeft;
            } else {
                a = Qt::AlignHCenter;  // AppKit's default for a vertical stack
            }
        } else {
            a = Qt::AlignVCenter;  // AppKit's default for a horizontal stack
        }
        box->setAlignment(w.data(), a);
    }
}

// ---- window ----

QtWindow::QtWindow(QtToolkit& toolkit, Rect content, unsigned styleMask, int, bool,
                   QString objectName)
    : styleMask_(styleMask), toolkit_(toolkit) {
    auto* w = new WindowWidget(toolkit);
    w->setObjectName(objectName);
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if ((styleMask & kWindowStyleTitled) != 0) flags |= Qt::WindowTitleHint;
    if ((styleMask & kWindowStyleClosable) != 0) {
        flags |= Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;
    }
    if ((styleMask & kWindowStyleMiniaturizable) != 0) flags |= Qt::WindowMinimizeButtonHint;
    const bool resizable = (styleMask & kWindowStyleResizable) != 0;
    if (resizable) flags |= Qt::WindowMaximizeButtonHint;
    w->setWindowFlags(flags);
    const int width = toPixels(content.width);
    const int height = toPixels(content.height);
    if (resizable) {
        w->resize(width, height);
    } else {
        w->setFixedSize(width, height);  // the content area exactly, min = max
    }
    // The content rectangle's origin is the screen's bottom left, y up.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        w->move(area.x() + toPixels(content.x),
                area.y() + area.height() - toPixels(content.y) - height);
    }
    widget_ = w;
    content_ = std::make_shared<QtPlainView>(w, Rect{0, 0, content.width, content.height}, false);
    toolkit.addWindow(w);
}

QtWindow::~QtWindow() {
    content_.reset();
    delete widget_.data();
}

QWidget* QtWindow::widget() const { return widget_.data(); }

void QtWindow::setTitle(const std::string& title) {
    if (widget_ != nullptr) widget_->setWindowTitle(windowTitleText(title));
}

std::shared_ptr<View> QtWindow::contentView() { return content_; }

void QtWindow::center() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (widget_ == nullptr || screen == nullptr) return;
    // The content area, whose size is known; the frame's is not before the window is shown.
    QRect content = widget_->geometry();
    content.moveCenter(screen->availableGeometry().center());
    widget_->setGeometry(content);
}

void QtWindow::makeKeyAndOrderFront() {
    if (widget_ == nullptr) return;
    widget_->show();
    widget_->raise();
    widget_->activateWindow();
    toolkit_.setKeyWindow(widget_.data());
}

// ---- alert ----

QtAlert::QtAlert(QtToolkit& toolkit) : toolkit_(toolkit) {}

QtAlert::~QtAlert() { delete dialog_.data(); }

void QtAlert::setMessageText(const std::string& text) { messageText_ = text; }
void QtAlert::setInformativeText(const std::string& text) { informativeText_ = text; }
void QtAlert::addButtonWithTitle(const std::string& title) { buttons_.push_back(title); }
void QtAlert::setAccessoryView(std::shared_ptr<View> view) { accessory_ = std::move(view); }

QDialog* QtAlert::dialog() const { return dialog_.data(); }

void QtAlert::build() {
    QWidget* owner = toolkit_.keyWindow();
    auto* d = new QDialog(owner != nullptr && owner->isVisible() ? owner : nullptr);
    d->setObjectName(toolkit_.nextName("alert"));
    d->setWindowTitle(windowTitleText(messageText_));
    d->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                      Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint);
    d->setModal(true);
    // An alert's closing never counts as the last window closing.
    d->setAttribute(Qt::WA_QuitOnClose, false);

    auto* column = new QVBoxLayout(d);
    column->setSizeConstraint(QLayout::SetFixedSize);
    column->setContentsMargins(20, 20, 20, 16);
    column->setSpacing(12);

    QWidget* accessory = qtWidget(accessory_);
    const auto* accessoryView = dynamic_cast<const QtViewBase*>(accessory_.get());
    int width = kAlertTextWidth;
    if (accessoryView != nullptr) width = std::max(width, toPixels(accessoryView->frame().width));

    auto* message = new QLabel(d);
    message->setObjectName(QStringLiteral("alertMessage"));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setFixedWidth(width);
    QFont headline = message->font();
    headline.setBold(true);
    if (headline.pointSizeF() > 0) {
        headline.setPointSizeF(headline.pointSizeF() * 1.15);
    } else if (headline.pixelSize() > 0) {
        headline.setPixelSize(static_cast<int>(std::lround(headline.pixelSize() * 1.15)));
    }
    message->setFont(headline);
    message->setText(toQString(messageText_));
    column->addWidget(message);

    auto* informative = new QLabel(d);
    informative->setObjectName(QStringLiteral("alertInformative"));
    informative->setTextFormat(Qt::PlainText);
    informative->setWordWrap(true);
    informative->setFixedWidth(width);
    informative->setText(toQString(informativeText_));
    informative->setVisible(!informativeText_.empty());
    column->addWidget(informative);

    if (accessory != nullptr) column->addWidget(accessory, 0, Qt::AlignLeft);

    // Made in the order added (the tab order), shown right to left: the first at the right.
    std::vector<QPushButton*> made;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const int response = kAlertFirstButtonReturn + static_cast<int>(i);
        auto* b = new QPushButton(buttonText(buttons_[i]), d);
        b->setObjectName(QStringLiteral("alertButton-%1").arg(response));
        b->setAutoDefault(false);
        b->setDefault(i == 0);
        QObject::connect(b, &QPushButton::clicked, d, [d, response] { d->done(response); });
        made.push_back(b);
    }
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    for (auto it = made.rbegin(); it != made.rend(); ++it) row->addWidget(*it);
    column->addLayout(row);

    dialog_ = d;
}

int QtAlert::runModal() {
    if (dialog_ == nullptr) build();
    // Escape and the close button reject the dialog: response 0, no button's.
    return dialog_->exec();
}

// ---- toolkit ----

QtToolkit::QtToolkit(int& argc, char** argv) {
    // Before the application object, which may already report something.
    qInstallMessageHandler(dropMessage);
    if (QCoreApplication::instance() == nullptr) {
        QCoreApplication::setApplicationName(QStringLiteral("quorlen-safe"));
        // A platform on which the clipboard can be cleared while another program has focus.
        preferClearableToolkitPlatform();
        ownedApp_ = std::make_unique<QApplication>(argc, argv);
        QGuiApplication::setDesktopFileName(QStringLiteral("com.quorlen.safe"));
    }
    // The delegate decides what closing the last window does.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    context_ = std::make_unique<QObject>();
    // Whatever ends the loop, applicationWillTerminate runs once, before Qt goes.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, context_.get(),
                     [this] { finishTermination(); });
}

QtToolkit::~QtToolkit() {
    removeSignalHandlers();
    context_.reset();
    ownedApp_.reset();
}

void QtToolkit::installSignalHandlers() {
    if (signalWriteEnd != -1 || signalPipe_[0] != -1) return;
    if (::pipe2(signalPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        signalPipe_[0] = signalPipe_[1] = -1;
        return;
    }
    signalNotifier_ = std::make_unique<QSocketNotifier>(signalPipe_[0], QSocketNotifier::Read);
    QObject::connect(signalNotifier_.get(), &QSocketNotifier::activated, context_.get(), [this] {
        char bytes[16];
        while (::read(signalPipe_[0], bytes, sizeof bytes) > 0) {
        }
        terminate();
    });
    signalWriteEnd = signalPipe_[1];
    for (int signal : kTerminationSignals) {
        struct sigaction previous {};
        // A signal ignored by whoever started the program (nohup, a background job) stays so.
        if (::sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        // Calls that the signal interrupts go on; the loop sees the byte next time round.
        action.sa_flags = SA_RESTART;
        if (::sigaction(signal, &action, nullptr) == 0)
            previousActions_.emplace_back(signal, previous);
    }
}

void QtToolkit::removeSignalHandlers() {
    if (signalPipe_[0] == -1) return;
    for (const auto& [signal, previous] : previousActions_) ::sigaction(signal, &previous, nullptr);
    previousActions_.clear();
    signalWriteEnd = -1;
    signalNotifier_.reset();
    ::close(signalPipe_[0]);
    ::close(signalPipe_[1]);
    signalPipe_[0] = signalPipe_[1] = -1;
}

bool QtToolkit::setActivationPolicy(int policy) {
    activationPolicy_ = policy;
    return true;
}

int QtToolkit::run() {
    if (terminated_) return 0;
    running_ = true;
    installSignalHandlers();
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            if (!terminating_ && delegate_ != nullptr) delegate_->applicationDidFinishLaunching();
        },
        Qt::QueuedConnection);
    QApplication::exec();
    running_ = false;
    finishTermination();
    return 0;
}

void QtToolkit::activateIgnoringOtherApps(bool) {
    if (QWidget* w = keyWindow_.data()) {
        w->raise();
        w->activateWindow();
    }
}

void QtToolkit::finishTermination() {
    if (terminating_) return;
    terminating_ = true;
    if (delegate_ != nullptr) delegate_->applicationWillTerminate();
    terminated_ = true;
}

void QtToolkit::terminate() {
    if (terminating_) return;
    finishTermination();
    // Ends every running loop, nested modal ones included; run() then returns.
    if (running_) QCoreApplication::exit(0);
}

void QtToolkit::windowDidClose() {
    for (const auto& w : windows_) {
        if (w != nullptr && w->isVisible()) return;
    }
    if (terminating_ || delegate_ == nullptr) return;
    if (delegate_->applicationShouldTerminateAfterLastWindowClosed()) terminate();
}

QString QtToolkit::nextName(const char* kind) {
    const int n = ++counters_[kind];
    return QStringLiteral("%1-%2").arg(QLatin1String(kind)).arg(n);
}

std::shared_ptr<Window> QtToolkit::makeWindow(Rect content, unsigned styleMask, int backing,
                                              bool defer) {
    return std::make_shared<QtWindow>(*this, content, styleMask, backing, defer,
                                      nextName("window"));
}

std::shared_ptr<Label> QtToolkit::labelWithString(const std::string& text) {
    return std::make_shared<QtLabel>(text, false, nextName("label"));
}

std::shared_ptr<Label> QtToolkit::wrappingLabelWithString(const std::string& text) {
    return std::make_shared<QtLabel>(text, true, nextName("wrappingLabel"));
}

std::shared_ptr<Button> QtToolkit::buttonWithTitle(const std::string& title,
                                                   const std::string& selector,
                                                   std::function<void()> action) {
    return std::make_shared<QtButton>(title, selector, std::move(action));
}

std::shared_ptr<PopUpButton> QtToolkit::makePopUpButton(Rect frame, bool pullsDown) {
    return std::make_shared<QtPopUpButton>(frame, pullsDown, nextName("popUpButton"));
}

std::shared_ptr<StackView> QtToolkit::stackViewWithViews(std::vector<std::shared_ptr<View>> views) {
    return std::make_shared<QtStackView>(std::move(views), nextName("stackView"));
}

std::shared_ptr<View> QtToolkit::makeView(Rect frame) {
    auto* w = new QWidget;
    w->setObjectName(nextName("view"));
    if (frame.width > 0 && frame.height > 0)
        w->setFixedSize(toPixels(frame.width), toPixels(frame.height));
    return std::make_shared<QtPlainView>(w, frame);
}

std::shared_ptr<TextField> QtToolkit::makeTextField(Rect frame) {
    return std::make_shared<QtTextField>(frame, nextName("textField"));
}

std::shared_ptr<SecureTextField> QtToolkit::makeSecureTextField(Rect frame) {
    return std::make_shared<QtSecureTextField>(frame, nextName("secureTextField"));
}

std::shared_ptr<Alert> QtToolkit::makeAlert() { return std::make_shared<QtAlert>(*this); }

namespace {

struct Edges {
    QWidget* view = nullptr;
    QWidget* superview = nullptr;
    std::optional<double> leading, trailing, top;
};

// Puts `e.view` in a top-down layout of its superview, inset by the edge constants, above
// a stretch that takes the free space: the view hangs from the top at its natural height.
void placeByEdges(const Edges& e) {
    auto* column = qobject_cast<QVBoxLayout*>(e.superview->layout());
    if (column == nullptr) {
        if (e.superview->layout() != nullptr) return;  // laid out some other way
        column = new QVBoxLayout(e.superview);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        column->addStretch(1);
    }
    auto* cell = new QVBoxLayout;
    cell->setContentsMargins(e.leading ? toPixels(*e.leading) : 0, e.top ? toPixels(*e.top) : 0,
                             e.trailing ? toPixels(-*e.trailing) : 0, 0);
    Qt::Alignment alignment;
    if (e.leading && !e.trailing) alignment = Qt::AlignLeft;
    if (!e.leading && e.trailing) alignment = Qt::AlignRight;
    cell->addWidget(e.view, 0, alignment);
    column->insertLayout(column->count() - 1, cell);
}

}  // namespace

void QtToolkit::activateConstraints(std::vector<Constraint> constraints) {
    std::vector<Edges> edges;
    for (const Constraint& c : constraints) {
        QWidget* first = qtWidget(c.first);
        QWidget* second = qtWidget(c.second);
        if (first == nullptr || second == nullptr) continue;
        if (c.firstAnchor == Anchor::width && c.secondAnchor == Anchor::width) {
            auto* stack = dynamic_cast<QtStackView*>(c.second.get());
            if (stack != nullptr && c.constant == 0 && stack->arranges(first)) {
                stack->spanWidth(first);
            }
            continue;
        }
        if (c.firstAnchor != c.secondAnchor || first->parentWidget() != second) continue;
        auto it = std::find_if(edges.begin(), edges.end(),
                               [first](const Edges& e) { return e.view == first; });
        if (it == edges.end()) it = edges.insert(edges.end(), Edges{first, second, {}, {}, {}});
        switch (c.firstAnchor) {
            case Anchor::leading:
                it->leading = c.constant;
                break;
            case Anchor::trailing:
                it->trailing = c.constant;
                break;
            case Anchor::top:
                it->top = c.constant;
                break;
            case Anchor::width:
                break;
        }
    }
    for (const Edges& e : edges) placeByEdges(e);
}

std::unique_ptr<Toolkit> makeSystemToolkit(int& argc, char** argv) {
    return std::make_unique<QtToolkit>(argc, argv);
}

}  // namespace quorlen
