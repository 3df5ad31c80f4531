// Scratch memory of megabytes, mapped on its own at a 2 MB boundary and advised for transparent
// huge pages. On a virtual machine a 4 KB page fault costs about 10 µs, so a buffer of 8 MB
// touched once costs 20 ms in faults alone; in huge pages it costs four faults.
//
// Under a limit on address space (ulimit -v) the rounding up to whole huge pages would count
// against the limit, so there such memory is mapped in ordinary pages.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// Memory for `bytes`; huge pages when large enough and allowed. Throws std::bad_alloc.
void* AllocateScratch(size_t bytes);
// Frees what AllocateScratch gave for the same `bytes`.
void FreeScratch(void* memory, size_t bytes) noexcept;

template <typename T>
struct ScratchAllocator {
  using value_type = T;
  ScratchAllocator() = default;
  template <typename U>
  ScratchAllocator(const ScratchAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(AllocateScratch(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { FreeScratch(p, n * sizeof(T)); }
  template <typename U>
  bool operator==(const ScratchAllocator<U>&) const noexcept {
    return true;
  }
};

template <typename T>
using ScratchVector = std::vector<T, ScratchAllocator<T>>;

// Room for n elements in a vector that is filled again and again with about as many: a quarter
// more than asked, so that each slightly larger filling does not take fresh memory of its own.
template <typename T>
void ReserveScratch(ScratchVector<T>& vector, size_t n) {
  if (n > vector.capacity()) vector.reserve(n + n / 4);
}

// A buffer of bytes from AllocateScratch that frees itself.
class ScratchBytes {
 public:
  ScratchBytes() = default;
  explicit ScratchBytes(size_t bytes)
      : bytes_(static_cast<char*>(AllocateScratch(bytes))), size_(bytes) {}
  ScratchBytes(ScratchBytes&& other) noexcept
      : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  ScratchBytes& operator=(ScratchBytes&& other) noexcept {
    if (this != &other) {
      if (bytes_ != nullptr) FreeScratch(bytes_, size_);
      bytes_ = std::exchange(other.bytes_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  ~ScratchBytes() {
    if (bytes_ != nullptr) FreeScratch(bytes_, size_);
  }
  char* get() const { return bytes_; }

 private:
  char* bytes_ = nullptr;
  size_t size_ = 0;
};
