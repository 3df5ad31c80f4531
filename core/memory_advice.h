// Large buffers of a run (whole sources, table indexes) are touched once from end to end; on
// Linux, asking for transparent huge pages for them saves hundreds of thousands of page faults.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

inline void AdviseHugePages(const void* start, size_t bytes) {
#if defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (bytes < kHuge) return;
  const uintptr_t from = (reinterpret_cast<uintptr_t>(start) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(kHuge - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)start;
  (void)bytes;
#endif
}
