#include "core/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/memory_advice.h"
#include "core/raw_text.h"
#include "core/utf8.h"

namespace {

constexpr size_t kBufferSize = 4096;

}  // namespace

struct TextFile {
  std::FILE* stream = nullptr;
  bool owns_stream = true;
  bool read_only = false;
  bool writing = false;  // the buffer holds bytes to write rather than bytes read
  bool failed = false;
  int error = 0;  // errno of the first failed write
  unsigned char buffer[kBufferSize];
  size_t held = 0;  // bytes in the buffer
  size_t next = 0;  // reading: index of the first byte not yet consumed
};

void TextFileCloser::operator()(TextFile* file) const {
  if (file != nullptr) CloseTextFile(TextFilePtr(file));
}

namespace {

// The first failure's error number is the one to tell: later calls may only repeat or mask it.
void Failed(TextFile& file) {
  if (!file.failed) file.error = errno;
  file.failed = true;
}

bool FlushPending(TextFile& file) {
  if (!file.writing || file.held == 0) return true;
  const bool complete = std::fwrite(file.buffer, 1, file.held, file.stream) == file.held;
  if (!complete) Failed(file);
  file.held = 0;
  return complete;
}

void EnterReading(TextFile& file) {
  if (!file.writing) return;
  FlushPending(file);
  file.writing = false;
  file.held = file.next = 0;
}

void EnterWriting(TextFile& file) {
  if (file.writing) return;
  // Bytes read ahead but not consumed belong to the stream's current position.
  if (file.next < file.held)
    fseeko64(file.stream, -static_cast<off64_t>(file.held - file.next), SEEK_CUR);
  file.writing = true;
  file.held = file.next = 0;
}

// Makes at least `want` unconsumed bytes available when the file still has them; returns how many
// are available. A read error counts as the end of the file.
size_t Fill(TextFile& file, size_t want) {
  EnterReading(file);
  size_t available = file.held - file.next;
  if (available >= want) return available;
  std::memmove(file.buffer, file.buffer + file.next, available);
  file.held = available;
  file.next = 0;
  while (file.held < want) {
    const size_t got = std::fread(file.buffer + file.held, 1, kBufferSize - file.held, file.stream);
    if (got == 0) break;
    file.held += got;
  }
  return file.held;
}

TextFilePtr MakeFile(std::FILE* stream, bool owns, bool read_only) {
  auto* file = new TextFile;
  file->stream = stream;
  file->owns_stream = owns;
  file->read_only = read_only;
  return TextFilePtr(file);
}

// The bytes still to be read according to the file's size, when the stream is a regular file.
// Only a hint for the first allocation: /proc files report 0, and a file may change while read.
int64_t RemainingBytes(TextFile& file) {
  struct stat st;
  if (fstat(fileno(file.stream), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  const off64_t at = ftello64(file.stream);
  if (at < 0) return -1;
  return st.st_size - at + static_cast<int64_t>(file.held - file.next);
}

// The rest of the file as raw bytes: what the buffer holds, then the stream read in large pieces
// until its end or until a zero unit, past which no text exists. Only `lookahead` bytes after
// the zero are read (the UTF-8 grouping looks that far). A read error is recorded, never taken
// for the end of the file.
RawText ReadRemainingBytes(TextFile& file, size_t unit, size_t lookahead) {
  EnterReading(file);
  const std::string_view held(reinterpret_cast<const char*>(file.buffer + file.next),
                              file.held - file.next);
  const int64_t remaining = RemainingBytes(file);
  const int64_t expected =
      remaining >= 0 ? std::max<int64_t>(remaining - static_cast<int64_t>(held.size()), 0) : -1;
  RawText raw = ReadUntilZeroUnit(
      held, expected, unit, lookahead, [&](unsigned char* into, size_t n) -> ssize_t {
        return static_cast<ssize_t>(std::fread(into, 1, n, file.stream));
      });
  file.next = file.held = 0;
  // The error flag stays set from any earlier read of this stream, the mark detection's included.
  raw.failed = std::ferror(file.stream) != 0;
  return raw;
}

}  // namespace

int64_t QueryFileSize(TextView path) {
  const std::string name = Utf8FromText(path);
  if (name.empty()) return -1;
  struct stat st;
  if (stat(name.c_str(), &st) != 0) return -1;
  if (S_ISDIR(st.st_mode)) return -2;
  return st.st_size;
}

Text TempDirectory() {
  return u"/tmp/";
}

TextFilePtr OpenForReading(TextView path) {
  const std::string name = Utf8FromText(path);
  if (name.empty()) return nullptr;
  std::FILE* stream = fopen64(name.c_str(), "r");
  if (stream == nullptr) return nullptr;
  return MakeFile(stream, true, true);
}

TextFilePtr WrapForReading(std::FILE* stream, bool owns_stream) {
  if (stream == nullptr) return nullptr;
  return MakeFile(stream, owns_stream, true);
}

TextFilePtr WrapForWriting(std::FILE* stream, bool owns_stream) {
  if (stream == nullptr) return nullptr;
  return MakeFile(stream, owns_stream, false);
}

TextFormat DetectByteOrderMark(TextFile& file) {
  const size_t available = Fill(file, 4);
  const ByteOrderMark mark = FindByteOrderMark(file.buffer + file.next, available);
  file.next += mark.length;
  return mark.format;
}

Text ReadRest(TextFile& file, TextFormat format, ReadReport* report) {
  RawText raw = ReadRemainingBytes(file, FormatUnitSize(format), FormatLookahead(format));
  bool well_formed = true;
  Text text = DecodeBytes(raw.data.get(), raw.size, format, well_formed);
  if (report != nullptr) {
    report->failed = raw.failed;
    report->ended_at_zero = raw.ended_at_zero;
    report->not_utf8 = !well_formed;
  }
  return text;
}

TextFilePtr CreateForWriting(TextView path) {
  const std::string name = Utf8FromText(path);
  if (name.empty()) return nullptr;
  std::FILE* stream = fopen64(name.c_str(), "w+");
  if (stream == nullptr) return nullptr;
  return MakeFile(stream, true, false);
}

TextFilePtr CreateFreshForWriting(const std::string& path_prefix, std::string& created_name) {
  std::string pattern = path_prefix + ".XXXXXX";
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, "w+");
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    unlink(pattern.c_str());
    errno = error;
    return nullptr;
  }
  created_name = pattern;
  return MakeFile(stream, true, false);
}

