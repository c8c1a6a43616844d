#include "app/entry.h"

namespace quorlen {

Mode modeFor(std::span<const char* const> arguments) {
    auto onlyFlag = [&](std::string_view flag) {
        return arguments.size() == 2 && arguments[1] != nullptr && arguments[1] == flag;
    };
    if (onlyFlag("--check")) return Mode::availabilityProbe;
    if (onlyFlag("--check-signature")) return Mode::signatureProbe;
    if (arguments.size() == 1) return Mode::windowed;
    return Mode::usageError;
}

}  // namespace quorlen
