#include "platform/linux/qt_pasteboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QString>

#include <string_view>
#include <utility>

#include "platform/factory.h"
#include "platform/secret_bytes.h"

namespace quorlen {

namespace {

constexpr const char* kPasswordManagerHint = "x-kde-passwordManagerHint";

QClipboard* clipboard() {
    return QGuiApplication::instance() != nullptr ? QGuiApplication::clipboard() : nullptr;
}

QByteArray bytesOf(const SecretBytes& data) {
    return QByteArray(reinterpret_cast<const char*>(data.data()),
                      static_cast<qsizetype>(data.size()));
}

// Zeroes, in place, every representation `mime` holds (Qt's copies of the secret).
void wipe(QMimeData* mime) {
    if (mime == nullptr) return;
    const QStringList formats = mime->formats();
    for (const QString& format : formats) {
        // data() shares the stored buffer; zero it where it is, unless Qt's data is static.
        QByteArray shared = mime->data(format);
        if (!shared.isEmpty() && shared.data_ptr().isMutable()) {
            secureZero(const_cast<char*>(shared.constData()),
                       static_cast<std::size_t>(shared.size()));
        }
    }
}

}  // namespace

QtPasteboard::QtPasteboard() : context_(std::make_unique<QObject>()) {
    QClipboard* board = clipboard();
    if (board == nullptr) return;
    QObject::connect(board, &QClipboard::changed, context_.get(), [this](QClipboard::Mode mode) {
        if (mode != QClipboard::Clipboard || changing_) return;
        // A platform may report this program's own write later; it is still ours then.
        if (holdsOwnWrite()) return;
        ++count_;
    });
}

QtPasteboard::~QtPasteboard() { context_.reset(); }

bool QtPasteboard::holdsOwnWrite() const {
    QClipboard* board = clipboard();
    return board != nullptr && written_ != nullptr &&
           board->mimeData(QClipboard::Clipboard) == written_.data();
}

std::int64_t QtPasteboard::clearContents() {
    QClipboard* board = clipboard();
    if (board == nullptr || !holdsOwnWrite()) return count_;
    wipe(written_.data());
    changing_ = true;
    board->clear(QClipboard::Clipboard);
    changing_ = false;
    written_ = nullptr;
    return count_;
}

bool QtPasteboard::writeObjects(std::vector<PasteboardItem> items) {
    QClipboard* board = clipboard();
    if (board == nullptr) return false;
    auto* mime = new QMimeData;
    bool concealed = false;
    for (const PasteboardItem& item : items) {
        for (const auto& r : item.representations()) {
            const QString type =
                r.isText && r.type == NSPasteboardTypeString
                    ? QStringLiteral("text/plain")
                    : QString::fromUtf8(r.type.data(), static_cast<qsizetype>(r.type.size()));
            // One representation per type: the first item's wins, as the one Qt item holds.
            if (mime->hasFormat(type)) continue;
            mime->setData(type, bytesOf(r.data));
            if (r.type == kConcealedType) concealed = true;
        }
    }
    if (concealed)
        mime->setData(QString::fromLatin1(kPasswordManagerHint), QByteArrayLiteral("secret"));
    // The write replaces an earlier one of ours, which Qt then frees: zero it first.
    if (holdsOwnWrite()) wipe(written_.data());
    written_ = mime;
    changing_ = true;
    board->setMimeData(mime, QClipboard::Clipboard);  // the clipboard owns it now
    changing_ = false;
    return holdsOwnWrite();
}

std::unique_ptr<Pasteboard> makeSystemPasteboard() { return std::make_unique<QtPasteboard>(); }

}  // namespace quorlen
