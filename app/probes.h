#pragma once

#include "platform/authentication.h"

namespace quorlen {

// Returns true when the running program is the trusted installed build. No output, no
// side effects.
bool signingIsRestricted();

// Returns true when the on-device safe may operate: the self-check holds and device-owner
// authentication can be evaluated now. Computed afresh on every call.
bool protectionAvailable(Authentication& authentication);

}  // namespace quorlen
