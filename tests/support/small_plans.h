// Plans that take a run through every way it can go on a few bytes: runs cut every few bytes
// on one core; pieces of a few bytes on two cores with the buckets spilled from the start; and
// three cores with a budget that spills part way through and groups made in shares.
#pragma once

#include <array>

#include "engine/run_plan.h"

inline std::array<RunPlan, 3> SmallPlans() {
  std::array<RunPlan, 3> plans;
  plans[0].chunk_bytes = 7;
  plans[1].threads = 2;
  plans[1].piece_bytes = 16;
  plans[1].chunk_bytes = 64;
  plans[1].spill_from_start = true;
  plans[2].threads = 3;
  plans[2].piece_bytes = 1;
  plans[2].memory_budget = 4096;
  plans[2].large_group = 64;
  return plans;
}
