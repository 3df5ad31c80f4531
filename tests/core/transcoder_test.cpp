#include "core/transcoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/utf8.h"
#include "tests/support/test_files.h"
#include "tests/support/utf_models.h"

namespace {

struct Converted {
  std::string bytes;
  size_t consumed = 0;  // input bytes the conversion took
  bool ended_at_zero = false;
  bool lone_surrogate = false;
  bool not_utf8 = false;
};

// Feeds the input in pieces cut at random, holding what a call leaves unconsumed for the next
// as a reader does; without an engine, one piece.
Converted Convert(SourceEncoding encoding, const std::string& input,
                  std::mt19937* engine = nullptr) {
  SourceFormat format;
  format.encoding = encoding;
  Utf8Transcoder transcoder(format);
  Converted result;
  std::string held;
  size_t fed = 0;
  for (;;) {
    size_t take = input.size() - fed;
    if (engine != nullptr && take > 0)
      take = std::uniform_int_distribution<size_t>(0, std::min<size_t>(take, 9))(*engine);
    held.append(input, fed, take);
    fed += take;
    const bool final = fed == input.size();
    std::vector<unsigned char> out(Utf8Transcoder::MaxOutput(held.size()));
    size_t written = 0;
    const size_t used = transcoder.Convert(reinterpret_cast<const unsigned char*>(held.data()),
                                           held.size(), final, out.data(), &written);
    EXPECT_LE(written, out.size());
    result.bytes.append(reinterpret_cast<const char*>(out.data()), written);
    result.consumed += used;
    held.erase(0, used);
    if (transcoder.stopped() || (final && held.empty())) break;
    EXPECT_FALSE(final) << "the final piece was left unconsumed";
    if (final) break;
  }
  result.ended_at_zero = transcoder.ended_at_zero();
  result.lone_surrogate = transcoder.lone_surrogate();
  result.not_utf8 = transcoder.not_utf8();
  return result;
}

// Byte strings that reach every rule: zeros, surrogates alone and in pairs, cut and overlong
// sequences, bytes no character may hold. Pieces, not bytes, so that the odd cases are common.
std::string RandomBytes(std::mt19937& engine, const std::vector<std::string>& pieces) {
  std::string bytes;
  const size_t count = std::uniform_int_distribution<size_t>(0, 24)(engine);
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  for (size_t k = 0; k < count; ++k) bytes += pieces[pick(engine)];
  return bytes;
}

bool HoldsSurrogate(const std::string& utf8) {
  for (size_t k = 0; k + 1 < utf8.size(); ++k)
    if (utf8[k] == '\xED' && static_cast<unsigned char>(utf8[k + 1]) >= 0xA0) return true;
  return false;
}

}  // namespace

// Every way of cutting the input gives the text of old, and a second reading of just the bytes
// the first consumed gives it again: a reader may stop there.
TEST(Utf8Transcoder, ReadsTheTextOfOldInAnyPieces) {
  const std::vector<std::string> pieces = {"a",
                                           "\n",
                                           std::string(1, '\0'),
                                           std::string(2, '\0'),
                                           "\x80",
                                           "\xC0",
                                           "\xC3",
                                           "\xDF",
                                           "\xE0",
                                           "\xE3",
                                           "\xED",
                                           "\xF0",
                                           "\xF4",
                                           "\xF5",
                                           "\xF8",
                                           "\xFF",
                                           "\xD0\x96",
                                           "\xF0\x9F\x98\x80",
                                           "\xED\xA0\xBD",
                                           "\xED\xB8\x80",
                                           "\xC0\x80",
                                           "\xE0\x80\x80",
                                           "\xF4\x90\x80\x80",
                                           "\xE2\x82",
                                           Bytes({0x3D, 0xD8}),
                                           Bytes({0x00, 0xDE, 0x00}),
                                           Bytes({0x00, 0x00, 0x11, 0x00})};
  std::mt19937 engine(7);
  for (SourceEncoding encoding :
       {SourceEncoding::Utf16LE, SourceEncoding::Utf16BE, SourceEncoding::Utf32LE,
        SourceEncoding::Utf32BE, SourceEncoding::Utf8Lenient}) {
    const bool big = encoding == SourceEncoding::Utf16BE || encoding == SourceEncoding::Utf32BE;
    for (int round = 0; round < 5000; ++round) {
      const std::string input = RandomBytes(engine, pieces);
      bool well_formed = true;
      size_t unit = 1;
      Text text;
      if (encoding == SourceEncoding::Utf16LE || encoding == SourceEncoding::Utf16BE) {
        text = ModelUtf16(input, big);
        unit = 2;
      } else if (encoding == SourceEncoding::Utf32LE || encoding == SourceEncoding::Utf32BE) {
        text = ModelUtf32(input, big);
        unit = 4;
      } else {
        text = ModelLenientUtf8(input, well_formed);
      }
      const std::string expected = Utf8FromText(text, LoneHighSurrogate::ThreeBytes);
      const Converted got = Convert(encoding, input, &engine);
      ASSERT_EQ(got.bytes, expected) << int(encoding) << testing::PrintToString(input);
      bool zero = false;
      for (size_t k = 0; k + unit <= input.size() && !zero; k += unit)
        zero = input.compare(k, unit, std::string(unit, '\0')) == 0;
      EXPECT_EQ(got.ended_at_zero, zero);
      EXPECT_EQ(got.not_utf8, !well_formed);
      EXPECT_EQ(got.lone_surrogate, HoldsSurrogate(expected)) << testing::PrintToString(input);
      EXPECT_EQ(Convert(encoding, input.substr(0, got.consumed)).bytes, expected);
    }
  }
}

