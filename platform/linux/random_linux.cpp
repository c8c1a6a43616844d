#include <sys/random.h>

#include <cerrno>

#include "platform/random.h"

namespace quorlen {

bool fillRandom(std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = getrandom(bytes.data() + done, bytes.size() - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace quorlen
