#include "core/huge_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

// Vectors grow from heap blocks into mapped huge pages and back to smaller ones; what they hold
// must come through every move, and every byte of what was asked for must be usable.
TEST(HugeMemoryTest, KeepsContentsAcrossEverySize) {
  ScratchVector<uint32_t> numbers;
  for (uint32_t n = 0; n < (3u << 20); ++n) numbers.push_back(n * 2654435761u);
  for (uint32_t n = 0; n < numbers.size(); n += 4099) ASSERT_EQ(numbers[n], n * 2654435761u);
  ScratchVector<uint32_t> moved = std::move(numbers);
  moved.resize(100);
  moved.shrink_to_fit();
  EXPECT_EQ(moved[99], 99u * 2654435761u);
  for (size_t size : {size_t{0}, size_t{1}, (size_t{1} << 20) - 1, size_t{1} << 20,
                      (size_t{2} << 20) + 1, size_t{5} << 20}) {
    ScratchBytes bytes(size);
    if (size > 0) {
      std::memset(bytes.get(), 0x5A, size);
      EXPECT_EQ(bytes.get()[size - 1], 0x5A) << size;
    }
    ScratchBytes taken = std::move(bytes);
    EXPECT_EQ(bytes.get(), nullptr);
  }
}

}  // namespace
