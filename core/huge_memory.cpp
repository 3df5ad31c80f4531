#include "core/huge_memory.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define LISTWISE_ADDRESS_CHECKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LISTWISE_ADDRESS_CHECKS 1
#endif
#endif

namespace {

constexpr size_t kHuge = size_t{2} << 20;

// Whether large requests may be mapped in huge pages: decided once, so that a free always takes
// the path its allocation took.
bool HugePagesAllowed() {
  static const bool allowed = [] {
#if defined(LISTWISE_ADDRESS_CHECKS)
    return false;  // the heap's memory is what the address checks watch
#elif defined(MADV_HUGEPAGE)
    rlimit limit{};
    return getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
#else
    return false;
#endif
  }();
  return allowed;
}

// From half a huge page up: one fault for what would take 256 or more.
bool Huge(size_t bytes) {
  return bytes >= kHuge / 2 && HugePagesAllowed();
}

size_t Rounded(size_t bytes) {
  return (bytes + kHuge - 1) & ~(kHuge - 1);
}

}  // namespace

void* AllocateScratch(size_t bytes) {
  if (!Huge(bytes)) {
    void* memory = std::malloc(bytes > 0 ? bytes : 1);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
  }
  // Map a huge page more than needed, then give back what lies outside the aligned part.
  const size_t size = Rounded(bytes);
  void* mapped =
      mmap(nullptr, size + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kHuge - 1) & ~(kHuge - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  if (const size_t after = start + size + kHuge - (aligned + size); after > 0)
    munmap(reinterpret_cast<void*>(aligned + size), after);
  void* memory = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
  madvise(memory, size, MADV_HUGEPAGE);
#endif
  return memory;
}

void FreeScratch(void* memory, size_t bytes) noexcept {
  if (Huge(bytes))
    munmap(memory, Rounded(bytes));
  else
    std::free(memory);
}
