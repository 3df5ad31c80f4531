// The result of one slot group for the four table operations: the group's records of each
// source become its tables, and its part of the result is written in the walk order of a
// 512-slot table, slots ascending and the newest entry of a slot first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/item_keys.h"
#include "engine/kept_runs.h"
#include "engine/result_sink.h"
#include "engine/run_request.h"

class SlotBuckets;

// The result of a group too large to be made in memory at once: made a share of its keys at a
// time, each share's lines a sorted run in a temporary file, tagged with their place in the
// group's walk, and merged into walk order as they are written.
class LargeGroupResult {
 public:
  // Each share is read back through a buffer of `buffer` bytes as the shares are merged.
  explicit LargeGroupResult(size_t buffer) : buffer_(buffer) {}

  // Keeps a share's lines (in its own walk order; their bytes in `out`, each without the
  // separator that ends it). False when the file cannot be made or written.
  bool AddShare(const std::string& out, const std::vector<KeptItem>& lines) {
    ++shares_;
    return runs_.Add(lines, out);
  }
  // Writes the lines of all shares in walk order, in blocks ending with `separator`. False when a
  // temporary file cannot be read back.
  bool WriteTo(ResultSink& sink, std::string_view separator) const;

 private:
  size_t buffer_;
  size_t shares_ = 0;
  KeptRuns runs_;
};

struct GroupResult {
  std::string out;                          // whole records, each ended by the result separator
  std::shared_ptr<LargeGroupResult> large;  // instead of `out`, for a group made in shares
  int32_t count = 0;
  std::string kept_bytes;
  std::vector<KeptItem> kept;
  std::unique_ptr<KeptRuns> kept_runs;  // instead of `kept`, for a group made in shares
  // Frees the memory (assigning an empty string would keep its capacity).
  void Free() {
    std::string().swap(out);
    large.reset();
    std::string().swap(kept_bytes);
    std::vector<KeptItem>().swap(kept);
    kept_runs.reset();
  }
};

class GroupWorker;

// Makes the results of groups one after the other; one for each thread.
class GroupMaker {
 public:
  // The buckets of the first and second source (the second unused by the one-list operations).
  // A spilled group of more than `large_group` bytes (0: none) is made a share of its keys at a
  // time, so that no group needs to fit in memory whole.
  GroupMaker(Operation operation, const ItemRules& rules, SlotBuckets* const buckets[2],
             std::string_view separator, uint64_t large_group = 0);
  ~GroupMaker();
  GroupMaker(const GroupMaker&) = delete;
  GroupMaker& operator=(const GroupMaker&) = delete;
  // The result of group g; the group's memory is freed. False when a spilled group cannot be
  // read back.
  bool Run(uint32_t g, GroupResult& result);

 private:
  std::unique_ptr<GroupWorker> worker_;
};
