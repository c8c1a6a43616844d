#include <string>
#include <variant>

#include "platform/text.h"
#include "ui/safe_controller.h"

namespace quorlen {
namespace {

constexpr double kClipboardLifetimeSeconds = 20.0;

std::string notCopied(Status result) {
    return "Not copied. Local authentication or protected access was declined (" +
           std::to_string(result) + ").";
}

}  // namespace

void SafeController::copyKey() {
    auto account = selectedID();
    if (!account) return;

    auto context = services_.authentication.makeContext();
    context->setLocalizedReason("Copy this device-only Quorlen key for 20 seconds");
    context->setTouchIDAuthenticationAllowableReuseDuration(0);

    Query query = baseQuery(*account);
    query.emplace(kSecReturnData, true);
    query.emplace(kSecMatchLimit, KeychainConstant::kSecMatchLimitOne);
    query.emplace(kSecUseAuthenticationContext, context);
    KeychainResult result;
    const Status read = services_.keychain.copyMatching(query, result);

    auto* secret = std::get_if<SecretBytes>(&result);
    if (read != status::success || secret == nullptr) {
        // Status 0 without bytes shows as 0, which `read` then is.
        status->setStringValue(notCopied(read));
    } else {
        if (auto text = decodeUTF8(secret->bytes())) {
            clearClipboard();
            Pasteboard& pasteboard = services_.pasteboard;
            pasteboard.clearContents();
            PasteboardItem item;
            item.setString(*text, NSPasteboardTypeString);
            item.setData({}, kConcealedType);
            item.setData({}, kTransientType);
            std::vector<PasteboardItem> written;
            written.push_back(std::move(item));
            // A clipboard that refused the write holds nothing of ours: saying "Copied" then
            // would promise a copy, and a clear, that do not exist.
            if (pasteboard.writeObjects(std::move(written))) {
                clipboardGeneration = pasteboard.changeCount();
                std::weak_ptr<SafeController> weakSelf = weak_from_this();
                clipboardTimer =
                    services_.scheduler.scheduledTimer(kClipboardLifetimeSeconds, [weakSelf] {
                        if (auto self = weakSelf.lock()) self->clearClipboard();
                    });
                // Still armed, as a clear takes there if this window has the focus at the
                // time; but where no clear can be relied on, 20 seconds is no promise.
                status->setStringValue(
                    pasteboard.canClear()
                        ? "Copied for 20 seconds. Paste only into the intended trusted app."
                        : "Copied. This session cannot clear the clipboard: clear it yourself "
                          "after pasting.");
            } else {
                status->setStringValue(notCopied(status::success));
            }
        }
        secret->release();
    }

    result = std::monostate{};
    query.clear();
    context->invalidate();
}

void SafeController::clearClipboard() {
    if (clipboardTimer) clipboardTimer->invalidate();
    clipboardTimer.reset();
    if (clipboardGeneration) {
        Pasteboard& pasteboard = services_.pasteboard;
        if (pasteboard.changeCount() == *clipboardGeneration) pasteboard.clearContents();
    }
    clipboardGeneration.reset();
}

void SafeController::applicationWillTerminate() { clearClipboard(); }

}  // namespace quorlen
