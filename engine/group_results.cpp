#include "engine/group_results.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/key_hash.h"
#include "engine/byte_source.h"
#include "engine/slot_buckets.h"
#include "engine/temporary_space.h"

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
  uint32_t added;  // the record that added the entry
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
    ReserveScratch(entries, keys);
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
  // The entry of the key, added by `record` when it is not there (then `added` is set).
  Entry& Ensure(const Key& key, uint32_t slot, uint32_t record, bool& added) {
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
    entries.push_back({key.data, key.size, key.hash, slot, 0, record, 0, false});
    index_[at] = static_cast<uint32_t>(entries.size());
    added = true;
    return entries.back();
  }
  // One pass over the entries: those of the group's second slot wait for the first's.
  template <typename Fn>
  void Walk(uint32_t group, Fn&& fn) {
    static_assert(SlotBuckets::kSlotsPerGroup == 2);
    const uint32_t first = group * SlotBuckets::kSlotsPerGroup;
    second_slot_.clear();
    for (size_t i = entries.size(); i-- > 0;) {
      if (entries[i].slot == first)
        fn(entries[i]);
      else
        second_slot_.push_back(static_cast<uint32_t>(i));
    }
    for (uint32_t i : second_slot_) fn(entries[i]);
  }

  ScratchVector<Entry> entries;

 private:
  size_t Position(uint64_t hash) const { return static_cast<size_t>(hash >> shift_); }
  ScratchVector<uint32_t> index_;
  ScratchVector<uint32_t> second_slot_;
  int shift_ = 58;
};

}  // namespace

// What one thread needs to make the result of a group.
class GroupWorker {
 public:
  GroupWorker(Operation operation, bool case_sensitive, SlotBuckets* const buckets[2],
              std::string_view separator, uint64_t large_group)
      : operation_(operation),
        case_sensitive_(case_sensitive),
        buckets_{buckets[0], buckets[1]},
        separator_(separator),
        large_group_(large_group) {}

  bool Run(uint32_t g, GroupResult& result) {
    const bool two = UsesSecondSource(operation_);
    // No items, no result: most groups of a short list are empty, and making their tables would
    // cost a short run most of its time.
    if (buckets_[0]->GroupItems(g) == 0 && (!two || buckets_[1]->GroupItems(g) == 0)) return true;
    uint64_t bytes = 0;
    bool spilled = false;
    for (int k = 0; k < (two ? 2 : 1); ++k) {
      bytes += buckets_[k]->GroupBytes(g);
      spilled = spilled || buckets_[k]->spilled();
    }
    const bool made = large_group_ > 0 && spilled && bytes > large_group_
                          ? MakeInShares(g, bytes, result)
                          : MakeWhole(g, result);
    for (int k = 0; k < (two ? 2 : 1); ++k) {
      buckets_[k]->Release(g);
      for (auto& loaded : records_[k].loaded) loaded.reset();
    }
    return made;
  }

 private:
  bool MakeWhole(uint32_t g, GroupResult& result) {
    const bool two = UsesSecondSource(operation_);
    if (!buckets_[0]->Load(g, records_[0])) return false;
    if (two && !buckets_[1]->Load(g, records_[1])) return false;
    MakeKeys(0);
    if (two) MakeKeys(1);
    // Room for the longest result the group can have, so that writing never copies it.
    const GroupRecords& shown =
        operation_ == Operation::ModeOnlyInSecond ? records_[1] : records_[0];
    if (operation_ != Operation::ModeOnlyInSecond || case_sensitive_) {
      const size_t room = shown.bytes + shown.records.size() * (separator_.size() + 12);
      if (room > result.out.capacity()) result.out.reserve(room + room / 4);
    }
    Make(g, result);
    return true;
  }

