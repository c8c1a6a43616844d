#pragma once

namespace quorlen {

// Makes the process non-dumpable and sets its core-file limit to 0. Returns true when both
// took effect.
bool hardenProcess();

// Returns true when the running program is the trusted installed build: not run by root,
// hardened by hardenProcess, and every executable mapping (program and libraries) comes
// from a root-owned file that only root can change, in root-owned directories. False
// otherwise, including when anything cannot be checked. Writes nothing.
bool codeIntegrityHolds();

}  // namespace quorlen
