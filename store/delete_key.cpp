#include <memory>
#include <string>

#include "ui/safe_controller.h"

namespace quorlen {

void SafeController::deleteKey() {
    // The key selected now is the one deleted, whatever is selected when the owner answers.
    auto account = selectedID();
    if (!account) return;

    auto confirmation = services_.toolkit.makeAlert();
    confirmation->setMessageText("Permanently delete this device-only key?");
    confirmation->setInformativeText(
        "This app cannot recover it. Confirm you have another recovery copy.");
    confirmation->addButtonWithTitle("Cancel");
    confirmation->addButtonWithTitle("Delete");
    if (confirmation->runModal() != kAlertSecondButtonReturn) return;

    auto context = services_.authentication.makeContext();
    Scheduler& scheduler = services_.scheduler;
    // The reply may come on any thread: it only hands its values to the main queue, which
    // holds the controller, the context and the identifier until the rest has run.
    context->evaluatePolicy(
        LAPolicyDeviceOwnerAuthentication, "Delete a device-only Quorlen key",
        [&scheduler, self = shared_from_this(), context, deletedAccount = *account](bool granted,
                                                                                    Status) {
            scheduler.submitToMainQueue([self, context, deletedAccount, granted] {
                if (!granted) {
                    self->status->setStringValue("Deletion cancelled.");
                    context->invalidate();
                    return;
                }
                Query query = self->baseQuery(deletedAccount);
                query.emplace(kSecUseAuthenticationContext, context);
                const Status removed = self->services_.keychain.remove(query);
                self->clearClipboard();
                if (removed != status::success) {
                    self->message("Not deleted", "Keychain refused the deletion (" +
                                                     std::to_string(removed) + ").");
                }
                self->refresh();
                context->invalidate();
            });
        });
}

}  // namespace quorlen
