// Temporary files, and the one failure of them that a run reports as such.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Raised when lists larger than memory cannot go to temporary files: the disk under $TMPDIR (or
// /tmp) is full, or no file can be made there. Caught where std::bad_alloc is.
struct TemporarySpaceExhausted {};

// A file with no name in $TMPDIR (or /tmp), open for reading and writing: nothing is left behind
// however the program ends. -1 when none can be made.
int UnnamedTemporaryFile();

// Writes all the bytes at the file's offset; false when they cannot all be written.
bool WriteWhole(int fd, const char* bytes, size_t size);
// Writes or reads all the bytes at `offset`; false when not all of them could be.
bool WriteWholeAt(int fd, const void* bytes, size_t size, uint64_t offset);
bool ReadWholeAt(int fd, void* bytes, size_t size, uint64_t offset);

// Records appended to a file at its offset, through a block of about `block` bytes.
class TemporaryWriter {
 public:
  explicit TemporaryWriter(int fd, size_t block = size_t{1} << 20) : fd_(fd), block_(block) {}
  // Adds a record: its head, then its bytes. False once a write has failed.
  bool Append(std::string_view head, std::string_view bytes) {
    held_.append(head).append(bytes);
    return held_.size() >= block_ ? Flush() : written_;
  }
  // Writes what is held; false once a write has failed.
  bool Flush();
  // The bytes added so far.
  uint64_t size() const { return flushed_ + held_.size(); }

 private:
  int fd_;
  size_t block_;
  std::string held_;
  uint64_t flushed_ = 0;
  bool written_ = true;
};

// Reads the bytes [begin, end) of a file back, through a buffer of about `buffer` bytes.
class TemporaryReader {
 public:
  TemporaryReader(int fd, uint64_t begin, uint64_t end, size_t buffer)
      : fd_(fd), at_file_(begin), end_(end), piece_(buffer) {}
  // The next n bytes, valid until the next call; null when fewer are left or the file cannot be
  // read (then failed()).
  const char* Take(size_t n);
  bool failed() const { return failed_; }

 private:
  int fd_;
  uint64_t at_file_;
  uint64_t end_;
  size_t piece_;
  std::string buffer_;
  size_t held_ = 0;
  size_t at_ = 0;
  bool failed_ = false;
};
