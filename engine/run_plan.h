// How a run is carried out: in memory or through temporary files, on one core or two.
#pragma once

#include <cstddef>
#include <cstdint>

// How a run is carried out; PlanRun is the one place that decides it.
struct RunPlan {
  int threads = 1;  // the cores the run works on
  // What the buckets of all sources may hold in memory; past it they go to temporary files.
  size_t memory_budget = 0;
  bool spill_from_start = false;
  size_t chunk_bytes = size_t{8} << 20;  // a source is read in runs of about this size
  // A run is cut among the threads in pieces of at least this size: a thread for less costs
  // more than it saves.
  size_t piece_bytes = size_t{64} << 10;
  // Once spilled, each group of each lane keeps one block of this size in memory.
  size_t spill_block = size_t{32} << 10;
  // When not 0, the buckets cut their blocks from regions of this size advised for huge pages:
  // a fresh block then costs no page faults of its own. Only with room to spare.
  size_t block_region = 0;
  // A spilled group of more bytes than this (0: none) is made a share of its keys at a time, so
  // that no group must fit in memory whole: lists built to collide in the table hash, or spread
  // unevenly over its slots, fall into few groups.
  uint64_t large_group = 0;
};

// The cores this process may use: those its affinity allows, at most as many as its cgroup's
// CPU quota gives.
int UsableCores();

// From the bytes the sources are expected to hold (0 when unknown) and what the process may
// still have: its address-space limit, its memory cgroup and the memory free on the machine.
// `threads` asks for that many threads (0: as many as there are usable cores).
RunPlan PlanRun(uint64_t input_bytes, int threads = 0);
// Makes PlanRun answer `plan` (or decide again, with nullptr): tests take the engine through
// small runs, one core and spilled buckets with small lists.
void OverrideRunPlan(const RunPlan* plan);
