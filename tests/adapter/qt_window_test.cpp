// The Qt toolkit, scheduler and clipboard backends with real widgets, on the offscreen
// platform (run by tests/adapter/run-qt.sh). The window is built by the real controller
// through the real toolkit and measured from the widgets Qt laid out.

#include <gtest/gtest.h>

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/factory.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/qt_toolkit.h"
#include "ui/safe_controller.h"

namespace quorlen {
namespace {

// The QApplication for the whole run, made and owned by the first toolkit. Each test makes
// its own toolkit on top of it (a toolkit made while an application exists does not own it).
int appArgc = 1;
char appName[] = "adapter_qt_window_test";
char* appArgv[] = {appName, nullptr};

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { owner = makeSystemToolkit(appArgc, appArgv); }
    void TearDown() override { owner.reset(); }
    std::unique_ptr<Toolkit> owner;
};
[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A store with nothing in it; authentication is never asked for.
class EmptyKeychain : public Keychain {
  public:
    Status copyMatching(const Query&, KeychainResult& result) override {
        result = std::monostate{};
        return status::itemNotFound;
    }
    Status add(const Query&) override { return status::notAvailable; }
    Status remove(const Query&) override { return status::itemNotFound; }
    std::shared_ptr<const AccessControl> createAccessControl(Accessibility,
                                                             std::uint32_t) override {
        return nullptr;
    }
};

class NoAuthentication : public Authentication {
  public:
    std::shared_ptr<AuthenticationContext> makeContext() override { return nullptr; }
};

// Runs `action` on the modal dialog as soon as one is up (polling the event loop), once.
void whenModal(std::function<void(QDialog*)> action) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action = std::move(action)] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        action(dialog);
    });
    poll->start();
}

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QPushButton* alertButton(QDialog* dialog, int response) {
    return dialog->findChild<QPushButton*>(QStringLiteral("alertButton-%1").arg(response));
}

void sendKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

// Ends a loop that a broken test would leave running.
class Watchdog {
  public:
    explicit Watchdog(int ms = 10000) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [] {
            ADD_FAILURE() << "watchdog: the event loop did not end";
            QCoreApplication::exit(1);
        });
        timer_.start(ms);
    }

  private:
    QTimer timer_;
};

class QtTest : public ::testing::Test {
  protected:
    std::unique_ptr<Toolkit> toolkit = makeSystemToolkit(appArgc, appArgv);
    QtToolkit& qt = static_cast<QtToolkit&>(*toolkit);
};

// ---- the main window ----

class QtWindowTest : public QtTest {
  protected:
    EmptyKeychain keychain;
    NoAuthentication authentication;
    std::unique_ptr<Pasteboard> pasteboard = makeSystemPasteboard();
    std::unique_ptr<Scheduler> scheduler = makeSystemScheduler();
    bool gate = true;
    std::shared_ptr<SafeController> controller;

    void SetUp() override {
        controller = std::make_shared<SafeController>(Services{
            keychain, authentication, *toolkit, *pasteboard, *scheduler, [this] { return gate; }});
        toolkit->setDelegate(controller.get());
    }
    void TearDown() override { controller.reset(); }

    // Launches with the gate open and lets Qt lay the window out.
    void launch() {
        controller->applicationDidFinishLaunching();
        QApplication::processEvents();
        QApplication::processEvents();
    }
    QWidget* windowWidget() const {
        auto* window = dynamic_cast<QtWindow*>(controller->window.get());
        return window != nullptr ? window->widget() : nullptr;
    }
    QWidget* mainStack() const { return qtWidget(controller->items)->parentWidget(); }
    std::vector<QWidget*> arranged(QWidget* stack) const {
        std::vector<QWidget*> out;
        auto* box = qobject_cast<QBoxLayout*>(stack->layout());
        for (int i = 0; box != nullptr && i < box->count(); ++i) {
            if (QWidget* w = box->itemAt(i)->widget()) out.push_back(w);
        }
        return out;
    }
};

