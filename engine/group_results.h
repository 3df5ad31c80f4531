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

#include "engine/run_request.h"

class SlotBuckets;

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

class GroupWorker;

// Makes the results of groups one after the other; one for each thread.
class GroupMaker {
 public:
  // The buckets of the first and second source (the second unused by the one-list operations).
  GroupMaker(Operation operation, bool case_sensitive, SlotBuckets* const buckets[2],
             std::string_view separator);
  ~GroupMaker();
  GroupMaker(const GroupMaker&) = delete;
  GroupMaker& operator=(const GroupMaker&) = delete;
  // The result of group g; the group's memory is freed. False when a spilled group cannot be
  // read back.
  bool Run(uint32_t g, GroupResult& result);

 private:
  std::unique_ptr<GroupWorker> worker_;
};
