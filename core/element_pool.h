// Elements of tables and lists are not allocated one by one: every container draws them from an
// ElementPool shared by all containers whose elements have the same size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ElementPool {
 public:
  explicit ElementPool(size_t element_size);
  ~ElementPool();
  ElementPool(const ElementPool&) = delete;
  ElementPool& operator=(const ElementPool&) = delete;

  // A slot of element_size bytes, pointer-aligned; nullptr when no memory can be had.
  void* Allocate();
  // Gives a slot back to its block; a block whose slots have all come back is released.
  void Release(void* slot);
  // Releases every block at once; only for the last user of the pool, when every slot handed
  // out is its own (a table of a million entries then goes in a few hundred frees).
  void ReleaseAll();

  size_t element_size() const { return element_size_; }
  // The slot counts of the blocks currently held, oldest first (for tests and statistics).
  std::vector<uint32_t> BlockSizes() const;
  size_t slots_in_use() const { return in_use_; }

  // The size of the next block: 16 for the first, then one sixteenth of the slots the current
  // blocks hold together, rounded down to a multiple of 16, within [16, 65536].
  static uint32_t NextBlockSize(size_t slots_held);

 private:
  struct Block;
  Block* NewBlock();
  Block* BlockOf(const void* slot) const;
  void DropBlock(Block* block);

  size_t element_size_;
  size_t slot_size_;
  Block* blocks_ = nullptr;     // all blocks, newest first
  Block* available_ = nullptr;  // blocks with a free slot
  std::vector<Block*> by_address_;
  size_t slots_held_ = 0;
  size_t in_use_ = 0;
};

// The process-wide registry: one pool per element size, created on first use and released with
// the last container that uses it. Guarded by a recursive mutex.
ElementPool* AcquireElementPool(size_t element_size);
void ReleaseElementPool(ElementPool* pool);
