// The Qt clipboard backend on the real X11 clipboard (a private Xvfb, run by
// tests/adapter/run-clipboard.sh), read and written by xclip as the other program. The timed
// cases run the real controller's copy flow on the real Qt scheduler, with the fake store and
// authentication supplying the secret. Secrets stay in memory: failure messages give sizes.

#include <gtest/gtest.h>

#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/factory.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/qt_scheduler.h"
#include "platform/linux/qt_toolkit.h"
#include "tests/support/fake_authentication.h"
#include "tests/support/fake_keychain.h"
#include "ui/safe_controller.h"

namespace quorlen {
namespace {

int appArgc = 1;
char appName[] = "adapter_clipboard_test";
char* appArgv[] = {appName, nullptr};

// The QApplication for the whole run; each test's toolkit is made on top of it.
class X11Environment : public ::testing::Environment {
  public:
    void SetUp() override {
        owner = makeSystemToolkit(appArgc, appArgv);
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
            << "run through tests/adapter/run-clipboard.sh";
    }
    void TearDown() override { owner.reset(); }
    std::unique_ptr<Toolkit> owner;
};
[[maybe_unused]] const auto* const environment =
    ::testing::AddGlobalTestEnvironment(new X11Environment);

// Non-ASCII on purpose: the UTF-8 bytes must arrive unchanged.
constexpr std::string_view kSecret = "master-\u00E9\u20AC\U0001F511-key";
constexpr std::string_view kOther = "the user's own text";
constexpr const char* kAccount = "0F8E2C5A-1B3D-4E6F-8A9B-0C1D2E3F4A5B";

QByteArray bytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// Runs the event loop for `ms` milliseconds, or until `done` says so.
void spin(int ms, const std::function<bool()>& done = {}) {
    if (ms <= 0) return;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done && done()) loop.quit();
    });
    poll.start(20);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct XclipRun {
    int exitCode = -1;
    QByteArray out;
};

// Runs `timeout 5 xclip ARGS` with `input` on its standard input, answering the selection
// requests it makes of this process while it runs.
XclipRun xclip(const QStringList& args, const QByteArray& input = {}) {
    QProcess process;
    QStringList all{QStringLiteral("5"), QStringLiteral("xclip")};
    all += args;
    const bool writes = args.contains(QStringLiteral("-i"));
    // A writing xclip leaves a child behind that holds the selection; it must not hold our
    // pipes.
    if (writes) process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("timeout"), all);
    if (!process.waitForStarted(5000)) return {};
    if (writes) {
        process.write(input);
        process.closeWriteChannel();
    }
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(8000, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning) loop.exec();
    XclipRun run;
    run.exitCode = process.state() == QProcess::NotRunning ? process.exitCode() : -1;
    if (!writes) run.out = process.readAllStandardOutput();
    return run;
}

XclipRun readClipboard(const QString& target = {},
                       const QString& selection = QStringLiteral("clipboard")) {
    QStringList args{QStringLiteral("-o"), QStringLiteral("-selection"), selection};
    if (!target.isEmpty()) args << QStringLiteral("-t") << target;
    return xclip(args);
}

// Another program takes the clipboard with `text`; returns once this process has seen it.
void otherProgramWrites(std::string_view text) {
    ASSERT_EQ(
        xclip({QStringLiteral("-i"), QStringLiteral("-selection"), QStringLiteral("clipboard")},
              bytes(text))
            .exitCode,
        0);
    spin(2000, [] { return !QGuiApplication::clipboard()->ownsClipboard(); });
    spin(100);
}

bool holdsSecret(const XclipRun& run) { return run.out.contains(bytes(kSecret)); }

// The copy flow's write: one item with the text and both marker types.
bool writeSecret(Pasteboard& pasteboard, std::string_view secret = kSecret) {
    PasteboardItem item;
    item.setString(secret, NSPasteboardTypeString);
    item.setData({}, kConcealedType);
    item.setData({}, kTransientType);
    std::vector<PasteboardItem> items;
    items.push_back(std::move(item));
    pasteboard.clearContents();
    return pasteboard.writeObjects(std::move(items));
}

// Ends with the clipboard owned by nobody, so no test sees another's content.
class ClipboardTest : public ::testing::Test {
  protected:
    void TearDown() override {
        QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
        spin(100);
    }
};

// ---- the backend ----

