#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "platform/module.h"

namespace quorlen {

int runWindowedModule(std::string_view relativePath, int argc, char** argv) {
    // The module is found beside the executable's real location, never through the
    // library search path or the environment.
    char executable[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
    if (length <= 0) return kModuleMissingStatus;
    std::string path(executable, static_cast<std::size_t>(length));
    path.resize(path.find_last_of('/') + 1);
    path += relativePath;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return kModuleMissingStatus;
    auto entry = reinterpret_cast<WindowedEntry>(::dlsym(module, kWindowedEntryName));
    if (entry == nullptr) return kModuleMissingStatus;
    // The module stays loaded until the process ends.
    return entry(argc, argv);
}

}  // namespace quorlen
