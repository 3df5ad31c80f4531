#include "engine/group_results.h"

#include <cstring>

#include "core/key_hash.h"
#include "engine/byte_source.h"
#include "engine/slot_buckets.h"

namespace {

struct Key {
  const unsigned char* data;
  size_t size;
  uint64_t hash;
};

struct Entry {
  const unsigned char* key;
  size_t size;
  uint64_t hash;
  uint32_t slot;
  uint32_t shown;  // the record whose spelling is written, when case does not count
  int32_t count;
  bool mark;
};

// The table of one group: entries in the order they were added, found by an open-addressing
// index on the seeded key hash. Its walk is that of the slots of a 512-slot table: slots
// ascending, the newest entry of a slot first.
class GroupTable {
 public:
  void Reset(size_t keys) {
    entries.clear();
    entries.reserve(keys);
    size_t size = 64;
    while (size * 7 < keys * 10) size *= 2;
    index_.assign(size, 0);
    shift_ = 64 - __builtin_ctzll(size);
  }
  Entry* Find(const Key& key) {
    const size_t mask = index_.size() - 1;
    for (size_t at = Position(key.hash);; at = (at + 1) & mask) {
      const uint32_t e = index_[at];
      if (e == 0) return nullptr;
      Entry& entry = entries[e - 1];
      if (entry.hash == key.hash && entry.size == key.size &&
          std::memcmp(entry.key, key.data, key.size) == 0)
        return &entry;
    }
  }
  // The entry of the key, added when it is not there (then `added` is set).
  Entry& Ensure(const Key& key, uint32_t slot, bool& added) {
    const size_t mask = index_.size() - 1;
    size_t at = Position(key.hash);
    for (;; at = (at + 1) & mask) {
      const uint32_t e = index_[at];
      if (e == 0) break;
      Entry& entry = entries[e - 1];
      if (entry.hash == key.hash && entry.size == key.size &&
          std::memcmp(entry.key, key.data, key.size) == 0) {
        added = false;
        return entry;
      }
    }
    entries.push_back({key.data, key.size, key.hash, slot, 0, 0, false});
    index_[at] = static_cast<uint32_t>(entries.size());
    added = true;
    return entries.back();
  }
  template <typename Fn>
  void Walk(uint32_t group, Fn&& fn) const {
    for (uint32_t k = 0; k < SlotBuckets::kSlotsPerGroup; ++k) {
      const uint32_t slot = group * SlotBuckets::kSlotsPerGroup + k;
      for (size_t i = entries.size(); i-- > 0;)
        if (entries[i].slot == slot) fn(entries[i]);
    }
  }

  std::vector<Entry> entries;

 private:
  size_t Position(uint64_t hash) const { return static_cast<size_t>(hash >> shift_); }
  std::vector<uint32_t> index_;
  int shift_ = 58;
};

}  // namespace

// What one thread needs to make the result of a group.
class GroupWorker {
 public:
  GroupWorker(Operation operation, bool case_sensitive, SlotBuckets* const buckets[2],
              std::string_view separator)
      : operation_(operation),
        case_sensitive_(case_sensitive),
        buckets_{buckets[0], buckets[1]},
        separator_(separator) {}

  bool Run(uint32_t g, GroupResult& result) {
    const bool two = UsesSecondSource(operation_);
    if (!buckets_[0]->Load(g, records_[0])) return false;
    if (two && !buckets_[1]->Load(g, records_[1])) return false;
    MakeKeys(0);
    if (two) MakeKeys(1);
    // Room for the longest result the group can have, so that writing never copies it.
    const GroupRecords& shown =
        operation_ == Operation::ModeOnlyInSecond ? records_[1] : records_[0];
    if (operation_ != Operation::ModeOnlyInSecond || case_sensitive_)
      result.out.reserve(shown.bytes + shown.records.size() * (separator_.size() + 12));
    switch (operation_) {
      case Operation::ModeOnlyInSecond:
        OnlyInSecond(g, result);
        break;
      case Operation::ModeInBoth:
        InBoth(g, result);
        break;
      case Operation::ModeDeduplicate:
        Deduplicate(g, result);
        break;
      case Operation::ModeCountUnique:
        CountUnique(g, result);
        break;
      default:
        break;
    }
    for (int k = 0; k < (two ? 2 : 1); ++k) {
      buckets_[k]->Release(g);
      for (auto& loaded : records_[k].loaded) loaded.reset();
    }
    return true;
  }

