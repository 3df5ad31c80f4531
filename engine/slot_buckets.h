// The items of a source as UTF-8 records, grouped by the table slot of their key.
//
// The walk of a 512-slot table is slot order, so an operation can take the slots a group at a
// time: the records of one group, in the order of the source, are all it needs to build that
// part of its tables and emit that part of its result. A group is a few megabytes at most for
// lists that fit in memory, so its tables stay in the caches; and when the lists do not fit, the
// groups go to temporary files and come back one at a time.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/huge_memory.h"

struct ByteRecord {
  const unsigned char* data;
  size_t size;
  uint32_t slot;
  uint64_t sequence;  // the item's place in its source, when the buckets keep it
};

// A record's key, and its seeded hash.
struct GroupKey {
  const unsigned char* data;
  size_t size;
  uint64_t hash;
};

// The records of one group, in the order of the source; valid while the object lives.
struct GroupRecords {
  ScratchVector<ByteRecord> records;
  size_t bytes = 0;  // of the items together
  // Loaded with the slots apart, the records of the group's second slot, and `records` those of
  // its first.
  ScratchVector<ByteRecord> second_slot;
  size_t second_bytes = 0;
  // Loaded with keys, each record's item as its key, for `records` and for `second_slot` (both
  // empty when the records were left out).
  ScratchVector<GroupKey> keys;
  ScratchVector<GroupKey> second_keys;
  bool keyed = false;                                    // loaded with keys
  std::vector<std::unique_ptr<unsigned char[]>> loaded;  // a spilled group's bytes, per lane
  // Scratch: the bytes of each lane's records, block by block, and how far they were read.
  struct RecordSpans {
    std::vector<std::pair<const unsigned char*, size_t>> spans;
    size_t next = 0;  // the span being read
    size_t at = 0;    // in it
  };
  std::vector<RecordSpans> lane_spans;
  std::vector<size_t> lane_taken;  // scratch: of each lane's records
};

// What SlotBuckets::Load makes of a group's records.
struct LoadAs {
  bool slots_apart = false;  // those of the group's second slot to GroupRecords::second_slot
  bool keys = false;         // each item hashed as its key as it is parsed, its bytes just read
  bool records = true;       // with keys, the records may be left out
};

class SlotBuckets {
 public:
  static constexpr uint32_t kSlots = 512;
  static constexpr uint32_t kGroups = 256;
  static constexpr uint32_t kSlotsPerGroup = kSlots / kGroups;

  // `lanes` threads may add at once, each to its own lane. Spilled, each group of each lane keeps
  // one block of `spill_block` bytes in memory. With `block_region` set, blocks are cut from
  // regions of that size until the buckets spill.
  SlotBuckets(bool keep_sequence, int lanes, size_t spill_block = size_t{32} << 10,
              size_t block_region = 0);
  ~SlotBuckets();
  SlotBuckets(const SlotBuckets&) = delete;
  SlotBuckets& operator=(const SlotBuckets&) = delete;

  static uint32_t GroupOf(uint32_t slot) { return slot / kSlotsPerGroup; }