  // A group too large for memory, a share of its keys at a time: the group's records are dealt
  // into one temporary file a share (the keys whose hash leaves one remainder), each share is
  // made as a group of its own, and its lines kept in a temporary file tagged with their place in
  // the group's walk, to be merged into it as they are written.
  bool MakeInShares(uint32_t g, uint64_t bytes, GroupResult& result) {
    const bool two = UsesSecondSource(operation_);
    // Each share's records, keys and table take about three times its bytes.
    const uint64_t shares = std::clamp<uint64_t>(bytes * 3 / large_group_ + 1, 2, 256);
    std::vector<int> dealt[2];
    auto close_all = [&] {
      for (auto& files : dealt)
        for (int fd : files) close(fd);
    };
    for (int k = 0; k < (two ? 2 : 1); ++k) {
      const DealResult dealing = Deal(k, g, shares, dealt[k]);
      if (dealing != DealResult::Dealt) {
        close_all();
        if (dealing == DealResult::NoRoom) throw TemporarySpaceExhausted();
        return false;
      }
    }
    auto large = std::make_shared<LargeGroupResult>(
        std::clamp<size_t>(large_group_ / shares, 4 << 10, 64 << 10));
    std::vector<KeptItem> lines;
    lines_ = &lines;
    bool made = true;
    for (uint64_t share = 0; share < shares && made; ++share) {
      made = TakeShare(0, dealt[0][share]) && (!two || TakeShare(1, dealt[1][share]));
      if (!made) break;
      GroupResult piece;
      lines.clear();
      Make(g, piece);
      result.count += piece.count;
      // Kept items are many where a group is this large: each share's go to a run on disk.
      if (!piece.kept.empty() && result.kept_runs == nullptr)
        result.kept_runs = std::make_unique<KeptRuns>();
      if (!large->AddShare(piece.out, lines) ||
          (!piece.kept.empty() && !result.kept_runs->Add(piece.kept, piece.kept_bytes))) {
        lines_ = nullptr;
        close_all();
        throw TemporarySpaceExhausted();
      }
    }
    lines_ = nullptr;
    close_all();
    for (auto& kept : share_bytes_) kept.Clear();
    if (made) result.large = std::move(large);
    return made;
  }

  enum class DealResult { Dealt, Unreadable, NoRoom };

  // Deals the records of a source in group g into `shares` temporary files by their key hash,
  // each record with its place in the group.
  DealResult Deal(int source, uint32_t g, uint64_t shares, std::vector<int>& files) {
    // A record in a share: its place (8 bytes), slot (4), size (4) and sequence (8), then bytes.
    constexpr size_t kHead = 24;
    const size_t buffer = std::clamp<size_t>(large_group_ / shares, 4 << 10, 64 << 10);
    std::vector<TemporaryWriter> pending;
    for (uint64_t k = 0; k < shares; ++k) {
      const int fd = UnnamedTemporaryFile();
      if (fd < 0) return DealResult::NoRoom;
      files.push_back(fd);
      pending.emplace_back(fd, buffer);
    }
    const KeyHashSeed& seed = ProcessKeyHashSeed();
    ScratchVector<unsigned char>& folded = folded_[source];
    bool written = true;
    const bool read = buckets_[source]->ForEachRecord(g, [&](const ByteRecord& r, size_t place) {
      uint64_t hash;
      if (case_sensitive_) {
        hash = key_hash_detail::MixHash(r.data, r.size, seed);
      } else {
        if (folded.size() < r.size * 3 + 1) folded.resize(r.size * 3 + 1);
        hash =
            key_hash_detail::MixHash(folded.data(), FoldUtf8(r.data, r.size, folded.data()), seed);
      }
      char head[kHead];
      const uint64_t at = place;
      const uint32_t size = static_cast<uint32_t>(r.size);
      std::memcpy(head, &at, 8);
      std::memcpy(head + 8, &r.slot, 4);
      std::memcpy(head + 12, &size, 4);
      std::memcpy(head + 16, &r.sequence, 8);
      written = pending[hash % shares].Append(
                    std::string_view(head, kHead),
                    std::string_view(reinterpret_cast<const char*>(r.data), r.size)) &&
                written;
    });
    for (uint64_t k = 0; k < shares; ++k)
      written = written && pending[k].Flush() && lseek(files[k], 0, SEEK_SET) == 0;
    if (!read) return DealResult::Unreadable;
    return written ? DealResult::Dealt : DealResult::NoRoom;
  }