TEST_F(QtWindowTest, ContentIsFixedAt570By400) {
    launch();
    QWidget* w = windowWidget();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->size(), QSize(570, 400));
    EXPECT_EQ(w->minimumSize(), QSize(570, 400));
    EXPECT_EQ(w->maximumSize(), QSize(570, 400));
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8("Quorlen \u00B7 On-device key safe"));
    const Qt::WindowFlags flags = w->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(w->objectName(), QStringLiteral("window-1"));
    EXPECT_EQ(dynamic_cast<QtWindow*>(controller->window.get())->sharingType(), 0);
}

TEST_F(QtWindowTest, WindowIsCentredOnThePrimaryScreen) {
    launch();
    QWidget* w = windowWidget();
    ASSERT_NE(w, nullptr);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    // The content area is centred (the frame is the window manager's).
    EXPECT_EQ(w->geometry().center(), area.center());
}

TEST_F(QtWindowTest, MainStackIsInset24AndSpans522) {
    launch();
    QWidget* stack = mainStack();
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->parentWidget(), windowWidget());
    EXPECT_EQ(stack->x(), 24);
    EXPECT_EQ(stack->y(), 24);
    EXPECT_EQ(stack->width(), 522);
    // Hung from the top at its natural height: free space is left below it.
    EXPECT_LT(stack->geometry().bottom(), 400 - 24);
    EXPECT_EQ(stack->objectName(), QStringLiteral("stackView-2"));
}

TEST_F(QtWindowTest, PopUpSpansTheStack) {
    launch();
    auto* combo = qobject_cast<QComboBox*>(qtWidget(controller->items));
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->x(), 0);
    EXPECT_EQ(combo->width(), 522);
    EXPECT_EQ(combo->width(), mainStack()->width());
    // The store is empty: nothing to select.
    EXPECT_EQ(combo->count(), 0);
    EXPECT_EQ(controller->items->indexOfSelectedItem(), -1);
    controller->items->addItemWithTitle("A key");
    EXPECT_EQ(controller->items->indexOfSelectedItem(), 0);
    // A very long name does not widen the pop-up or the window.
    controller->items->addItemWithTitle(std::string(120, 'W'));
    QApplication::processEvents();
    EXPECT_EQ(combo->width(), 522);
    EXPECT_EQ(windowWidget()->width(), 570);
    controller->items->removeAllItems();
    EXPECT_EQ(controller->items->indexOfSelectedItem(), -1);
}

TEST_F(QtWindowTest, SixViewsTopToBottomSpaced18) {
    launch();
    const std::vector<QWidget*> views = arranged(mainStack());
    ASSERT_EQ(views.size(), 6u);
    auto* heading = qobject_cast<QLabel*>(views[0]);
    auto* explanation = qobject_cast<QLabel*>(views[1]);
    auto* warning = qobject_cast<QLabel*>(views[4]);
    auto* status = qobject_cast<QLabel*>(views[5]);
    ASSERT_TRUE(heading && explanation && warning && status);
    EXPECT_EQ(views[2], qtWidget(controller->items));
    EXPECT_EQ(views[5], qtWidget(controller->status));
    EXPECT_EQ(heading->text(), QStringLiteral("Your most powerful keys stay on this Mac."));
    EXPECT_TRUE(explanation->text().startsWith(QString::fromUtf8("Stored in this device\u2019s")));
    EXPECT_TRUE(warning->text().startsWith(QStringLiteral("Copy only when necessary")));
    for (std::size_t i = 0; i + 1 < views.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(views[i]->x(), 0);
        EXPECT_EQ(views[i + 1]->y() - (views[i]->y() + views[i]->height()), 18);
    }
    for (QLabel* label : {heading, explanation, warning, status}) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
    }
    EXPECT_FALSE(heading->wordWrap());
    EXPECT_TRUE(explanation->wordWrap());
    EXPECT_TRUE(warning->wordWrap());
    EXPECT_TRUE(status->wordWrap());
    EXPECT_EQ(status->objectName(), QStringLiteral("wrappingLabel-1"));
}