int TextFileDescriptor(const TextFile& file) {
  return fileno(file.stream);
}

int64_t WriteBytes(TextFile& file, const void* bytes, size_t count) {
  if (file.read_only) return 0;
  EnterWriting(file);
  const auto* src = static_cast<const unsigned char*>(bytes);
  if (count < kBufferSize - file.held) {
    std::memcpy(file.buffer + file.held, src, count);
    file.held += count;
    return static_cast<int64_t>(count);
  }
  FlushPending(file);
  if (count >= kBufferSize) {
    const size_t put = std::fwrite(src, 1, count, file.stream);
    if (put != count) Failed(file);
    return static_cast<int64_t>(put);
  }
  std::memcpy(file.buffer, src, count);
  file.held = count;
  return static_cast<int64_t>(count);
}

void WriteByteOrderMark(TextFile& file, TextFormat format) {
  const std::string_view mark = ByteOrderMarkBytes(format);
  if (!mark.empty()) WriteBytes(file, mark.data(), mark.size());
}

int64_t WriteText(TextFile& file, TextView text, TextFormat format) {
  if (text.empty()) return 0;
  std::string bytes;
  if (format == FormatUtf8) {
    bytes = Utf8FromText(text, LoneHighSurrogate::ThreeBytes);
  } else if (format == FormatUtf16LE) {
    bytes.resize(text.size() * 2);
    for (size_t k = 0; k < text.size(); ++k) {
      bytes[2 * k] = static_cast<char>(text[k] & 0xFF);
      bytes[2 * k + 1] = static_cast<char>(text[k] >> 8);
    }
  } else {
    // Formats without an encoder of their own: one byte per unit up to 255, others left out.
    bytes.reserve(text.size());
    for (char16_t unit : text)
      if (unit <= 0xFF) bytes.push_back(static_cast<char>(unit));
  }
  if (bytes.empty()) return 0;
  return WriteBytes(file, bytes.data(), bytes.size());
}

bool CloseTextFile(TextFilePtr owned) {
  TextFile* file = owned.release();
  if (file == nullptr) return true;
  FlushPending(*file);
  bool ok = !file->failed;
  int error = file->error;
  if (file->owns_stream) {
    if (std::fclose(file->stream) != 0) ok = false;
  } else if (!file->read_only && std::fflush(file->stream) != 0) {
    ok = false;
  }
  if (!ok && error == 0) error = errno;
  delete file;
  if (!ok) errno = error;
  return ok;
}
