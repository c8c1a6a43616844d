#include <sys/mman.h>
#include <unistd.h>

#include "platform/secure_memory.h"

namespace quorlen {
namespace {

std::size_t pageRounded(std::size_t size) {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

}  // namespace

void* allocateSecretMemory(std::size_t size) {
    // Pages of its own, so locking and the dump exclusion cover this secret and nothing
    // else, and unlocking at release cannot unlock another secret's page.
    const std::size_t length = pageRounded(size);
    void* memory =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    ::madvise(memory, length, MADV_DONTDUMP);
    // Past the locked-memory limit the secret still works, only swappable.
    ::mlock(memory, length);
    return memory;
}

void freeSecretMemory(void* memory, std::size_t size) {
    if (memory == nullptr) return;
    const std::size_t length = pageRounded(size);
    ::munlock(memory, length);
    ::munmap(memory, length);
}

}  // namespace quorlen
