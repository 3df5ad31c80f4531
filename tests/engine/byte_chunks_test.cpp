#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/transcoder.h"
#include "core/utf8.h"
#include "engine/byte_source.h"
#include "tests/support/test_files.h"

// However small the chunks, the runs joined are the whole source converted at once (or as it
// stands, to its first zero), and a second reading of bytes_read() bytes gives them again: Merge
// reads its sources twice.
TEST(ByteChunks, RunsJoinedAreTheWholeConversion) {
  const std::vector<std::string> pieces = {"a",
                                           "bc\n",
                                           "\n",
                                           std::string(1, '\0'),
                                           "\xD0\x96",
                                           "\xC3",
                                           "\x80",
                                           "\xFF",
                                           "\xED\xA0\xBD",
                                           Bytes({0x00, 0xD8}),
                                           Bytes({0x0A, 0x00, 0x00, 0x00})};
  using enum SourceEncoding;
  const struct {
    SourceEncoding encoding;
    LenientUtf8 lenient = LenientUtf8::AsItStands;
  } formats[] = {{Utf8},    {Utf8Lenient}, {Utf8Lenient, LenientUtf8::Converted},
                 {Utf16LE}, {Utf16BE},     {Utf32LE},
                 {Utf32BE}, {CodePage},    {Utf8OrCodePage}};
  ByteSeparator separator;
  ASSERT_TRUE(MakeByteSeparator(u"\n", false, separator));
  std::mt19937 engine(5);
  for (int round = 0; round < 300; ++round) {
    std::string bytes = "MK";  // stands for a mark: reading starts after it
    for (int k = std::uniform_int_distribution<int>(0, 40)(engine); k > 0; --k)
      bytes += pieces[std::uniform_int_distribution<size_t>(0, pieces.size() - 1)(engine)];
    const std::unique_ptr<SourceBytes> source = SourceBytes::FromMemory(bytes);
    const std::string text = bytes.substr(2);
    for (const auto& [encoding, lenient] : formats) {
      SourceFormat format;
      format.mark_length = 2;
      format.encoding = encoding;
      std::string expected = text.substr(0, text.find('\0'));
      size_t taken = expected.size();  // as it stands, the bytes before the zero
      bool ended_at_zero = taken < text.size(), not_utf8 = false, lone = false;
      if (encoding != Utf8 && (encoding != Utf8Lenient || lenient == LenientUtf8::Converted)) {
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
      for (size_t chunk : {1, 5, 64, 1 << 20}) {
        for (uint64_t length : {ByteChunks::kWhole, uint64_t{taken}}) {
          ByteChunks chunks(*source, format, separator, chunk, length, lenient);
          std::string joined;
          std::string_view run;
          bool last = false;
          while (chunks.Next(run, last)) {
            EXPECT_TRUE(last || run.back() == '\n') << "a run ends after a separator";
            joined += run;
          }
          ASSERT_EQ(joined, expected)
              << int(encoding) << " chunk " << chunk << " length " << length;
          EXPECT_TRUE(last && !chunks.failed());
          if (length != ByteChunks::kWhole) continue;
          EXPECT_EQ(chunks.bytes_read(), taken);
          EXPECT_EQ(chunks.ended_at_zero(), ended_at_zero);
          EXPECT_EQ(chunks.not_utf8(), not_utf8);
          EXPECT_EQ(chunks.lone_surrogate(), lone);
        }
      }
    }
  }
}

// Megabytes of UTF-16 and UTF-32 are converted in parts on several threads: the parts joined
// must be the conversion of the whole, whatever surrogates or zero stand at the cuts.
TEST(ByteChunks, ConversionOnThreadsIsTheWholeConversion) {
  using enum SourceEncoding;
  ByteSeparator separator;
  ASSERT_TRUE(MakeByteSeparator(u"\n", false, separator));
  std::mt19937 engine(7);
  for (const SourceEncoding encoding : {Utf16LE, Utf16BE, Utf32LE, Utf32BE}) {
    const bool wide = encoding == Utf32LE || encoding == Utf32BE;
    const bool big = encoding == Utf16BE || encoding == Utf32BE;
    const uint32_t units[] = {'a', '\n', 0x416, 0xD83D, 0xDE00, wide ? 0x1F600u : 0xDBFFu};
    for (int round = 0; round < 4; ++round) {
      std::string bytes;
      const size_t count = (size_t{5} << 20) / (wide ? 4 : 2);
      // One zero in some rounds, somewhere past the first megabytes, to end the text there.
      const size_t zero_at = round % 2 == 0 ? count : (count / 3) * static_cast<size_t>(round);
      for (size_t i = 0; i < count; ++i) {
        const uint32_t u = i == zero_at ? 0 : units[engine() % 6];
        for (int b = 0; b < (wide ? 4 : 2); ++b) {
          const int shift = big ? 8 * ((wide ? 3 : 1) - b) : 8 * b;
          bytes.push_back(static_cast<char>(u >> shift));
        }
      }
      SourceFormat format;
      format.encoding = encoding;
      Utf8Transcoder whole(format);
      std::vector<unsigned char> out(Utf8Transcoder::MaxOutput(bytes.size()));
      size_t written = 0;
      const size_t taken = whole.Convert(reinterpret_cast<const unsigned char*>(bytes.data()),
                                         bytes.size(), true, out.data(), &written);
      const std::unique_ptr<SourceBytes> source = SourceBytes::FromMemory(bytes);
      for (int threads : {2, 3}) {
        ByteChunks chunks(*source, format, separator);
        chunks.UseThreads(threads);
        std::string joined;
        std::string_view run;
        bool last = false;
        while (chunks.Next(run, last)) joined += run;
        ASSERT_TRUE(joined == std::string_view(reinterpret_cast<const char*>(out.data()), written))
            << int(encoding) << " round " << round << " threads " << threads;
        EXPECT_EQ(chunks.bytes_read(), taken);
        EXPECT_EQ(chunks.ended_at_zero(), whole.ended_at_zero());
        EXPECT_EQ(chunks.lone_surrogate(), whole.lone_surrogate());
      }
    }
  }
}

// A file is read in pieces on several threads, each searched for a zero by its reader: the text
// ends at the first zero, whichever piece holds it, and at none when there is none.
TEST(ByteChunks, FileReadOnThreadsEndsAtItsFirstZero) {
  ScratchDir scratch("zero-pieces");
  ASSERT_FALSE(scratch.path().empty());
  ByteSeparator separator;
  ASSERT_TRUE(MakeByteSeparator(u"\n", false, separator));
  std::string lines;
  for (int i = 0; lines.size() < (size_t{6} << 20); ++i)
    lines += "line " + std::to_string(i) + "\n";
  const size_t none = lines.size();
  for (const size_t zero_at : {size_t{10}, size_t{1} << 20, size_t{4} << 20, none - 1, none}) {
    std::string bytes = lines;
    if (zero_at < none) bytes[zero_at] = '\0';
    if (zero_at + 2 < none) bytes[zero_at + 2] = '\0';  // a second zero, after the first
    std::unique_ptr<SourceBytes> source;
    ASSERT_EQ(SourceBytes::Open(TextFromUtf8(scratch.Put("list.txt", bytes)), false, source),
              SourceBytes::Opened::Yes);
    for (int threads : {1, 2, 3}) {
      ByteChunks chunks(*source, SourceFormat(), separator);
      chunks.UseThreads(threads);
      std::string joined;
      std::string_view run;
      bool last = false;
      while (chunks.Next(run, last)) joined += run;
      EXPECT_TRUE(joined == std::string_view(bytes).substr(0, zero_at))
          << zero_at << " threads " << threads << " got " << joined.size();
      EXPECT_EQ(chunks.bytes_read(), zero_at);
      EXPECT_EQ(chunks.ended_at_zero(), zero_at < none);
    }
  }
}
