// The reading of sources: the byte engine's (ByteChunks, in every format) against the whole
// conversion and small models of the decoding rules; then byte-order detection and the 16-bit
// decoders, read through the same TextFile path as source files, and round trips through the
// encoder.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "core/code_pages.h"
#include "core/source_bytes.h"
#include "core/source_format.h"
#include "core/text_file.h"
#include "core/transcoder.h"
#include "core/utf8.h"
#include "engine/byte_source.h"
#include "engine/run_steps.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/memory_file.h"
#include "tests/support/utf_models.h"

namespace {

MemoryFile& Scratch() {
  static MemoryFile file;
  return file;
}

// Reads bytes through the TextFile path of source files: detects the mark when asked, then
// reads the rest. The bytes go through a real file, whose size the reader can ask for; an
// in-memory stream has none, and each read would then start with a buffer of a megabyte.
Text ReadBytes(const std::string& bytes, TextFormat format, TextFormat* detected = nullptr) {
  Scratch().Write(bytes);
  std::FILE* stream = std::fopen(Scratch().path().c_str(), "rb");
  FUZZ_CHECK(stream != nullptr);
  TextFilePtr file = WrapForReading(stream, true);
  if (detected) {
    *detected = DetectByteOrderMark(*file);
    format = *detected == FormatSingleByte ? FormatUtf8 : *detected;
  }
  return ReadRest(*file, format);
}

TextFormat ModelMark(const std::string& b, size_t& skip) {
  auto starts = [&](std::string_view mark) { return b.compare(0, mark.size(), mark) == 0; };
  using namespace std::string_view_literals;
  const struct {
    std::string_view mark;
    TextFormat format;
  } marks[] = {{"\xFF\xFE\0\0"sv, FormatUtf32LE},
               {"\0\0\xFE\xFF"sv, FormatUtf32BE},
               {"\xFF\xFE"sv, FormatUtf16LE},
               {"\xEF\xBB\xBF"sv, FormatUtf8},
               {"\xFE\xFF"sv, FormatUtf16BE}};
  for (const auto& m : marks) {
    if (starts(m.mark)) {
      skip = m.mark.size();
      return m.format;
    }
  }
  skip = 0;
  return FormatSingleByte;
}

Text ModelSingleByte(std::string_view b) {
  Text text;
  for (unsigned char byte : b) {
    if (byte == 0) break;
    text.push_back(byte);
  }
  return text;
}

Text ModelUtf16LE(std::string_view b) {
  Text text;
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const char16_t unit = static_cast<unsigned char>(b[i]) | static_cast<unsigned char>(b[i + 1])
                                                                 << 8;
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

// Each pair of bytes exchanged; a lone last byte stays.
std::string Swapped(std::string bytes) {
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  return bytes;
}

// The text up to its first high surrogate that has no low surrogate after it: where the
// encoder stops.
Text EncodablePrefix(const Text& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] < 0xD800 || text[i] > 0xDBFF) continue;
    if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    return text.substr(0, i);
  }
  return text;
}