  // The records of one share of a source, read back whole, with their places in the group.
  bool TakeShare(int source, int fd) {
    GroupRecords& records = records_[source];
    records.records.clear();
    records.bytes = 0;
    places_[source].clear();
    ShareBytes& kept = share_bytes_[source];
    kept.Clear();
    const off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0 || lseek(fd, 0, SEEK_SET) != 0) return false;
    unsigned char* bytes = kept.Take(static_cast<size_t>(size));
    for (size_t got = 0; got < static_cast<size_t>(size);) {
      const ssize_t n = read(fd, bytes + got, static_cast<size_t>(size) - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    for (size_t at = 0; at + 24 <= static_cast<size_t>(size);) {
      uint64_t place, sequence;
      uint32_t slot, length;
      std::memcpy(&place, bytes + at, 8);
      std::memcpy(&slot, bytes + at + 8, 4);
      std::memcpy(&length, bytes + at + 12, 4);
      std::memcpy(&sequence, bytes + at + 16, 8);
      records.records.push_back({bytes + at + 24, length, slot, sequence});
      records.bytes += length;
      places_[source].push_back(place);
      at += 24 + length;
    }
    MakeKeys(source);
    return true;
  }

  void Make(uint32_t g, GroupResult& result) {
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
  }

  // The keys of a source's records: the items, or their folded forms.
  void MakeKeys(int source) {
    const GroupRecords& records = records_[source];
    ScratchVector<Key>& keys = keys_[source];
    keys.clear();
    ReserveScratch(keys, records.records.size());
    const KeyHashSeed& seed = ProcessKeyHashSeed();
    if (case_sensitive_) {
      for (const ByteRecord& r : records.records)
        keys.push_back({r.data, r.size, key_hash_detail::MixHash(r.data, r.size, seed)});
      return;
    }
    ScratchVector<unsigned char>& folded = folded_[source];
    folded.resize(records.bytes * 3 + 1);
    unsigned char* at = folded.data();
    for (const ByteRecord& r : records.records) {
      const size_t n = FoldUtf8(r.data, r.size, at);
      keys.push_back({at, n, key_hash_detail::MixHash(at, n, seed)});
      at += n;
    }
  }

  // The line of entry e of source `source`'s table, begun at `start` in the result, ended here.
  void Write(GroupResult& result, const Entry& e, int source, size_t start,
             const unsigned char* data, size_t size) {
    result.out.append(reinterpret_cast<const char*>(data), size);
    if (lines_ != nullptr)
      lines_->push_back({start, result.out.size() - start, e.slot, places_[source][e.added]});
    result.out.append(separator_);
    ++result.count;
  }
  // What an entry shows: its key, or without case its kept spelling in the first source.
  void WriteShown(GroupResult& result, const Entry& e) {
    if (case_sensitive_) {
      Write(result, e, 0, result.out.size(), e.key, e.size);
    } else {
      const ByteRecord& r = records_[0].records[e.shown];
      Write(result, e, 0, result.out.size(), r.data, r.size);
    }
  }

  // Every key of the first source, the last spelling of each kept.
  void AddFirst() {
    const ScratchVector<Key>& keys = keys_[0];
    const ScratchVector<ByteRecord>& records = records_[0].records;
    table_.Reset(keys.size());
    bool added;
    for (size_t i = 0; i < keys.size(); ++i)
      table_.Ensure(keys[i], records[i].slot, static_cast<uint32_t>(i), added).shown =
          static_cast<uint32_t>(i);
  }

  void Deduplicate(uint32_t g, GroupResult& result) {
    AddFirst();
    table_.Walk(g, [&](const Entry& e) {
      if (e.size != 0) WriteShown(result, e);  // an empty item never reaches the result
    });
  }

  void CountUnique(uint32_t g, GroupResult& result) {
    const ScratchVector<Key>& keys = keys_[0];
    const ScratchVector<ByteRecord>& records = records_[0].records;
    table_.Reset(keys.size());
    bool added;
    for (size_t i = 0; i < keys.size(); ++i)
      ++table_.Ensure(keys[i], records[i].slot, static_cast<uint32_t>(i), added).count;
    table_.Walk(g, [&](const Entry& e) {
      // The counter in decimal and one space, then the key (folded when case does not count).
      const size_t start = result.out.size();
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
      Write(result, e, 0, start, e.key, e.size);
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
    const ScratchVector<Key>& keys = keys_[1];
    const ScratchVector<ByteRecord>& records = records_[1].records;
    if (keys.empty()) return;
    AddFirst();
    found_.Reset(keys.size());
    // Room for every item, so that the kept bytes are never copied as they grow.
    if (!case_sensitive_) result.kept_bytes.reserve(records_[1].bytes);
    bool added;
    for (size_t i = 0; i < keys.size(); ++i) {
      // An empty item of the second source always counts as present in the first.
      if (keys[i].size == 0 || table_.Find(keys[i]) != nullptr) continue;
      found_.Ensure(keys[i], records[i].slot, static_cast<uint32_t>(i), added);
      if (added && !case_sensitive_) {
        const ByteRecord& r = records[i];
        result.kept.push_back(
            {result.kept_bytes.size(), r.size, Utf8Slot(r.data, r.size), r.sequence});
        result.kept_bytes.append(reinterpret_cast<const char*>(r.data), r.size);
      }
    }
    if (case_sensitive_)
      found_.Walk(g,
                  [&](const Entry& e) { Write(result, e, 1, result.out.size(), e.key, e.size); });
    else
      std::sort(result.kept.begin(), result.kept.end(), KeptBefore);
  }

  // The bytes of a share read back, which its records point into.
  class ShareBytes {
   public:
    unsigned char* Take(size_t size) {
      bytes_.reset(new unsigned char[std::max<size_t>(size, 1)]);
      return bytes_.get();
    }
    void Clear() { bytes_.reset(); }

   private:
    std::unique_ptr<unsigned char[]> bytes_;
  };

  Operation operation_;
  bool case_sensitive_;
  SlotBuckets* buckets_[2];
  std::string_view separator_;
  uint64_t large_group_;
  // While a group is made in shares: the lines written, and each record's place in the group.
  std::vector<KeptItem>* lines_ = nullptr;
  std::vector<uint64_t> places_[2];
  ShareBytes share_bytes_[2];
  GroupRecords records_[2];
  ScratchVector<Key> keys_[2];
  ScratchVector<unsigned char> folded_[2];
  GroupTable table_;
  GroupTable found_;
};

GroupMaker::GroupMaker(Operation operation, bool case_sensitive, SlotBuckets* const buckets[2],
                       std::string_view separator, uint64_t large_group)
    : worker_(std::make_unique<GroupWorker>(operation, case_sensitive, buckets, separator,
                                            large_group)) {}

GroupMaker::~GroupMaker() = default;

bool GroupMaker::Run(uint32_t g, GroupResult& result) {
  return worker_->Run(g, result);
}

bool LargeGroupResult::WriteTo(ResultSink& sink, std::string_view separator) const {
  KeptMerge merge;
  merge.Add(runs_);
  uint64_t written = 0;
  return merge.Write(
      buffer_ * std::max<size_t>(shares_, 1), sink, separator,
      [](uint64_t, uint64_t) { return true; }, written);
}
