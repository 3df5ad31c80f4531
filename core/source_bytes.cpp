#include "core/source_bytes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/decoders.h"
#include "core/memory_advice.h"
#include "core/utf8.h"

namespace {

// Whether a file can be read where the run asks, as often as it asks. A file of the kernel's
// (/proc, /sys) says it is regular and of size 0, and makes its text anew for every read: read at
// an offset, it makes all that comes before it again, so that reading it in pieces takes time
// that grows with the square of its size (minutes for /proc/kallsyms). Like a pipe it is read
// once, from its start; so is a file that is really empty, which costs nothing.
bool ReadByOffset(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_size > 0;
}

// Waits until `fd` has bytes or its end to give. False once `keep_reading` asks to stop; true
// also on a failure, which the read then tells.
bool WaitReadable(int fd, uint64_t done, const KeepReading& keep_reading) {
  for (;;) {
    if (keep_reading && !keep_reading(done)) return false;
    pollfd wanted{fd, POLLIN, 0};
    const int ready = poll(&wanted, 1, kReadWaitMs);
    // An interrupt comes back here at once, to be asked about.
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
  }
}

}  // namespace

SourceBytes::~SourceBytes() {
  if (fd_ >= 0) close(fd_);
}

std::unique_ptr<SourceBytes> SourceBytes::FromMemory(std::string bytes) {
  std::unique_ptr<SourceBytes> source(new SourceBytes);
  source->bytes_ = std::move(bytes);
  return source;
}

SourceBytes::Opened SourceBytes::Open(TextView path, bool wide, std::unique_ptr<SourceBytes>& out,
                                      const KeepReading& keep_reading) {
  const std::string name = Utf8FromText(path);
  if (name.empty()) return Opened::Missing;
  // Without O_NONBLOCK a named pipe would hold the open until a writer came, with no way to stop.
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? Opened::Missing : Opened::Unreadable;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return Opened::Unreadable;
  }
  if (S_ISDIR(st.st_mode)) {
    close(fd);
    return Opened::Missing;
  }
  if (!ReadByOffset(st)) {
    const Opened read = ReadWhole(fd, wide, out, keep_reading);
    close(fd);
    return read;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  out.reset(new SourceBytes);
  out->fd_ = fd;
  out->size_at_open_ = static_cast<uint64_t>(st.st_size);
  return Opened::Yes;
}

SourceBytes::Opened SourceBytes::FromDescriptor(int fd, bool wide,
                                                std::unique_ptr<SourceBytes>& out,
                                                const KeepReading& keep_reading) {
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return Opened::Unreadable;
  if (ReadByOffset(st)) {
    // A file on standard input is read from where the descriptor stands, and only once.
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (at < 0) return ReadWhole(fd, wide, out, keep_reading);
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return Opened::Unreadable;
    out.reset(new SourceBytes);
    out->fd_ = own;
    out->size_at_open_ = static_cast<uint64_t>(st.st_size);
    if (at == 0) return Opened::Yes;
    // The bytes before the descriptor's position are not part of the list.
    std::string rest;
    char piece[1 << 16];
    for (uint64_t offset = static_cast<uint64_t>(at);;) {
      const ssize_t got = out->Read(offset, piece, sizeof piece);
      if (got < 0) return Opened::Unreadable;
      if (got == 0) break;
      rest.append(piece, static_cast<size_t>(got));
      offset += static_cast<uint64_t>(got);
    }
    out = FromMemory(std::move(rest));
    return Opened::Yes;
  }
  return ReadWhole(fd, wide, out, keep_reading);
}

