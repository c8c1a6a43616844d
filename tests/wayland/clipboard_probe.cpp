// This program's copy flow as it runs in a desktop session: the real controller on the Qt
// toolkit, clipboard and scheduler, started with the session's environment so the toolkit
// chooses its platform as the program does; the fake store and authentication supply the
// secret. Driven by tests/wayland/bed.py:
//   - a press of the K key in its window copies the key (a copy follows the user's input);
//   - "state" on standard input prints whether its window has the focus, whether the
//     clipboard still holds the copy, and the change count against the one recorded;
//   - "clear" on standard input stands for a delete attempt (the controller's clear);
//   - SIGTERM ends it as closing the window does.
// It prints one line per event on standard output; never the secret.

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

#include "platform/factory.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/qt_scheduler.h"
#include "tests/support/fake_authentication.h"
#include "tests/support/fake_keychain.h"
#include "ui/safe_controller.h"

namespace {

// The same test value as in bed.py.
constexpr const char* kSecret = "wayland-probe-\u00E9\u20AC-secret";
constexpr const char* kAccount = "0F8E2C5A-1B3D-4E6F-8A9B-0C1D2E3F4A5B";

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

class CopyOnKey : public QObject {
  public:
    explicit CopyOnKey(quorlen::SafeController& controller) : controller_(controller) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_K && !pressed_) {
            pressed_ = true;  // a key press reaches every widget on its way up
            QTimer::singleShot(0, this, [this] {
                pressed_ = false;
                controller_.copyKey();
                say("copied " + controller_.status->stringValue());
            });
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    quorlen::SafeController& controller_;
    bool pressed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace quorlen;
    auto toolkit = makeSystemToolkit(argc, argv);
    QtPasteboard pasteboard;
    QtScheduler scheduler;
    testing::FakeKeychain keychain;
    testing::FakeAuthentication authentication;
    keychain.plantKey(kAccount, "Key", kSecret);
    auto controller = std::make_shared<SafeController>(
        Services{keychain, authentication, *toolkit, pasteboard, scheduler, [] { return true; }});
    toolkit->setDelegate(controller.get());

    CopyOnKey copyOnKey(*controller);
    qApp->installEventFilter(&copyOnKey);

    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, [](Qt::ApplicationState s) {
        say(s == Qt::ApplicationActive ? "focused" : "unfocused");
    });

    // The copy's end, by the timer or otherwise.
    bool pending = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const bool now = controller->clipboardGeneration.has_value();
        if (pending && !now) say("cleared");
        pending = now;
    });
    watch.start(50);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer - 1);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        const std::string command(buffer, static_cast<std::size_t>(n));
        if (command.rfind("state", 0) == 0) {
            const std::int64_t count = pasteboard.changeCount();
            const bool active = QGuiApplication::applicationState() == Qt::ApplicationActive;
            say("state active=" + std::to_string(active ? 1 : 0) +
                " ours=" + std::to_string(pasteboard.holdsOwnWrite() ? 1 : 0) +
                " count=" + std::to_string(count) + " recorded=" +
                (controller->clipboardGeneration ? std::to_string(*controller->clipboardGeneration)
                                                 : std::string("none")));
        } else if (command.rfind("clear", 0) == 0) {
            controller->clearClipboard();
            say("cleared");
        }
    });

    QTimer::singleShot(0, [&] {
        say("ready platform=" + QGuiApplication::platformName().toStdString() +
            " canClear=" + (pasteboard.canClear() ? "1" : "0"));
    });
    const int code = toolkit->run();
    say("exited");
    controller.reset();
    return code;
}
