#include "core/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

// Upper bound of the bytes still to be read, when the stream is a regular file.
int64_t RemainingBytes(TextFile& file) {
  struct stat st;
  if (fstat(fileno(file.stream), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  const off64_t at = ftello64(file.stream);
  if (at < 0) return -1;
  return st.st_size - at + static_cast<int64_t>(file.held - file.next);
}

// Output of a decoder: grows in large steps, written through a raw pointer.
class UnitBuffer {
 public:
  explicit UnitBuffer(int64_t expected) {
    text_.resize(expected > 0 ? static_cast<size_t>(expected) + 16 : 1 << 16);
  }
  char16_t* Reserve(size_t more) {
    if (len_ + more > text_.size()) text_.resize(std::max(text_.size() * 2, len_ + more));
    return text_.data();
  }
  size_t& length() { return len_; }
  Text Finish() {
    text_.resize(len_);
    // Keep the text's memory close to its size: a whole source stays in memory for a run.
    if (text_.capacity() > len_ + len_ / 4 + 4096) text_.shrink_to_fit();
    return std::move(text_);
  }

 private:
  Text text_;
  size_t len_ = 0;
};

Text ReadUtf16(TextFile& file, bool big_endian) {
  const int64_t remaining = RemainingBytes(file);
  UnitBuffer out(remaining >= 0 ? remaining / 2 : -1);
  for (;;) {
    const size_t available = Fill(file, 2);
    if (available < 2) break;  // a lone last byte is dropped
    const size_t pairs = available / 2;
    char16_t* dst = out.Reserve(pairs);
    size_t& len = out.length();
    const unsigned char* src = file.buffer + file.next;
    for (size_t k = 0; k < pairs; ++k, src += 2) {
      const char16_t unit = big_endian ? static_cast<char16_t>(src[0] << 8 | src[1])
                                       : static_cast<char16_t>(src[1] << 8 | src[0]);
      if (unit == 0) return out.Finish();
      dst[len++] = unit;
    }
    file.next += pairs * 2;
  }
  file.next = file.held;
  return out.Finish();
}

Text ReadUtf32(TextFile& file, bool big_endian) {
  const int64_t remaining = RemainingBytes(file);
  UnitBuffer out(remaining >= 0 ? remaining / 2 : -1);
  for (;;) {
    const size_t available = Fill(file, 4);
    if (available < 4) break;  // an incomplete last character is dropped
    const size_t quads = available / 4;
    char16_t* dst = out.Reserve(quads * 2);
    size_t& len = out.length();
    const unsigned char* src = file.buffer + file.next;
    for (size_t k = 0; k < quads; ++k, src += 4) {
      const uint32_t cp = big_endian
                              ? uint32_t{src[0]} << 24 | uint32_t{src[1]} << 16 |
                                    uint32_t{src[2]} << 8 | src[3]
                              : uint32_t{src[3]} << 24 | uint32_t{src[2]} << 16 |
                                    uint32_t{src[1]} << 8 | src[0];
      if (cp == 0) return out.Finish();
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        dst[len++] = u'?';
      } else if (cp > 0xFFFF) {
        dst[len++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        dst[len++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        dst[len++] = static_cast<char16_t>(cp);
      }
    }
    file.next += quads * 4;
  }
  file.next = file.held;
  return out.Finish();
}

Text ReadSingleByte(TextFile& file) {
  UnitBuffer out(RemainingBytes(file));
  for (;;) {
    const size_t available = Fill(file, 1);
    if (available == 0) break;
    char16_t* dst = out.Reserve(available);
    size_t& len = out.length();
    for (size_t k = file.next; k < file.held; ++k) {
      if (file.buffer[k] == 0) return out.Finish();
      dst[len++] = file.buffer[k];
    }
    file.next = file.held;
  }
  return out.Finish();
}

// UTF-8 in two stages. Stage 1 groups the bytes by their lead byte without checking the
// continuation bytes, turns a byte that cannot lead a group into "?", drops a group cut off by
// the end of the file and ends the byte string at its first zero. Stage 2 converts the grouped
// bytes (DecodeUtf8Units), so a misaligned sequence decodes exactly as the grouping left it.
Text ReadUtf8(TextFile& file) {
  UnitBuffer out(RemainingBytes(file));
  std::string grouped;  // stage 1 output not yet converted by stage 2
  grouped.reserve(kBufferSize + 8);
  bool string_ended = false;  // stage 1 met a zero byte
  bool conversion_ended = false;
  auto convert = [&](bool final) {
    if (conversion_ended || grouped.empty()) return;
    char16_t* dst = out.Reserve(grouped.size());
    const size_t used = DecodeUtf8Units(reinterpret_cast<const unsigned char*>(grouped.data()),
                                        grouped.size(), final, dst, &out.length(),
                                        &conversion_ended);
    grouped.erase(0, used);
  };
  while (!string_ended && !conversion_ended) {
    const size_t available = Fill(file, 4);
    if (available == 0) break;
    const unsigned char* src = file.buffer + file.next;
    size_t i = 0;
    while (i < available) {
      const unsigned char lead = src[i];
      if (lead < 0x80) {
        if (lead == 0) {
          string_ended = true;
          break;
        }
        grouped.push_back(static_cast<char>(lead));
        ++i;
        continue;
      }
      size_t size;
      if (lead >= 0xC0 && lead <= 0xDF) size = 2;
      else if (lead >= 0xE0 && lead <= 0xEF) size = 3;
      else if (lead >= 0xF0 && lead <= 0xF7) size = 4;
      else {
        grouped.push_back('?');
        ++i;
        continue;
      }
      if (i + size > available) break;  // completed after the next fill, or dropped at the end
      for (size_t k = 0; k < size; ++k) {
        if (src[i + k] == 0) {
          string_ended = true;
          break;
        }
        grouped.push_back(static_cast<char>(src[i + k]));
      }
      if (string_ended) break;
      i += size;
    }
    file.next += i;
    if (!string_ended && i == 0) {
      // Fewer bytes than the group needs are left: the file ends inside the group.
      file.next = file.held;
      break;
    }
    convert(false);
  }
  convert(true);
  return out.Finish();
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

Text TempDirectory() { return u"/tmp/"; }

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
      {{0xFF, 0xFE, 0x00, 0x00}, FormatUtf32LE}, {{0x00, 0x00, 0xFE, 0xFF}, FormatUtf32BE},
      {{0xFF, 0xFE}, FormatUtf16LE},             {{0xEF, 0xBB, 0xBF}, FormatUtf8},
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

Text ReadRest(TextFile& file, TextFormat format) {
  switch (format) {
    case FormatUtf8: return ReadUtf8(file);
    case FormatUtf16LE: return ReadUtf16(file, false);
    case FormatUtf16BE: return ReadUtf16(file, true);
    case FormatUtf32LE: return ReadUtf32(file, false);
    case FormatUtf32BE: return ReadUtf32(file, true);
    default: return ReadSingleByte(file);
  }
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
    case FormatUtf8: WriteBytes(file, kUtf8, sizeof kUtf8); break;
    case FormatUtf16BE: WriteBytes(file, kUtf16BE, sizeof kUtf16BE); break;
    case FormatUtf32LE: WriteBytes(file, kUtf32LE, sizeof kUtf32LE); break;
    case FormatUtf32BE: WriteBytes(file, kUtf32BE, sizeof kUtf32BE); break;
    case FormatUtf16LE: WriteBytes(file, kUtf16LE, sizeof kUtf16LE); break;
    default: break;
  }
}

int64_t WriteText(TextFile& file, TextView text, TextFormat format) {
  if (text.empty()) return 0;
  std::string bytes;
  if (format == FormatUtf8) {
    bytes = Utf8FromText(text);
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
