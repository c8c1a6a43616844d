#include "app/entry.h"

namespace quorlen {

Mode modeFor(std::span<const char* const> arguments) {
    auto onlyFlag = [&](std::string_view flag) {
        return arguments.size() == 2 && arguments[1] != nullptr && arguments[1] == flag;
    };
    if (onlyFlag("--check")) return Mode::availabilityProbe;
    if (onlyFlag("--check-signature")) return Mode::signatureProbe;
    // The kernel hands a program started with no arguments at all a single empty one, so an
    // empty program path stands for that list too.
    if (arguments.size() == 1 && arguments[0] != nullptr && arguments[0][0] != '\0') {
        return Mode::windowed;
    }
    return Mode::usageError;
}

}  // namespace quorlen
