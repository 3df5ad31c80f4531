#include "engine/temporary_space.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

int UnnamedTemporaryFile() {
  const char* base = std::getenv("TMPDIR");
  const std::string dir = base != nullptr && base[0] != '\0' ? base : "/tmp";
  int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without unnamed files: a named one, unlinked at once.
  std::string name = dir + "/listwise-XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

bool WriteWhole(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t put = write(fd, bytes, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

bool WriteWholeAt(int fd, const void* bytes, size_t size, uint64_t offset) {
  for (const auto* at = static_cast<const char*>(bytes); size > 0;) {
    const ssize_t put = pwrite(fd, at, size, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    at += put;
    size -= static_cast<size_t>(put);
    offset += static_cast<uint64_t>(put);
  }
  return true;
}

bool ReadWholeAt(int fd, void* bytes, size_t size, uint64_t offset) {
  for (auto* at = static_cast<char*>(bytes); size > 0;) {
    const ssize_t got = pread(fd, at, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    size -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

bool TemporaryWriter::Flush() {
  written_ = written_ && WriteWhole(fd_, held_.data(), held_.size());
  flushed_ += held_.size();
  held_.clear();
  return written_;
}

const char* TemporaryReader::Take(size_t n) {
  if (held_ - at_ < n) {
    buffer_.erase(0, at_);
    held_ -= at_;
    at_ = 0;
    const uint64_t left = end_ - at_file_;
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(std::max(n, piece_), left));
    if (buffer_.size() < held_ + piece) buffer_.resize(held_ + piece);
    while (held_ < n) {
      if (at_file_ >= end_) return nullptr;
      const size_t want =
          static_cast<size_t>(std::min<uint64_t>(buffer_.size() - held_, end_ - at_file_));
      const ssize_t got = pread(fd_, buffer_.data() + held_, want, static_cast<off_t>(at_file_));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        failed_ = true;  // the file is shorter than what was written to it
        return nullptr;
      }
      held_ += static_cast<size_t>(got);
      at_file_ += static_cast<uint64_t>(got);
    }
  }
  const char* bytes = buffer_.data() + at_;
  at_ += n;
  return bytes;
}
