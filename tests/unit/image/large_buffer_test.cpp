// Sizing the big photo buffers: the huge-page advice must never change what
// the buffer holds.

#include "platform/image/large_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace corvenza::image {
namespace {

TEST(LargeBufferTest, GrowingKeepsTheContentAndZeroesTheRestAtEverySize) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  for (std::size_t size :
       {std::size_t{0}, std::size_t{1}, kMiB, 2 * kMiB - 1, 2 * kMiB, 5 * kMiB + 3}) {
    std::vector<std::uint8_t> buffer(100, 7);
    resizeLargeBuffer(buffer, size);
    ASSERT_EQ(buffer.size(), size);
    const std::size_t kept = std::min<std::size_t>(size, 100);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + kept, [](auto b) { return b == 7; }))
        << size;
    EXPECT_TRUE(std::all_of(buffer.begin() + kept, buffer.end(), [](auto b) { return b == 0; }))
        << size;
    // Writing to the last byte must be within the allocation (ASan checks).
    if (size > 0) buffer.back() = 1;
  }
}

}  // namespace
}  // namespace corvenza::image
