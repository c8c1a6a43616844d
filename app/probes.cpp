#include "app/probes.h"

#include "platform/process.h"

namespace quorlen {

bool signingIsRestricted() { return codeIntegrityHolds(); }

bool protectionAvailable(Authentication& authentication) {
    if (!signingIsRestricted()) return false;
    auto context = authentication.makeContext();
    return context->canEvaluatePolicy(LAPolicyDeviceOwnerAuthentication);
}

}  // namespace quorlen
