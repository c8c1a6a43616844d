// The entry point: a probe, a usage error, or the windowed application.

#include <unistd.h>

#include <memory>
#include <span>
#include <string_view>

#include "app/entry.h"
#include "app/probes.h"
#include "platform/factory.h"
#include "platform/process.h"
#include "ui/safe_controller.h"

namespace quorlen {

// The one controller, kept for the life of the process in windowed mode.
std::shared_ptr<SafeController> controller;

namespace {

int writeLine(std::string_view line) {
    // A fixed line, written whole; a failed write leaves nothing else to do.
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

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

int main(int argc, char** argv) {
    // Before anything else: no core dump and no ptrace attach by other same-user processes.
    quorlen::hardenProcess();

    using quorlen::Mode;
    switch (quorlen::modeFor(std::span<const char* const>(argv, static_cast<std::size_t>(argc)))) {
        case Mode::availabilityProbe: {
            auto authentication = quorlen::makeSystemAuthentication();
            return quorlen::writeLine(quorlen::protectionAvailable(*authentication)
                                          ? quorlen::kAvailableTrue
                                          : quorlen::kAvailableFalse);
        }
        case Mode::signatureProbe:
            return quorlen::writeLine(quorlen::signingIsRestricted() ? quorlen::kSignedTrue
                                                                     : quorlen::kSignedFalse);
        case Mode::windowed:
            return quorlen::runWindowed(argc, argv);
        case Mode::usageError:
            break;
    }
    return quorlen::kUsageErrorStatus;
}
