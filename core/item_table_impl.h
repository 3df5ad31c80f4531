// Member definitions of ItemTable; included by item_table.h only.
#pragma once

#include <new>

template <typename Value>
ItemTable<Value>::ItemTable(int32_t slot_count)
    : slot_count_(slot_count < 1 ? 1 : slot_count),
      heads_(static_cast<size_t>(slot_count_), nullptr),
      pool_(AcquireElementPool(sizeof(Entry))) {
  static_assert(alignof(Entry) <= alignof(void*));
}

template <typename Value>
ItemTable<Value>::~ItemTable() {
  Clear();
  ReleaseElementPool(pool_);
}

template <typename Value>
const char16_t* ItemTable<Value>::StoreKey(TextView key) {
  if (key.empty()) return u"";
  if (key.size() > key_block_room_) {
    // Blocks double from a small first one: a run makes a table for every slot that has items,
    // and most of them hold a few short keys.
    constexpr size_t kFirstBlock = 256, kLargestBlock = size_t{1} << 16;
    const size_t next =
        key_blocks_.empty() ? kFirstBlock : std::min(kLargestBlock, key_block_size_ * 2);
    const size_t size = std::max(key.size(), next);
    key_block_size_ = next;
    key_blocks_.emplace_back(new char16_t[size]);
    key_block_at_ = key_blocks_.back().get();
    key_block_room_ = size;
  }
  char16_t* stored = key_block_at_;
  std::memcpy(stored, key.data(), key.size() * sizeof(char16_t));
  key_block_at_ += key.size();
  key_block_room_ -= key.size();
  return stored;
}

template <typename Value>
size_t ItemTable<Value>::FindIndex(TextView key, uint32_t lookup) const {
  if (index_size_ == 0) return SIZE_MAX;
  const size_t mask = index_size_ - 1;
  for (size_t at = Position(lookup);; at = (at + 1) & mask) {
    const uint64_t s = index_[at];
    if (s == 0) return SIZE_MAX;
    if (TagMatches(s, lookup)) {
      const Entry* e = Unpack(s);
      if (e->lookup == lookup && e->Key() == key) return at;
    }
  }
}

template <typename Value>
void ItemTable<Value>::GrowIndex(size_t at_least) {
  IndexArray old = std::move(index_);
  const size_t old_size = index_size_;
  const size_t size = std::max(old_size == 0 ? size_t{64} : old_size * 2, at_least);
  // Fresh zeroed memory straight from the system, no clearing pass.
  index_.reset(static_cast<uint64_t*>(std::calloc(size, sizeof(uint64_t))));
  if (!index_) throw std::bad_alloc();
  AdviseHugePages(index_.get(), size * sizeof(uint64_t));
  index_size_ = size;
  shift_ = 64 - __builtin_ctzll(size);
  const size_t mask = size - 1;
  // Re-placing in old probe order keeps every older twin behind its newer one.
  size_t start = 0;
  while (start < old_size && old[start] != 0) ++start;  // begin after a gap so clusters stay whole
  for (size_t k = 0; k < old_size; ++k) {
    const uint64_t s = old[(start + k) % old_size];
    if (s == 0) continue;
    size_t at = Position(Unpack(s)->lookup);
    while (index_[at] != 0) at = (at + 1) & mask;
    index_[at] = s;
  }
}

template <typename Value>
void ItemTable<Value>::IndexInsertNewest(Entry* e) {
  // Linear probing stays short up to seven tenths full; the slots of a probe share cache lines.
  if ((index_used_ + 1) * 10 > index_size_ * 7) GrowIndex();
  const size_t mask = index_size_ - 1;
  uint64_t carried = Pack(e, e->lookup);
  // The newest of equal keys must come first along the probe sequence: it takes the place of an
  // older twin, which moves on to the next twin's place, and so on, the oldest to the free slot.
  for (size_t at = Position(e->lookup);; at = (at + 1) & mask) {
    const uint64_t s = index_[at];
    if (s == 0) {
      index_[at] = carried;
      ++index_used_;
      return;
    }
    if (TagMatches(s, e->lookup)) {
      const Entry* other = Unpack(s);
      if (other->lookup == e->lookup && other->Key() == e->Key()) {
        index_[at] = carried;
        carried = s;
      }
    }
  }
}

template <typename Value>
void ItemTable<Value>::IndexErase(size_t at) {
  // Backward-shift deletion keeps every remaining entry reachable and in its probe order.
  const size_t mask = index_size_ - 1;
  size_t hole = at;
  for (size_t next = (hole + 1) & mask; index_[next] != 0; next = (next + 1) & mask) {
    const size_t home = Position(Unpack(index_[next])->lookup);
    // Move the entry back if the hole lies on its probe path from home to next.
    if (((next - home) & mask) >= ((next - hole) & mask)) {
      index_[hole] = index_[next];
      hole = next;
    }
  }
  index_[hole] = 0;
  --index_used_;
}

template <typename Value>
void ItemTable<Value>::EnsureIndex() {
  if (!index_released_) return;
  index_released_ = false;
  // Chains hold the newest of equal keys first: placed in chain order, each at the first free
  // slot of its probe, the newest stays ahead of its older twins.
  for (Entry* head : heads_) {
    for (Entry* e = head; e != nullptr; e = e->next) {
      if (e->removed()) continue;
      if ((index_used_ + 1) * 10 > index_size_ * 7) GrowIndex();
      const size_t mask = index_size_ - 1;
      size_t at = Position(e->lookup);
      while (index_[at] != 0) at = (at + 1) & mask;
      index_[at] = Pack(e, e->lookup);
      ++index_used_;
    }
  }
}