SourceBytes::Opened SourceBytes::ReadWhole(int fd, bool wide, std::unique_ptr<SourceBytes>& out,
                                           const KeepReading& keep_reading) {
  std::string bytes;
  constexpr size_t kPiece = size_t{1} << 20;
  constexpr size_t kHead = 4096;  // what the mark and the zero bytes of UTF-16 are judged from
  // The unit of the zero that ends the text, known from the head. Past the zero the reading
  // stops, with a few bytes more for a UTF-8 sequence that the zero cuts short; the head is
  // always kept, so that the source is judged as a file of the same bytes would be.
  size_t unit = 0;
  size_t scanned = 0;
  size_t wanted = SIZE_MAX;
  for (;;) {
    // Each read waits in poll, never in read itself: a descriptor the caller owns stays as
    // blocking as it was, and an interrupt or a stop is seen while nothing comes.
    if (!WaitReadable(fd, bytes.size(), keep_reading)) return Opened::Stopped;
    const size_t before = bytes.size();
    bytes.resize(before + kPiece);
    const ssize_t got = read(fd, bytes.data() + before, kPiece);
    if (got < 0) {
      bytes.resize(before);
      if (errno == EINTR || errno == EAGAIN) continue;
      return Opened::Unreadable;
    }
    bytes.resize(before + static_cast<size_t>(got));
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (unit == 0 && (got == 0 || bytes.size() >= kHead)) {
      const size_t head = std::min(bytes.size(), kHead);
      const ByteOrderMark mark = FindByteOrderMark(b, head);
      if (mark.format == FormatUtf32LE || mark.format == FormatUtf32BE)
        unit = 4;
      else if (mark.format == FormatUtf16LE || mark.format == FormatUtf16BE)
        unit = 2;
      else if (mark.format == FormatUtf8)
        unit = 1;
      else
        unit = wide || Utf16ByZeros(b, head) != 0 ? 2 : 1;
    }
    if (unit != 0 && wanted == SIZE_MAX) {
      scanned = FindZeroUnit(b, scanned, bytes.size(), unit);
      if (scanned + unit <= bytes.size()) wanted = std::max(scanned + unit + 3, kHead);
    }
    if (got == 0 || bytes.size() >= wanted) break;
  }
  if (bytes.size() > wanted) bytes.resize(wanted);
  bytes.shrink_to_fit();
  out = FromMemory(std::move(bytes));
  return Opened::Yes;
}

ssize_t SourceBytes::Read(uint64_t offset, void* into, size_t n) const {
  if (fd_ < 0) {
    if (offset >= bytes_.size()) return 0;
    const size_t take = std::min<uint64_t>(n, bytes_.size() - offset);
    std::memcpy(into, bytes_.data() + offset, take);
    return static_cast<ssize_t>(take);
  }
  for (;;) {
    const ssize_t got = pread(fd_, into, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got == 0 && n > 0 && offset < size_at_open_) {
      cut_.store(true, std::memory_order_relaxed);
      return -1;
    }
    return got;
  }
}

int Utf16ByZeros(const unsigned char* b, size_t n) {
  size_t zeros[2] = {0, 0};
  for (size_t i = 0; i < n; ++i)
    if (b[i] == 0) ++zeros[i & 1];
  const size_t units = n / 2;
  // A text line has at least one ASCII character, its line end, in a few dozen units; the other
  // offsets hold a zero only for the rare character whose low byte is zero.
  for (int odd = 1; odd >= 0; --odd) {
    const size_t here = zeros[odd], there = zeros[1 - odd];
    if (here >= 2 && here * 64 >= units && there * 16 <= here) return odd == 1 ? 1 : 2;
  }
  return 0;
}

RawText ReadRawText(const SourceBytes& source, uint64_t from, size_t unit, size_t lookahead) {
  const uint64_t size = source.expected_size();
  uint64_t at = from;
  return ReadUntilZeroUnit({}, size > from ? static_cast<int64_t>(size - from) : -1, unit,
                           lookahead, [&](unsigned char* into, size_t n) {
                             const ssize_t got = source.Read(at, into, n);
                             if (got > 0) at += static_cast<uint64_t>(got);
                             return got;
                           });
}