 private:
  // The keys of a source's records: the items, or their folded forms.
  void MakeKeys(int source) {
    const GroupRecords& records = records_[source];
    std::vector<Key>& keys = keys_[source];
    keys.clear();
    keys.reserve(records.records.size());
    const KeyHashSeed& seed = ProcessKeyHashSeed();
    if (case_sensitive_) {
      for (const ByteRecord& r : records.records)
        keys.push_back({r.data, r.size, key_hash_detail::MixHash(r.data, r.size, seed)});
      return;
    }
    std::vector<unsigned char>& folded = folded_[source];
    folded.resize(records.bytes * 3 + 1);
    unsigned char* at = folded.data();
    for (const ByteRecord& r : records.records) {
      const size_t n = FoldUtf8(r.data, r.size, at);
      keys.push_back({at, n, key_hash_detail::MixHash(at, n, seed)});
      at += n;
    }
  }

  void Write(GroupResult& result, const unsigned char* data, size_t size) {
    result.out.append(reinterpret_cast<const char*>(data), size);
    result.out.append(separator_);
    ++result.count;
  }
  // What an entry shows: its key, or without case its kept spelling in the first source.
  void WriteShown(GroupResult& result, const Entry& e) {
    if (case_sensitive_) {
      Write(result, e.key, e.size);
    } else {
      const ByteRecord& r = records_[0].records[e.shown];
      Write(result, r.data, r.size);
    }
  }

  // Every key of the first source, the last spelling of each kept.
  void AddFirst() {
    const std::vector<Key>& keys = keys_[0];
    const std::vector<ByteRecord>& records = records_[0].records;
    table_.Reset(keys.size());
    bool added;
    for (size_t i = 0; i < keys.size(); ++i)
      table_.Ensure(keys[i], records[i].slot, added).shown = static_cast<uint32_t>(i);
  }

  void Deduplicate(uint32_t g, GroupResult& result) {
    AddFirst();
    table_.Walk(g, [&](const Entry& e) {
      if (e.size != 0) WriteShown(result, e);  // an empty item never reaches the result
    });
  }

  void CountUnique(uint32_t g, GroupResult& result) {
    const std::vector<Key>& keys = keys_[0];
    const std::vector<ByteRecord>& records = records_[0].records;
    table_.Reset(keys.size());
    bool added;
    for (size_t i = 0; i < keys.size(); ++i) ++table_.Ensure(keys[i], records[i].slot, added).count;
    table_.Walk(g, [&](const Entry& e) {
      // The counter in decimal and one space, then the key (folded when case does not count).
      char digits[16];
      char* end = digits + sizeof digits;
      char* at = end;
      *--at = ' ';
      uint32_t n = static_cast<uint32_t>(e.count);
      do {
        *--at = static_cast<char>('0' + n % 10);
        n /= 10;
      } while (n != 0);
      result.out.append(at, static_cast<size_t>(end - at));
      Write(result, e.key, e.size);
    });
  }

  void InBoth(uint32_t g, GroupResult& result) {
    if (keys_[1].empty()) return;
    AddFirst();
    for (const Key& key : keys_[1])
      if (Entry* e = table_.Find(key)) e->mark = true;
    table_.Walk(g, [&](const Entry& e) {
      if (e.mark) WriteShown(result, e);
    });
  }

  void OnlyInSecond(uint32_t g, GroupResult& result) {
    const std::vector<Key>& keys = keys_[1];
    const std::vector<ByteRecord>& records = records_[1].records;
    if (keys.empty()) return;
    AddFirst();
    found_.Reset(keys.size());
    bool added;
    for (size_t i = 0; i < keys.size(); ++i) {
      // An empty item of the second source always counts as present in the first.
      if (keys[i].size == 0 || table_.Find(keys[i]) != nullptr) continue;
      found_.Ensure(keys[i], records[i].slot, added);
      if (added && !case_sensitive_) {
        const ByteRecord& r = records[i];
        result.kept.push_back({result.kept_bytes.size(), r.size,
                               Utf8StringHash(r.data, r.size) % SlotBuckets::kSlots, r.sequence});
        result.kept_bytes.append(reinterpret_cast<const char*>(r.data), r.size);
      }
    }
    if (case_sensitive_) found_.Walk(g, [&](const Entry& e) { Write(result, e.key, e.size); });
  }

  Operation operation_;
  bool case_sensitive_;
  SlotBuckets* buckets_[2];
  std::string_view separator_;
  GroupRecords records_[2];
  std::vector<Key> keys_[2];
  std::vector<unsigned char> folded_[2];
  GroupTable table_;
  GroupTable found_;
};

GroupMaker::GroupMaker(Operation operation, bool case_sensitive, SlotBuckets* const buckets[2],
                       std::string_view separator)
    : worker_(std::make_unique<GroupWorker>(operation, case_sensitive, buckets, separator)) {}

GroupMaker::~GroupMaker() = default;

bool GroupMaker::Run(uint32_t g, GroupResult& result) {
  return worker_->Run(g, result);
}
