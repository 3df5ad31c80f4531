#include "core/source_format.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/simd.h"
#include "core/source_bytes.h"
#include "core/text_format.h"
#include "core/utf16_judge.h"
#include "core/utf8.h"

namespace {

struct EncodingAlias {
  const char* name;
  SourceEncoding encoding;
  CodePage page;
};

constexpr EncodingAlias kAliases[] = {
    {"utf-8", SourceEncoding::Utf8Lenient, CodePage::Windows1251},
    {"utf8", SourceEncoding::Utf8Lenient, CodePage::Windows1251},
    {"utf-16le", SourceEncoding::Utf16LE, CodePage::Windows1251},
    {"utf16le", SourceEncoding::Utf16LE, CodePage::Windows1251},
    // Windows calls its little-endian UTF-16 "Unicode"; without a mark that is what a list holds.
    {"utf-16", SourceEncoding::Utf16LE, CodePage::Windows1251},
    {"utf16", SourceEncoding::Utf16LE, CodePage::Windows1251},
    {"utf-16be", SourceEncoding::Utf16BE, CodePage::Windows1251},
    {"utf16be", SourceEncoding::Utf16BE, CodePage::Windows1251},
    {"windows-1251", SourceEncoding::CodePage, CodePage::Windows1251},
    {"windows1251", SourceEncoding::CodePage, CodePage::Windows1251},
    {"cp1251", SourceEncoding::CodePage, CodePage::Windows1251},
    {"win1251", SourceEncoding::CodePage, CodePage::Windows1251},
    {"1251", SourceEncoding::CodePage, CodePage::Windows1251},
    {"koi8-r", SourceEncoding::CodePage, CodePage::Koi8R},
    {"koi8r", SourceEncoding::CodePage, CodePage::Koi8R},
    {"koi8", SourceEncoding::CodePage, CodePage::Koi8R},
    {"cp866", SourceEncoding::CodePage, CodePage::Cp866},
    {"ibm866", SourceEncoding::CodePage, CodePage::Cp866},
    {"866", SourceEncoding::CodePage, CodePage::Cp866},
    {"windows-1252", SourceEncoding::CodePage, CodePage::Windows1252},
    {"windows1252", SourceEncoding::CodePage, CodePage::Windows1252},
    {"cp1252", SourceEncoding::CodePage, CodePage::Windows1252},
    {"win1252", SourceEncoding::CodePage, CodePage::Windows1252},
    {"1252", SourceEncoding::CodePage, CodePage::Windows1252},
    {"latin1", SourceEncoding::CodePage, CodePage::Latin1},
    {"latin-1", SourceEncoding::CodePage, CodePage::Latin1},
    {"iso-8859-1", SourceEncoding::CodePage, CodePage::Latin1},
    {"iso8859-1", SourceEncoding::CodePage, CodePage::Latin1},
    {"l1", SourceEncoding::CodePage, CodePage::Latin1},
};

}  // namespace

const char kEncodingNames[] =
    "utf-8, utf-16le, utf-16be, windows-1251, koi8-r, cp866, windows-1252, latin1";

bool ParseEncodingName(std::string_view name, EncodingChoice& out) {
  std::string lower;
  for (char c : name) lower.push_back(c == '_' ? '-' : static_cast<char>(std::tolower(c)));
  for (const EncodingAlias& alias : kAliases) {
    if (lower == alias.name) {
      out = {false, alias.encoding, alias.page};
      return true;
    }
  }
  return false;
}

std::string SourceFormatName(const SourceFormat& format) {
  switch (format.encoding) {
    case SourceEncoding::Utf8:
    case SourceEncoding::Utf8Lenient:
      return "UTF-8";
    case SourceEncoding::Utf16LE:
      return "UTF-16LE";
    case SourceEncoding::Utf16BE:
      return "UTF-16BE";
    case SourceEncoding::Utf32LE:
      return "UTF-32LE";
    case SourceEncoding::Utf32BE:
      return "UTF-32BE";
    case SourceEncoding::CodePage:
      return CodePageName(format.page);
    case SourceEncoding::Utf8OrCodePage:
      return std::string("UTF-8 и ") + CodePageName(format.page);
  }
  return {};
}