TEST_F(QtWindowTest, HeadingIsBold18AndWarningSecondary) {
    launch();
    const std::vector<QWidget*> views = arranged(mainStack());
    ASSERT_EQ(views.size(), 6u);
    const QFont heading = views[0]->font();
    EXPECT_TRUE(heading.bold());
    EXPECT_EQ(heading.pixelSize(), 18);
    EXPECT_FALSE(views[1]->font().bold());
    EXPECT_EQ(views[4]->foregroundRole(), QPalette::PlaceholderText);
    EXPECT_EQ(views[0]->foregroundRole(), QPalette::WindowText);
    EXPECT_EQ(views[1]->foregroundRole(), QPalette::WindowText);
}

TEST_F(QtWindowTest, WrappingLabelsWrapWithin522) {
    launch();
    const std::vector<QWidget*> views = arranged(mainStack());
    ASSERT_EQ(views.size(), 6u);
    for (std::size_t i : {std::size_t{1}, std::size_t{4}}) {
        SCOPED_TRACE(i);
        auto* label = qobject_cast<QLabel*>(views[i]);
        EXPECT_EQ(label->width(), 522);
        // The texts are longer than one line of 522 pixels.
        EXPECT_GT(label->height(), label->fontMetrics().height() * 3 / 2);
        EXPECT_GE(label->height(), label->heightForWidth(522));
    }
    // A long status text wraps too, and the stack grows downward only.
    controller->status->setStringValue(std::string(300, 'x') + " end");
    QApplication::processEvents();
    EXPECT_EQ(mainStack()->y(), 24);
    EXPECT_EQ(controller->status->stringValue(), std::string(300, 'x') + " end");
}

TEST_F(QtWindowTest, ButtonRowLeftToRightSpaced10) {
    launch();
    const std::vector<QWidget*> views = arranged(mainStack());
    ASSERT_EQ(views.size(), 6u);
    const std::vector<QWidget*> row = arranged(views[3]);
    ASSERT_EQ(row.size(), 3u);
    const char* titles[] = {"Add a key", "Copy for 20 seconds", "Delete\u2026"};
    const char* names[] = {"addKey", "copyKey", "deleteKey"};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        auto* button = qobject_cast<QPushButton*>(row[i]);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromUtf8(titles[i]));
        EXPECT_EQ(button->objectName(), QLatin1String(names[i]));
        EXPECT_FALSE(button->isDefault());
        if (i > 0) {
            EXPECT_EQ(row[i]->x() - (row[i - 1]->x() + row[i - 1]->width()), 10);
        }
    }
    EXPECT_EQ(row[0]->x(), 0);
    // The row sits at the leading edge at its natural width.
    EXPECT_EQ(views[3]->x(), 0);
    EXPECT_LT(views[3]->width(), 522);
}

TEST_F(QtWindowTest, GateFalseShowsTheAlertAndEndsTheLoop) {
    gate = false;
    Watchdog watchdog;
    QString title, text;
    std::vector<QString> buttons;
    whenModal([&](QDialog* dialog) {
        title = dialog->findChild<QLabel*>(QStringLiteral("alertMessage"))->text();
        text = dialog->findChild<QLabel*>(QStringLiteral("alertInformative"))->text();
        for (auto* b : dialog->findChildren<QPushButton*>()) buttons.push_back(b->text());
        alertButton(dialog, 1000)->click();
    });
    EXPECT_EQ(toolkit->run(), 0);
    EXPECT_EQ(title, QStringLiteral("On-device safe unavailable"));
    EXPECT_TRUE(text.startsWith(QStringLiteral("This feature requires the correctly signed")));
    EXPECT_EQ(buttons, std::vector<QString>{QStringLiteral("OK")});
    EXPECT_EQ(controller->window, nullptr);
    EXPECT_TRUE(qt.terminated());
}

