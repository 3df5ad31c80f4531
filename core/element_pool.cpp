#include "core/element_pool.h"

#include "core/memory_advice.h"

#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <new>

namespace {

// A free slot holds the link to the next free slot of its block; a slot in use is all element.
struct FreeSlot {
  void* next_free;
};
constexpr size_t kAlign = alignof(void*);  // every element of this program is pointer-aligned

}  // namespace

struct ElementPool::Block {
  Block* next = nullptr;  // in blocks_
  Block* prev = nullptr;
  Block* next_available = nullptr;
  Block* prev_available = nullptr;
  bool listed_available = false;
  uint32_t capacity = 0;
  uint32_t handed_out = 0;
  uint32_t never_used = 0;  // slots from this index on were never handed out
  void* free_list = nullptr;
  unsigned char* slots = nullptr;
};

uint32_t ElementPool::NextBlockSize(size_t slots_held) {
  if (slots_held == 0) return 16;
  size_t size = slots_held / 16 / 16 * 16;
  return static_cast<uint32_t>(std::clamp<size_t>(size, 16, 65536));
}

ElementPool::ElementPool(size_t element_size) : element_size_(element_size) {
  const size_t raw = std::max(element_size, sizeof(FreeSlot));
  slot_size_ = (raw + kAlign - 1) / kAlign * kAlign;
}

ElementPool::Block* ElementPool::BlockOf(const void* slot) const {
  // The blocks sorted by address: the last one starting at or below the slot holds it.
  auto it = std::upper_bound(by_address_.begin(), by_address_.end(), slot,
                             [](const void* p, const Block* b) { return p < b->slots; });
  if (it == by_address_.begin()) return nullptr;
  Block* block = *(it - 1);
  const auto* p = static_cast<const unsigned char*>(slot);
  return p < block->slots + static_cast<size_t>(block->capacity) * slot_size_ ? block : nullptr;
}

ElementPool::~ElementPool() {
  while (blocks_ != nullptr) DropBlock(blocks_);
}

ElementPool::Block* ElementPool::NewBlock() {
  const uint32_t capacity = NextBlockSize(slots_held_);
  auto* block = new (std::nothrow) Block;
  if (block == nullptr) return nullptr;
  const size_t bytes = slot_size_ * capacity;
  // The largest blocks start on a huge-page boundary so that the system can back them with huge
  // pages: a table of millions of entries then costs far fewer address-translation misses.
  // Only whole huge pages inside the block are asked for, so no memory is wasted on rounding.
  constexpr size_t kHuge = size_t{2} << 20;
  const bool huge = bytes >= kHuge;
  void* memory = nullptr;
  if (posix_memalign(&memory, huge ? kHuge : kAlign, bytes) != 0) memory = nullptr;
  block->slots = static_cast<unsigned char*>(memory);
  if (huge && memory != nullptr) AdviseHugePages(memory, bytes);
  if (block->slots == nullptr) {
    delete block;
    return nullptr;
  }
  block->capacity = capacity;
  by_address_.insert(
      std::upper_bound(by_address_.begin(), by_address_.end(), block,
                       [](const Block* a, const Block* b) { return a->slots < b->slots; }),
      block);
  block->next = blocks_;
  if (blocks_ != nullptr) blocks_->prev = block;
  blocks_ = block;
  slots_held_ += capacity;
  return block;
}

void ElementPool::DropBlock(Block* block) {
  if (block->listed_available) {
    if (block->prev_available)
      block->prev_available->next_available = block->next_available;
    else
      available_ = block->next_available;
    if (block->next_available) block->next_available->prev_available = block->prev_available;
  }
  if (block->prev)
    block->prev->next = block->next;
  else
    blocks_ = block->next;
  if (block->next) block->next->prev = block->prev;
  slots_held_ -= block->capacity;
  by_address_.erase(std::find(by_address_.begin(), by_address_.end(), block));
  std::free(block->slots);
  delete block;
}

void* ElementPool::Allocate() {
  Block* block = available_;
  if (block == nullptr) {
    block = NewBlock();
    if (block == nullptr) return nullptr;
    block->listed_available = true;
    block->next_available = available_;
    if (available_) available_->prev_available = block;
    available_ = block;
  }
  unsigned char* slot;
  if (block->free_list != nullptr) {
    slot = static_cast<unsigned char*>(block->free_list);
    block->free_list = reinterpret_cast<FreeSlot*>(slot)->next_free;
  } else {
    slot = block->slots + static_cast<size_t>(block->never_used++) * slot_size_;
  }
  ++block->handed_out;
  ++in_use_;
  if (block->free_list == nullptr && block->never_used == block->capacity) {
    // Full: off the list of blocks that can hand out slots.
    available_ = block->next_available;
    if (available_) available_->prev_available = nullptr;
    block->listed_available = false;
    block->next_available = block->prev_available = nullptr;
  }
  return slot;
}

void ElementPool::Release(void* slot) {
  if (slot == nullptr) return;
  Block* block = BlockOf(slot);
  if (block == nullptr) return;
  --in_use_;
  if (--block->handed_out == 0) {
    DropBlock(block);
    return;
  }
  reinterpret_cast<FreeSlot*>(slot)->next_free = block->free_list;
  block->free_list = slot;
  if (!block->listed_available) {
    block->listed_available = true;
    block->prev_available = nullptr;
    block->next_available = available_;
    if (available_) available_->prev_available = block;
    available_ = block;
  }
}

void ElementPool::ReleaseAll() {
  while (blocks_ != nullptr) DropBlock(blocks_);
  available_ = nullptr;
  in_use_ = 0;
}

std::vector<uint32_t> ElementPool::BlockSizes() const {
  std::vector<uint32_t> sizes;
  for (Block* b = blocks_; b != nullptr; b = b->next) sizes.push_back(b->capacity);
  std::reverse(sizes.begin(), sizes.end());
  return sizes;
}

namespace {

struct Registry {
  pthread_mutex_t mutex;
  std::map<size_t, std::pair<ElementPool*, size_t>> pools;  // size -> pool, users
};

pthread_once_t registry_once = PTHREAD_ONCE_INIT;
Registry* registry = nullptr;

void CreateRegistry() {
  registry = new Registry;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&registry->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

class RegistryLock {
 public:
  RegistryLock() {
    pthread_once(&registry_once, CreateRegistry);
    pthread_mutex_lock(&registry->mutex);
  }
  ~RegistryLock() { pthread_mutex_unlock(&registry->mutex); }
};

}  // namespace

ElementPool* AcquireElementPool(size_t element_size) {
  RegistryLock lock;
  auto& [pool, users] = registry->pools[element_size];
  if (pool == nullptr) {
    pool = new (std::nothrow) ElementPool(element_size);
    if (pool == nullptr) {
      registry->pools.erase(element_size);
      return nullptr;
    }
  }
  ++users;
  return pool;
}

void ReleaseElementPool(ElementPool* pool) {
  if (pool == nullptr) return;
  RegistryLock lock;
  auto it = registry->pools.find(pool->element_size());
  if (it == registry->pools.end() || it->second.first != pool) return;
  if (--it->second.second == 0) {
    delete pool;
    registry->pools.erase(it);
  }
}