namespace {

// Reads bytes[offset, offset + n) as far as the source has them; a read error ends them.
size_t ReadUpTo(const SourceBytes& source, uint64_t offset, unsigned char* into, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t piece = source.Read(offset + got, into + got, n - got);
    if (piece <= 0) break;
    got += static_cast<size_t>(piece);
  }
  return got;
}

// The bytes of a judgement: at most kJudgedBytes from `offset`, ending at a zero byte, which
// ends the text.
struct Window {
  std::vector<unsigned char> bytes;
  bool at_end = false;  // the text ends inside the window
};

Window ReadWindow(const SourceBytes& source, uint64_t offset) {
  Window window;
  // No more room than the source can fill, and a byte to tell that it grew since it was
  // opened: most lists are far shorter than the window.
  const uint64_t size = source.expected_size();
  const size_t room =
      size > offset ? static_cast<size_t>(std::min<uint64_t>(kJudgedBytes, size - offset + 1)) : 1;
  window.bytes.resize(room);
  size_t got = ReadUpTo(source, offset, window.bytes.data(), room);
  if (got == room && room < kJudgedBytes) {
    window.bytes.resize(kJudgedBytes);
    got += ReadUpTo(source, offset + got, window.bytes.data() + got, kJudgedBytes - got);
  }
  window.bytes.resize(got);
  const void* zero = std::memchr(window.bytes.data(), 0, got);
  if (zero != nullptr) {
    window.bytes.resize(
        static_cast<size_t>(static_cast<const unsigned char*>(zero) - window.bytes.data()));
    window.at_end = true;
  }
  if (got < kJudgedBytes) window.at_end = true;
  return window;
}

// Calls fn(line, length) for each line of the window that holds a byte above 7F, lines ending at
// LF, CR or both; a line that the window's end cuts short loses a character cut in two.
template <typename Fn>
void ForEachHighLine(const Window& window, Fn&& fn) {
  static constexpr unsigned char kLineEnds[] = {'\n', '\r'};
  const unsigned char* b = window.bytes.data();
  const size_t n = window.bytes.size();
  for (size_t start = 0; start < n;) {
    const size_t end = start + FirstOfBytes(b + start, n - start, kLineEnds, 2);
    size_t length = end - start;
    if (end == n && !window.at_end) length = WithoutCutCharacter(b + start, length);
    if (AsciiRunLength(b + start, length) < length) fn(b + start, length);
    start = end + 1;
  }
}

// Where the first byte above 7F stands, or, when the text ends first, none; `limited` when the
// limit was reached first.
struct Found {
  bool found = false;
  bool limited = false;
  uint64_t offset = 0;
};

template <typename Scan>
Found Search(const SourceBytes& source, uint64_t from, uint64_t limit, Scan&& scan) {
  // Small enough to come from the heap's free lists run after run: a buffer of a megabyte would
  // be mapped and unmapped each time, or left at the top of the heap, resident.
  // A short source needs no more than its size (and a byte to find that it ended).
  const uint64_t size = source.expected_size();
  const size_t kPiece =
      size > from ? static_cast<size_t>(std::min<uint64_t>(size_t{64} << 10, size - from + 1))
                  : size_t{64} << 10;
  std::unique_ptr<unsigned char[]> piece(new unsigned char[kPiece]);
  uint64_t offset = from;
  for (;;) {
    if (offset - from >= limit) return {false, true, 0};
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, limit - (offset - from)));
    const size_t got = ReadUpTo(source, offset, piece.get(), want);
    const bool end = got < want;
    size_t next = 0;  // bytes looked at for good
    const int result = scan(piece.get(), got, end, next);
    if (result > 0) return {true, false, offset + next};
    if (result < 0 || end) return {};
    if (next == 0) return {false, true, 0};  // nothing decided in a whole piece
    offset += next;
  }
}

}  // namespace