template <typename Value>
typename ItemTable<Value>::Entry* ItemTable<Value>::Link(TextView key, uint32_t hash,
                                                         uint32_t lookup, bool copy_key) {
  void* memory = pool_ != nullptr ? pool_->Allocate() : nullptr;
  if (memory == nullptr) return nullptr;
  auto* e = static_cast<Entry*>(memory);
  e->key = copy_key ? StoreKey(key) : key.data();
  if (e->key == nullptr) e->key = u"";  // a null key would read as removed
  e->key_size = key.size();
  e->lookup = lookup;
  new (&e->value) Value{};
  const int32_t slot = static_cast<int32_t>(hash % static_cast<uint32_t>(slot_count_));
  e->next = heads_[slot];
  heads_[slot] = e;
  ++count_;
  IndexInsertNewest(e);
  cursor_ = e;
  cursor_slot_ = slot;
  return e;
}

template <typename Value>
Value* ItemTable<Value>::Add(TextView key, uint32_t hash, uint32_t lookup, bool copy_key) {
  EnsureIndex();
  const size_t at = FindIndex(key, lookup);
  if (at != SIZE_MAX) {
    Entry* e = Unpack(index_[at]);
    e->value = Value{};  // a re-added key keeps its place, its value starts afresh
    cursor_ = e;
    cursor_slot_ = static_cast<int32_t>(hash % static_cast<uint32_t>(slot_count_));
    return &e->value;
  }
  Entry* e = Link(key, hash, lookup, copy_key);
  return e != nullptr ? &e->value : nullptr;
}

template <typename Value>
Value* ItemTable<Value>::AddNew(TextView key, uint32_t hash, uint32_t lookup, bool copy_key) {
  EnsureIndex();
  Entry* e = Link(key, hash, lookup, copy_key);
  return e != nullptr ? &e->value : nullptr;
}

template <typename Value>
Value* ItemTable<Value>::Find(TextView key, uint32_t hash, uint32_t lookup) {
  EnsureIndex();
  const size_t at = FindIndex(key, lookup);
  if (at == SIZE_MAX) return nullptr;
  Entry* e = Unpack(index_[at]);
  cursor_ = e;
  cursor_slot_ = static_cast<int32_t>(hash % static_cast<uint32_t>(slot_count_));
  return &e->value;
}

template <typename Value>
bool ItemTable<Value>::Remove(TextView key, uint32_t /*hash*/, uint32_t lookup) {
  EnsureIndex();
  const size_t at = FindIndex(key, lookup);
  if (at == SIZE_MAX) return false;
  Entry* e = Unpack(index_[at]);
  IndexErase(at);
  // The entry stays linked, marked, until enough such entries have gathered to unlink them all
  // in one pass: a singly linked chain cannot drop an entry without walking to it.
  e->value.~Value();
  new (&e->value) Value{};
  e->key = nullptr;
  --count_;
  ++removed_;
  cursor_ = nullptr;
  if (removed_ > 64 && removed_ > count_) Purge();
  return true;
}

template <typename Value>
void ItemTable<Value>::ReleaseEntry(Entry* e) {
  e->value.~Value();
  pool_->Release(e);
}

template <typename Value>
void ItemTable<Value>::Purge() {
  for (Entry*& head : heads_) {
    Entry** link = &head;
    while (Entry* e = *link) {
      if (e->removed()) {
        *link = e->next;
        ReleaseEntry(e);
      } else {
        link = &e->next;
      }
    }
  }
  removed_ = 0;
}

template <typename Value>
void ItemTable<Value>::Clear() {
  if (pool_ != nullptr && std::is_trivially_destructible_v<Value> &&
      pool_->slots_in_use() == static_cast<size_t>(count_) + static_cast<size_t>(removed_)) {
    // Every slot of the pool is one of ours: drop the blocks instead of walking the chains.
    pool_->ReleaseAll();
  } else if (removed_ == 0 && !index_released_) {
    // Every entry is in the index: releasing them in index order makes the misses independent
    // of each other, where a chain walk waits for each entry before it finds the next.
    for (size_t at = 0; at < index_size_; ++at)
      if (index_[at] != 0) ReleaseEntry(Unpack(index_[at]));
  } else {
    for (Entry* head : heads_) {
      for (Entry* e = head; e != nullptr;) {
        Entry* next = e->next;
        ReleaseEntry(e);
        e = next;
      }
    }
  }
  std::fill(heads_.begin(), heads_.end(), nullptr);
  count_ = removed_ = 0;
  index_.reset();
  index_size_ = 0;
  index_used_ = 0;
  index_released_ = false;
  key_blocks_.clear();
  key_block_room_ = 0;
  key_block_at_ = nullptr;
  Reset();
}

template <typename Value>
Value* ItemTable<Value>::Next() {
  if (cursor_ != nullptr) {
    for (Entry* e = cursor_->next; e != nullptr; e = e->next) {
      if (!e->removed()) {
        cursor_ = e;
        return &e->value;
      }
    }
    cursor_ = nullptr;
    ++cursor_slot_;
  } else if (cursor_slot_ == -1) {
    cursor_slot_ = 0;
  } else {
    return nullptr;
  }
  for (; cursor_slot_ < slot_count_; ++cursor_slot_) {
    for (Entry* e = heads_[cursor_slot_]; e != nullptr; e = e->next) {
      if (!e->removed()) {
        cursor_ = e;
        return &e->value;
      }
    }
  }
  return nullptr;
}