std::string Utf16LEWithMark(const Text& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

bool NoZeroUnit(const Text& text) {
  return text.find(u'\0') == Text::npos;
}

Text ModelCodePage(std::string_view b, CodePage page) {
  Text text;
  for (unsigned char byte : b)
    text.push_back(byte < 0x80 ? byte : CodePageHighHalf(page)[byte - 0x80]);
  return text;
}

// What a source without a mark reads as in the format it was judged to be in: every byte a
// character of the code page, or each line (with its line end) as UTF-8 when it is well-formed
// and in the code page when not; UTF-16 unit by unit.
Text ModelJudged(const std::string& bytes, const SourceFormat& format) {
  if (format.encoding == SourceEncoding::Utf16LE) return ModelUtf16LE(bytes);
  if (format.encoding == SourceEncoding::Utf16BE) return ModelUtf16LE(Swapped(bytes));
  const std::string_view text(bytes.data(), std::min(bytes.size(), bytes.find('\0')));
  if (format.encoding == SourceEncoding::CodePage) return ModelCodePage(text, format.page);
  FUZZ_CHECK(format.encoding == SourceEncoding::Utf8OrCodePage);
  Text decoded;
  for (size_t start = 0; start < text.size();) {
    // A line ends at LF or CR; a longer piece steps back before a character it would cut.
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

const unsigned char* Bytes(std::string_view b) {
  return reinterpret_cast<const unsigned char*>(b.data());
}

// The byte engine's reading of the input as a source in each format, through chunks of sizes
// the input picks: the runs joined are the input converted whole (as it stands, for UTF-8), and
// in the formats with a model, what the model makes of it.
void CheckByteChunks(const std::string& bytes) {
  const std::unique_ptr<SourceBytes> source = SourceBytes::FromMemory(bytes);
  ByteSeparator separator;
  FUZZ_CHECK(MakeByteSeparator(u"\n", false, separator));
  std::minstd_rand engine(static_cast<uint32_t>(std::hash<std::string>()(bytes)));
  const struct {
    SourceEncoding encoding;
    LenientUtf8 lenient;
  } formats[] = {
      {SourceEncoding::Utf8, LenientUtf8::AsItStands},
      {SourceEncoding::Utf8Lenient, LenientUtf8::Converted},
      {SourceEncoding::Utf16LE, LenientUtf8::AsItStands},
      {SourceEncoding::Utf16BE, LenientUtf8::AsItStands},
      {SourceEncoding::Utf32LE, LenientUtf8::AsItStands},
      {SourceEncoding::Utf32BE, LenientUtf8::AsItStands},
      {SourceEncoding::CodePage, LenientUtf8::AsItStands},
      {SourceEncoding::Utf8OrCodePage, LenientUtf8::AsItStands},
  };
  for (const auto& f : formats) {
    SourceFormat format;
    format.encoding = f.encoding;
    std::string whole = bytes.substr(0, bytes.find('\0'));
    size_t taken = whole.size();
    bool ended_at_zero = whole.size() < bytes.size(), not_utf8 = false;
    if (f.encoding != SourceEncoding::Utf8) {
      Utf8Transcoder transcoder(format);
      std::unique_ptr<unsigned char[]> out(
          new unsigned char[Utf8Transcoder::MaxOutput(bytes.size())]);
      size_t written = 0;
      taken = transcoder.Convert(Bytes(bytes), bytes.size(), true, out.get(), &written);
      whole.assign(reinterpret_cast<const char*>(out.get()), written);
      ended_at_zero = transcoder.ended_at_zero();
      not_utf8 = transcoder.not_utf8();
    }
    const size_t chunk = engine() % 4 == 0 ? ByteChunks::kChunkBytes : 1 + engine() % 64;
    ByteChunks chunks(*source, format, separator, chunk, ByteChunks::kWhole, f.lenient);
    std::string joined;
    std::string_view run;
    bool last = false;
    while (chunks.Next(run, last)) {
      FUZZ_CHECK(last || run.back() == '\n');
      joined += run;
    }
    FUZZ_CHECK(last && !chunks.failed());
    FUZZ_CHECK(joined == whole);
    FUZZ_CHECK(chunks.ended_at_zero() == ended_at_zero);
    FUZZ_CHECK(chunks.not_utf8() == not_utf8);
    FUZZ_CHECK(chunks.bytes_read() == taken);
    const bool big = f.encoding == SourceEncoding::Utf16BE || f.encoding == SourceEncoding::Utf32BE;
    bool well_formed = true;
    switch (f.encoding) {
      case SourceEncoding::Utf8Lenient:
        FUZZ_CHECK(whole == Utf8FromText(ModelLenientUtf8(bytes, well_formed),
                                         LoneHighSurrogate::ThreeBytes));
        FUZZ_CHECK(not_utf8 == !well_formed);
        FUZZ_CHECK(ended_at_zero == (bytes.find('\0') != std::string::npos));
        break;
      case SourceEncoding::Utf16LE:
      case SourceEncoding::Utf16BE:
        FUZZ_CHECK(whole == Utf8FromText(ModelUtf16(bytes, big), LoneHighSurrogate::ThreeBytes));
        break;
      case SourceEncoding::Utf32LE:
      case SourceEncoding::Utf32BE:
        FUZZ_CHECK(whole == Utf8FromText(ModelUtf32(bytes, big)));
        break;
      default:
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckByteChunks(bytes);

  // The 16-bit reading, which goes with the 16-bit engine.

  // The mark and where reading goes on after it.
  size_t skip = 0;
  const TextFormat expected_mark = ModelMark(bytes, skip);
  TextFormat mark = FormatUtf8;
  const Text source = ReadBytes(bytes, FormatUtf8, &mark);
  FUZZ_CHECK(mark == expected_mark);
  const std::string rest = bytes.substr(skip);
  FUZZ_CHECK(source == ReadBytes(rest, mark == FormatSingleByte ? FormatUtf8 : mark));

  // Every decoder on the raw bytes.
  FUZZ_CHECK(ReadBytes(bytes, FormatSingleByte) == ModelSingleByte(bytes));
  FUZZ_CHECK(ReadBytes(bytes, FormatUtf16LE) == ModelUtf16LE(bytes));
  // The big-endian and UTF-32 sources get decoders of their own here.
  FUZZ_CHECK(ReadBytes(bytes, FormatUtf16BE) == ModelUtf16LE(Swapped(bytes)));
  FUZZ_CHECK(NoZeroUnit(ReadBytes(bytes, FormatUtf32LE)));
  FUZZ_CHECK(NoZeroUnit(ReadBytes(bytes, FormatUtf32BE)));
  const Text utf8 = ReadBytes(bytes, FormatUtf8);
  FUZZ_CHECK(NoZeroUnit(utf8) && NoZeroUnit(source));

  // decode, encode, decode: the second decoding gives back what the encoder could carry, and
  // from there on nothing changes.
  const std::string encoded = Utf8FromText(utf8);
  const Text again = ReadBytes(encoded, FormatUtf8);
  FUZZ_CHECK(again == EncodablePrefix(utf8));
  FUZZ_CHECK(TextFromUtf8(encoded) == again);
  FUZZ_CHECK(Utf8FromText(again) == encoded);
  FUZZ_CHECK(ReadBytes(Utf16LEWithMark(utf8), FormatUtf8, &mark) == utf8);

  // The engine's own loader, asked for UTF-8, agrees with reading the file by hand.
  ReadBytes(bytes, FormatUtf8);
  const Text path = TextFromUtf8(Scratch().path());
  EncodingChoice utf8_asked;
  FUZZ_CHECK(ParseEncodingName("utf-8", utf8_asked));
  Text loaded;
  FUZZ_CHECK(LoadSourceFile(path, loaded, nullptr, utf8_asked) == InputError::None);
  FUZZ_CHECK(loaded == source);

  // Left to judge the encoding, it reads what the judgement names, the same way every time.
  SourceNotices notices;
  FUZZ_CHECK(LoadSourceFile(path, loaded, &notices) == InputError::None);
  Text again_loaded;
  FUZZ_CHECK(LoadSourceFile(path, again_loaded) == InputError::None && again_loaded == loaded);
  FUZZ_CHECK(NoZeroUnit(loaded));
  if (expected_mark != FormatSingleByte) {
    FUZZ_CHECK(!notices.assumed.has_value());
  } else if (!notices.assumed.has_value()) {
    FUZZ_CHECK(loaded == utf8);  // UTF-8: well-formed, so the reading of old gives the same
  } else {
    FUZZ_CHECK(loaded == ModelJudged(bytes, *notices.assumed));
  }

  // Read once through a pipe, which is read whole, the bytes are judged as the file's are.
  if (bytes.size() <= 4096) {  // within what a pipe holds before its reader reads
    int ends[2];
    FUZZ_CHECK(pipe(ends) == 0);
    FUZZ_CHECK(write(ends[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    close(ends[1]);
    std::unique_ptr<SourceBytes> piped;
    FUZZ_CHECK(SourceBytes::FromDescriptor(ends[0], false, piped) == SourceBytes::Opened::Yes);
    close(ends[0]);
    Text through_pipe;
    SourceNotices pipe_notices;
    FUZZ_CHECK(DecodeSource(*piped, {}, through_pipe, &pipe_notices) == InputError::None);
    FUZZ_CHECK(through_pipe == loaded);
    FUZZ_CHECK(pipe_notices.assumed.has_value() == notices.assumed.has_value());
    FUZZ_CHECK(!notices.assumed ||
               SourceFormatName(*pipe_notices.assumed) == SourceFormatName(*notices.assumed));
  }
  return 0;
}