// Lenient UTF-8, worked by hand from the two stages: grouping by lead bytes, then decoding the
// groups as they stand, misaligned or not, the decoded units making the text.
TEST(Utf8Transcoder, LenientUtf8ReadsByTheRulesOfOld) {
  const struct {
    std::string bytes;
    std::string text;
    bool not_utf8;
    bool ended_at_zero;
  } cases[] = {
      {"plain \xD0\x96 \xF0\x9F\x98\x80", "plain \xD0\x96 \xF0\x9F\x98\x80", false, false},
      {Bytes({0x61, 0x80, 0xF8, 0xFF, 0x62}), "a???b", true, false},  // no lead: "?"
      {Bytes({0x61, 0xC3, 0x62, 0x63}),
       "a\x03"
       "c",
       true, false},  // 62 is skipped
      {Bytes({0xE3, 0x81, 0x62, 0x63}),
       "\xC3\x81"
       "c",
       true, false},                                              // E3 81 is U+00C1
      {Bytes({0xE3, 0x62, 0x85, 0x63}), "\x03", true, false},     // 85 is met as a lead: the end
      {Bytes({0xC1, 0x81, 0x7A}), "Az", true, false},             // an overlong A is A
      {Bytes({0x61, 0xC0, 0x80, 0x62}), "a", true, false},        // U+0000 ends the text
      {Bytes({0x61, 0xF4, 0x90, 0x80, 0x80}), "a", true, false},  // above 10FFFF: the end
      {Bytes({0x61, 0x62, 0xE2, 0x82}), "ab", true, false},       // a group cut off by the end
      {Bytes({0xC3, 0x00, 0x61}), "\x03", true, true},            // a group cut off by a zero
      {Bytes({0xF0, 0x9F, 0x98, 0x00, 0x61}), "\xDF\x98", true, true},
      {Bytes({0xF0, 0x9F, 0x00}), "", true, true},        // ... but first by the end: dropped
      {Bytes({0x61, 0x00, 0xE9}), "a", false, true},      // nothing after a zero counts
      {Bytes({0xC0, 0x80, 0x80, 0x00}), "", true, true},  // the zero is told after the end
      {Bytes({0xC0, 0x80, 0x00}), "", true, true},
      // Surrogates decoded alone keep 3 bytes; a high one and a low one make a character.
      {Bytes({0xED, 0xA0, 0xBD, 0x61}), Bytes({0xED, 0xA0, 0xBD, 0x61}), true, false},
      {Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), "\xF0\x9F\x98\x80", true, false},
      {Bytes({0xED, 0xB8, 0x80, 0xED, 0xA0, 0xBD}), Bytes({0xED, 0xB8, 0x80, 0xED, 0xA0, 0xBD}),
       true, false},
      {Bytes({0xED, 0xA0, 0xBD, 0xF0, 0x9F, 0x98, 0x80}),
       Bytes({0xED, 0xA0, 0xBD, 0xF0, 0x9F, 0x98, 0x80}), true, false},
  };
  for (const auto& c : cases) {
    std::mt19937 engine(3);
    for (int cut = 0; cut < 20; ++cut) {
      const Converted got =
          Convert(SourceEncoding::Utf8Lenient, c.bytes, cut == 0 ? nullptr : &engine);
      EXPECT_EQ(got.bytes, c.text) << testing::PrintToString(c.bytes);
      EXPECT_EQ(got.not_utf8, c.not_utf8) << testing::PrintToString(c.bytes);
      EXPECT_EQ(got.ended_at_zero, c.ended_at_zero) << testing::PrintToString(c.bytes);
    }
  }
}

// ASCII runs and words of two-byte letters at every place against the blocks of 8 units that
// ASCII is narrowed in, with a zero unit or a four-byte character among them or not.
TEST(Utf8Transcoder, MixedUtf16LinesAtEveryAlignment) {
  auto units = [](const std::u16string& text, bool big) {
    std::string bytes;
    for (char16_t u : text) {
      const char low = static_cast<char>(u & 0xFF), high = static_cast<char>(u >> 8);
      bytes += big ? high : low;
      bytes += big ? low : high;
    }
    return bytes;
  };
  const std::u16string tails[] = {
      u"", u"где", u"x", std::u16string(1, u'\0') + u"zz", u"\U0001F600ab", u"щ\n"};
  for (bool big : {false, true}) {
    for (size_t lead = 0; lead < 20; ++lead) {
      for (const std::u16string& tail : tails) {
        const std::u16string text = std::u16string(lead, u'a') + u"Ёж" +
                                    std::u16string(lead % 9, u'b') + tail + u"abcdefghijklmnop" +
                                    u"ы";
        const std::string input = units(text, big);
        const std::string expected =
            Utf8FromText(ModelUtf16(input, big), LoneHighSurrogate::ThreeBytes);
        EXPECT_EQ(Convert(big ? SourceEncoding::Utf16BE : SourceEncoding::Utf16LE, input).bytes,
                  expected)
            << big << " " << lead << " " << testing::PrintToString(input);
      }
    }
  }
}