TEST_F(ClipboardTest, CopyOffersTextMarkersAndHintOnClipboardOnly) {
    QtPasteboard pasteboard;
    const std::int64_t before = pasteboard.changeCount();
    ASSERT_TRUE(writeSecret(pasteboard));
    EXPECT_TRUE(QGuiApplication::clipboard()->ownsClipboard());
    EXPECT_EQ(pasteboard.changeCount(), before);  // our own write does not count

    const XclipRun targets = readClipboard(QStringLiteral("TARGETS"));
    ASSERT_EQ(targets.exitCode, 0);
    const QList<QByteArray> listed = targets.out.split('\n');
    for (const char* type :
         {"text/plain", "text/plain;charset=utf-8", "UTF8_STRING", "org.nspasteboard.ConcealedType",
          "org.nspasteboard.TransientType", "x-kde-passwordManagerHint"}) {
        EXPECT_TRUE(listed.contains(QByteArray(type))) << type << " missing from TARGETS";
    }

    // The text arrives as UTF-8 under every UTF-8 target; the hint says "secret".
    for (const QString& target :
         {QString(), QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain"),
          QStringLiteral("text/plain;charset=utf-8")}) {
        const XclipRun text = readClipboard(target);
        EXPECT_EQ(text.exitCode, 0) << target.toStdString();
        EXPECT_TRUE(text.out == bytes(kSecret))
            << target.toStdString() << ": got " << text.out.size() << " bytes, expected "
            << kSecret.size();
    }
    EXPECT_EQ(readClipboard(QStringLiteral("x-kde-passwordManagerHint")).out, QByteArray("secret"));

    // PRIMARY is never touched.
    EXPECT_FALSE(QGuiApplication::clipboard()->ownsSelection());
    EXPECT_FALSE(holdsSecret(readClipboard({}, QStringLiteral("primary"))));
}

TEST_F(ClipboardTest, ClearTakesOurCopyOffTheSelection) {
    QtPasteboard pasteboard;
    ASSERT_TRUE(writeSecret(pasteboard));
    const std::int64_t recorded = pasteboard.changeCount();
    EXPECT_EQ(pasteboard.clearContents(), recorded);
    EXPECT_FALSE(QGuiApplication::clipboard()->ownsClipboard());
    EXPECT_FALSE(pasteboard.holdsOwnWrite());
    const XclipRun after = readClipboard();
    EXPECT_NE(after.exitCode, 0);
    EXPECT_FALSE(holdsSecret(after));
    EXPECT_NE(readClipboard(QStringLiteral("TARGETS")).exitCode, 0);  // no owner at all
}

TEST_F(ClipboardTest, AnotherProgramsWriteIsCountedAndNeverCleared) {
    QtPasteboard pasteboard;
    ASSERT_TRUE(writeSecret(pasteboard));
    const std::int64_t recorded = pasteboard.changeCount();
    otherProgramWrites(kOther);
    EXPECT_FALSE(pasteboard.holdsOwnWrite());
    EXPECT_NE(pasteboard.changeCount(), recorded);
    pasteboard.clearContents();
    pasteboard.clearContents();
    const XclipRun after = readClipboard();
    EXPECT_EQ(after.exitCode, 0);
    EXPECT_EQ(after.out, bytes(kOther));

    // After the other program, our next copy takes the clipboard again.
    ASSERT_TRUE(writeSecret(pasteboard));
    EXPECT_TRUE(holdsSecret(readClipboard()));
}

TEST_F(ClipboardTest, QuittingClearsAStillOwnedCopy) {
    // Whatever the controller does, the backend itself takes its copy off before Qt goes,
    // so Qt has no owned clipboard to offer a clipboard manager.
    auto pasteboard = std::make_unique<QtPasteboard>();
    ASSERT_TRUE(writeSecret(*pasteboard));
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();  // aboutToQuit on the way out
    EXPECT_FALSE(QGuiApplication::clipboard()->ownsClipboard());
    EXPECT_FALSE(holdsSecret(readClipboard()));

    // And so does its destructor.
    ASSERT_TRUE(writeSecret(*pasteboard));
    pasteboard.reset();
    EXPECT_FALSE(QGuiApplication::clipboard()->ownsClipboard());
    EXPECT_FALSE(holdsSecret(readClipboard()));
}

TEST_F(ClipboardTest, SecureFieldSelectionAndCopyReachNoSelection) {
    // The masked field of the add dialog: selecting with the keyboard or the mouse and the
    // copy shortcuts put nothing on PRIMARY or CLIPBOARD.
    auto toolkit = makeSystemToolkit(appArgc, appArgv);
    auto field = toolkit->makeSecureTextField(Rect{0, 0, 300, 26});
    auto* edit = qobject_cast<QLineEdit*>(qtWidget(field));
    ASSERT_NE(edit, nullptr);
    edit->setText(QString::fromUtf8(kSecret.data(), static_cast<qsizetype>(kSecret.size())));
    edit->show();
    spin(100);
    auto key = [edit](int code, Qt::KeyboardModifiers modifiers) {
        QKeyEvent press(QEvent::KeyPress, code, modifiers);
        QCoreApplication::sendEvent(edit, &press);
        QKeyEvent release(QEvent::KeyRelease, code, modifiers);
        QCoreApplication::sendEvent(edit, &release);
    };
    key(Qt::Key_End, Qt::NoModifier);
    key(Qt::Key_Home, Qt::ShiftModifier);
    key(Qt::Key_A, Qt::ControlModifier);
    key(Qt::Key_C, Qt::ControlModifier);
    key(Qt::Key_Insert, Qt::ControlModifier);
    edit->selectAll();
    const QPointF inside(5, 5);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, edit->mapToGlobal(inside),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &release);
    edit->copy();
    ASSERT_TRUE(edit->hasSelectedText());
    spin(100);
    EXPECT_FALSE(QGuiApplication::clipboard()->ownsSelection());
    EXPECT_FALSE(QGuiApplication::clipboard()->ownsClipboard());
    EXPECT_FALSE(holdsSecret(readClipboard({}, QStringLiteral("primary"))));
    EXPECT_FALSE(holdsSecret(readClipboard()));
    field->clear();
}

