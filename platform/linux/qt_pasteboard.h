#pragma once

// The general clipboard on QClipboard: the CLIPBOARD selection only, never PRIMARY.

#include <QPointer>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/pasteboard.h"

class QMimeData;
class QObject;

namespace quorlen {

// Writes one QMimeData: the text representation (NSPasteboardTypeString) as `text/plain`
// in UTF-8, every other representation under its own type name as data, and, when an item
// carries the concealed marker type, also `x-kde-passwordManagerHint` = `secret`, the Linux
// convention that clipboard managers (Klipper, CopyQ, cliphist) honour.
//
// The change count is this backend's own counter: it goes up on every change of the
// clipboard that is not this program's own write or clear, so an unchanged count means no
// one else has changed it since. The content is "ours" while the clipboard still serves the
// QMimeData this backend wrote last (on X11 that is the case exactly while the program owns
// the selection).
class QtPasteboard : public Pasteboard {
  public:
    // Needs the application object; call on its thread.
    QtPasteboard();
    ~QtPasteboard() override;

    // Clears the clipboard only when it holds this program's write (after zeroing that
    // write's bytes); otherwise changes nothing. Returns the change count.
    std::int64_t clearContents() override;
    // Returns true when the clipboard took the write.
    bool writeObjects(std::vector<PasteboardItem> items) override;
    std::int64_t changeCount() override { return count_; }

    // True while the clipboard serves this program's last write.
    bool holdsOwnWrite() const;

  private:
    std::unique_ptr<QObject> context_;
    std::int64_t count_ = 0;
    bool changing_ = false;
    QPointer<QMimeData> written_;
};

}  // namespace quorlen