JudgedFormat JudgeSourceFormat(const SourceBytes& source, EncodingChoice choice, uint64_t limit) {
  // The head, read into memory left as it was and no larger than the source: most lists are
  // short, and an empty one would otherwise pay for all of it.
  const uint64_t size = source.expected_size();
  const size_t first = size > 0 && size < kUtf16JudgedBytes ? size + 1 : kUtf16JudgedBytes;
  std::unique_ptr<unsigned char[]> head(new unsigned char[first]);
  size_t head_size = ReadUpTo(source, 0, head.get(), first);
  if (head_size == first && first < kUtf16JudgedBytes) {  // it grew since
    std::unique_ptr<unsigned char[]> whole(new unsigned char[kUtf16JudgedBytes]);
    std::memcpy(whole.get(), head.get(), head_size);
    head = std::move(whole);
    head_size += ReadUpTo(source, head_size, head.get() + head_size, kUtf16JudgedBytes - head_size);
  }
  const ByteOrderMark mark = FindByteOrderMark(head.get(), head_size);
  JudgedFormat judged;
  SourceFormat& format = judged.format;
  format.mark_length = mark.length;
  switch (mark.format) {
    case FormatUtf8:
      // A marked file keeps the reading rules of old, malformed bytes and all.
      format.encoding = SourceEncoding::Utf8Lenient;
      return judged;
    case FormatUtf16LE:
      format.encoding = SourceEncoding::Utf16LE;
      return judged;
    case FormatUtf16BE:
      format.encoding = SourceEncoding::Utf16BE;
      return judged;
    case FormatUtf32LE:
      format.encoding = SourceEncoding::Utf32LE;
      return judged;
    case FormatUtf32BE:
      format.encoding = SourceEncoding::Utf32BE;
      return judged;
    case FormatSingleByte:
      break;
  }
  if (!choice.automatic) {
    format.encoding = choice.encoding;
    format.page = choice.page;
    return judged;
  }
  if (const Utf16Order utf16 = JudgeUtf16(head.get(), head_size); utf16 != Utf16Order::None) {
    format.encoding =
        utf16 == Utf16Order::LittleEndian ? SourceEncoding::Utf16LE : SourceEncoding::Utf16BE;
    format.assumed = true;
    return judged;
  }

  // The first byte above 7F: before it the text is ASCII, the same in every reading.
  const Found first_high =
      Search(source, 0, limit, [](const unsigned char* b, size_t n, bool, size_t& next) {
        const size_t ascii = AsciiRunLength(b, n);
        next = ascii;
        if (ascii == n) return 0;
        return b[ascii] == 0 ? -1 : 1;
      });
  if (!first_high.found) {
    judged.settled = !first_high.limited;
    return judged;
  }
  const Window window = ReadWindow(source, first_high.offset);
  size_t valid = 0, malformed = 0;
  CodePageJudge all_lines, malformed_lines;
  ForEachHighLine(window, [&](const unsigned char* line, size_t n) {
    CodePageJudge judged;  // a line is judged once, for both sums
    judged.AddLine(line, n);
    all_lines.Add(judged);
    if (IsWellFormedUtf8(line, n)) {
      ++valid;
    } else {
      ++malformed;
      malformed_lines.Add(judged);
    }
  });
  format.assumed = true;
  if (malformed > 0) {
    if (valid >= malformed) {
      format.encoding = SourceEncoding::Utf8OrCodePage;
      format.page = malformed_lines.Best();
    } else {
      format.encoding = SourceEncoding::CodePage;
      format.page = all_lines.Best();
    }
    return judged;
  }

  // UTF-8 as far as the window goes: the first malformed byte after it, if any, makes the file
  // UTF-8 with some lines in a code page, judged from the lines that are not UTF-8 from there.
  const Found first_malformed = Search(
      source, first_high.offset, limit,
      [](const unsigned char* b, size_t n, bool end, size_t& next) {
        // The text ends at a zero byte: what follows it is never read.
        const void* zero = std::memchr(b, 0, n);
        const size_t text =
            zero != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(zero) - b) : n;
        bool cut = false;
        const size_t at = FirstMalformedByte(b, text, end || zero != nullptr, cut);
        next = at;
        if (at < text && !cut) return 1;
        return zero != nullptr ? -1 : 0;
      });
  if (!first_malformed.found) {
    format.assumed = false;
    judged.settled = !first_malformed.limited;
    return judged;
  }
  CodePageJudge later_lines;
  ForEachHighLine(ReadWindow(source, first_malformed.offset),
                  [&](const unsigned char* line, size_t n) {
                    if (!IsWellFormedUtf8(line, n)) later_lines.AddLine(line, n);
                  });
  format.encoding = SourceEncoding::Utf8OrCodePage;
  format.page = later_lines.Best();
  return judged;
}
