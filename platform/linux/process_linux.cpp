#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"

namespace quorlen {
namespace {

// Only root may change a file or folder that passes: owned by root, not writable by the
// group or by others.
bool onlyRootCanChange(const struct stat& info) {
    return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Every folder from `path`'s parent up to the root must pass, or the file can be swapped.
// Folders already found to pass are in `passed`; most libraries share theirs.
bool foldersOnlyRootCanChange(std::string path, std::set<std::string>& passed) {
    std::vector<std::string> checked;
    while (true) {
        auto slash = path.find_last_of('/');
        if (slash == std::string::npos) return false;
        path.resize(slash == 0 ? 1 : slash);
        if (passed.count(path) != 0) break;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            !onlyRootCanChange(info)) {
            return false;
        }
        checked.push_back(path);
        if (path == "/") break;
    }
    passed.insert(checked.begin(), checked.end());
    return true;
}

// One line of /proc/self/maps: "start-end perms offset major:minor inode path".
bool mappingIsTrusted(const std::string& line, bool& executableFile,
                      std::set<std::string>& passedFolders) {
    std::istringstream fields(line);
    std::string range, perms, offset, device;
    unsigned long long inode = 0;
    fields >> range >> perms >> offset >> device >> inode;
    std::string path;
    std::getline(fields >> std::ws, path);
    executableFile = false;
    if (perms.size() < 3 || perms[2] != 'x') return true;
    if (path.empty() || path[0] != '/') {
        // Anonymous executable memory, or a pseudo-file other than the vDSO's, is code
        // that came from no installed file.
        return path == "[vdso]" || path == "[vsyscall]";
    }
    executableFile = true;
    unsigned major = 0, minor = 0;
    if (std::sscanf(device.c_str(), "%x:%x", &major, &minor) != 2) return false;
    struct stat info {};
    // A path that no longer names the mapped file (replaced or deleted) is not trusted.
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (info.st_dev != makedev(major, minor) || info.st_ino != inode) return false;
    return onlyRootCanChange(info) && foldersOnlyRootCanChange(path, passedFolders);
}

}  // namespace

bool hardenProcess() {
    const bool undumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    const struct rlimit none { 0, 0 };
    const bool noCore = ::setrlimit(RLIMIT_CORE, &none) == 0;
    return undumpable && noCore;
}

bool codeIntegrityHolds() {
    if (::getuid() == 0 || ::geteuid() == 0) return false;
    if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) return false;
    struct rlimit core {};
    if (::getrlimit(RLIMIT_CORE, &core) != 0 || core.rlim_cur != 0) return false;

    std::ifstream maps("/proc/self/maps");
    if (!maps) return false;
    std::string line;
    bool sawProgram = false;
    std::set<std::string> passedFolders;
    while (std::getline(maps, line)) {
        bool executableFile = false;
        if (!mappingIsTrusted(line, executableFile, passedFolders)) return false;
        sawProgram = sawProgram || executableFile;
    }
    return sawProgram;
}

}  // namespace quorlen
