// Lines written in slot order, the later of one slot first, from sorted runs in a temporary
// file merged as they are written. The items that only-in-second and only-in-first keep when
// keys are folded are written so across all groups: for lists larger than memory each group's
// go to a run. A group made in shares writes its lines so too, each share's a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/result_sink.h"

// An item kept by only-in-second or only-in-first with folded keys, or a line of a share: written
// in the order of its slot, the later in the source (or in the group) first.
struct KeptItem {
  size_t offset;  // in the bytes of its group or share
  size_t size;
  uint32_t slot;
  uint64_t sequence;  // its place in the source, or in the group
};

// Whether x is written before y.
inline bool KeptBefore(const KeptItem& x, const KeptItem& y) {
  if (x.slot != y.slot) return x.slot < y.slot;
  return x.sequence > y.sequence;
}

// Sorted runs of kept items in one temporary file.
class KeptRuns {
 public:
  KeptRuns() = default;
  ~KeptRuns();
  KeptRuns(const KeptRuns&) = delete;
  KeptRuns& operator=(const KeptRuns&) = delete;

  // Adds the items (in written order, see KeptBefore; their bytes in `bytes`) as a run. False
  // when the file cannot be made or written.
  bool Add(const std::vector<KeptItem>& items, std::string_view bytes);
  uint64_t items() const { return items_; }

 private:
  friend class KeptMerge;
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t items_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> runs_;  // where each begins and ends
};

// A group's kept items in memory, in written order, with the bytes they point into.
struct KeptList {
  const std::vector<KeptItem>* items;
  std::string_view bytes;
};

// Writes the kept items of lists in memory and of runs on disk in written order, in blocks of
// items each ended by `separator`.
class KeptMerge {
 public:
  void Add(const KeptList& list) { lists_.push_back(list); }
  void Add(const KeptRuns& runs) { runs_.push_back(&runs); }
  // Reads the runs through `memory` bytes of buffers in all; `go_on(items written, items)` after
  // each block, and the work stops when it returns false. `written`: the items written. False
  // when a file cannot be read back.
  bool Write(size_t memory, ResultSink& sink, std::string_view separator,
             const std::function<bool(uint64_t, uint64_t)>& go_on, uint64_t& written) const;

 private:
  std::vector<KeptList> lists_;
  std::vector<const KeptRuns*> runs_;
};
