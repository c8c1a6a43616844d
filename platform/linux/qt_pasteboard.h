#pragma once

// The general clipboard on QClipboard: the CLIPBOARD selection only, never PRIMARY.

#include <QPointer>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/clipboard_session.h"
#include "platform/pasteboard.h"

class QMimeData;
class QObject;

namespace quorlen {

// Writes one QMimeData: the text representation (NSPasteboardTypeString) as `text/plain` and
// `text/plain;charset=utf-8` in UTF-8 (Qt's X11 backend also offers it as UTF8_STRING, STRING
// and TEXT), every other representation under its own type name as data, and, when an item
// carries the concealed marker type, also `x-kde-passwordManagerHint` = `secret`, the Linux
// convention that clipboard managers (Klipper, CopyQ, cliphist) honour. The QMimeData serves
// its bytes from buffers of its own that are zeroed when it goes, whoever deletes it.
//
// The change count is this backend's own counter: it goes up on every change of the
// clipboard that is not this program's own write or clear, and when this program's last
// write is found no longer on the clipboard, so an unchanged count means the clipboard still
// holds that write. On a clipboard shared with other programs (X11, Wayland) "still holds"
// also needs ownsClipboard(); the in-process clipboard of the offscreen and minimal platforms
// has no owner, and only the served QMimeData counts there.
//
// How it clears depends on the session (platform/clipboard_session.h): the toolkit's own clear
// on X11 and XWayland; on native Wayland wl-copy, whose clear counts only once this program's
// source has been replaced, so a clear that did not take leaves the write counted as still
// ours, and a later clear (the next one asked for, at quit, or when this object goes) tries
// again.
//
// When the application is about to quit, and when this object goes, a write that is still on
// the clipboard is cleared, so Qt never hands it to a clipboard manager (SAVE_TARGETS) on
// its way out.
class QtPasteboard : public Pasteboard {
  public:
    // Needs the application object; call on its thread.
    QtPasteboard();
    ~QtPasteboard() override;

    // Clears the clipboard only when it holds this program's write (its bytes are zeroed);
    // otherwise changes nothing, so another program's content stays. Returns the change count.
    std::int64_t clearContents() override;
    // Returns true when the clipboard took the write and holds it.
    bool writeObjects(std::vector<PasteboardItem> items) override;
    std::int64_t changeCount() override;
    bool canClear() const override;

    // True while the clipboard serves this program's last write.
    bool holdsOwnWrite() const;

  private:
    // Counts the loss when the last write has left the clipboard, and zeroes it.
    void noticeLoss();
    // Clears the clipboard when it still holds the last write, whatever the count says.
    void clearOwnWrite();
    // Asks wl-copy to clear; true once this program no longer owns the clipboard.
    bool clearWithWlCopy();

    std::unique_ptr<QObject> context_;
    std::int64_t count_ = 0;
    bool changing_ = false;
    // True from a write until its loss is counted or it is cleared.
    bool ours_ = false;
    bool shared_ = false;
    ClipboardClearing clearing_ = ClipboardClearing::toolkit;
    QPointer<QMimeData> written_;
};

}  // namespace quorlen
