#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/transcoder.h"
#include "core/utf8.h"
#include "engine/byte_source.h"
#include "tests/support/test_files.h"

namespace {

struct Reading {
  std::string joined;
  bool ended_at_zero = false;
  bool not_utf8 = false;
  bool lone_surrogate = false;
  uint64_t bytes_read = 0;
};

Reading ReadAll(const SourceBytes& source, const SourceFormat& format, LenientUtf8 lenient,
                size_t chunk_bytes, uint64_t length = ByteChunks::kWhole) {
  ByteSeparator separator;
  EXPECT_TRUE(MakeByteSeparator(u"\n", false, separator));
  ByteChunks chunks(source, format, separator, chunk_bytes, length, lenient);
  Reading reading;
  std::string_view run;
  bool last = false;
  while (chunks.Next(run, last)) {
    EXPECT_TRUE(last || run.back() == '\n') << "a run ends after a separator";
    reading.joined += run;
  }
  EXPECT_FALSE(chunks.failed());
  EXPECT_TRUE(last);
  reading.ended_at_zero = chunks.ended_at_zero();
  reading.not_utf8 = chunks.not_utf8();
  reading.lone_surrogate = chunks.lone_surrogate();
  reading.bytes_read = chunks.bytes_read();
  return reading;
}

}  // namespace

// However small the chunks, from memory or from a file, the runs joined are the whole source
// converted at once (or as it stands, to its first zero), and a second reading of bytes_read()
// bytes gives them again: Merge reads its sources twice.
TEST(ByteChunks, RunsJoinedAreTheWholeConversion) {
  const struct {
    SourceEncoding encoding;
    LenientUtf8 lenient;
  } formats[] = {
      {SourceEncoding::Utf8, LenientUtf8::AsItStands},
      {SourceEncoding::Utf8Lenient, LenientUtf8::AsItStands},
      {SourceEncoding::Utf8Lenient, LenientUtf8::Converted},
      {SourceEncoding::Utf16LE, LenientUtf8::AsItStands},
      {SourceEncoding::Utf16BE, LenientUtf8::AsItStands},
      {SourceEncoding::Utf32LE, LenientUtf8::AsItStands},
      {SourceEncoding::Utf32BE, LenientUtf8::AsItStands},
      {SourceEncoding::CodePage, LenientUtf8::AsItStands},
      {SourceEncoding::Utf8OrCodePage, LenientUtf8::AsItStands},
  };
  const std::vector<std::string> pieces = {"a",
                                           "bc\n",
                                           "\n",
                                           "\n\0",
                                           std::string(1, '\0'),
                                           "\xD0\x96",
                                           "\xC3",
                                           "\x80",
                                           "\xFF",
                                           "\xED\xA0\xBD",
                                           Bytes({0x00, 0xD8}),
                                           Bytes({0x00, 0xDC}),
                                           Bytes({0x0A, 0x00, 0x00, 0x00}),
                                           "\xF0\x9F\x98\x80"};
  ScratchDir dir("byte-chunks");
  const std::string path = dir.path() + "/list";
  std::mt19937 engine(5);
  for (int round = 0; round < 300; ++round) {
    std::string bytes = "MK";  // stands for a mark: reading starts after it
    const int count = std::uniform_int_distribution<int>(0, 40)(engine);
    for (int k = 0; k < count; ++k)
      bytes += pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(engine)];
    if (engine() % 4 != 0) bytes.erase(std::remove(bytes.begin(), bytes.end(), '\0'), bytes.end());
    std::ofstream(path, std::ios::binary) << bytes;
    std::unique_ptr<SourceBytes> file;
    ASSERT_EQ(SourceBytes::Open(TextFromUtf8(path), false, file), SourceBytes::Opened::Yes);
    const std::unique_ptr<SourceBytes> memory = SourceBytes::FromMemory(bytes);
    for (const auto& f : formats) {
      SourceFormat format;
      format.encoding = f.encoding;
      format.mark_length = 2;
      const std::string text = bytes.substr(2);
      const bool as_is =
          f.encoding == SourceEncoding::Utf8 ||
          (f.encoding == SourceEncoding::Utf8Lenient && f.lenient == LenientUtf8::AsItStands);
      std::string expected = text.substr(0, text.find('\0'));
      bool ended_at_zero = expected.size() < text.size(), not_utf8 = false, lone = false;
      size_t taken = expected.size();  // as it stands, the bytes before the zero
      if (!as_is) {
        Utf8Transcoder whole(format);
        std::vector<unsigned char> out(Utf8Transcoder::MaxOutput(text.size()));
        size_t written = 0;
        taken = whole.Convert(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                              true, out.data(), &written);
        expected.assign(reinterpret_cast<const char*>(out.data()), written);
        ended_at_zero = whole.ended_at_zero();
        not_utf8 = whole.not_utf8();
        lone = whole.lone_surrogate();
      }
      for (const SourceBytes* source : {file.get(), memory.get()}) {
        for (size_t chunk : {1, 5, 64, 1 << 20}) {
          const Reading got = ReadAll(*source, format, f.lenient, chunk);
          ASSERT_EQ(got.joined, expected) << static_cast<int>(f.encoding) << " chunk " << chunk;
          EXPECT_EQ(got.ended_at_zero, ended_at_zero);
          EXPECT_EQ(got.not_utf8, not_utf8);
          EXPECT_EQ(got.lone_surrogate, lone);
          EXPECT_EQ(got.bytes_read, taken);
          const Reading again = ReadAll(*source, format, f.lenient, chunk, got.bytes_read);
          EXPECT_EQ(again.joined, expected) << static_cast<int>(f.encoding) << " again";
        }
      }
    }
  }
}
