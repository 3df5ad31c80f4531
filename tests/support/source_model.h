// The text a source's bytes read as in the format judged for them, written out plainly from the
// rules of each format, for checking what the reading makes of them.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "core/code_pages.h"
#include "core/source_format.h"
#include "core/transcoder.h"
#include "core/utf8.h"
#include "tests/support/utf_models.h"

inline Text ModelCodePage(std::string_view b, CodePage page) {
  Text text;
  for (unsigned char byte : b)
    text.push_back(byte < 0x80 ? byte : CodePageHighHalf(page)[byte - 0x80]);
  return text;
}

// A text without a mark ends at its first zero byte, but in UTF-16. In UTF-8 with lines in a
// code page, each line (with its line end) is UTF-8 when it is well-formed and in the code page
// when not; a longer piece than the reading takes at once steps back before a character it
// would cut.
inline Text ModelSourceText(std::string_view bytes, const SourceFormat& format) {
  const std::string_view body = bytes.substr(std::min(format.mark_length, bytes.size()));
  const std::string_view text = body.substr(0, body.find('\0'));
  bool well_formed = true;
  switch (format.encoding) {
    case SourceEncoding::Utf8:
      return TextFromUtf8(text);
    case SourceEncoding::Utf8Lenient:
      return ModelLenientUtf8(body, well_formed);
    case SourceEncoding::Utf16LE:
    case SourceEncoding::Utf16BE:
      return ModelUtf16(body, format.encoding == SourceEncoding::Utf16BE);
    case SourceEncoding::Utf32LE:
    case SourceEncoding::Utf32BE:
      return ModelUtf32(body, format.encoding == SourceEncoding::Utf32BE);
    case SourceEncoding::CodePage:
      return ModelCodePage(text, format.page);
    case SourceEncoding::Utf8OrCodePage:
      break;
  }
  Text decoded;
  for (size_t start = 0; start < text.size();) {
    const size_t line_end = text.find_first_of("\r\n", start);
    size_t end = line_end == std::string_view::npos ? text.size() : line_end + 1;
    if (end - start > Utf8Transcoder::kLinePiece) {
      end = start + Utf8Transcoder::kLinePiece;
      for (size_t back = 1; back <= 3; ++back) {
        const unsigned char c = static_cast<unsigned char>(text[end - back]);
        if (c < 0x80) break;
        if (c < 0xC0) continue;
        if ((c >= 0xF0 ? 4u : c >= 0xE0 ? 3u : 2u) > back) end -= back;
        break;
      }
    }
    const std::string_view line = text.substr(start, end - start);
    if (IsWellFormedUtf8(reinterpret_cast<const unsigned char*>(line.data()), line.size()))
      decoded += TextFromUtf8(line);
    else
      decoded += ModelCodePage(line, format.page);
    start = end;
  }
  return decoded;
}
