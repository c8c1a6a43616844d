// The windowed application: built as a module that the entry point loads only in
// windowed mode.

#include <memory>
#include <type_traits>

#include "app/probes.h"
#include "platform/factory.h"
#include "platform/module.h"
#include "ui/safe_controller.h"

namespace quorlen {

// The one controller, kept for the life of the process.
std::shared_ptr<SafeController> controller;

namespace {

int runWindowed(int argc, char** argv) {
    auto keychain = makeSystemKeychain();
    auto authentication = makeSystemAuthentication();
    auto toolkit = makeSystemToolkit(argc, argv);
    auto pasteboard = makeSystemPasteboard();
    auto scheduler = makeSystemScheduler();
    Authentication& auth = *authentication;
    controller = std::make_shared<SafeController>(
        Services{*keychain, auth, *toolkit, *pasteboard, *scheduler,
                 [&auth] { return protectionAvailable(auth); }});
    toolkit->setActivationPolicy(kActivationPolicyRegular);
    toolkit->setDelegate(controller.get());
    toolkit->run();
    // The loop has ended the application; the controller's widgets go before the toolkit.
    controller.reset();
    return 0;
}

}  // namespace
}  // namespace quorlen

extern "C" __attribute__((visibility("default"))) int quorlen_run_windowed(int argc, char** argv) {
    static_assert(std::is_same_v<decltype(&quorlen_run_windowed), quorlen::WindowedEntry>);
    return quorlen::runWindowed(argc, argv);
}
