#include "engine/run_plan.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <thread>

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
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("MemAvailable:", 0) == 0)
      return std::strtoull(line.c_str() + 13, nullptr, 10) << 10;
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
  if (room == kUnlimited) {
    plan.memory_budget = SIZE_MAX;
    plan.spill_from_start = false;
    return plan;
  }
  // What a run holds besides its buckets, whatever they hold: the read buffer (with room for a
  // converted run, up to two chunks), the second thread's stack, and the heap's own slack. With
  // little room the chunks get smaller, so that the buckets are weighed against the budget often.
  constexpr uint64_t kThreadStack = uint64_t{8} << 20;
  constexpr uint64_t kSlack = uint64_t{2} << 20;
  plan.chunk_bytes = static_cast<size_t>(std::clamp<uint64_t>(room / 16, 256 << 10, 8 << 20));
  // A second thread's stack is address space like any other: with little room one core works
  // in the room it would take.
  if (room < 4 * kThreadStack) plan.two_cores = false;
  const uint64_t fixed = 2 * plan.chunk_bytes + (plan.two_cores ? kThreadStack : 0) + kSlack;
  // The buckets take at most half of the rest: the groups read back, their tables and the result
  // being written need the other half.
  plan.memory_budget = room > fixed ? static_cast<size_t>((room - fixed) / 2) : 0;
  // Spilled, the buckets keep a block per group and lane: a quarter of the budget at most.
  constexpr size_t kBlocks = 2 * 256;
  plan.spill_block = std::clamp<size_t>(plan.memory_budget / 4 / kBlocks, 4 << 10, 32 << 10);
  // Items take a little more room in the buckets than in the file: lists that will not fit go
  // to disk from the start rather than after filling the memory.
  plan.spill_from_start = input_bytes / 4 * 5 > plan.memory_budget;
  return plan;
}
