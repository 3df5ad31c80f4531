// How a source's bytes are read as text, decided from the bytes alone (never from the locale),
// so that the same file always reads the same way:
// - a byte-order mark decides;
// - else, when the caller names an encoding, that one;
// - else text that looks like UTF-16 (see JudgeUtf16) is UTF-16;
// - else well-formed UTF-8 is UTF-8;
// - else the text is judged from the 64 KB that start at its first byte above 7F: when most
//   lines there that hold such bytes are well-formed UTF-8, the file is UTF-8 with some lines in
//   another code page (each line that is not well-formed UTF-8 is read in that code page); when
//   most are not, the whole file is in one single-byte code page.
// A code page gives every byte a character of its own, so distinct lines stay distinct items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/code_pages.h"

class SourceBytes;

enum class SourceEncoding : uint8_t {
  Utf8,         // well-formed UTF-8
  Utf8Lenient,  // UTF-8 by the reading rules of old, which group malformed bytes: only on request
  Utf16LE,
  Utf16BE,
  Utf32LE,  // only with its mark
  Utf32BE,
  CodePage,        // every byte a character of `page`
  Utf8OrCodePage,  // each line well-formed UTF-8 as it stands, every other line in `page`
};

struct SourceFormat {
  SourceEncoding encoding = SourceEncoding::Utf8;
  CodePage page = CodePage::Windows1251;
  size_t mark_length = 0;  // the byte-order mark, which is not part of the text
  // Judged from the bytes rather than marked or asked for: the user is told.
  bool assumed = false;
};

// The bytes of one unit of the encoding: 2 for UTF-16, 4 for UTF-32, else 1.
inline size_t UnitSize(SourceEncoding encoding) {
  switch (encoding) {
    case SourceEncoding::Utf16LE:
    case SourceEncoding::Utf16BE:
      return 2;
    case SourceEncoding::Utf32LE:
    case SourceEncoding::Utf32BE:
      return 4;
    default:
      return 1;
  }
}

// What the caller asks for sources without a mark.
struct EncodingChoice {
  bool automatic = true;
  SourceEncoding encoding = SourceEncoding::Utf8;
  CodePage page = CodePage::Windows1251;
};

// Whether sources are asked to be read as UTF-16, whose zero unit, not a zero byte, ends a text.
inline bool OpensAsUtf16(EncodingChoice choice) {
  return !choice.automatic &&
         (choice.encoding == SourceEncoding::Utf16LE || choice.encoding == SourceEncoding::Utf16BE);
}

// The names users write: "windows-1251", "cp1251", "koi8-r", "cp866", "latin1", "utf-16le",
// "utf-8" (the lenient rules of old) and their usual spellings, in any case. False when unknown.
bool ParseEncodingName(std::string_view name, EncodingChoice& out);
// The names ParseEncodingName knows, one spelling each, for usage texts.
extern const char kEncodingNames[];

// "Windows-1251", "UTF-16LE", "UTF-8 и Windows-1251": how the notices name a format.
std::string SourceFormatName(const SourceFormat& format);

// The bytes each judgement looks at.
constexpr size_t kJudgedBytes = size_t{64} << 10;

struct JudgedFormat {
  SourceFormat format;
  // False when the bytes looked at so far are UTF-8 but the rest was not read: the source may
  // still turn out otherwise, and must then be judged again with no limit.
  bool settled = true;
};

// The format of a source, from its bytes, reading at most `limit` bytes beyond its mark to look
// for the first bytes that are not UTF-8. A read error reads as the end of the source.
JudgedFormat JudgeSourceFormat(const SourceBytes& source, EncodingChoice choice, uint64_t limit);
