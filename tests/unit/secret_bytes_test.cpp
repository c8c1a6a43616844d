#include "platform/secret_bytes.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quorlen