TEST_F(QtWindowTest, ClosingTheWindowEndsTheLoop) {
    Watchdog watchdog;
    // Once launched (queued inside the loop), close the window as the user would.
    QMetaObject::invokeMethod(
        qApp,
        [this] {
            QMetaObject::invokeMethod(
                qApp, [this] { windowWidget()->close(); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    EXPECT_EQ(toolkit->run(), 0);
    ASSERT_NE(windowWidget(), nullptr);
    EXPECT_FALSE(windowWidget()->isVisible());
    EXPECT_TRUE(qt.terminated());
}

// ---- the application loop, on a recording delegate ----

class RecordingDelegate : public ApplicationDelegate {
  public:
    std::function<void()> onLaunch;
    int launches = 0;
    int loopLevelAtLaunch = -1;
    int shouldTerminateAsked = 0;
    int willTerminate = 0;
    bool answer = true;

    void applicationDidFinishLaunching() override {
        ++launches;
        loopLevelAtLaunch = QThread::currentThread()->loopLevel();
        if (onLaunch) onLaunch();
    }
    bool applicationShouldTerminateAfterLastWindowClosed() override {
        ++shouldTerminateAsked;
        return answer;
    }
    void applicationWillTerminate() override { ++willTerminate; }
};

TEST_F(QtTest, RunLaunchesInsideTheLoopAndTerminateEndsIt) {
    RecordingDelegate delegate;
    toolkit->setDelegate(&delegate);
    Watchdog watchdog;
    delegate.onLaunch = [&] {
        toolkit->terminate();
        toolkit->terminate();  // once is enough: the second call does nothing
    };
    EXPECT_EQ(toolkit->run(), 0);
    EXPECT_EQ(delegate.launches, 1);
    EXPECT_GE(delegate.loopLevelAtLaunch, 1);
    EXPECT_EQ(delegate.willTerminate, 1);
    EXPECT_EQ(delegate.shouldTerminateAsked, 0);
    // A terminated application does not run again.
    EXPECT_EQ(toolkit->run(), 0);
    EXPECT_EQ(delegate.launches, 1);
}

TEST_F(QtTest, LastWindowClosedAsksTheDelegate) {
    RecordingDelegate delegate;
    toolkit->setDelegate(&delegate);
    Watchdog watchdog;
    std::shared_ptr<Window> window;
    delegate.onLaunch = [&] {
        window = toolkit->makeWindow(Rect{0, 0, 200, 100}, 7, 2, false);
        window->makeKeyAndOrderFront();
        auto* widget = static_cast<QtWindow&>(*window).widget();
        // Minimizing ends nothing; closing does.
        widget->showMinimized();
        QTimer::singleShot(20, widget, [widget] { widget->close(); });
    };
    EXPECT_EQ(toolkit->run(), 0);
    EXPECT_EQ(delegate.shouldTerminateAsked, 1);
    EXPECT_EQ(delegate.willTerminate, 1);
    window.reset();
}

TEST_F(QtTest, LastWindowClosedWithFalseKeepsRunning) {
    RecordingDelegate delegate;
    delegate.answer = false;
    toolkit->setDelegate(&delegate);
    Watchdog watchdog;
    std::shared_ptr<Window> window;
    delegate.onLaunch = [&] {
        window = toolkit->makeWindow(Rect{0, 0, 200, 100}, 7, 2, false);
        window->makeKeyAndOrderFront();
        auto* widget = static_cast<QtWindow&>(*window).widget();
        QTimer::singleShot(0, widget, [widget] { widget->close(); });
        QTimer::singleShot(100, qApp, [this] { toolkit->terminate(); });
    };
    EXPECT_EQ(toolkit->run(), 0);
    EXPECT_EQ(delegate.shouldTerminateAsked, 1);
    EXPECT_EQ(delegate.willTerminate, 1);
    window.reset();
}

// ---- alerts ----

struct AlertCase {
    const char* name;
    std::function<void(QDialog*)> act;
    int expected;
};

class QtAlertTest : public QtTest, public ::testing::WithParamInterface<AlertCase> {};

TEST_P(QtAlertTest, Responses) {
    auto alert = toolkit->makeAlert();
    alert->setMessageText("Permanently delete this device-only key?");
    alert->setInformativeText("This app cannot recover it.");
    alert->addButtonWithTitle("Cancel");
    alert->addButtonWithTitle("Delete");
    Watchdog watchdog;
    bool checked = false;
    whenModal([&](QDialog* dialog) {
        QPushButton* first = alertButton(dialog, 1000);
        QPushButton* second = alertButton(dialog, 1001);
        EXPECT_TRUE(first && second);
        if (first && second) {
            EXPECT_EQ(first->text(), QStringLiteral("Cancel"));
            EXPECT_EQ(second->text(), QStringLiteral("Delete"));
            EXPECT_TRUE(first->isDefault());
            EXPECT_FALSE(second->isDefault());
            // Right to left, the first added at the right.
            EXPECT_GT(first->x(), second->x());
        }
        EXPECT_TRUE(dialog->isModal());
        checked = true;
        GetParam().act(dialog);
    });
    EXPECT_EQ(alert->runModal(), GetParam().expected);
    EXPECT_TRUE(checked);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QtAlertTest,
    ::testing::Values(
        AlertCase{"FirstButton", [](QDialog* d) { alertButton(d, 1000)->click(); }, 1000},
        AlertCase{"SecondButton", [](QDialog* d) { alertButton(d, 1001)->click(); }, 1001},
        AlertCase{"ReturnPressesTheDefault", [](QDialog* d) { sendKey(d, Qt::Key_Return); }, 1000},
        AlertCase{"ReturnOnTheSecondButtonStillTheDefault",
                  [](QDialog* d) { sendKey(alertButton(d, 1001), Qt::Key_Return); }, 1000},
        AlertCase{"SpacePressesTheFocusedButton",
                  [](QDialog* d) {
                      QPushButton* b = alertButton(d, 1001);
                      b->setFocus();
                      sendKey(b, Qt::Key_Space);
                  },
                  1001},
        AlertCase{"EscapeIsNoButton", [](QDialog* d) { sendKey(d, Qt::Key_Escape); }, 0},
        AlertCase{"CloseIsNoButton", [](QDialog* d) { d->close(); }, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(QtTest, MessageAlertTexts) {
    auto alert = toolkit->makeAlert();
    alert->setMessageText("Not stored");
    alert->setInformativeText("Provide a name up to 120 characters and a key up to 32 KB.");
    alert->addButtonWithTitle("OK");
    Watchdog watchdog;
    whenModal([](QDialog* dialog) {
        auto* message = dialog->findChild<QLabel*>(QStringLiteral("alertMessage"));
        auto* informative = dialog->findChild<QLabel*>(QStringLiteral("alertInformative"));
        EXPECT_TRUE(message && informative);
        if (message && informative) {
            EXPECT_EQ(message->text(), QStringLiteral("Not stored"));
            EXPECT_TRUE(message->font().bold());
            EXPECT_GT(message->font().pointSizeF(), informative->font().pointSizeF());
            EXPECT_EQ(informative->text(),
                      QStringLiteral("Provide a name up to 120 characters and a key up to 32 KB."));
        }
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Not stored"));
        EXPECT_EQ(dialog->findChildren<QPushButton*>().size(), 1);
        sendKey(dialog, Qt::Key_Return);
    });
    EXPECT_EQ(alert->runModal(), 1000);
}

TEST_F(QtTest, AccessoryFieldsAtTheirFramesAndTheSecureField) {
    auto alert = toolkit->makeAlert();
    alert->setMessageText("Add a device-only key");
    auto name = toolkit->makeTextField(Rect{0, 50, 420, 26});
    name->setPlaceholderString("Name (not a secret)");
    auto secret = toolkit->makeSecureTextField(Rect{0, 5, 420, 26});
    secret->setPlaceholderString("Master key or password");
    auto accessory = toolkit->makeView(Rect{0, 0, 420, 90});
    accessory->addSubview(name);
    accessory->addSubview(secret);
    alert->setAccessoryView(accessory);
    alert->setWindowSharingType(0);
    alert->addButtonWithTitle("Cancel");
    alert->addButtonWithTitle("Store on this Mac");

    // A typed text with a two-byte, a three-byte and a four-byte character.
    const QString typed = QString::fromUtf8("k\u00E9y\u20AC\U0001F511");
    Watchdog watchdog;
    whenModal([&](QDialog* dialog) {
        QWidget* box = qtWidget(accessory);
        auto* nameEdit = qobject_cast<QLineEdit*>(qtWidget(name));
        auto* secretEdit = qobject_cast<QLineEdit*>(qtWidget(secret));
        EXPECT_TRUE(box && nameEdit && secretEdit);
        if (box && nameEdit && secretEdit) {
            EXPECT_EQ(box->size(), QSize(420, 90));
            EXPECT_TRUE(dialog->isAncestorOf(box));
            // AppKit y = 50 (name) sits above y = 5 (secret): qtY = 90 - y - 26.
            EXPECT_EQ(nameEdit->geometry(), QRect(0, 14, 420, 26));
            EXPECT_EQ(secretEdit->geometry(), QRect(0, 59, 420, 26));
            EXPECT_EQ(nameEdit->placeholderText(), QStringLiteral("Name (not a secret)"));
            EXPECT_EQ(secretEdit->placeholderText(), QStringLiteral("Master key or password"));
            EXPECT_EQ(secretEdit->echoMode(), QLineEdit::Password);
            EXPECT_FALSE(secretEdit->testAttribute(Qt::WA_InputMethodEnabled));
            const Qt::InputMethodHints hints = secretEdit->inputMethodHints();
            EXPECT_TRUE(hints.testFlag(Qt::ImhSensitiveData));
            EXPECT_TRUE(hints.testFlag(Qt::ImhNoPredictiveText));
            EXPECT_TRUE(hints.testFlag(Qt::ImhHiddenText));
            EXPECT_NE(secretEdit->displayText(), typed);
            nameEdit->setText(QStringLiteral("My key"));
            secretEdit->setText(typed);
            EXPECT_NE(secretEdit->displayText(), typed);  // masked
        }
        alertButton(dialog, 1001)->click();
    });
    EXPECT_EQ(alert->runModal(), 1001);
    EXPECT_EQ(dynamic_cast<QtAlert&>(*alert).sharingType(), 0);

    EXPECT_EQ(name->stringValue(), "My key");
    const QByteArray expected = typed.toUtf8();
    EXPECT_EQ(secret->utf8Length(), static_cast<std::size_t>(expected.size()));
    EXPECT_EQ(secret->utf8Value().view(),
              std::string_view(expected.constData(), static_cast<std::size_t>(expected.size())));
    secret->clear();
    EXPECT_EQ(secret->utf8Length(), 0u);
    EXPECT_TRUE(secret->utf8Value().empty());
    auto* secretEdit = qobject_cast<QLineEdit*>(qtWidget(secret));
    ASSERT_NE(secretEdit, nullptr);
    EXPECT_TRUE(secretEdit->text().isEmpty());
    EXPECT_FALSE(secretEdit->isUndoAvailable());
}

TEST_F(QtTest, SecureFieldEncodesLikeQt) {
    auto secret = toolkit->makeSecureTextField(Rect{0, 0, 100, 20});
    auto* edit = qobject_cast<QLineEdit*>(qtWidget(secret));
    ASSERT_NE(edit, nullptr);
    // Valid texts encode exactly as Qt's toUtf8 does.
    const QString texts[] = {QString(), QStringLiteral("x"),
                             QString::fromUtf8("\u00E9\u20AC\U0001F511 end"),
                             QString(5000, QChar(0x00E9))};
    for (const QString& text : texts) {
        SCOPED_TRACE(text.size());
        edit->setText(text);
        const QByteArray expected = text.toUtf8();
        EXPECT_EQ(secret->utf8Length(), static_cast<std::size_t>(expected.size()));
        EXPECT_EQ(
            secret->utf8Value().view(),
            std::string_view(expected.constData(), static_cast<std::size_t>(expected.size())));
    }
    // Unpaired surrogates become U+FFFD (Qt's toUtf8 would write '?').
    const char16_t units[] = {u'a', 0xD800, u'b', 0xDC00, 0xD83D, 0xDD11, 0xD83D, 0};
    edit->setText(QString::fromUtf16(units));
    const std::string_view expected =
        "a\xEF\xBF\xBD"
        "b\xEF\xBF\xBD\xF0\x9F\x94\x91\xEF\xBF\xBD";
    EXPECT_EQ(secret->utf8Length(), expected.size());
    EXPECT_EQ(secret->utf8Value().view(), expected);
}

TEST_F(QtTest, LabelsShowPlainTextAndButtonsLiteralAmpersands) {
    auto label = toolkit->labelWithString("<b>not bold</b>");
    EXPECT_EQ(label->stringValue(), "<b>not bold</b>");
    EXPECT_EQ(qobject_cast<QLabel*>(qtWidget(label))->textFormat(), Qt::PlainText);
    int pressed = 0;
    auto button = toolkit->buttonWithTitle("Save & go", "go", [&] { ++pressed; });
    auto* push = qobject_cast<QPushButton*>(qtWidget(button));
    ASSERT_NE(push, nullptr);
    EXPECT_EQ(push->text(), QStringLiteral("Save && go"));
    push->click();
    EXPECT_EQ(pressed, 1);
}

// ---- scheduler ----

TEST(QtSchedulerTest, TimerFiresOnceAndInvalidatedDoesNot) {
    auto scheduler = makeSystemScheduler();
    int fired = 0, cancelled = 0;
    QEventLoop loop;
    std::shared_ptr<Timer> dropped = scheduler->scheduledTimer(0.05, [&] {
        ++fired;
        loop.quit();
    });
    dropped.reset();  // the loop keeps a scheduled timer, as a run loop does
    auto gone = scheduler->scheduledTimer(0.01, [&] { ++cancelled; });
    gone->invalidate();
    QTimer::singleShot(5000, &loop, [&] { loop.exit(1); });
    EXPECT_EQ(loop.exec(), 0);
    QTimer::singleShot(100, &loop, [&] { loop.quit(); });
    loop.exec();
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(cancelled, 0);
    gone->invalidate();
}

TEST(QtSchedulerTest, MainQueueFromAnotherThread) {
    auto scheduler = makeSystemScheduler();
    QEventLoop loop;
    std::atomic<bool> ranOnMain{false};
    const auto mainId = std::this_thread::get_id();
    std::thread([&] {
        scheduler->submitToMainQueue([&] {
            ranOnMain = std::this_thread::get_id() == mainId;
            loop.quit();
        });
    }).join();
    QTimer::singleShot(5000, &loop, [&] { loop.exit(1); });
    EXPECT_EQ(loop.exec(), 0);
    EXPECT_TRUE(ranOnMain.load());
}

// ---- clipboard (in-process on offscreen; the X11 clipboard is tested under Xvfb) ----

TEST(QtPasteboardTest, WritesOneMimeDataWithMarkersAndCountsOthersChanges) {
    auto pasteboard = makeSystemPasteboard();
    QClipboard* board = QGuiApplication::clipboard();
    const std::int64_t start = pasteboard->changeCount();

    PasteboardItem item;
    item.setString("s3cret", NSPasteboardTypeString);
    item.setData({}, kConcealedType);
    item.setData({}, kTransientType);
    std::vector<PasteboardItem> items;
    items.push_back(std::move(item));
    pasteboard->clearContents();
    EXPECT_TRUE(pasteboard->writeObjects(std::move(items)));
    EXPECT_EQ(pasteboard->changeCount(), start);  // own changes do not count

    const QMimeData* mime = board->mimeData(QClipboard::Clipboard);
    ASSERT_NE(mime, nullptr);
    EXPECT_EQ(mime->data(QStringLiteral("text/plain")), QByteArray("s3cret"));
    EXPECT_EQ(mime->text(), QStringLiteral("s3cret"));
    EXPECT_TRUE(mime->hasFormat(qs(kConcealedType)));
    EXPECT_TRUE(mime->hasFormat(qs(kTransientType)));
    EXPECT_EQ(mime->data(QStringLiteral("x-kde-passwordManagerHint")), QByteArray("secret"));
    EXPECT_FALSE(mime->hasFormat(qs(NSPasteboardTypeString)));

    // Our own copy is cleared.
    pasteboard->clearContents();
    const QMimeData* after = board->mimeData(QClipboard::Clipboard);
    EXPECT_TRUE(after == nullptr || !after->hasText());
    EXPECT_EQ(pasteboard->changeCount(), start);

    // Someone else's content is counted and never cleared.
    board->setText(QStringLiteral("other"), QClipboard::Clipboard);
    EXPECT_EQ(pasteboard->changeCount(), start + 1);
    pasteboard->clearContents();
    EXPECT_EQ(board->text(QClipboard::Clipboard), QStringLiteral("other"));
    board->clear(QClipboard::Clipboard);
}

}  // namespace
}  // namespace quorlen
