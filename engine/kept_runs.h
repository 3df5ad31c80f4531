// The items that OnlyInSecond keeps when case does not count are written in an order of their
// own, across all groups. For lists larger than memory each group's kept items go to a temporary
// file, sorted, as a run, and the runs are merged as they are written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/operations.h"

// An item of the second source kept by OnlyInSecond without case: written in the order of the
// slot of its own spelling, the later in the source first.
struct KeptItem {
  size_t offset;  // in the group's kept bytes
  size_t size;
  uint32_t slot;
  uint64_t sequence;
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

  // Sorts the items (whose bytes are in `bytes`) and adds them as a run. False when the file
  // cannot be made or written.
  bool Add(std::vector<KeptItem>& items, std::string_view bytes);
  uint64_t items() const { return items_; }

 private:
  friend bool WriteKeptRuns(const std::vector<const KeptRuns*>&, size_t, ResultSink&,
                            std::string_view, const std::function<bool(uint64_t)>&, uint64_t&);
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t items_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> runs_;  // where each begins and ends
};

// Writes the items of all runs in order, in blocks of items each ended by `separator`, reading
// the runs through `memory` bytes of buffers in all; `go_on(items written)` after each block, and
// the work stops when it returns false. `written`: the items written. False when a file cannot be
// read back.
bool WriteKeptRuns(const std::vector<const KeptRuns*>& all, size_t memory, ResultSink& sink,
                   std::string_view separator, const std::function<bool(uint64_t)>& go_on,
                   uint64_t& written);
