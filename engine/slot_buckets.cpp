#include "engine/slot_buckets.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

// Blocks start small (most groups of a short list hold little) and grow to this size; a spilled
// group writes a block each time it fills.
constexpr size_t kFirstBlock = size_t{4} << 10;
constexpr size_t kLastBlock = size_t{256} << 10;
constexpr size_t kSpillBlock = size_t{32} << 10;

bool WriteAll(int fd, const unsigned char* bytes, size_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t put = pwrite(fd, bytes, size, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    size -= static_cast<size_t>(put);
    offset += static_cast<uint64_t>(put);
  }
  return true;
}

bool ReadAll(int fd, unsigned char* bytes, size_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t got = pread(fd, bytes, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

}  // namespace

SpillDirectory::~SpillDirectory() {
  Remove();
}

void SpillDirectory::Remove() {
  if (path_.empty()) return;
  // Its files were unlinked when made; anything else in it is ours too.
  if (DIR* dir = opendir(path_.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((path_ + "/" + name).c_str());
    }
    closedir(dir);
  }
  rmdir(path_.c_str());
  path_.clear();
}

int SpillDirectory::CreateFile() {
  if (path_.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = base != nullptr && base[0] != '\0' ? base : "/tmp";
    pattern.append("/listwise-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) return -1;  // made with mode 0700
    path_ = pattern;
  }
  std::string name = path_;
  name.append("/spill-XXXXXX");
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

SlotBuckets::Block::Block(size_t bytes) {
  this->bytes = static_cast<unsigned char*>(std::malloc(bytes));
  if (this->bytes == nullptr) throw std::bad_alloc();
  capacity = bytes;
}

SlotBuckets::Block::Block(Block&& other) noexcept
    : bytes(std::exchange(other.bytes, nullptr)),
      size(std::exchange(other.size, 0)),
      capacity(std::exchange(other.capacity, 0)) {}

SlotBuckets::Block& SlotBuckets::Block::operator=(Block&& other) noexcept {
  if (this != &other) {
    std::free(bytes);
    bytes = std::exchange(other.bytes, nullptr);
    size = std::exchange(other.size, 0);
    capacity = std::exchange(other.capacity, 0);
  }
  return *this;
}

SlotBuckets::Block::~Block() {
  std::free(bytes);
}

SlotBuckets::SlotBuckets(bool keep_sequence) : keep_sequence_(keep_sequence), groups_(kGroups) {}

SlotBuckets::~SlotBuckets() {
  if (spill_fd_ >= 0) close(spill_fd_);
}

void SlotBuckets::AddToNewBlock(uint32_t slot, std::string_view item, uint64_t sequence) {
  Group& group = groups_[GroupOf(slot)];
  const bool wide = item.size() >= kWideSize;
  const size_t record = sizeof(uint32_t) + (wide ? sizeof(uint64_t) : 0) +
                        (keep_sequence_ ? sizeof(uint64_t) : 0) + item.size();
  Block* block = group.blocks.empty() ? nullptr : &group.blocks.back();
  if (block == nullptr || block->capacity - block->size < record) {
    const bool spilled = spill_fd_ >= 0;
    // Spilled, a group holds one block: when full it goes to the file and is filled again.
    if (spilled && block != nullptr && !WriteOut(group, *block)) return;
    if (block == nullptr || !spilled || block->capacity < record) {
      size_t capacity = block == nullptr ? kFirstBlock : std::min(block->capacity * 2, kLastBlock);
      if (spilled) capacity = kSpillBlock;
      if (capacity < record) capacity = record;
      if (spilled && block != nullptr) {
        held_.fetch_sub(block->capacity, std::memory_order_relaxed);
        group.blocks.pop_back();
      }
      group.blocks.emplace_back(capacity);
      block = &group.blocks.back();
      held_.fetch_add(capacity, std::memory_order_relaxed);
    }
  }
  unsigned char* at = block->bytes + block->size;
  const uint32_t head = (wide ? kWideSize : static_cast<uint32_t>(item.size())) | slot
                                                                                      << kSlotShift;
  std::memcpy(at, &head, sizeof head);
  at += sizeof head;
  if (wide) {
    const uint64_t size = item.size();
    std::memcpy(at, &size, sizeof size);
    at += sizeof size;
  }
  if (keep_sequence_) {
    std::memcpy(at, &sequence, sizeof sequence);
    at += sizeof sequence;
  }
  std::memcpy(at, item.data(), item.size());
  block->size += record;
  ++group.items;
}

bool SlotBuckets::WriteOut(Group& group, Block& block) {
  if (block.size == 0) return true;
  const uint64_t offset = spill_end_.fetch_add(block.size);
  if (!WriteAll(spill_fd_, block.bytes, block.size, offset)) {
    failed_ = true;
    return false;
  }
  group.extents.push_back({offset, block.size});
  block.size = 0;
  return true;
}

bool SlotBuckets::Spill(SpillDirectory& directory) {
  if (spill_fd_ >= 0) return true;
  spill_fd_ = directory.CreateFile();
  if (spill_fd_ < 0) return false;
  for (Group& group : groups_) {
    for (Block& block : group.blocks)
      if (!WriteOut(group, block)) return false;
    size_t freed = 0;
    for (const Block& block : group.blocks) freed += block.capacity;
    held_.fetch_sub(freed, std::memory_order_relaxed);
    group.blocks.clear();
  }
  return true;
}

void SlotBuckets::ParseInto(const unsigned char* bytes, size_t size, GroupRecords& out) const {
  const unsigned char* at = bytes;
  const unsigned char* end = bytes + size;
  while (at < end) {
    uint32_t head;
    std::memcpy(&head, at, sizeof head);
    at += sizeof head;
    uint64_t n = head & kSizeMask;
    if (n == kWideSize) {
      std::memcpy(&n, at, sizeof n);
      at += sizeof n;
    }
    uint64_t sequence = 0;
    if (keep_sequence_) {
      std::memcpy(&sequence, at, sizeof sequence);
      at += sizeof sequence;
    }
    out.records.push_back({at, n, head >> kSlotShift, sequence});
    out.bytes += n;
    at += n;
  }
}

bool SlotBuckets::Load(uint32_t g, GroupRecords& out) const {
  const Group& group = groups_[g];
  out.records.clear();
  out.records.reserve(group.items);
  out.bytes = 0;
  size_t spilled = 0;
  for (const Extent& extent : group.extents) spilled += extent.size;
  if (spilled > 0) {
    out.loaded.reset(new unsigned char[spilled]);
    size_t at = 0;
    for (const Extent& extent : group.extents) {
      if (!ReadAll(spill_fd_, out.loaded.get() + at, extent.size, extent.offset)) return false;
      at += extent.size;
    }
    ParseInto(out.loaded.get(), spilled, out);
  }
  for (const Block& block : group.blocks) ParseInto(block.bytes, block.size, out);
  return true;
}

void SlotBuckets::Release(uint32_t g) {
  Group& group = groups_[g];
  size_t freed = 0;
  for (const Block& block : group.blocks) freed += block.capacity;
  held_.fetch_sub(freed, std::memory_order_relaxed);
  std::vector<Block>().swap(group.blocks);
  std::vector<Extent>().swap(group.extents);
}
