// Another program for the Wayland tier: a full-screen window that holds the keyboard focus
// and, on a press of the C key, copies the text given as its argument, as a user copying in
// another program does. Prints "focused", "unfocused" and "copied" on standard output.

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QWidget>

#include <cstdio>

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

class Window : public QWidget {
  public:
    explicit Window(QString text) : text_(std::move(text)) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_C) {
            QGuiApplication::clipboard()->setText(text_, QClipboard::Clipboard);
            say("copied");
        }
    }

  private:
    QString text_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Window window(argc > 1 ? QString::fromUtf8(argv[1]) : QStringLiteral("other text"));
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, [](Qt::ApplicationState s) {
        say(s == Qt::ApplicationActive ? "focused" : "unfocused");
    });
    window.showFullScreen();
    return QApplication::exec();
}
