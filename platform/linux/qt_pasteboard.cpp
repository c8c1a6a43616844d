#include "platform/linux/qt_pasteboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <string_view>
#include <utility>

#include "platform/clipboard_session.h"
#include "platform/factory.h"
#include "platform/secret_bytes.h"

namespace quorlen {

namespace {

constexpr const char* kPasswordManagerHint = "x-kde-passwordManagerHint";

// Up to this size a representation is handed to Qt as a view of our own buffer, never as a
// copy that Qt would free unzeroed. Qt's X11 backend keeps the bytes after a request only in
// an incremental transfer, which starts far above this (a secret is at most 32 KiB).
constexpr std::size_t kMaxSharedBytes = 64 * 1024;

// How long wl-copy may take to start, to clear, and the compositor to report it.
constexpr int kWlCopyMilliseconds = 2000;

QClipboard* clipboard() {
    return QGuiApplication::instance() != nullptr ? QGuiApplication::clipboard() : nullptr;
}

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A QMimeData whose representations live in SecretBytes: zeroed by wipe() and when it is
// deleted, which Qt does when the clipboard changes hands.
class SecretMimeData : public QMimeData {
  public:
    void add(const QString& format, SecretBytes bytes) {
        for (const auto& entry : entries_) {
            if (entry.first == format) return;  // the first representation of a type wins
        }
        entries_.emplace_back(format, std::move(bytes));
    }
    // Zeroes every representation and offers none from now on.
    void wipe() { entries_.clear(); }

    bool hasFormat(const QString& format) const override {
        for (const auto& entry : entries_) {
            if (entry.first == format) return true;
        }
        return false;
    }
    QStringList formats() const override {
        QStringList list;
        for (const auto& entry : entries_) list.append(entry.first);
        return list;
    }

  protected:
    QVariant retrieveData(const QString& format, QMetaType) const override {
        for (const auto& entry : entries_) {
            if (entry.first != format) continue;
            const SecretBytes& bytes = entry.second;
            const auto* data = reinterpret_cast<const char*>(bytes.data());
            const auto size = static_cast<qsizetype>(bytes.size());
            if (bytes.empty()) return QByteArray("");
            if (bytes.size() > kMaxSharedBytes) return QByteArray(data, size);
            return QByteArray::fromRawData(data, size);
        }
        return {};
    }

  private:
    std::vector<std::pair<QString, SecretBytes>> entries_;
};

}  // namespace

QtPasteboard::QtPasteboard() : context_(std::make_unique<QObject>()) {
    const QString platform = QGuiApplication::platformName();
    shared_ = platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
    const bool wayland = platform.startsWith(QLatin1String("wayland"));
    clearing_ =
        chooseClipboardClearing(platform.toStdString(), wayland && executableOnPath("wl-copy"));
    QClipboard* board = clipboard();
    if (board == nullptr) return;
    QObject::connect(board, &QClipboard::changed, context_.get(), [this](QClipboard::Mode mode) {
        if (mode != QClipboard::Clipboard || changing_) return;
        // A platform may report this program's own write later; noticeLoss leaves it alone.
        if (ours_) {
            noticeLoss();
        } else {
            ++count_;
        }
    });
    // Qt's X11 backend offers a still-owned clipboard to a clipboard manager when the
    // application object goes; by then nothing of ours may be left on it.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, context_.get(),
                     [this] { clearOwnWrite(); });
}

QtPasteboard::~QtPasteboard() {
    context_.reset();
    clearOwnWrite();
    // Whatever Qt still keeps of the last write (a write the display server refused) is
    // served as nothing from now on.
    if (written_ != nullptr) static_cast<SecretMimeData*>(written_.data())->wipe();
}

