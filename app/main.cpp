// The entry point: a probe, a usage error, or the windowed application.

#include <unistd.h>

#include <span>
#include <string_view>

#include "app/entry.h"
#include "app/probes.h"
#include "platform/factory.h"
#include "platform/module.h"
#include "platform/process.h"

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

}  // namespace

int main(int argc, char** argv) {
    // Before anything else: no core dump and no ptrace attach by other same-user processes.
    quorlen::hardenProcess();

    using quorlen::Mode;
    switch (quorlen::modeFor(std::span<const char* const>(argv, static_cast<std::size_t>(argc)))) {
        case Mode::availabilityProbe: {
            auto authentication = quorlen::makeSystemAuthentication();
            return writeLine(quorlen::protectionAvailable(*authentication)
                                 ? quorlen::kAvailableTrue
                                 : quorlen::kAvailableFalse);
        }
        case Mode::signatureProbe:
            return writeLine(quorlen::signingIsRestricted() ? quorlen::kSignedTrue
                                                            : quorlen::kSignedFalse);
        case Mode::windowed:
            return quorlen::runWindowedModule(QUORLEN_WINDOW_MODULE, argc, argv);
        case Mode::usageError:
            break;
    }
    return quorlen::kUsageErrorStatus;
}
