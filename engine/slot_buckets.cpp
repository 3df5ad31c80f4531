#include "engine/slot_buckets.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "core/key_hash.h"
#include "core/memory_advice.h"
#include "engine/temporary_space.h"

namespace {

// Blocks start small (most groups of a short list hold little) and grow to this size; a spilled
// group writes a block each time it fills.
constexpr size_t kFirstBlock = 512;
constexpr size_t kLastBlock = size_t{32} << 10;

}  // namespace

SlotBuckets::Block::Block(size_t bytes) {
  this->bytes = static_cast<unsigned char*>(std::malloc(bytes));
  if (this->bytes == nullptr) throw std::bad_alloc();
  capacity = bytes;
}

SlotBuckets::Block::Block(Block&& other) noexcept
    : bytes(std::exchange(other.bytes, nullptr)),
      size(std::exchange(other.size, 0)),
      capacity(std::exchange(other.capacity, 0)),
      borrowed(std::exchange(other.borrowed, false)) {}

SlotBuckets::Block& SlotBuckets::Block::operator=(Block&& other) noexcept {
  if (this != &other) {
    if (!borrowed) std::free(bytes);
    bytes = std::exchange(other.bytes, nullptr);
    size = std::exchange(other.size, 0);
    capacity = std::exchange(other.capacity, 0);
    borrowed = std::exchange(other.borrowed, false);
  }
  return *this;
}

SlotBuckets::Block::~Block() {
  if (!borrowed) std::free(bytes);
}

unsigned char* SlotBuckets::TakeFromArena(int lane, size_t bytes) {
  Arena& arena = arenas_[lane];
  bytes = (bytes + 63) & ~size_t{63};
  if (arena.left < bytes) {
    const size_t size = std::max(block_region_, bytes);
    void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) return nullptr;
    AdviseHugePages(region, size);
    arena.regions.emplace_back(static_cast<unsigned char*>(region), size);
    arena.next = static_cast<unsigned char*>(region);
    arena.left = size;
  }
  unsigned char* at = arena.next;
  arena.next += bytes;
  arena.left -= bytes;
  return at;
}

void SlotBuckets::DropArenas() {
  for (Arena& arena : arenas_) {
    for (auto& [base, size] : arena.regions) munmap(base, size);
    arena = Arena();
  }
}

SlotBuckets::SlotBuckets(bool keep_sequence, int lanes, size_t spill_block, size_t block_region)
    : keep_sequence_(keep_sequence),
      spill_block_(spill_block),
      block_region_(block_region),
      lanes_(static_cast<size_t>(lanes)),
      arenas_(static_cast<size_t>(lanes)) {}

const SlotBuckets::Group SlotBuckets::kNoGroup;

SlotBuckets::Group& SlotBuckets::MakeGroup(size_t lane, uint32_t g) {
  Lane& in = lanes_[lane];
  if (in.left == 0) {
    in.made.push_back(std::make_unique<Group[]>(kGroupChunk));
    in.left = kGroupChunk;
  }
  Group& group = in.made.back()[kGroupChunk - in.left--];
  // Room for the marks of a few runs: a short list is read in few.
  if (lanes_.size() > 1) {
    group.segment_ends.reserve(marks_[g] + 8);
    group.segment_ends.assign(marks_[g], 0);
  }
  in.groups[g] = &group;
  in.made_groups.push_back(g);
  return group;
}

void SlotBuckets::EndSegment() {
  // A run that added nothing to a group in any lane needs no mark there: a short list leaves
  // most groups empty, and a list read in many small runs would mark each of them every time.
  // Which groups a run added to is told by their counts, not noted at every item.
  GroupSet added_groups{};
  for (Lane& lane : lanes_) {
    for (uint32_t g : lane.made_groups) {
      Group& group = *lane.groups[g];
      if (group.items == group.items_marked) continue;
      group.items_marked = group.items;
      added_groups[g / 64] |= uint64_t{1} << (g % 64);
    }
  }
  for (size_t word = 0; word < kGroups / 64; ++word) {
    uint64_t added = added_groups[word];
    held_groups_[word] |= added;
    if (lanes_.size() == 1) continue;  // one lane holds its records in order already
    for (; added != 0; added &= added - 1) {
      const auto g =
          static_cast<uint32_t>(word * 64 + static_cast<size_t>(std::countr_zero(added)));
      for (Lane& lane : lanes_)
        if (Group* group = lane.groups[g]; group != nullptr)
          group->segment_ends.push_back(group->items);
      ++marks_[g];
    }
  }
}

SlotBuckets::~SlotBuckets() {
  if (spill_fd_ >= 0) close(spill_fd_);
  lanes_.clear();  // the blocks before the arenas they were cut from
  DropArenas();
}

