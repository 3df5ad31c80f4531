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

#include "engine/kept_runs.h"
#include "engine/operations.h"
#include "engine/run_request.h"

class SlotBuckets;

// The result of a group too large to be made in memory at once: made a share of its keys at a
// time, each share's lines in a temporary file in walk order, and merged into walk order as it is
// written.
class LargeGroupResult {
 public:
  // Each share is read back through a buffer of `buffer` bytes as the shares are merged.
  explicit LargeGroupResult(size_t buffer) : buffer_(buffer) {}
  ~LargeGroupResult();
  LargeGroupResult(const LargeGroupResult&) = delete;
  LargeGroupResult& operator=(const LargeGroupResult&) = delete;

  // A line of a share: where it stands in the walk (its slot, and the place in the group of the
  // record that added its entry: the later first), and its bytes in the share's output.
  struct Line {
    uint32_t slot;
    uint64_t added;
    size_t offset;
    size_t size;
  };
  // Keeps a share's lines, in its own walk order, in a temporary file. False when the file
  // cannot be made or written.
  bool AddShare(const std::string& out, const std::vector<Line>& lines);
  // Writes the lines of all shares in walk order, in blocks ending with `separator`. False when a
  // temporary file cannot be read back.
  bool WriteTo(ResultSink& sink, std::string_view separator) const;

 private:
  size_t buffer_;
  struct Share {
    int fd;
    uint64_t size;
  };
  std::vector<Share> shares_;
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
  GroupMaker(Operation operation, bool case_sensitive, SlotBuckets* const buckets[2],
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
