#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/element_pool.h"

TEST(ElementPool, BlocksGrowByOneSixteenthOfWhatIsHeld) {
  const struct {
    size_t held;
    uint32_t next;
  } cases[] = {
      {0, 16},    {16, 16},      {255, 16},        {512, 32},
      {1000, 48}, {16384, 1024}, {1 << 20, 65536}, {size_t{1} << 30, 65536},
  };
  for (const auto& c : cases) EXPECT_EQ(ElementPool::NextBlockSize(c.held), c.next) << c.held;
}

TEST(ElementPool, HandsOutDistinctSlotsAndDropsEmptyBlocks) {
  ElementPool pool(24);
  std::vector<void*> slots;
  for (int n = 0; n < 1000; ++n) slots.push_back(pool.Allocate());
  std::vector<uint32_t> sizes = pool.BlockSizes();
  uint32_t total = 0;
  for (size_t k = 0; k < sizes.size(); ++k) {
    EXPECT_EQ(sizes[k], ElementPool::NextBlockSize(total)) << k;
    total += sizes[k];
  }
  EXPECT_GE(total, 1000u);
  // Every slot is usable on its own.
  for (size_t k = 0; k < slots.size(); ++k) std::memset(slots[k], static_cast<int>(k), 24);
  for (size_t k = 0; k < slots.size(); ++k)
    ASSERT_EQ(static_cast<unsigned char*>(slots[k])[23], static_cast<unsigned char>(k));
  // The first 16 slots fill the first block; giving them back releases it.
  const size_t blocks = sizes.size();
  for (int n = 0; n < 16; ++n) pool.Release(slots[n]);
  EXPECT_EQ(pool.BlockSizes().size(), blocks - 1);
  for (size_t k = 16; k < slots.size(); ++k) pool.Release(slots[k]);
  EXPECT_TRUE(pool.BlockSizes().empty());
  EXPECT_EQ(pool.slots_in_use(), 0u);
}

TEST(ElementPool, RegistryHasOnePoolPerElementSizeWhileUsed) {
  ElementPool* a = AcquireElementPool(40);
  ElementPool* b = AcquireElementPool(40);
  ElementPool* c = AcquireElementPool(56);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  ReleaseElementPool(c);
  ReleaseElementPool(b);
  void* slot = a->Allocate();  // still held by the first user
  a->Release(slot);
  ReleaseElementPool(a);
}