void SlotBuckets::AddToNewBlock(int lane, Group& group, uint32_t slot, std::string_view item,
                                uint64_t sequence) {
  const bool wide = item.size() >= kWideSize;
  const size_t record = 1 + (wide ? 8 : 0) + (keep_sequence_ ? 8 : 0) + item.size();
  Block* block = group.last.capacity > 0 ? &group.last : nullptr;
  if (block == nullptr || block->capacity - block->size < record) {
    const bool spilled = spill_fd_ >= 0;
    // Spilled, a group holds one block: when full it goes to the file and is filled again.
    if (spilled && block != nullptr && !WriteOut(group, *block)) return;
    if (block == nullptr || !spilled || block->capacity < record) {
      size_t capacity = block == nullptr ? kFirstBlock : std::min(block->capacity * 2, kLastBlock);
      if (spilled) capacity = spill_block_;
      if (capacity < record) capacity = record;
      if (spilled && block != nullptr) {
        held_.fetch_sub(block->capacity, std::memory_order_relaxed);
        group.last = Block();
      }
      Block fresh;
      if (!spilled && block_region_ > 0) {
        fresh.bytes = TakeFromArena(lane, capacity);
        if (fresh.bytes == nullptr) throw std::bad_alloc();
        fresh.capacity = capacity;
        fresh.borrowed = true;
      } else {
        fresh = Block(capacity);
      }
      if (group.last.capacity > 0) group.full.push_back(std::move(group.last));
      group.last = std::move(fresh);
      block = &group.last;
      held_.fetch_add(capacity, std::memory_order_relaxed);
    }
  }
  unsigned char* at = block->bytes + block->size;
  *at++ = static_cast<unsigned char>((wide ? kWideSize : item.size()) << 1 | (slot & 1));
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
  if (!WriteWholeAt(spill_fd_, block.bytes, block.size, offset)) {
    failed_ = true;
    return false;
  }
  group.extents.push_back({offset, block.size});
  block.size = 0;
  return true;
}

bool SlotBuckets::Spill() {
  if (spill_fd_ >= 0) return true;
  spill_fd_ = UnnamedTemporaryFile();
  if (spill_fd_ < 0) return false;
  for (Lane& lane : lanes_) {
    for (Group* made : lane.groups) {
      if (made == nullptr) continue;
      Group& group = *made;
      bool written = true;
      size_t freed = 0;
      ForEachBlock(group, [&](Block& block) {
        written = written && WriteOut(group, block);
        freed += block.capacity;
      });
      if (!written) return false;
      held_.fetch_sub(freed, std::memory_order_relaxed);
      group.full.clear();
      group.last = Block();
    }
  }
  DropArenas();
  return true;
}

const unsigned char* SlotBuckets::ParseRecords(uint32_t g, const unsigned char* at,
                                               const unsigned char* end, size_t& count,
                                               const RecordsOut& out) const {
  const uint32_t first_slot = g * kSlotsPerGroup;
  const KeyHashSeed& seed = ProcessKeyHashSeed();
  const bool keys = out.keys[0] != nullptr;
  const bool records = out.with_records;
  for (; count > 0 && at < end; --count) {
    const unsigned head = *at++;
    uint64_t n = head >> 1;
    if (n == kWideSize) {
      std::memcpy(&n, at, sizeof n);
      at += sizeof n;
    }
    uint64_t sequence = 0;
    if (keep_sequence_) {
      std::memcpy(&sequence, at, sizeof sequence);
      at += sizeof sequence;
    }
    if (records) out.records[head & 1]->push_back({at, n, first_slot + (head & 1), sequence});
    *out.bytes[head & 1] += n;
    if (keys) out.keys[head & 1]->push_back({at, n, key_hash_detail::MixHash(at, n, seed)});
    at += n;
  }
  return at;
}

void SlotBuckets::ParseInto(uint32_t g, GroupRecords::RecordSpans& spans, size_t count,
                            const RecordsOut& out) const {
  for (; count > 0 && spans.next < spans.spans.size(); ++spans.next, spans.at = 0) {
    const auto [bytes, size] = spans.spans[spans.next];
    const unsigned char* at = ParseRecords(g, bytes + spans.at, bytes + size, count, out);
    if (at < bytes + size) {  // the count was reached within the span
      spans.at = static_cast<size_t>(at - bytes);
      return;
    }
  }
}