  // Appends an item to the group of its slot in the lane. The lanes take the parts of a run at
  // once, each from its own thread, lane 0 the earliest part; EndSegment after each run keeps
  // their order. Calls for distinct lanes may run at once. `readable`: how many bytes may be read
  // from the item's start (at least its size).
  void Add(int lane, uint32_t slot, std::string_view item, uint64_t sequence, size_t readable) {
    const uint32_t g = GroupOf(slot);
    Group* made = lanes_[lane].groups[g];
    if (made == nullptr) [[unlikely]]
      made = &MakeGroup(static_cast<size_t>(lane), g);
    Group& group = *made;
    // Most items fit in the group's last block (a group with none yet has no room).
    Block& block = group.last;
    const bool wide = item.size() >= kWideSize;
    const size_t record = 1 + (wide ? 8 : 0) + (keep_sequence_ ? 8 : 0) + item.size();
    if (block.capacity - block.size >= record) {
      unsigned char* at = block.bytes + block.size;
      *at++ = static_cast<unsigned char>((wide ? kWideSize : item.size()) << 1 | (slot & 1));
      if (wide) {
        const uint64_t size = item.size();
        std::memcpy(at, &size, 8);
        at += 8;
      }
      if (keep_sequence_) {
        std::memcpy(at, &sequence, 8);
        at += 8;
      }
      // A short item is copied as a whole block of fixed size, in a few moves rather than a
      // call; what follows it in the block is overwritten by the next record or never read.
      if (item.size() <= kShortItem && readable >= kShortItem &&
          block.capacity - block.size >= record + kShortItem)
        std::memcpy(at, item.data(), kShortItem);
      else
        std::memcpy(at, item.data(), item.size());
      // The group's next records go a few cache lines on: fresh memory, and with 256 groups
      // filled at once no prefetcher follows them. Asked for now, the lines are there by then.
      __builtin_prefetch(at + kFetchAhead, 1);
      block.size += record;
      ++group.items;
      return;
    }
    AddToNewBlock(lane, group, slot, item, sequence);
  }
  // Marks the end of a run: its records come lane by lane, and all before those of the next run.
  void EndSegment();
  // The groups that hold records as of the last EndSegment: bit g % 64 of word g / 64.
  using GroupSet = std::array<uint64_t, kGroups / 64>;
  const GroupSet& held_groups() const { return held_groups_; }
  int lanes() const { return static_cast<int>(lanes_.size()); }
  // Bytes held in memory by all groups.
  size_t held_bytes() const { return held_.load(std::memory_order_relaxed); }
  bool spilled() const { return spill_fd_ >= 0; }
  bool keeps_sequence() const { return keep_sequence_; }
  size_t spill_block() const { return spill_block_; }
  size_t block_region() const { return block_region_; }
  // From now on the records go to a file in `directory`; what is held moves there first. False
  // when the file cannot be made or written (the records stay as they were).
  bool Spill();
  // A write to the spill file failed: the records are incomplete.
  bool failed() const { return failed_.load(); }

  // The records of group g, made as `as` says; false when a spilled group cannot be read back.
  bool Load(uint32_t g, GroupRecords& out, LoadAs as = {}) const;
  // The bytes group g holds, in memory and in the spill file.
  uint64_t GroupBytes(uint32_t g) const;
  // Calls fn(record, index) for each record of group g in the order of the source, its index
  // counting from 0, reading a spilled group a piece at a time rather than whole. A record's bytes
  // are valid only during the call. False when the group cannot be read back.
  bool ForEachRecord(uint32_t g, const std::function<void(const ByteRecord&, size_t)>& fn) const;
  // Frees the memory of group g (once its part of the result is made).
  void Release(uint32_t g);

