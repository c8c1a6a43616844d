#include <string>

#include "platform/text.h"
#include "ui/safe_controller.h"

namespace quorlen {
namespace {

constexpr std::size_t kMaximumNameCharacters = 120;
constexpr std::size_t kMaximumSecretBytes = 32768;
constexpr Rect kAccessoryFrame{0, 0, 420, 90};
constexpr Rect kNameFieldFrame{0, 50, 420, 26};
constexpr Rect kSecretFieldFrame{0, 5, 420, 26};

constexpr const char* kNotStored = "Not stored";

}  // namespace

void SafeController::addKey() {
    Toolkit& toolkit = services_.toolkit;
    auto dialog = toolkit.makeAlert();
    dialog->setMessageText("Add a device-only key");
    dialog->setInformativeText(
        "This key stays in this Mac\u2019s protected Keychain. Nothing is uploaded. Keep your "
        "own recovery copy before continuing.");
    auto nameField = toolkit.makeTextField(kNameFieldFrame);
    nameField->setPlaceholderString("Name (not a secret)");
    auto secretField = toolkit.makeSecureTextField(kSecretFieldFrame);
    secretField->setPlaceholderString("Master key or password");
    auto accessory = toolkit.makeView(kAccessoryFrame);
    accessory->addSubview(nameField);
    accessory->addSubview(secretField);
    dialog->setAccessoryView(accessory);
    dialog->setWindowSharingType(kWindowSharingNone);
    dialog->addButtonWithTitle("Cancel");
    dialog->addButtonWithTitle("Store on this Mac");

    if (dialog->runModal() != kAlertSecondButtonReturn) {
        secretField->clear();
        return;
    }

    const std::string name = nameField->stringValue();
    const std::size_t secretLength = secretField->utf8Length();
    if (trimWhiteSpaceAndNewlines(name).empty() || graphemeCount(name) > kMaximumNameCharacters ||
        secretLength == 0 || secretLength > kMaximumSecretBytes) {
        secretField->clear();
        message(kNotStored, "Provide a name up to 120 characters and a key up to 32 KB.");
        return;
    }

    auto access = services_.keychain.createAccessControl(
        Accessibility::kSecAttrAccessibleWhenUnlockedThisDeviceOnly, kSecAccessControlUserPresence);
    if (!access) {
        secretField->clear();
        message(kNotStored, "The required device protection could not be created.");
        return;
    }

    SecretBytes secret = secretField->utf8Value();
    secretField->clear();
    const std::string account = makeUUIDText();

    Query query = baseQuery(account);
    query.emplace(kSecAttrLabel, name);
    query.emplace(kSecAttrAccessControl, access);
    query.emplace(kSecValueData, SecretRef{&secret});
    const Status result = services_.keychain.add(query);
    if (result == status::success) {
        refresh();
    } else {
        message(kNotStored, "Keychain refused the required protection (" + std::to_string(result) +
                                "). No file or cloud fallback was used.");
    }

    query.clear();
    secret.release();
}

}  // namespace quorlen
