#pragma once

#include <memory>

#include "platform/authentication.h"
#include "platform/keychain.h"
#include "platform/pasteboard.h"
#include "platform/scheduler.h"
#include "platform/toolkit.h"

namespace quorlen {

// The real backends of the running operating system (in the windowed module, but
// makeSystemAuthentication, which the probes use too). Each returns a usable object, never
// null; an unreachable service shows up later as the status of its calls.

std::unique_ptr<Authentication> makeSystemAuthentication();
std::unique_ptr<Keychain> makeSystemKeychain();
// Creates the toolkit's application object; call once, on the main thread.
std::unique_ptr<Toolkit> makeSystemToolkit(int& argc, char** argv);
// Needs the toolkit made first.
std::unique_ptr<Pasteboard> makeSystemPasteboard();
// Needs the toolkit made first.
std::unique_ptr<Scheduler> makeSystemScheduler();

}  // namespace quorlen
