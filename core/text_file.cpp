#include "core/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/memory_advice.h"
#include "core/simd.h"
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
  unsigned char buffer[kBufferSize];
  size_t held = 0;  // bytes in the buffer
  size_t next = 0;  // reading: index of the first byte not yet consumed
};

void TextFileCloser::operator()(TextFile* file) const {
  if (file != nullptr) CloseTextFile(TextFilePtr(file));
}

namespace {

bool FlushPending(TextFile& file) {
  if (!file.writing || file.held == 0) return true;
  const bool complete = std::fwrite(file.buffer, 1, file.held, file.stream) == file.held;
  if (!complete) file.failed = true;
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

// Offset of the first zero unit of `unit` bytes in b[from, n), units starting at multiples of
// `unit`; the end of the last whole unit when there is none.
size_t FindZeroUnit(const unsigned char* b, size_t from, size_t n, size_t unit) {
  const size_t whole = n - n % unit;
  if (unit == 1) {
    const void* zero = std::memchr(b + from, 0, whole - from);
    return zero == nullptr ? whole
                           : static_cast<size_t>(static_cast<const unsigned char*>(zero) - b);
  }
  if (unit == 2) return from + ZeroPairOffset(b + from, whole - from);
  for (size_t k = from; k < whole; k += unit)
    if (std::all_of(b + k, b + k + unit, [](unsigned char c) { return c == 0; })) return k;
  return whole;
}

// The rest of the file as raw bytes: what the buffer holds, then the stream read in large pieces
// until its end or until a zero unit, past which no text exists. Only `lookahead` bytes after
// the zero are read (the UTF-8 grouping looks that far). A read error is recorded, never taken
// for the end of the file.
struct RawBytes {
  std::unique_ptr<unsigned char[]> data;
  size_t size = 0;
  bool failed = false;
  bool ended_at_zero = false;
};

constexpr size_t kReadPiece = size_t{1} << 20;

RawBytes ReadRemainingBytes(TextFile& file, size_t unit, size_t lookahead) {
  EnterReading(file);
  const size_t buffered = file.held - file.next;
  const int64_t expected = RemainingBytes(file);
  // One byte beyond the expected size shows the end without a second allocation.
  size_t capacity = expected >= 0 ? static_cast<size_t>(expected) + 1 : kReadPiece;
  capacity = std::max(capacity, buffered + 1);
  // A zero among the bytes read ahead ends the text there: a disk image or a sparse file, often
  // larger than memory, must not be allocated whole for the few bytes before it.
  const size_t early_zero = FindZeroUnit(file.buffer + file.next, 0, buffered, unit);
  if (early_zero + unit <= buffered) capacity = buffered + lookahead + 1;
  RawBytes raw;
  // A file too large for memory must not read as an empty list: the allocation's failure goes up
  // as std::bad_alloc, like that of any container, to the run, which reports it.
  raw.data.reset(new unsigned char[capacity]);
  AdviseHugePages(raw.data.get(), capacity);
  std::memcpy(raw.data.get(), file.buffer + file.next, buffered);
  raw.size = buffered;
  file.next = file.held = 0;
  size_t scanned = 0;  // bytes known to hold no zero unit; a multiple of `unit`
  size_t wanted = SIZE_MAX;
  auto scan = [&] {
    if (raw.ended_at_zero) return;
    scanned = FindZeroUnit(raw.data.get(), scanned, raw.size, unit);
    if (scanned + unit <= raw.size) {
      raw.ended_at_zero = true;
      wanted = scanned + unit + lookahead;
    }
  };
  scan();
  while (raw.size < wanted) {
    if (raw.size == capacity) {
      // The file holds more than its size said, or it is a pipe: make room and go on.
      const size_t larger = std::max(capacity * 2, kReadPiece);
      std::unique_ptr<unsigned char[]> more(new unsigned char[larger]);
      std::memcpy(more.get(), raw.data.get(), raw.size);
      raw.data = std::move(more);
      capacity = larger;
    }
    // Pieces rather than the whole rest at once, so that a zero stops the reading soon.
    const size_t piece = std::min({capacity - raw.size, kReadPiece, wanted - raw.size});
    const size_t got = std::fread(raw.data.get() + raw.size, 1, piece, file.stream);
    if (got == 0) break;
    raw.size += got;
    scan();
  }
  // The error flag stays set from any earlier read of this stream, the mark detection's included.
  raw.failed = std::ferror(file.stream) != 0;
  return raw;
}

// A text of exactly the decoded length, built through a raw pointer.
class UnitBuffer {
 public:
  explicit UnitBuffer(size_t most) : text_(most, u'\0') {}
  char16_t* data() { return text_.data(); }
  Text Finish(size_t length) {
    text_.resize(length);
    // Keep the text's memory close to its size: a whole source stays in memory for a run.
    if (text_.capacity() > length + length / 4 + 4096) text_.shrink_to_fit();
    return std::move(text_);
  }

 private:
  Text text_;
};

Text DecodeUtf16(const RawBytes& raw, bool big_endian) {
  UnitBuffer out(raw.size / 2);
  char16_t* dst = out.data();
  size_t len = 0;
  const unsigned char* src = raw.data.get();
  // A lone last byte is dropped; a unit 0 ends the text.
  for (size_t k = 0; k + 1 < raw.size; k += 2) {
    const char16_t unit = big_endian ? static_cast<char16_t>(src[k] << 8 | src[k + 1])
                                     : static_cast<char16_t>(src[k + 1] << 8 | src[k]);
    if (unit == 0) break;
    dst[len++] = unit;
  }
  return out.Finish(len);
}

Text DecodeUtf32(const RawBytes& raw, bool big_endian) {
  UnitBuffer out(raw.size / 2);
  char16_t* dst = out.data();
  size_t len = 0;
  const unsigned char* src = raw.data.get();
  // An incomplete last character is dropped; a character 0 ends the text; values that are no
  // character (above 10FFFF, surrogates) become "?".
  for (size_t k = 0; k + 3 < raw.size; k += 4) {
    const unsigned char* q = src + k;
    const uint32_t cp =
        big_endian ? uint32_t{q[0]} << 24 | uint32_t{q[1]} << 16 | uint32_t{q[2]} << 8 | q[3]
                   : uint32_t{q[3]} << 24 | uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
    if (cp == 0) break;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      dst[len++] = u'?';
    } else if (cp > 0xFFFF) {
      dst[len++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      dst[len++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      dst[len++] = static_cast<char16_t>(cp);
    }
  }
  return out.Finish(len);
}

Text DecodeSingleByte(const RawBytes& raw) {
  const unsigned char* src = raw.data.get();
  size_t len = 0;
  while (len < raw.size && src[len] != 0) ++len;
  UnitBuffer out(len);
  for (size_t k = 0; k < len; ++k) out.data()[k] = src[k];
  return out.Finish(len);
}

// Whether the group of `size` bytes at s, its size taken from its lead byte, is well-formed
// UTF-8: no overlong form, no encoded surrogate, nothing above 10FFFF.
bool WellFormedGroup(const unsigned char* s, size_t size) {
  const unsigned char lead = s[0];
  if (lead < 0xC2 || lead > 0xF4) return false;
  unsigned char low = 0x80, high = 0xBF;
  if (lead == 0xE0)
    low = 0xA0;
  else if (lead == 0xED)
    high = 0x9F;
  else if (lead == 0xF0)
    low = 0x90;
  else if (lead == 0xF4)
    high = 0x8F;
  if (s[1] < low || s[1] > high) return false;
  for (size_t k = 2; k < size; ++k)
    if ((s[k] & 0xC0) != 0x80) return false;
  return true;
}

// UTF-8 in two stages. Stage 1 groups the bytes by their lead byte without checking the
// continuation bytes, turns a byte that cannot lead a group into "?", drops a group cut off by
// the end of the file and ends the byte string at its first zero. Its output is never longer
// than its input, so it works in place. Stage 2 (DecodeUtf8Units) then converts the grouped
// bytes, so a misaligned sequence decodes exactly as the grouping left it. On the way it notes
// whether the bytes before the first zero are well-formed UTF-8, which decides nothing about the
// text but is told to the user: a list in a legacy code page reads as control characters.
size_t GroupUtf8InPlace(unsigned char* b, size_t n, bool& well_formed) {
  size_t i = 0;
  while (i < n) {
    i += AsciiRunLength(b + i, n - i);
    if (i == n) break;
    const unsigned char lead = b[i];
    size_t size;
    if (lead == 0) return i;
    if (lead >= 0xC0 && lead <= 0xDF)
      size = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
      size = 3;
    else if (lead >= 0xF0 && lead <= 0xF7)
      size = 4;
    else {
      well_formed = false;
      b[i++] = '?';
      continue;
    }
    if (i + size > n) {  // the file ends inside the group
      well_formed = false;
      return i;
    }
    for (size_t k = 1; k < size; ++k) {
      if (b[i + k] == 0) {
        well_formed = false;
        return i + k;
      }
    }
    if (well_formed && !WellFormedGroup(b + i, size)) well_formed = false;
    i += size;
  }
  return n;
}

Text DecodeUtf8(RawBytes& raw, bool& well_formed) {
  const size_t grouped = GroupUtf8InPlace(raw.data.get(), raw.size, well_formed);
  // Decoded a piece at a time into a small buffer that stays in the cache, then appended: the
  // text's memory is written once, never cleared first.
  Text text;
  text.reserve(grouped);
  AdviseHugePages(text.data(), grouped * sizeof(char16_t));
  constexpr size_t kPiece = 1 << 15;
  static thread_local char16_t piece[kPiece];
  const unsigned char* bytes = raw.data.get();
  bool ended = false;
  for (size_t at = 0; at < grouped && !ended;) {
    const size_t take = std::min(grouped - at, kPiece);
    const bool final = at + take == grouped;
    size_t len = 0;
    at += DecodeUtf8Units(bytes + at, take, final, piece, &len, &ended);
    text.append(piece, len);
  }
  if (text.capacity() > text.size() + text.size() / 4 + 4096) text.shrink_to_fit();
  return text;
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
  const unsigned char* b = file.buffer + file.next;
  auto starts = [&](std::initializer_list<unsigned char> mark) {
    if (available < mark.size()) return false;
    return std::equal(mark.begin(), mark.end(), b);
  };
  struct Mark {
    std::initializer_list<unsigned char> bytes;
    TextFormat format;
  };
  static const Mark kMarks[] = {
      {{0xFF, 0xFE, 0x00, 0x00}, FormatUtf32LE},
      {{0x00, 0x00, 0xFE, 0xFF}, FormatUtf32BE},
      {{0xFF, 0xFE}, FormatUtf16LE},
      {{0xEF, 0xBB, 0xBF}, FormatUtf8},
      {{0xFE, 0xFF}, FormatUtf16BE},
  };
  for (const Mark& mark : kMarks) {
    if (starts(mark.bytes)) {
      file.next += mark.bytes.size();
      return mark.format;
    }
  }
  return FormatSingleByte;
}

Text ReadRest(TextFile& file, TextFormat format, ReadReport* report) {
  size_t unit = 1;
  if (format == FormatUtf16LE || format == FormatUtf16BE) unit = 2;
  if (format == FormatUtf32LE || format == FormatUtf32BE) unit = 4;
  RawBytes raw = ReadRemainingBytes(file, unit, format == FormatUtf8 ? 3 : 0);
  bool well_formed = true;
  Text text;
  switch (format) {
    case FormatUtf8:
      text = DecodeUtf8(raw, well_formed);
      break;
    case FormatUtf16LE:
      text = DecodeUtf16(raw, false);
      break;
    case FormatUtf16BE:
      text = DecodeUtf16(raw, true);
      break;
    case FormatUtf32LE:
      text = DecodeUtf32(raw, false);
      break;
    case FormatUtf32BE:
      text = DecodeUtf32(raw, true);
      break;
    default:
      text = DecodeSingleByte(raw);
      break;
  }
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
    close(fd);
    unlink(pattern.c_str());
    return nullptr;
  }
  created_name = pattern;
  return MakeFile(stream, true, false);
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
    if (put != count) file.failed = true;
    return static_cast<int64_t>(put);
  }
  std::memcpy(file.buffer, src, count);
  file.held = count;
  return static_cast<int64_t>(count);
}

void WriteByteOrderMark(TextFile& file, TextFormat format) {
  static const unsigned char kUtf8[] = {0xEF, 0xBB, 0xBF};
  static const unsigned char kUtf16BE[] = {0xFE, 0xFF};
  static const unsigned char kUtf32LE[] = {0xFF, 0xFE, 0x00, 0x00};
  static const unsigned char kUtf32BE[] = {0x00, 0x00, 0xFE, 0xFF};
  static const unsigned char kUtf16LE[] = {0xFF, 0xFE};
  switch (format) {
    case FormatUtf8:
      WriteBytes(file, kUtf8, sizeof kUtf8);
      break;
    case FormatUtf16BE:
      WriteBytes(file, kUtf16BE, sizeof kUtf16BE);
      break;
    case FormatUtf32LE:
      WriteBytes(file, kUtf32LE, sizeof kUtf32LE);
      break;
    case FormatUtf32BE:
      WriteBytes(file, kUtf32BE, sizeof kUtf32BE);
      break;
    case FormatUtf16LE:
      WriteBytes(file, kUtf16LE, sizeof kUtf16LE);
      break;
    default:
      break;
  }
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
  if (file->owns_stream) {
    if (std::fclose(file->stream) != 0) ok = false;
  } else if (!file->read_only && std::fflush(file->stream) != 0) {
    ok = false;
  }
  delete file;
  return ok;
}
