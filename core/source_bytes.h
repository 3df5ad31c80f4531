// A source's bytes, opened once and read by offset as often as a run needs them.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/text.h"

// Asked while a source that is read whole (a pipe, a terminal) is waited for and read, with the
// bytes read so far: false stops the reading. It is asked at least every kReadWaitMs while nothing
// comes (a named pipe waiting for its writer), so that whoever waits can draw, and stop.
using KeepReading = std::function<bool(uint64_t bytes_read)>;
constexpr int kReadWaitMs = 50;

class SourceBytes {
 public:
  enum class Opened { Yes, Missing, Directory, Unreadable, Stopped };

  // A regular file stays open and is read from where the run asks. Anything else (a named pipe,
  // standard input, a terminal, a device, a kernel file of size 0) is read only once: it is read
  // here, whole, up to its first zero unit, whose size `wide` tells (two bytes for UTF-16, else
  // one), so that an endless device ends. The path is opened only once: a pipe's writer sends its
  // bytes once. Opening never waits: a named pipe with no writer yet is waited for while it is
  // read.
  static Opened Open(TextView path, bool wide, std::unique_ptr<SourceBytes>& out,
                     const KeepReading& keep_reading = {});
  // The same from a descriptor the caller owns (standard input).
  static Opened FromDescriptor(int fd, bool wide, std::unique_ptr<SourceBytes>& out,
                               const KeepReading& keep_reading = {});
  static std::unique_ptr<SourceBytes> FromMemory(std::string bytes);

  ~SourceBytes();
  SourceBytes(const SourceBytes&) = delete;
  SourceBytes& operator=(const SourceBytes&) = delete;

  // Reads up to n bytes at offset: the count, 0 at the end, -1 on a read error and when a file
  // ends before the size it had when it was opened. A list cut short while it is read must fail
  // the run: its result would look complete and be wrong. Safe to call from several threads.
  ssize_t Read(uint64_t offset, void* into, size_t n) const;
  // The bytes, when they are held in memory; null for a file read from disk.
  const std::string* memory() const { return fd_ < 0 ? &bytes_ : nullptr; }
  // The size the file had when opened, or that of the bytes held; 0 when unknown.
  uint64_t expected_size() const { return fd_ < 0 ? bytes_.size() : size_at_open_; }
  // Whether a Read found the file ended before that size: it was cut while the run read it.
  bool cut() const { return cut_.load(std::memory_order_relaxed); }
  // The size of the whole source; 0 when not known: a source read once is read no further than
  // a little past the zero that ends its text.
  uint64_t whole_size() const { return fd_ >= 0 || whole_ ? expected_size() : 0; }

 private:
  SourceBytes() = default;
  static Opened ReadWhole(int fd, bool wide, std::unique_ptr<SourceBytes>& out,
                          const KeepReading& keep_reading);

  int fd_ = -1;
  uint64_t size_at_open_ = 0;
  std::string bytes_;
  mutable std::atomic<bool> cut_{false};
  bool whole_ = true;  // bytes_ hold the whole source
};

// The offset from `from` of the first zero unit of `unit` bytes; UINT64_MAX when there is none
// or the source cannot be read that far.
uint64_t FindZeroUnitOffset(const SourceBytes& source, uint64_t from, size_t unit);
