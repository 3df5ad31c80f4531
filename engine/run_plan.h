// How a run is carried out: in memory or through temporary files, on one core or two.
#pragma once

#include <cstddef>
#include <cstdint>

// How a run is carried out; PlanRun is the one place that decides it.
struct RunPlan {
  bool two_cores = false;
  // What the buckets of all sources may hold in memory; past it they go to temporary files.
  size_t memory_budget = 0;
  bool spill_from_start = false;
  size_t chunk_bytes = size_t{8} << 20;  // a source is read in runs of about this size
  // Once spilled, each group of each lane keeps one block of this size in memory.
  size_t spill_block = size_t{32} << 10;
};

// From the bytes the sources are expected to hold (0 when unknown) and what the process may
// still have: its address-space limit, its memory cgroup and the memory free on the machine.
RunPlan PlanRun(uint64_t input_bytes);
// Makes PlanRun answer `plan` (or decide again, with nullptr): tests take the engine through
// small runs, one core and spilled buckets with small lists.
void OverrideRunPlan(const RunPlan* plan);
