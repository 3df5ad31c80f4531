// A file held in memory that a target rewrites for each input and the engine opens by name, as
// it opens any list. A scratch file on disk cost most of each execution: the file system writes
// a file that was truncated and written again through to the disk when it is closed.
#pragma once

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_check.h"

class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("listwise-fuzz", MFD_CLOEXEC)) {
    FUZZ_CHECK(fd_ >= 0);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  void Write(std::string_view bytes) {
    FUZZ_CHECK(ftruncate(fd_, 0) == 0);
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put =
          pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      FUZZ_CHECK(put > 0);
      done += static_cast<size_t>(put);
    }
  }
  // A name that opens the file afresh, with an offset of its own.
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// Points the run's temporary files at memory, where the machine has a memory file system and the
// caller named no directory: a spilled run makes dozens of them per input, and making a file on a
// disk file system that has just deleted many is slow.
inline void KeepTemporaryFilesInMemory() {
  static const bool done = [] {
    struct stat st;
    if (std::getenv("TMPDIR") == nullptr && stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode))
      setenv("TMPDIR", "/dev/shm", 0);
    return true;
  }();
  (void)done;
}
