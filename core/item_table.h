// ItemTable: the string-keyed hash table whose walk order is the order of most results.
//
// The order is fixed: StringHash (h = h * 65599 + unit, modulo 2^32), slot = hash mod the slot
// count (512 for the engine), slots ascending, and within a slot the most recently linked entry
// first. A re-added key keeps its place. The entries sit in those chains exactly so; beside them
// an open-addressing index finds a key in expected constant time, so a table of millions of
// distinct items never walks a chain to look one up. The index goes by the seeded LookupHash,
// not by StringHash: keys made to share a StringHash still spread over the whole index.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "core/element_pool.h"
#include "core/key_hash.h"
#include "core/memory_advice.h"
#include "core/text.h"

uint32_t StringHash(TextView key);

// A text value that points into texts owned elsewhere (a source the whole run keeps), with a spare
// mark for the operations.
struct TextRef {
  const char16_t* data = nullptr;
  size_t size = 0;
  uint32_t mark = 0;
  TextView view() const { return TextView(data, size); }
};

template <typename Value>
struct TableEntry {
  TableEntry* next;     // towards older entries of the same slot
  const char16_t* key;  // never null, but for an entry removed and not yet unlinked
  size_t key_size;      // a single item may be longer than 2^32 units
  uint32_t lookup;      // LookupHash of the key
  Value value;

  TextView Key() const { return TextView(key, key_size); }
  bool removed() const { return key == nullptr; }
};

template <typename Value>
class ItemTable {
 public:
  using Entry = TableEntry<Value>;

  explicit ItemTable(int32_t slot_count);
  ~ItemTable();
  ItemTable(const ItemTable&) = delete;
  ItemTable& operator=(const ItemTable&) = delete;

  // See the free functions below for what each does. The hash is the key's StringHash, which
  // picks the slot; the lookup hash is its LookupHash, when the caller has it already.
  Value* Add(TextView key, uint32_t hash, uint32_t lookup, bool copy_key);
  Value* AddNew(TextView key, uint32_t hash, uint32_t lookup, bool copy_key);
  Value* Find(TextView key, uint32_t hash, uint32_t lookup);
  bool Remove(TextView key, uint32_t hash, uint32_t lookup);
  Value* Add(TextView key, uint32_t hash, bool copy_key) {
    return Add(key, hash, LookupHash(key), copy_key);
  }
  Value* AddNew(TextView key, uint32_t hash, bool copy_key) {
    return AddNew(key, hash, LookupHash(key), copy_key);
  }
  Value* Find(TextView key, uint32_t hash) { return Find(key, hash, LookupHash(key)); }
  bool Remove(TextView key, uint32_t hash) { return Remove(key, hash, LookupHash(key)); }
  void Clear();
  void Reset() {
    cursor_ = nullptr;
    cursor_slot_ = -1;
  }
  Value* Next();
  void DropCursorEntry() { cursor_ = nullptr; }
  const Entry* cursor() const { return cursor_; }
  int32_t count() const { return count_; }
  int32_t slot_count() const { return slot_count_; }

