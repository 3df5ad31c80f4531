#include "engine/byte_run.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "core/key_hash.h"
#include "core/simd.h"
#include "core/utf8.h"
#include "engine/byte_source.h"
#include "engine/slot_buckets.h"

namespace {

constexpr uint64_t kUnlimited = UINT64_MAX;

uint64_t ReadNumber(const char* path) {
  std::ifstream in(path);
  std::string word;
  if (!(in >> word) || word == "max") return kUnlimited;
  return std::strtoull(word.c_str(), nullptr, 10);
}

// Bytes the machine could still give: MemAvailable of /proc/meminfo.
uint64_t MachineAvailable() {
  std::ifstream in("/proc/meminfo");
  std::string name;
  uint64_t kb = 0;
  std::string unit;
  while (in >> name >> kb >> unit)
    if (name == "MemAvailable:") return kb << 10;
  return kUnlimited;
}

// Room left under the address-space limit, measured from the process's present size.
uint64_t AddressSpaceLeft() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  std::ifstream in("/proc/self/statm");
  uint64_t pages = 0;
  in >> pages;
  const uint64_t used = pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

// Room left in the process's memory cgroup (version 2).
uint64_t CgroupLeft() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("0::", 0) != 0) continue;
    const std::string dir = "/sys/fs/cgroup" + line.substr(3);
    const uint64_t max = ReadNumber((dir + "/memory.max").c_str());
    if (max == kUnlimited) return kUnlimited;
    const uint64_t current = ReadNumber((dir + "/memory.current").c_str());
    return max > current ? max - current : 0;
  }
  return kUnlimited;
}

}  // namespace

namespace {
const RunPlan* overridden_plan = nullptr;
}  // namespace

void OverrideRunPlan(const RunPlan* plan) {
  overridden_plan = plan;
}

RunPlan PlanRun(uint64_t input_bytes) {
  if (overridden_plan != nullptr) return *overridden_plan;
  RunPlan plan;
  plan.two_cores = std::thread::hardware_concurrency() >= 2;
  const uint64_t left = AddressSpaceLeft();
  if (left != kUnlimited) {
    // Under a limit on address space the heap must give back what it frees: each thread's own
    // heap would reserve 64 MB, and large blocks kept for reuse would count against the limit.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 64 << 10);
    mallopt(M_TRIM_THRESHOLD, 1 << 20);
  }
  const uint64_t room = std::min({left, CgroupLeft(), MachineAvailable()});
  // The buckets take at most half of it: the groups read back, their tables, the result being
  // written and the second thread's stack need the rest.
  plan.memory_budget = room == kUnlimited ? SIZE_MAX : static_cast<size_t>(room / 2);
  // Items take a little more room in the buckets than in the file: lists that will not fit go
  // to disk from the start rather than after filling the memory.
  plan.spill_from_start = input_bytes / 4 * 5 > plan.memory_budget;
  return plan;
}

