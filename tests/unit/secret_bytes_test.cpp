#include "platform/secret_bytes.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

namespace quorlen {
namespace {

TEST(SecretBytes, WipeZeroesTheWholeLengthAndMoveLeavesNoOwner) {
    SecretBytes secret = SecretBytes::copyOf(std::string_view("correct horse"));
    ASSERT_EQ(secret.size(), 13u);
    const std::uint8_t* storage = secret.data();

    SecretBytes moved = std::move(secret);
    EXPECT_TRUE(secret.empty());
    EXPECT_EQ(moved.data(), storage);

    moved.wipe();
    EXPECT_EQ(moved.size(), 13u);
    for (std::uint8_t b : moved.bytes()) EXPECT_EQ(b, 0);
    moved.release();
    EXPECT_TRUE(moved.empty());
    EXPECT_EQ(moved.data(), nullptr);
}

// The VmFlags of the mapping that holds `address`, from /proc/self/smaps.
std::string mappingFlags(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    while (std::getline(smaps, line)) {
        std::uintptr_t start = 0, end = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> start >> dash >> end && dash == '-') {
            inside = start <= at && at < end;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return {};
}

TEST(SecretBytes, LiveOutsideCoreDumpsAndSwap) {
    SecretBytes secret = SecretBytes::copyOf(std::string_view("kept out of dumps"));
    const std::string flags = mappingFlags(secret.data());
    EXPECT_NE(flags.find(" dd"), std::string::npos) << flags;
    struct rlimit memlock {};
    ASSERT_EQ(getrlimit(RLIMIT_MEMLOCK, &memlock), 0);
    if (memlock.rlim_cur >= 4096) {
        EXPECT_NE(flags.find(" lo"), std::string::npos) << flags;
    }
}

}  // namespace
}  // namespace quorlen
