#include "engine/run_plan.h"

#include <malloc.h>
#include <sched.h>
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

// How many cores the CPU quota of the process's cgroup gives, rounded up; 0 when there is none.
int CgroupCores() {
  std::ifstream cgroup("/proc/self/cgroup");
  std::string line;
  while (std::getline(cgroup, line)) {
    const size_t colon = line.find(':', line.find(':') + 1);
    if (colon == std::string::npos) continue;
    const std::string controllers = line.substr(line.find(':') + 1, colon - line.find(':') - 1);
    const std::string dir = line.substr(colon + 1);
    uint64_t quota = 0, period = 0;
    if (controllers.empty()) {  // version 2: "max 100000" or "200000 100000"
      std::ifstream max("/sys/fs/cgroup" + dir + "/cpu.max");
      std::string q;
      if (!(max >> q >> period) || q == "max") continue;
      quota = std::strtoull(q.c_str(), nullptr, 10);
    } else if (controllers.find("cpu") != std::string::npos &&
               controllers.find("cpuset") == std::string::npos) {  // version 1
      const std::string base = "/sys/fs/cgroup/" + controllers + dir;
      std::ifstream q(base + "/cpu.cfs_quota_us"), p(base + "/cpu.cfs_period_us");
      int64_t signed_quota = -1;
      if (!(q >> signed_quota) || !(p >> period) || signed_quota <= 0) continue;
      quota = static_cast<uint64_t>(signed_quota);
    }
    if (quota > 0 && period > 0) return static_cast<int>((quota + period - 1) / period);
  }
  return 0;
}

}  // namespace

int UsableCores() {
  int cores = 0;
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) cores = CPU_COUNT(&set);
  if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  if (const int quota = CgroupCores(); quota > 0) cores = std::min(cores, quota);
  return std::max(cores, 1);
}

namespace {
const RunPlan* overridden_plan = nullptr;
}  // namespace

void OverrideRunPlan(const RunPlan* plan) {
  overridden_plan = plan;
}

RunPlan PlanRun(uint64_t input_bytes, int threads) {
  if (overridden_plan != nullptr) return *overridden_plan;
  RunPlan plan;
  plan.threads = threads > 0 ? threads : UsableCores();
  const uint64_t left = AddressSpaceLeft();
  if (left != kUnlimited) {
    // Under a limit on address space the heap must give back what it frees: each thread's own
    // heap would reserve 64 MB, and large blocks kept for reuse would count against the limit.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 64 << 10);
    mallopt(M_TRIM_THRESHOLD, 1 << 20);
  }
  const uint64_t room = std::min({left, CgroupLeft(), MachineAvailable()});
  constexpr size_t kRegion = size_t{32} << 20;
  if (room == kUnlimited) {
    plan.memory_budget = SIZE_MAX;
    plan.spill_from_start = false;
    plan.block_region = kRegion;
    return plan;
  }
  // What a run holds besides its buckets, whatever they hold: the read buffer (with room for a
  // converted run, up to two chunks), the other threads' stacks, and the heap's own slack. With
  // little room the chunks get smaller, so that the buckets are weighed against the budget often.
  constexpr uint64_t kThreadStack = uint64_t{8} << 20;
  constexpr uint64_t kSlack = uint64_t{2} << 20;
  plan.chunk_bytes = static_cast<size_t>(std::clamp<uint64_t>(room / 16, 256 << 10, 8 << 20));
  // A thread's stack is address space like any other: the other threads together take at most a
  // quarter of the room.
  plan.threads = static_cast<int>(
      std::clamp<uint64_t>(room / 4 / kThreadStack + 1, 1, static_cast<uint64_t>(plan.threads)));
  const uint64_t fixed = 2 * plan.chunk_bytes + (plan.threads - 1) * kThreadStack + kSlack;
  // The buckets take at most half of the rest: the groups read back, their tables and the result
  // being written need the other half.
  plan.memory_budget = room > fixed ? static_cast<size_t>((room - fixed) / 2) : 0;
  // Spilled, the buckets keep a block per group and lane: a quarter of the budget at most.
  const size_t blocks = static_cast<size_t>(plan.threads) * 256;
  plan.spill_block = std::clamp<size_t>(plan.memory_budget / 4 / blocks, 4 << 10, 32 << 10);
  // Regions of blocks are worth their rounding only when the buckets may take many of them.
  if (plan.memory_budget / 16 >= kRegion * static_cast<size_t>(plan.threads))
    plan.block_region = kRegion;
  // The threads make their groups side by side: each may take a quarter of the budget.
  plan.large_group =
      std::max<uint64_t>(plan.memory_budget / 4 / static_cast<uint64_t>(plan.threads), 64 << 10);
  // Items take a little more room in the buckets than in the file: lists that will not fit go
  // to disk from the start rather than after filling the memory.
  plan.spill_from_start = input_bytes / 4 * 5 > plan.memory_budget;
  return plan;
}