bool QtPasteboard::holdsOwnWrite() const {
    QClipboard* board = clipboard();
    if (board == nullptr || written_ == nullptr) return false;
    if (shared_ && !board->ownsClipboard()) return false;
    // On X11 this asks the server for the selection's owner: Qt believes it owns a selection
    // that the server refused to give it (a stale timestamp), and serves our data only while
    // its window is the owner.
    return board->mimeData(QClipboard::Clipboard) == written_.data();
}

void QtPasteboard::noticeLoss() {
    if (!ours_ || holdsOwnWrite()) return;
    ours_ = false;
    ++count_;
    if (written_ != nullptr) static_cast<SecretMimeData*>(written_.data())->wipe();
}

void QtPasteboard::clearOwnWrite() {
    noticeLoss();
    if (!ours_) return;
    QClipboard* board = clipboard();
    // From now on this program serves nothing, whether or not the clear takes.
    static_cast<SecretMimeData*>(written_.data())->wipe();
    if (clearing_ == ClipboardClearing::wlCopy) {
        // Qt's own clear would let the compositor publish its copy of the text again.
        if (!clearWithWlCopy()) return;  // still ours: the next clear tries again
        ours_ = false;
        return;
    }
    changing_ = true;
    board->clear(QClipboard::Clipboard);  // Qt deletes the (zeroed) QMimeData
    changing_ = false;
    ours_ = false;
}

bool QtPasteboard::clearWithWlCopy() {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral("wl-copy"), {QStringLiteral("--clear")});
    if (!process.waitForStarted(kWlCopyMilliseconds)) return false;
    if (!process.waitForFinished(kWlCopyMilliseconds)) {
        process.kill();
        process.waitForFinished(kWlCopyMilliseconds);
    }
    // The compositor tells this program that its source was replaced; wait for the word.
    QElapsedTimer clock;
    clock.start();
    QClipboard* board = clipboard();
    while (board->ownsClipboard() && clock.elapsed() < kWlCopyMilliseconds) {
        changing_ = true;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        changing_ = false;
        if (board->ownsClipboard()) QThread::msleep(10);
    }
    return !board->ownsClipboard();
}

bool QtPasteboard::canClear() const { return clearing_ != ClipboardClearing::none; }

std::int64_t QtPasteboard::changeCount() {
    noticeLoss();
    return count_;
}

std::int64_t QtPasteboard::clearContents() {
    // Only our own write is ever cleared: Qt's clear on X11 would also take the selection
    // away from another program that holds it.
    clearOwnWrite();
    return count_;
}

bool QtPasteboard::writeObjects(std::vector<PasteboardItem> items) {
    QClipboard* board = clipboard();
    if (board == nullptr) return false;
    auto* mime = new SecretMimeData;
    bool concealed = false;
    for (const PasteboardItem& item : items) {
        for (const auto& r : item.representations()) {
            if (r.isText && r.type == NSPasteboardTypeString) {
                mime->add(QStringLiteral("text/plain"), SecretBytes::copyOf(r.data.bytes()));
                mime->add(QStringLiteral("text/plain;charset=utf-8"),
                          SecretBytes::copyOf(r.data.bytes()));
            } else {
                mime->add(qs(r.type), SecretBytes::copyOf(r.data.bytes()));
            }
            if (r.type == kConcealedType) concealed = true;
        }
    }
    if (concealed)
        mime->add(QString::fromLatin1(kPasswordManagerHint), SecretBytes::copyOf("secret"));
    // An earlier write that Qt still keeps is zeroed now; Qt deletes it on the replace.
    if (written_ != nullptr) static_cast<SecretMimeData*>(written_.data())->wipe();
    written_ = mime;
    changing_ = true;
    board->setMimeData(mime, QClipboard::Clipboard);  // the clipboard owns it now
    changing_ = false;
    ours_ = true;
    if (holdsOwnWrite()) return true;
    noticeLoss();
    return false;
}

std::unique_ptr<Pasteboard> makeSystemPasteboard() { return std::make_unique<QtPasteboard>(); }

}  // namespace quorlen
