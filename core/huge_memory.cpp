#include "core/huge_memory.h"

#include <sys/mman.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
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
constexpr size_t kPage = 4096;
// Before the bytes handed out: where the mapping starts and how long it is.
constexpr size_t kHead = 64;
struct Mapping {
  void* start;
  size_t length;
};

// From half a huge page up, memory is mapped on its own: one fault for what would take 256 or
// more. Below that, and in address-checked builds, the heap gives it.
bool Mapped(size_t bytes) {
#if defined(LISTWISE_ADDRESS_CHECKS)
  (void)bytes;
  return false;  // the heap's memory is what the address checks watch
#else
  return bytes >= kHuge / 2;
#endif
}

// Asked at each mapping, as the limit may be set after the program started (a forked child may
// set one before its run).
bool HugePagesAllowed() {
#if defined(MADV_HUGEPAGE)
  rlimit limit{};
  return getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY;
#else
  return false;
#endif
}

}  // namespace

void* AllocateScratch(size_t bytes) {
  if (!Mapped(bytes)) {
    void* memory = std::malloc(bytes > 0 ? bytes : 1);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
  }
  const bool huge = HugePagesAllowed();
  const size_t unit = huge ? kHuge : kPage;
  const size_t length = (kHead + bytes + unit - 1) & ~(unit - 1);
  // For huge pages, a huge page more than needed, then what lies outside the aligned part is
  // given back.
  const size_t asked = huge ? length + kHuge : length;
  void* mapped = mmap(nullptr, asked, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  if (huge) {
    const uintptr_t aligned = (start + kHuge - 1) & ~(kHuge - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    if (const size_t after = start + asked - (aligned + length); after > 0)
      munmap(reinterpret_cast<void*>(aligned + length), after);
    start = aligned;
#if defined(MADV_HUGEPAGE)
    madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
#endif
  }
  const Mapping mapping{reinterpret_cast<void*>(start), length};
  std::memcpy(reinterpret_cast<void*>(start), &mapping, sizeof mapping);
  return reinterpret_cast<void*>(start + kHead);
}

void FreeScratch(void* memory, size_t bytes) noexcept {
  if (!Mapped(bytes)) {
    std::free(memory);
    return;
  }
  Mapping mapping;
  std::memcpy(&mapping, static_cast<char*>(memory) - kHead, sizeof mapping);
  munmap(mapping.start, mapping.length);
}
