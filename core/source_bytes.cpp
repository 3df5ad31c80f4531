#include "core/source_bytes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/memory_advice.h"
#include "core/text_format.h"
#include "core/utf16_judge.h"
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
  struct stat st;
  // A path whose directories may not be searched names no file the user can reach.
  if (fd < 0) return stat(name.c_str(), &st) != 0 ? Opened::Missing : Opened::Unreadable;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return S_ISDIR(st.st_mode) ? Opened::Directory : Opened::Unreadable;
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
  // The buffer doubles from 4 KB and is cleared only as it grows: a short list costs little,
  // and a pipe, which gives 64 KB a read, does not have a megabyte cleared for each.
  constexpr size_t kFirstPiece = size_t{4} << 10;
  constexpr size_t kHead = kUtf16JudgedBytes;  // what the mark and UTF-16 are judged from
  std::string bytes;
  size_t size = 0;
  // The unit of the zero that ends the text, known from the head. Past the zero the reading
  // stops, with a few bytes more for a UTF-8 sequence that the zero cuts short; the head is
  // always kept, so that the source is judged as a file of the same bytes would be.
  size_t unit = 0;
  size_t scanned = 0;
  size_t wanted = SIZE_MAX;
  bool at_end = false;
  for (;;) {
    // Each read waits in poll, never in read itself: a descriptor the caller owns stays as
    // blocking as it was, and an interrupt or a stop is seen while nothing comes.
    if (!WaitReadable(fd, size, keep_reading)) return Opened::Stopped;
    if (bytes.size() - size < kFirstPiece) bytes.resize(std::max(kFirstPiece, bytes.size() * 2));
    const ssize_t got = read(fd, bytes.data() + size, bytes.size() - size);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return Opened::Unreadable;
    }
    size += static_cast<size_t>(got);
    at_end = got == 0;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (unit == 0 && (got == 0 || size >= kHead)) {
      const size_t head = std::min(size, kHead);
      const ByteOrderMark mark = FindByteOrderMark(b, head);
      if (mark.format == FormatUtf32LE || mark.format == FormatUtf32BE)
        unit = 4;
      else if (mark.format == FormatUtf16LE || mark.format == FormatUtf16BE)
        unit = 2;
      else if (mark.format == FormatUtf8)
        unit = 1;
      else
        unit = wide || JudgeUtf16(b, head) != Utf16Order::None ? 2 : 1;
    }
    if (unit != 0 && wanted == SIZE_MAX) {
      scanned = FindZeroUnit(b, scanned, size, unit);
      if (scanned + unit <= size) wanted = std::max(scanned + unit + 3, kHead);
    }
    if (got == 0 || size >= wanted) break;
  }
  const bool whole = at_end && size <= wanted;
  bytes.resize(std::min(size, wanted));
  bytes.shrink_to_fit();
  out = FromMemory(std::move(bytes));
  out->whole_ = whole;
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

uint64_t FindZeroUnitOffset(const SourceBytes& source, uint64_t from, size_t unit) {
  constexpr size_t kPiece = size_t{64} << 10;  // a multiple of every unit
  std::unique_ptr<unsigned char[]> piece(new unsigned char[kPiece]);
  for (uint64_t at = from;;) {
    size_t got = 0;
    while (got < kPiece) {
      const ssize_t read = source.Read(at + got, piece.get() + got, kPiece - got);
      if (read <= 0) break;
      got += static_cast<size_t>(read);
    }
    const size_t zero = FindZeroUnit(piece.get(), 0, got, unit);
    if (zero + unit <= got) return at + zero - from;
    if (got < kPiece) return UINT64_MAX;
    at += got;
  }
}
