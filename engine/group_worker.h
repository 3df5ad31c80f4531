// What one thread needs to make the result of a slot group, shared by the files that make it:
// group_worker.cpp makes a group whole or in shares, group_shares.cpp deals a group too large
// for memory into shares, and group_operations.cpp holds each operation's work on a group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/huge_memory.h"
#include "engine/group_results.h"
#include "engine/item_keys.h"
#include "engine/slot_buckets.h"

// Whether the n bytes at a and at b are the same: a key of up to 32 bytes, most items of most
// lists, is compared as words that may overlap, without a call.
inline bool SameBytes(const unsigned char* a, const unsigned char* b, size_t n) {
  const auto word = [](const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  };
  if (n > 32) return std::memcmp(a, b, n) == 0;
  if (n >= 16)
    return ((word(a) ^ word(b)) | (word(a + 8) ^ word(b + 8)) |
            (word(a + n - 16) ^ word(b + n - 16)) | (word(a + n - 8) ^ word(b + n - 8))) == 0;
  if (n >= 8) return ((word(a) ^ word(b)) | (word(a + n - 8) ^ word(b + n - 8))) == 0;
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// Copies n bytes from b to p as words that may overlap, without a call for up to 32 bytes.
inline void CopyBytes(char* p, const unsigned char* b, size_t n) {
  const auto move = [&](size_t at) {
    uint64_t v;
    std::memcpy(&v, b + at, sizeof v);
    std::memcpy(p + at, &v, sizeof v);
  };
  if (n > 32) {
    std::memcpy(p, b, n);
  } else if (n >= 16) {
    move(0), move(8), move(n - 16), move(n - 8);
  } else if (n >= 8) {
    move(0), move(n - 8);
  } else {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<char>(b[i]);
  }
}

// Lines written straight into the end of a string: room for at most `most` bytes is made at
// once, each line copied without a call, and the room not used given back at the end.
class LineWriter {
 public:
  LineWriter(std::string& out, size_t most) : out_(out), from_(out.size()) {
    out.resize(from_ + most);
    at_ = out.data() + from_;
  }
  ~LineWriter() { out_.resize(static_cast<size_t>(at_ - out_.data())); }
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;
  void Put(const unsigned char* b, size_t n) {
    CopyBytes(at_, b, n);
    at_ += n;
  }
  void Put(std::string_view bytes) {
    Put(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  }

 private:
  std::string& out_;
  size_t from_;
  char* at_;
};

// 32 bytes: a group's entries are read all over as it is made, and the fewer cache lines they
// take the fewer of those reads miss. The key's hash is in the index (see GroupTable).
struct GroupEntry {
  const unsigned char* key;
  size_t size;
  uint32_t shown;  // the record whose spelling is written, when keys are folded
  uint32_t added;  // the record that added the entry
  int32_t count;
  bool mark;
  uint8_t source = 0;  // whose records `shown` and `added` are: the first list's or the second's
  // The spelling shown is the key's own bytes: with ё folding alone, that of most entries.
  bool shown_as_key = false;
  uint8_t second_slot = 0;  // 1 when the key's slot is the group's second
};
static_assert(sizeof(GroupEntry) == 32);

// The table of one group: entries in the order they were added, found by an open-addressing
// index on the seeded key hash. Its walk is that of the slots of a 512-slot table: slots
// ascending, the newest entry of a slot first.
//
// A place in the index holds the entry's number (from 1; 0 is an empty place) and, above it, the
// low half of the key's hash: a probe passes over the entries of other keys without reading
// them, which in a group larger than the caches is a miss each.
class GroupTable {
 public:
  void Reset(size_t keys) {
    entries.clear();
    ReserveScratch(entries, keys);
    size_t size = 64;
    while (size * 7 < keys * 10) size *= 2;
    index_.assign(size, 0);
    shift_ = 64 - __builtin_ctzll(size);
  }
  GroupEntry* Find(const GroupKey& key) {
    const size_t mask = index_.size() - 1;
    for (size_t at = Position(key.hash);; at = (at + 1) & mask) {
      const uint64_t place = index_[at];
      if (place == 0) return nullptr;
      if (place >> 32 != Tag(key.hash)) continue;
      GroupEntry& entry = entries[static_cast<uint32_t>(place) - 1];
      if (entry.size == key.size && SameBytes(entry.key, key.data, key.size)) return &entry;
    }
  }
  // The entry of the key, added by `record` when it is not there (then `added` is set).
  GroupEntry& Ensure(const GroupKey& key, uint32_t slot, uint32_t record, bool& added) {
    const size_t mask = index_.size() - 1;
    size_t at = Position(key.hash);
    for (;; at = (at + 1) & mask) {
      const uint64_t place = index_[at];
      if (place == 0) break;
      if (place >> 32 != Tag(key.hash)) continue;
      GroupEntry& entry = entries[static_cast<uint32_t>(place) - 1];
      if (entry.size == key.size && SameBytes(entry.key, key.data, key.size)) {
        added = false;
        return entry;
      }
    }
    static_assert(SlotBuckets::kSlotsPerGroup == 2);
    entries.push_back(
        {key.data, key.size, 0, record, 0, false, 0, false, static_cast<uint8_t>(slot & 1)});
    index_[at] = Tag(key.hash) << 32 | entries.size();
    added = true;
    return entries.back();
  }
  // One pass over the entries: those of the group's second slot wait for the first's. Lines
  // that are put in another order afterwards take the entries as they were added instead, which
  // for the order of first occurrence is that order already.
  template <typename Fn>
  void Walk(Fn&& fn) {
    if (walk_as_added) {
      for (const GroupEntry& e : entries) fn(e);
      return;
    }
    second_slot_.clear();
    for (size_t i = entries.size(); i-- > 0;) {
      if (entries[i].second_slot == 0)
        fn(entries[i]);
      else
        second_slot_.push_back(static_cast<uint32_t>(i));
    }
    for (uint32_t i : second_slot_) fn(entries[i]);
  }

  ScratchVector<GroupEntry> entries;
  bool walk_as_added = false;

 private:
  size_t Position(uint64_t hash) const { return static_cast<size_t>(hash >> shift_); }
  static uint64_t Tag(uint64_t hash) { return hash & 0xFFFFFFFF; }
  ScratchVector<uint64_t> index_;
  ScratchVector<uint32_t> second_slot_;
  int shift_ = 58;
};

class GroupWorker {
 public:
  GroupWorker(Operation operation, const ItemRules& rules, ItemOrder order,
              SlotBuckets* const buckets[2], std::string_view separator, uint64_t large_group)
      : operation_(operation),
        rules_(rules),
        folds_(rules.keys_differ()),
        order_(order),
        buckets_{buckets[0], buckets[1]},
        separator_(separator),
        large_group_(large_group) {
    table_.walk_as_added = found_.walk_as_added = order != ItemOrder::OrderTable;
  }

  bool Run(uint32_t g, GroupResult& result);

 private:
  bool MakeWhole(uint32_t g, GroupResult& result);
  bool MakeInShares(uint32_t g, uint64_t bytes, GroupResult& result);
  enum class DealResult { Dealt, Unreadable, NoRoom };
  DealResult Deal(int source, uint32_t g, uint64_t shares, std::vector<int>& files);
  bool TakeShare(int source, int fd);
  // The keys of a source's records: the items, or their folded forms.
  void MakeKeys(int source);
  // The entries of a source's keys in table_, counted, the last spelling of each kept.
  void AddAll(int source);

  // The operation on group g's records, then its kept lines put in order.
  void Make(uint32_t g, GroupResult& result);
  void Operate(uint32_t g, GroupResult& result);
  void PutKeptInOrder(GroupResult& result);
  // Every line of every operation is written here, the entry and the source whose occurrence
  // it shows named: in any order but the table's, the line is kept to be put in order.
  void Write(GroupResult& result, const GroupEntry& e, int source, size_t start,
             const unsigned char* data, size_t size);
  std::string_view Shown(const GroupEntry& e) const;
  void WriteShown(GroupResult& result, const GroupEntry& e);
  void WriteCounted(GroupResult& result, const GroupEntry& e);
  // Lines in the table's order, whose places nothing keeps: written without Write.
  bool WritesInPlace() const { return order_ == ItemOrder::OrderTable && lines_ == nullptr; }
  void Deduplicate(GroupResult& result);
  void CountUnique(GroupResult& result);
  void Duplicates(GroupResult& result);
  void InBoth(GroupResult& result);
  void OnlyInOne(int source, GroupResult& result);
  void InEither(bool in_one_only, GroupResult& result);

  // The bytes of a share read back, which its records point into.
  class ShareBytes {
   public:
    // Room for a share, the last one's kept when it is large enough: a group is dealt into
    // shares of about one size.
    unsigned char* Take(size_t size) {
      size = std::max<size_t>(size, 1);
      if (size > capacity_) {
        bytes_.reset();  // before the larger one is taken
        bytes_.reset(new unsigned char[size]);
        capacity_ = size;
      }
      return bytes_.get();
    }
    void Clear() {
      bytes_.reset();
      capacity_ = 0;
    }

   private:
    std::unique_ptr<unsigned char[]> bytes_;
    size_t capacity_ = 0;
  };

  Operation operation_;
  ItemRules rules_;
  bool folds_;  // keys may differ from their records
  ItemOrder order_;
  SlotBuckets* buckets_[2];
  std::string_view separator_;
  uint64_t large_group_;
  // While a group is made in shares: the lines written, and each record's place in the group.
  std::vector<KeptItem>* lines_ = nullptr;
  std::vector<uint64_t> places_[2];
  // The records of the first list in the group: the second's come after them in its walk.
  uint64_t first_records_ = 0;
  uint32_t first_slot_ = 0;  // of the group being made
  // The records were not made, only the keys, which are the items: all of one slot, part_slot_.
  bool keys_only_ = false;
  uint32_t part_slot_ = 0;
  uint32_t SlotOf(const ScratchVector<ByteRecord>& records, size_t i) const {
    return keys_only_ ? part_slot_ : records[i].slot;
  }
  ShareBytes share_bytes_[2];
  GroupRecords records_[2];
  ScratchVector<GroupKey> keys_[2];
  ScratchVector<unsigned char> folded_[2];
  GroupTable table_;
  GroupTable found_;
  std::string reordered_;                // a group's kept lines, laid out in their order
  std::vector<unsigned char> spelling_;  // the item of a whole row, unquoted
};