 private:
  // Under a limit on address space the run has the heap map large blocks on their own (see
  // PlanRun), so that a block freed once its records went to the spill file gives its space back.
  struct Block {
    Block() = default;
    explicit Block(size_t bytes);
    Block(Block&& other) noexcept;
    Block& operator=(Block&& other) noexcept;
    ~Block();
    unsigned char* bytes = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    bool borrowed = false;  // cut from an arena: not freed on its own
  };
  struct Extent {
    uint64_t offset;
    size_t size;
  };
  struct Group {
    // The blocks in order: those filled, then the one being filled (none before the first item).
    // Most groups of a short list never fill their first.
    std::vector<Block> full;
    Block last;
    std::vector<Extent> extents;  // in the spill file, in order, before the blocks
    size_t items = 0;
    size_t items_marked = 0;           // as of the last EndSegment
    std::vector<size_t> segment_ends;  // the item count at the end of each run
  };
  // A lane makes a group when it first adds to it: a short list touches few of them, and making
  // all of every lane cost a short run more than its items. A group made after some runs were
  // marked holds nothing of them.
  struct Lane {
    std::array<Group*, kGroups> groups{};
    std::vector<std::unique_ptr<Group[]>> made;  // in chunks of kGroupChunk
    size_t left = 0;                             // groups not yet taken from the last chunk
    std::vector<uint32_t> made_groups;           // which, in the order made
  };
  static constexpr size_t kGroupChunk = 16;
  Group& MakeGroup(size_t lane, uint32_t g);
  static size_t BlockCount(const Group& group) {
    return group.full.size() + (group.last.capacity > 0 ? 1 : 0);
  }
  static const Block& BlockAt(const Group& group, size_t k) {
    return k < group.full.size() ? group.full[k] : group.last;
  }
  // fn(block) for each block of a group, const or not, in order.
  template <typename G, typename Fn>
  static void ForEachBlock(G& group, Fn&& fn) {
    for (auto& block : group.full) fn(block);
    if (group.last.capacity > 0) fn(group.last);
  }
  // Group g of a lane, or an empty one when the lane never made it.
  const Group& GroupIn(size_t lane, uint32_t g) const {
    const Group* group = lanes_[lane].groups[g];
    return group != nullptr ? *group : kNoGroup;
  }
  static const Group kNoGroup;
  // The lane's item count in group g at the end of a marked run.
  size_t SegmentEnd(size_t lane, uint32_t g, size_t run) const {
    const Group* group = lanes_[lane].groups[g];
    return group != nullptr ? group->segment_ends[run] : 0;
  }
  // A record: one byte with the item's size (or a mark that the 8 bytes after it hold the size)
  // above the slot's place in its group, the sequence when kept, then the bytes. Lists are mostly
  // short items: the head byte is a tenth of the memory a record takes, not more.
  static_assert(kSlotsPerGroup == 2);
  static constexpr size_t kWideSize = 127;
  static constexpr size_t kShortItem = 32;
  static constexpr size_t kFetchAhead = 256;

  void AddToNewBlock(int lane, Group& group, uint32_t slot, std::string_view item,
                     uint64_t sequence);
  // Large regions advised for huge pages, from which the blocks of a lane are cut while nothing
  // is spilled: a fresh block then costs no page faults of its own, which on a virtual machine
  // cost more than the copy into it. Blocks are not given back one by one, only all at once.
  struct Arena {
    std::vector<std::pair<unsigned char*, size_t>> regions;
    unsigned char* next = nullptr;
    size_t left = 0;
  };
  unsigned char* TakeFromArena(int lane, size_t bytes);
  void DropArenas();
  bool WriteOut(Group& group, Block& block);
  // Where parsed records go, by the group's slot they are in (both may be one vector), and the
  // bytes of their items counted.
  struct RecordsOut {
    ScratchVector<ByteRecord>* records[2];
    size_t* bytes[2];
    ScratchVector<GroupKey>* keys[2];  // none: no keys
    bool with_records;                 // with keys, or only those
  };
  // The next `count` records of a lane's spans (fewer when they end) onto `out`.
  void ParseInto(uint32_t g, GroupRecords::RecordSpans& spans, size_t count,
                 const RecordsOut& out) const;
  // The records in [at, end), `count` of them at most (less those taken), onto `out`; returns
  // where the next record starts.
  const unsigned char* ParseRecords(uint32_t g, const unsigned char* at, const unsigned char* end,
                                    size_t& count, const RecordsOut& out) const;

  bool keep_sequence_;
  size_t spill_block_;
  size_t block_region_;
  std::vector<Lane> lanes_;
  GroupSet held_groups_{};
  std::array<size_t, kGroups> marks_{};  // the runs marked in each group
  std::vector<Arena> arenas_;            // one a lane
  std::atomic<size_t> held_{0};
  int spill_fd_ = -1;
  std::atomic<uint64_t> spill_end_{0};
  std::atomic<bool> failed_{false};
};