  // Visits every entry in walk order without moving the cursor: fn(const Entry&). The walk
  // order is first written down as a list of entries, several chains side by side so that their
  // cache misses overlap; the list is then handed out with each entry and its key fetched some
  // way ahead of their use.
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    const std::vector<const Entry*> order = WalkOrder();
    constexpr size_t kEntryAhead = 32, kKeyAhead = 16;
    const size_t n = order.size();
    for (size_t k = 0; k < n; ++k) {
      if (k + kEntryAhead < n) __builtin_prefetch(order[k + kEntryAhead]);
      if (k + kKeyAhead < n) __builtin_prefetch(order[k + kKeyAhead]->key);
      fn(*order[k]);
    }
  }

  // The entries in walk order, removed ones left out.
  std::vector<const Entry*> WalkOrder() const {
    std::vector<const Entry*> order;
    order.reserve(static_cast<size_t>(count_));
    constexpr int kLanes = 16;
    std::vector<const Entry*> lanes[kLanes];
    for (int32_t base = 0; base < slot_count_; base += kLanes) {
      const int width = std::min<int32_t>(kLanes, slot_count_ - base);
      const Entry* at[kLanes];
      for (int j = 0; j < width; ++j) {
        lanes[j].clear();
        at[j] = heads_[base + j];
      }
      for (bool more = true; more;) {
        more = false;
        for (int j = 0; j < width; ++j) {
          if (at[j] == nullptr) continue;
          if (!at[j]->removed()) lanes[j].push_back(at[j]);
          at[j] = at[j]->next;
          if (at[j] != nullptr) {
            __builtin_prefetch(at[j]);
            more = true;
          }
        }
      }
      for (int j = 0; j < width; ++j) order.insert(order.end(), lanes[j].begin(), lanes[j].end());
    }
    return order;
  }

  // Frees the lookup index, for a table that is only walked from now on (it is large: a few
  // words per entry). A later lookup builds it again.
  void ReleaseLookupIndex() {
    index_.reset();
    index_size_ = 0;
    index_used_ = 0;
    index_released_ = true;
  }

  // The farthest any indexed entry stands from the place its probe starts: a lookup of a key
  // that is not there walks at least that far in the worst case.
  size_t LongestProbe() const {
    size_t longest = 0;
    for (size_t at = 0; at < index_size_; ++at)
      if (index_[at] != 0)
        longest =
            std::max(longest, (at - Position(Unpack(index_[at])->lookup)) & (index_size_ - 1));
    return longest;
  }

  // Makes room in the index for about this many keys at once, instead of growing step by step.
  void ReserveKeys(size_t keys) {
    size_t size = 1024;
    while (size * 7 < keys * 10) size *= 2;
    if (index_size_ < size) GrowIndex(size);
  }

 private:
  static uint64_t Pack(const Entry* e, uint32_t lookup) {
    return reinterpret_cast<uint64_t>(e) | (uint64_t{lookup & 0xFFFF} << 48);
  }
  static Entry* Unpack(uint64_t s) { return reinterpret_cast<Entry*>(s & 0x0000FFFFFFFFFFFFull); }
  static bool TagMatches(uint64_t s, uint32_t lookup) { return (s >> 48) == (lookup & 0xFFFF); }
  size_t Position(uint32_t lookup) const {
    return static_cast<size_t>((uint64_t{lookup} * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  size_t FindIndex(TextView key, uint32_t lookup) const;
  Entry* Link(TextView key, uint32_t hash, uint32_t lookup, bool copy_key);
  void IndexInsertNewest(Entry* e);
  void IndexErase(size_t at);
  void GrowIndex(size_t at_least = 0);
  const char16_t* StoreKey(TextView key);
  void Purge();
  void ReleaseEntry(Entry* e);
  void EnsureIndex();

  int32_t slot_count_;
  std::vector<Entry*> heads_;
  int32_t count_ = 0;
  int32_t removed_ = 0;  // entries removed but still linked
  Entry* cursor_ = nullptr;
  int32_t cursor_slot_ = 0;
  struct FreeDeleter {
    void operator()(uint64_t* p) const { std::free(p); }
  };
  using IndexArray = std::unique_ptr<uint64_t[], FreeDeleter>;
  IndexArray index_;
  size_t index_size_ = 0;
  size_t index_used_ = 0;
  bool index_released_ = false;
  int shift_ = 64;
  ElementPool* pool_;
  std::vector<std::unique_ptr<char16_t[]>> key_blocks_;
  size_t key_block_room_ = 0;
  size_t key_block_size_ = 0;  // of the last block, unless a longer key needed one of its own
  char16_t* key_block_at_ = nullptr;
};

template <typename Value>
using ItemTablePtr = std::unique_ptr<ItemTable<Value>>;

// The operations by their program names. A value reference is a Value* that stays valid until
// its entry is removed. Keys are copied into the table unless the *Borrowed form is used, whose
// key must outlive the table (the engine's splitters borrow from the source text of the run).
template <typename Value>
ItemTablePtr<Value> NewItemTable(int32_t slot_count) {
  return std::make_unique<ItemTable<Value>>(slot_count);
}
template <typename Value>
void FreeItemTable(ItemTablePtr<Value>& table) {
  table.reset();
}
template <typename Value>
Value* TableAdd(ItemTable<Value>& t, TextView key) {
  return t.Add(key, StringHash(key), true);
}
template <typename Value>
Value* TableAddBorrowed(ItemTable<Value>& t, TextView key, uint32_t hash) {
  return t.Add(key, hash, false);
}
template <typename Value>
Value* TableAddNew(ItemTable<Value>& t, TextView key) {
  return t.AddNew(key, StringHash(key), true);
}
template <typename Value>
Value* TableFind(ItemTable<Value>& t, TextView key) {
  return t.Find(key, StringHash(key));
}
template <typename Value>
Value* TableEnsure(ItemTable<Value>& t, TextView key) {
  const uint32_t hash = StringHash(key);
  if (Value* found = t.Find(key, hash)) return found;
  return t.AddNew(key, hash, true);
}
template <typename Value>
Value TableValue(ItemTable<Value>& t, TextView key) {
  Value* found = t.Find(key, StringHash(key));
  if (found == nullptr) {
    t.DropCursorEntry();  // a miss leaves no cursor entry but keeps the cursor slot
    return Value{};
  }
  return *found;
}
template <typename Value>
bool TableRemove(ItemTable<Value>& t, TextView key) {
  return t.Remove(key, StringHash(key));
}
template <typename Value>
void TableClear(ItemTable<Value>& t) {
  t.Clear();
}
template <typename Value>
void TableReset(ItemTable<Value>& t) {
  t.Reset();
}
template <typename Value>
Value* TableNext(ItemTable<Value>& t) {
  return t.Next();
}
template <typename Value>
Text TableKey(const ItemTable<Value>& t) {
  return t.cursor() == nullptr ? Text() : Text(t.cursor()->Key());
}
template <typename Value>
int32_t TableCount(const ItemTable<Value>& t) {
  return t.count();
}

#include "core/item_table_impl.h"
