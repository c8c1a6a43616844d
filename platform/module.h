#pragma once

#include <string_view>

namespace quorlen {

// The entry the windowed module exports: runs the application; returns its exit status.
using WindowedEntry = int (*)(int argc, char** argv);
inline constexpr const char* kWindowedEntryName = "quorlen_run_windowed";

// The exit status when the windowed module cannot be loaded.
inline constexpr int kModuleMissingStatus = 70;

// Loads the module at `relativePath`, taken from the folder of the running executable,
// and runs its windowed entry; returns the entry's status, or kModuleMissingStatus when
// the module or its entry cannot be loaded.
int runWindowedModule(std::string_view relativePath, int argc, char** argv);

}  // namespace quorlen