bool SlotBuckets::Load(uint32_t g, GroupRecords& out, LoadAs as) const {
  const bool slots_apart = as.slots_apart, keys = as.keys;
  const bool records = as.records || !keys;  // records are left out only for keys
  const size_t lanes = lanes_.size();
  out.bytes = 0;
  out.loaded.resize(lanes);
  out.lane_spans.resize(lanes);
  size_t items = 0;
  for (size_t k = 0; k < lanes; ++k) {
    const Group& group = GroupIn(k, g);
    items += group.items;
    GroupRecords::RecordSpans& spans = out.lane_spans[k];
    spans.spans.clear();
    spans.next = spans.at = 0;
    size_t spilled = 0;
    for (const Extent& extent : group.extents) spilled += extent.size;
    out.loaded[k].reset();
    if (spilled > 0) {
      out.loaded[k].reset(new unsigned char[spilled]);
      size_t at = 0;
      for (const Extent& extent : group.extents) {
        if (!ReadWholeAt(spill_fd_, out.loaded[k].get() + at, extent.size, extent.offset))
          return false;
        at += extent.size;
      }
      spans.spans.emplace_back(out.loaded[k].get(), spilled);
    }
    ForEachBlock(group,
                 [&](const Block& block) { spans.spans.emplace_back(block.bytes, block.size); });
  }
  // Run by run, the records of each lane in turn, each lane read on from where it stopped.
  out.records.clear();
  if (records) ReserveScratch(out.records, items);
  out.second_slot.clear();
  out.second_bytes = 0;
  out.keys.clear();
  out.second_keys.clear();
  out.keyed = keys;
  if (keys) ReserveScratch(out.keys, items);
  ScratchVector<ByteRecord>* second = slots_apart ? &out.second_slot : &out.records;
  ScratchVector<GroupKey>* second_keys = slots_apart ? &out.second_keys : &out.keys;
  const RecordsOut to{{&out.records, second},
                      {&out.bytes, slots_apart ? &out.second_bytes : &out.bytes},
                      {keys ? &out.keys : nullptr, keys ? second_keys : nullptr},
                      records};
  std::vector<size_t>& from = out.lane_taken;
  from.assign(lanes, 0);
  const size_t runs = marks_[g];
  for (size_t run = 0; run < runs; ++run) {
    for (size_t k = 0; k < lanes; ++k) {
      const size_t end = SegmentEnd(k, g, run);
      ParseInto(g, out.lane_spans[k], end - from[k], to);
      from[k] = end;
    }
  }
  for (size_t k = 0; k < lanes; ++k)  // records after the last mark, were there any
    ParseInto(g, out.lane_spans[k], SIZE_MAX, to);
  return true;
}

uint64_t SlotBuckets::GroupBytes(uint32_t g) const {
  uint64_t bytes = 0;
  for (size_t k = 0; k < lanes_.size(); ++k) {
    const Group& group = GroupIn(k, g);
    for (const Extent& extent : group.extents) bytes += extent.size;
    ForEachBlock(group, [&](const Block& block) { bytes += block.size; });
  }
  return bytes;
}

bool SlotBuckets::ForEachRecord(uint32_t g,
                                const std::function<void(const ByteRecord&, size_t)>& fn) const {
  // Each lane is read an extent or a block at a time, in the lane's order.
  struct LaneReader {
    const Group* group;
    size_t extent = 0, block = 0;
    std::unique_ptr<unsigned char[]> buffer;
    size_t buffer_size = 0;
    ScratchVector<ByteRecord> records;
    size_t next = 0;
  };
  std::vector<LaneReader> readers(lanes_.size());
  for (size_t k = 0; k < lanes_.size(); ++k) readers[k].group = &GroupIn(k, g);
  auto next_record = [&](LaneReader& r, const ByteRecord*& record) {
    while (r.next == r.records.size()) {
      r.records.clear();
      r.next = 0;
      size_t unused = 0;
      size_t all = SIZE_MAX;  // a block's records, however many
      const RecordsOut to{{&r.records, &r.records}, {&unused, &unused}, {nullptr, nullptr}, true};
      if (r.extent < r.group->extents.size()) {
        const Extent& extent = r.group->extents[r.extent++];
        if (extent.size > r.buffer_size) {
          r.buffer.reset(new unsigned char[extent.size]);
          r.buffer_size = extent.size;
        }
        if (!ReadWholeAt(spill_fd_, r.buffer.get(), extent.size, extent.offset)) return false;
        ParseRecords(g, r.buffer.get(), r.buffer.get() + extent.size, all, to);
      } else if (r.block < BlockCount(*r.group)) {
        const Block& block = BlockAt(*r.group, r.block++);
        ParseRecords(g, block.bytes, block.bytes + block.size, all, to);
      } else {
        record = nullptr;
        return true;
      }
    }
    record = &r.records[r.next++];
    return true;
  };
  size_t index = 0;
  std::vector<size_t> taken(lanes_.size(), 0);
  // Run by run, the records of each lane in turn; then what came after the last mark.
  const size_t runs = marks_[g];
  for (size_t run = 0; run <= runs; ++run) {
    for (size_t k = 0; k < lanes_.size(); ++k) {
      const size_t end = run < runs ? SegmentEnd(k, g, run) : GroupIn(k, g).items;
      for (; taken[k] < end; ++taken[k]) {
        const ByteRecord* record = nullptr;
        if (!next_record(readers[k], record) || record == nullptr) return false;
        fn(*record, index++);
      }
    }
  }
  return true;
}

void SlotBuckets::Release(uint32_t g) {
  marks_[g] = 0;
  for (Lane& lane : lanes_) {
    if (lane.groups[g] == nullptr) continue;
    Group& group = *lane.groups[g];
    size_t freed = 0;
    ForEachBlock(group, [&](const Block& block) { freed += block.capacity; });
    held_.fetch_sub(freed, std::memory_order_relaxed);
    std::vector<Block>().swap(group.full);
    group.last = Block();
    std::vector<Extent>().swap(group.extents);
    std::vector<size_t>().swap(group.segment_ends);
  }
}
