// The reading of sources: the byte engine's (ByteChunks, in every format) against the whole
// conversion and small models of the decoding rules, and a judged source against a model of
// what its judgement names.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "core/source_bytes.h"
#include "core/source_format.h"
#include "core/transcoder.h"
#include "core/utf8.h"
#include "engine/byte_source.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/source_model.h"
#include "tests/support/utf_models.h"

namespace {

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

// Left to judge the encoding, a source without a mark reads as what the judgement names.
void CheckJudged(const std::string& bytes) {
  const std::unique_ptr<SourceBytes> source = SourceBytes::FromMemory(bytes);
  const JudgedFormat judged = JudgeSourceFormat(*source, {}, UINT64_MAX);
  if (!judged.format.assumed) return;
  ByteSeparator separator;
  FUZZ_CHECK(MakeByteSeparator(u"\n", false, separator));
  ByteChunks chunks(*source, judged.format, separator);
  std::string read;
  std::string_view run;
  bool last = false;
  while (chunks.Next(run, last)) read += run;
  const SourceEncoding judged_as = judged.format.encoding;
  FUZZ_CHECK(UnitSize(judged_as) == 2 || judged_as == SourceEncoding::CodePage ||
             judged_as == SourceEncoding::Utf8OrCodePage);
  FUZZ_CHECK(read ==
             Utf8FromText(ModelSourceText(bytes, judged.format), LoneHighSurrogate::ThreeBytes));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckByteChunks(bytes);
  CheckJudged(bytes);
  return 0;
}