// ---- the copy flow on the real clipboard and scheduler ----

// The controller on the Qt toolkit, clipboard and scheduler, with one stored key.
class CopyFlowTest : public ClipboardTest {
  protected:
    CopyFlowTest() {
        keychain.plantKey(kAccount, "Key", kSecret);
        controller = std::make_shared<SafeController>(Services{
            keychain, authentication, *toolkit, pasteboard, scheduler, [] { return true; }});
        controller->refresh();
    }
    ~CopyFlowTest() override { controller.reset(); }

    void copy() {
        controller->copyKey();
        ASSERT_TRUE(controller->clipboardGeneration.has_value());
        ASSERT_TRUE(holdsSecret(readClipboard()));
    }

    testing::FakeKeychain keychain;
    testing::FakeAuthentication authentication;
    std::unique_ptr<Toolkit> toolkit = makeSystemToolkit(appArgc, appArgv);
    QtPasteboard pasteboard;
    QtScheduler scheduler;
    std::shared_ptr<SafeController> controller;
};

TEST_F(CopyFlowTest, TimerTakesTheCopyOffAfter20Seconds) {
    QElapsedTimer clock;
    clock.start();
    copy();
    // Still there just before the end of its lifetime...
    spin(19000 - static_cast<int>(clock.elapsed()));
    EXPECT_TRUE(holdsSecret(readClipboard()));
    EXPECT_TRUE(controller->clipboardTimer != nullptr);
    // ...and gone once the timer has fired.
    spin(22000 - static_cast<int>(clock.elapsed()), [&] { return !controller->clipboardTimer; });
    EXPECT_FALSE(controller->clipboardTimer);
    EXPECT_FALSE(controller->clipboardGeneration);
    const XclipRun after = readClipboard();
    EXPECT_NE(after.exitCode, 0);
    EXPECT_FALSE(holdsSecret(after));
}

TEST_F(CopyFlowTest, OtherProgramsTextSurvivesTheClear) {
    copy();
    otherProgramWrites(kOther);
    controller->clearClipboard();  // stands for the timer firing
    EXPECT_FALSE(controller->clipboardGeneration);
    EXPECT_EQ(readClipboard().out, bytes(kOther));
}

TEST_F(CopyFlowTest, SecondCopyReplacesTheFirst) {
    copy();
    copy();
    EXPECT_TRUE(QGuiApplication::clipboard()->ownsClipboard());
    controller->clearClipboard();
    EXPECT_FALSE(holdsSecret(readClipboard()));
}

// Ending the program within the copy's lifetime, by terminate() or by a signal: the delegate
// runs inside the loop, the copy is gone from the X selection, and Qt owns no clipboard
// left to hand to a clipboard manager.
struct EndCase {
    const char* name;
    int signal;  // 0: terminate()
};

class EndTest : public CopyFlowTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndTest, EndingWithinTheLifetimeClears) {
    const int signal = GetParam().signal;
    if (signal != 0) {
        struct sigaction current {};
        ::sigaction(signal, nullptr, &current);
        if (current.sa_handler == SIG_IGN) GTEST_SKIP() << "signal ignored by the caller";
    }
    toolkit->setDelegate(controller.get());
    bool copied = false;
    bool ranLaunch = false;
    // After the launch (the window and the list), a copy, then the end.
    QTimer::singleShot(200, qApp, [&] {
        ranLaunch = controller->window != nullptr;
        controller->copyKey();
        copied = holdsSecret(readClipboard());
        if (signal != 0) {
            ::raise(signal);
        } else {
            toolkit->terminate();
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        ADD_FAILURE() << "the event loop did not end";
        QCoreApplication::exit(1);
    });
    watchdog.start(10000);
    EXPECT_EQ(toolkit->run(), 0);
    watchdog.stop();
    EXPECT_TRUE(ranLaunch);
    EXPECT_TRUE(copied);
    EXPECT_FALSE(controller->clipboardGeneration);  // applicationWillTerminate ran
    EXPECT_FALSE(controller->clipboardTimer);
    EXPECT_FALSE(QGuiApplication::clipboard()->ownsClipboard());
    EXPECT_FALSE(holdsSecret(readClipboard()));
}

INSTANTIATE_TEST_SUITE_P(Ways, EndTest,
                         ::testing::Values(EndCase{"Terminate", 0}, EndCase{"SIGTERM", SIGTERM},
                                           EndCase{"SIGINT", SIGINT}, EndCase{"SIGHUP", SIGHUP}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace quorlen
