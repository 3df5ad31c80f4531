#include "tests/support/source_model.h"

#include <algorithm>
#include <string>

#include "core/code_pages.h"
#include "core/transcoder.h"
#include "core/utf8.h"
#include "tests/support/utf_models.h"

namespace {

Text ModelCodePage(std::string_view b, CodePage page) {
  Text text;
  for (unsigned char byte : b)
    text.push_back(byte < 0x80 ? byte : CodePageHighHalf(page)[byte - 0x80]);
  return text;
}

}  // namespace

Text ModelSourceText(std::string_view bytes, const SourceFormat& format) {
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