namespace {

// Runs fn(0) and fn(1), on two threads when asked; an exception of either is raised here.
template <typename Fn>
void OnBothCores(bool two, Fn&& fn) {
  if (!two) {
    fn(0);
    fn(1);
    return;
  }
  std::exception_ptr error;
  {
    std::jthread other;
    try {
      other = std::jthread([&] {
        try {
          fn(1);
        } catch (...) {
          error = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // No room for a second thread: one core does both halves.
      fn(0);
      fn(1);
      return;
    }
    fn(0);
  }
  if (error) std::rethrow_exception(error);
}

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

struct ByteSources {
  Operation operation;
  ByteSeparator separator;
  bool case_sensitive;
  RunPlan plan;
  SpillDirectory spill;
  std::unique_ptr<SlotBuckets> buckets[2];
  // Merge reads a file twice: once to check it, once as it writes the lines. A text handed in
  // is kept as bytes.
  struct MergeSource {
    ~MergeSource() {
      if (fd >= 0) close(fd);
    }
    int fd = -1;
    uint64_t start = 0;
    uint64_t length = 0;
    std::string bytes;
  };
  MergeSource merge[2];
  bool reread_failed = false;  // a file changed between its two readings
};

bool ByteRunPossible(Operation operation, TextView read_separator, TextView result_separator,
                     bool case_sensitive) {
  ByteSeparator separator;
  if (!MakeByteSeparator(read_separator, false, separator)) return false;
  // A surrogate in the result separator could pair with one an item ends in; the 16-bit engine
  // writes such pairs as it always has.
  for (char16_t unit : result_separator)
    if (unit >= 0xD800 && unit <= 0xDFFF) return false;
  if (!case_sensitive && operation != Operation::ModeMerge && !ByteFoldingUsable()) return false;
  return operation >= Operation::ModeOnlyInSecond && operation <= Operation::ModeMerge;
}

std::shared_ptr<ByteSources> NewByteSources(Operation operation, TextView read_separator,
                                            bool whole_separator, bool case_sensitive,
                                            const RunPlan& plan) {
  auto sources = std::make_shared<ByteSources>();
  sources->operation = operation;
  MakeByteSeparator(read_separator, whole_separator, sources->separator);
  sources->case_sensitive = case_sensitive;
  sources->plan = plan;
  // Only this operation orders its result by where the items stand in the second source.
  const bool keep_sequence = operation == Operation::ModeOnlyInSecond && !case_sensitive;
  for (int k = 0; k < 2; ++k) sources->buckets[k] = std::make_unique<SlotBuckets>(keep_sequence);
  return sources;
}

namespace {

// An item of a run in one word: where it starts in its half, its slot, and its size, or a mark
// that the size is in the half's list of long items.
struct ChunkItem {
  uint64_t word;
  static constexpr int kSlotShift = 40;
  static constexpr int kSizeShift = 49;
  static constexpr uint64_t kLong = (uint64_t{1} << 15) - 1;
  static ChunkItem Make(uint64_t start, uint32_t slot, uint64_t size) {
    return {start | uint64_t{slot} << kSlotShift | std::min(size, kLong) << kSizeShift};
  }
  uint64_t start() const { return word & ((uint64_t{1} << kSlotShift) - 1); }
  uint32_t slot() const { return static_cast<uint32_t>(word >> kSlotShift) & 511; }
  uint64_t size() const { return word >> kSizeShift; }
};

// Cuts a run of whole items into the buckets: both halves are split and hashed side by side, then
// each core copies the items of its half of the groups, in the order of the source.
class BucketFeeder {
 public:
  BucketFeeder(ByteSources& sources, SlotBuckets& buckets) : sources_(sources), buckets_(buckets) {}

  // False when the bytes are not well-formed UTF-8.
  bool Feed(std::string_view run, bool last) {
    std::string_view half[2] = {run, std::string_view()};
    const bool two = sources_.plan.two_cores && run.size() >= (size_t{1} << 16);
    bool split = false;
    if (two) {
      const size_t cut = EndOfLastSeparator(run.data(), run.size() / 2, sources_.separator);
      if (cut > 0) {
        half[0] = run.substr(0, cut);
        half[1] = run.substr(cut);
        split = true;
      }
    }
    bool well_formed[2] = {true, true};
    OnBothCores(two, [&](int part) {
      std::vector<ChunkItem>& items = items_[part];
      std::vector<uint64_t>& long_sizes = long_sizes_[part];
      items.clear();
      long_sizes.clear();
      const std::string_view bytes = half[part];
      // Room for as many items as the run has separators at most, short of a few: no copies.
      items.reserve(std::min(bytes.size() / 2 + 16, bytes.size() / average_item_ + 1024));
      // With case, the hash checks each item's bytes as it goes; the rest of a run is ASCII
      // separators. The folding wants them checked first.
      if (!sources_.case_sensitive) {
        well_formed[part] = IsWellFormedUtf8(Bytes(bytes), bytes.size());
        if (!well_formed[part]) return;
      }
      bool& checked = well_formed[part];
      // The source's last item is the final piece of the run's last half.
      const bool final_piece = last && part == (split ? 1 : 0);
      std::vector<unsigned char>& folded = folded_[part];
      ForEachByteItem(bytes, sources_.separator, final_piece, [&](std::string_view item) {
        uint32_t hash;
        if (sources_.case_sensitive) {
          hash = CheckedUtf8StringHash(Bytes(item), item.size(), checked);
        } else {
          if (folded.size() < item.size() * 3) folded.resize(item.size() * 3 + 64);
          const size_t n = FoldUtf8(Bytes(item), item.size(), folded.data());
          hash = Utf8StringHash(folded.data(), n);
        }
        const uint64_t start = static_cast<uint64_t>(item.data() - bytes.data());
        items.push_back(ChunkItem::Make(start, hash % SlotBuckets::kSlots, item.size()));
        if (item.size() >= ChunkItem::kLong) long_sizes.push_back(item.size());
      });
    });
    if (!well_formed[0] || !well_formed[1]) return false;
    const uint64_t base = sequence_;
    OnBothCores(two, [&](int part) {
      // Each core fills its own half of the groups; alone, the first takes them all.
      constexpr uint32_t kHalf = SlotBuckets::kGroups / 2;
      const uint32_t lo = two ? part * kHalf : (part == 0 ? 0 : SlotBuckets::kGroups);
      const uint32_t hi = two ? lo + kHalf : SlotBuckets::kGroups;
      uint64_t sequence = base;
      for (int h = 0; h < 2; ++h) {
        const char* data = half[h].data();
        const uint64_t* long_size = long_sizes_[h].data();
        for (const ChunkItem& item : items_[h]) {
          uint64_t size = item.size();
          if (size == ChunkItem::kLong) size = *long_size++;
          const uint32_t group = SlotBuckets::GroupOf(item.slot());
          if (group >= lo && group < hi)
            buckets_.Add(item.slot(), std::string_view(data + item.start(), size), sequence);
          ++sequence;
        }
      }
    });
    const size_t items = items_[0].size() + items_[1].size();
    sequence_ += items;
    if (items > 0) average_item_ = std::max<size_t>(2, run.size() / items * 3 / 4);
    return true;
  }

 private:
  ByteSources& sources_;
  SlotBuckets& buckets_;
  std::vector<ChunkItem> items_[2];
  std::vector<uint64_t> long_sizes_[2];
  size_t average_item_ = 16;  // bytes a run takes per item, on the low side
  std::vector<unsigned char> folded_[2];
  uint64_t sequence_ = 0;
};

bool OverBudget(const ByteSources& sources) {
  size_t held = 0;
  for (const auto& buckets : sources.buckets) held += buckets->held_bytes();
  return held > sources.plan.memory_budget;
}

ByteLoad Spill(ByteSources& sources) {
  for (auto& buckets : sources.buckets)
    if (!buckets->Spill(sources.spill)) return ByteLoad::NoRoom;
  // The open files are all the run needs: without the directory nothing is left behind, however
  // the program ends.
  sources.spill.Remove();
  return ByteLoad::Loaded;
}

ByteLoad LoadRuns(ByteSources& sources, int source, ByteChunks& chunks, int fd) {
  if (sources.operation == Operation::ModeMerge) {
    ByteSources::MergeSource& merge = sources.merge[source];
    std::string_view run;
    bool last = false;
    while (chunks.Next(run, last)) {
      if (!IsWellFormedUtf8(Bytes(run), run.size())) return ByteLoad::NotBytes;
      if (fd < 0) merge.bytes.append(run);
    }
    if (chunks.failed()) return ByteLoad::Unreadable;
    if (fd >= 0) {
      merge.fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (merge.fd < 0) return ByteLoad::Unreadable;
      merge.start = chunks.start();
      merge.length = chunks.bytes_read();
    }
    return ByteLoad::Loaded;
  }
  SlotBuckets& buckets = *sources.buckets[source];
  if (sources.plan.spill_from_start && Spill(sources) != ByteLoad::Loaded) return ByteLoad::NoRoom;
  BucketFeeder feeder(sources, buckets);
  std::string_view run;
  bool last = false;
  while (chunks.Next(run, last)) {
    if (!feeder.Feed(run, last)) return ByteLoad::NotBytes;
    if (!buckets.spilled() && OverBudget(sources) && Spill(sources) != ByteLoad::Loaded)
      return ByteLoad::NoRoom;
    if (buckets.failed()) return ByteLoad::NoRoom;
  }
  return chunks.failed() ? ByteLoad::Unreadable : ByteLoad::Loaded;
}

}  // namespace

ByteLoad LoadByteSource(ByteSources& sources, int source, int fd, bool& ended_at_zero) {
  ByteChunks chunks(fd, sources.separator, sources.plan.chunk_bytes);
  const ByteLoad load = LoadRuns(sources, source, chunks, fd);
  ended_at_zero = chunks.ended_at_zero();
  return load;
}

ByteLoad LoadByteSource(ByteSources& sources, int source, TextView text) {
  const std::string bytes = Utf8FromText(text, LoneHighSurrogate::ThreeBytes);
  // A lone surrogate is not well-formed UTF-8 and sends the run to the 16-bit engine.
  ByteChunks chunks(bytes, sources.separator, sources.plan.chunk_bytes);
  return LoadRuns(sources, source, chunks, -1);
}

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

// An item of the second source kept by OnlyInSecond without case: written in the order of the
// slot of its own spelling, the later in the source first.
struct KeptItem {
  size_t offset;  // in the group's kept bytes
  size_t size;
  uint32_t slot;
  uint64_t sequence;
};

struct GroupResult {
  std::string out;  // whole records, each ended by the result separator
  int32_t count = 0;
  std::string kept_bytes;
  std::vector<KeptItem> kept;
  // Frees the memory (assigning an empty string would keep its capacity).
  void Free() {
    std::string().swap(out);
    std::string().swap(kept_bytes);
    std::vector<KeptItem>().swap(kept);
  }
};

// What one thread needs to make the result of a group.
class GroupWorker {
 public:
  GroupWorker(ByteSources& sources, std::string_view separator)
      : sources_(sources), separator_(separator), case_sensitive_(sources.case_sensitive) {}

  bool Run(uint32_t g, GroupResult& result) {
    const bool two = UsesSecondSource(sources_.operation);
    if (!sources_.buckets[0]->Load(g, records_[0])) return false;
    if (two && !sources_.buckets[1]->Load(g, records_[1])) return false;
    MakeKeys(0);
    if (two) MakeKeys(1);
    // Room for the longest result the group can have, so that writing never copies it.
    const GroupRecords& shown =
        sources_.operation == Operation::ModeOnlyInSecond ? records_[1] : records_[0];
    if (sources_.operation != Operation::ModeOnlyInSecond || case_sensitive_)
      result.out.reserve(shown.bytes + shown.records.size() * (separator_.size() + 12));
    switch (sources_.operation) {
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
      sources_.buckets[k]->Release(g);
      records_[k].loaded.reset();
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
  void AddFirst(uint32_t g) {
    const std::vector<Key>& keys = keys_[0];
    const std::vector<ByteRecord>& records = records_[0].records;
    table_.Reset(keys.size());
    (void)g;
    bool added;
    for (size_t i = 0; i < keys.size(); ++i)
      table_.Ensure(keys[i], records[i].slot, added).shown = static_cast<uint32_t>(i);
  }

  void Deduplicate(uint32_t g, GroupResult& result) {
    AddFirst(g);
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
    AddFirst(g);
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
    AddFirst(g);
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

  ByteSources& sources_;
  std::string_view separator_;
  bool case_sensitive_;
  GroupRecords records_[2];
  std::vector<Key> keys_[2];
  std::vector<unsigned char> folded_[2];
  GroupTable table_;
  GroupTable found_;
};

// Makes the groups' results on one or two threads and hands them to `emit` in group order, on
// this thread, as soon as each is ready. A group's memory is freed once its result is made, and
// no result is made more than a few groups ahead of the one written last.
template <typename Emit>
bool ForEachGroupInOrder(ByteSources& sources, std::string_view separator, Emit&& emit) {
  constexpr uint32_t kGroups = SlotBuckets::kGroups;
  constexpr uint32_t kAhead = 2;
  std::vector<GroupResult> results(kGroups);
  std::vector<char> ready(kGroups, 0);
  std::mutex mutex;
  std::condition_variable changed;
  uint32_t next = 0;     // the next group to take
  uint32_t emitted = 0;  // groups handed to emit
  bool failed = false;
  std::exception_ptr error;
  auto make = [&](GroupWorker& worker, uint32_t g) {
    GroupResult result;
    const bool made = worker.Run(g, result);
    std::lock_guard lock(mutex);
    if (!made) failed = true;
    results[g] = std::move(result);
    ready[g] = 1;
  };
  std::jthread other;
  if (sources.plan.two_cores) {
    try {
      other = std::jthread([&] {
        try {
          GroupWorker worker(sources, separator);
          for (;;) {
            uint32_t g;
            {
              std::unique_lock lock(mutex);
              changed.wait(lock,
                           [&] { return failed || next >= kGroups || next < emitted + kAhead; });
              if (failed || next >= kGroups) break;
              g = next++;
            }
            make(worker, g);
            changed.notify_all();
          }
        } catch (...) {
          std::lock_guard lock(mutex);
          error = std::current_exception();
          failed = true;
        }
        changed.notify_all();
      });
    } catch (const std::system_error&) {
      // Without room for a second thread this one makes every group.
    }
  }
  try {
    GroupWorker worker(sources, separator);
    for (;;) {
      uint32_t g = kGroups;
      {
        std::unique_lock lock(mutex);
        if (failed) break;
        if (emitted < kGroups && ready[emitted]) {
          lock.unlock();
          emit(results[emitted]);
          results[emitted].Free();
          lock.lock();
          ++emitted;
          lock.unlock();
          changed.notify_all();
          continue;
        }
        if (emitted >= kGroups) break;
        if (next < kGroups && next < emitted + kAhead) {
          g = next++;
        } else {
          changed.wait(lock, [&] { return failed || ready[emitted] != 0; });
          continue;
        }
      }
      make(worker, g);
      changed.notify_all();
    }
  } catch (...) {
    {
      std::lock_guard lock(mutex);
      failed = true;  // the other thread stops before its next group
    }
    changed.notify_all();
    throw;
  }
  if (other.joinable()) other.join();
  if (error) std::rethrow_exception(error);
  return !failed;
}

// The items of one Merge source as they stand, read run by run: from the file again (taking no
// more than the first reading checked, and checking again), or from the bytes kept.
class MergeItems {
 public:
  MergeItems(const ByteSources::MergeSource& source, const ByteSeparator& separator,
             size_t chunk_bytes)
      : separator_(separator) {
    if (source.fd >= 0) {
      lseek(source.fd, static_cast<off_t>(source.start), SEEK_SET);
      chunks_.emplace(source.fd, separator, chunk_bytes, source.length);
    } else {
      chunks_.emplace(source.bytes, separator, chunk_bytes);
    }
  }
  // The next item, valid until the next call; false at the end or when the file changed.
  bool Next(std::string_view& item) {
    for (;;) {
      if (Cut(item)) return true;
      if (last_ || failed_) return false;
      if (!chunks_->Next(rest_, last_) || !IsWellFormedUtf8(Bytes(rest_), rest_.size())) {
        failed_ = true;
        return false;
      }
    }
  }
  bool failed() const { return failed_ || chunks_->failed(); }

 private:
  // The next item of the run at hand, by the rules of ItemSplitter: a run that is not the last
  // ends just after a separator, the last one's final piece is the source's last item.
  bool Cut(std::string_view& item) {
    if (done_) return false;
    if (separator_.whole) {
      const size_t found = rest_.find(separator_.bytes);
      if (found == std::string_view::npos) return Final(item);
      item = rest_.substr(0, found);
      rest_.remove_prefix(found + separator_.bytes.size());
      return true;
    }
    for (;;) {
      size_t i = 0;
      if (separator_.few_count > 0) {
        i = FindByteOf(Bytes(rest_), rest_.size(), separator_.few, separator_.few_count);
      } else {
        while (i < rest_.size() && !separator_.is_separator[static_cast<unsigned char>(rest_[i])])
          ++i;
      }
      if (i == rest_.size()) return Final(item);
      if (i > 0) {
        item = rest_.substr(0, i);
        rest_.remove_prefix(i + 1);
        return true;
      }
      rest_.remove_prefix(1);  // an empty piece before a separator is dropped
    }
  }
  bool Final(std::string_view& item) {
    if (!last_) return false;
    item = rest_;
    rest_ = std::string_view();
    done_ = true;
    return true;
  }

  const ByteSeparator& separator_;
  std::optional<ByteChunks> chunks_;
  std::string_view rest_;
  bool last_ = false;
  bool done_ = false;
  bool failed_ = false;
};

// Merge: the items of the two sources side by side, as they stand, in blocks of lines. False
// when a file could not be read again as it was read first.
bool MergeBytes(ByteSources& sources, std::string_view separator, std::string_view line_end,
                ResultSink& sink, int32_t& pairs) {
  MergeItems a(sources.merge[0], sources.separator, sources.plan.chunk_bytes);
  MergeItems b(sources.merge[1], sources.separator, sources.plan.chunk_bytes);
  std::string block;
  constexpr size_t kBlock = size_t{1} << 20;
  block.reserve(kBlock * 2);
  auto flush = [&] {
    if (!block.empty()) sink.AppendUtf8Block(block, line_end);
    block.clear();
  };
  std::string_view x, y;
  bool has_a = a.Next(x);
  bool has_b = b.Next(y);
  pairs = 0;
  while (has_a && has_b) {
    block.append(x).append(separator).append(y).append(line_end);
    ++pairs;
    if (block.size() >= kBlock) flush();
    has_a = a.Next(x);
    has_b = b.Next(y);
  }
  // The rest of the longer list, line by line, with nothing to mark the missing partner.
  for (; has_a; has_a = a.Next(x)) {
    block.append(x).append(line_end);
    if (block.size() >= kBlock) flush();
  }
  for (; has_b; has_b = b.Next(y)) {
    block.append(y).append(line_end);
    if (block.size() >= kBlock) flush();
  }
  flush();
  return !a.failed() && !b.failed();
}

}  // namespace

bool ByteRunReadAgainFailed(const ByteSources& sources) {
  return sources.reread_failed;
}

int32_t RunByteOperation(Operation operation, ByteSources& sources, TextView result_separator,
                         TextView line_end, ResultSink& sink) {
  const std::string separator = Utf8FromText(result_separator);
  if (operation == Operation::ModeMerge) {
    int32_t pairs = 0;
    sources.reread_failed = !MergeBytes(sources, separator, Utf8FromText(line_end), sink, pairs);
    FoundCount = pairs;
    return pairs;
  }
  int32_t count = 0;
  std::vector<GroupResult> kept_groups;
  const bool kept_order = operation == Operation::ModeOnlyInSecond && !sources.case_sensitive;
  const bool complete = ForEachGroupInOrder(sources, separator, [&](GroupResult& result) {
    count += result.count;
    if (!result.out.empty()) sink.AppendUtf8Block(result.out, separator);
    if (kept_order && !result.kept.empty()) kept_groups.push_back(std::move(result));
  });
  if (!complete) throw std::bad_alloc();  // a spilled group could not be read back
  if (kept_order) {
    struct Ref {
      const KeptItem* item;
      const std::string* bytes;
    };
    std::vector<Ref> order;
    for (const GroupResult& group : kept_groups)
      for (const KeptItem& item : group.kept) order.push_back({&item, &group.kept_bytes});
    std::sort(order.begin(), order.end(), [](const Ref& x, const Ref& y) {
      if (x.item->slot != y.item->slot) return x.item->slot < y.item->slot;
      return x.item->sequence > y.item->sequence;
    });
    std::string block;
    for (const Ref& ref : order) {
      block.append(*ref.bytes, ref.item->offset, ref.item->size).append(separator);
      if (block.size() >= (size_t{1} << 20)) {
        sink.AppendUtf8Block(block, separator);
        block.clear();
      }
    }
    if (!block.empty()) sink.AppendUtf8Block(block, separator);
    count = static_cast<int32_t>(order.size());
  }
  FoundCount = count;
  return count;
}
