#include "core/transcoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/decoders.h"
#include "core/utf8.h"
#include "tests/support/test_files.h"

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

// The text of UTF-16 and UTF-32 as the program has always read it, then as the byte engine must
// hold it: every unit kept, a surrogate without its partner as 3 bytes.
Text Utf16Units(const std::string& b, bool big) {
  Text text;
  for (size_t k = 0; k + 1 < b.size(); k += 2) {
    const auto hi = static_cast<unsigned char>(b[k + (big ? 0 : 1)]);
    const auto lo = static_cast<unsigned char>(b[k + (big ? 1 : 0)]);
    const char16_t unit = static_cast<char16_t>(hi << 8 | lo);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

Text Utf32Units(const std::string& b, bool big) {
  Text text;
  for (size_t k = 0; k + 3 < b.size(); k += 4) {
    uint32_t cp = 0;
    for (int j = 0; j < 4; ++j)
      cp = cp << 8 | static_cast<unsigned char>(b[k + static_cast<size_t>(big ? j : 3 - j)]);
    if (cp == 0) break;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      text.push_back(u'?');
    } else if (cp > 0xFFFF) {
      text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(cp));
    }
  }
  return text;
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

std::string Unit16(uint32_t u, bool big) {
  return big ? Bytes({int(u >> 8), int(u & 0xFF)}) : Bytes({int(u & 0xFF), int(u >> 8)});
}

std::string Unit32(uint32_t u, bool big) {
  std::string b;
  for (int j = 0; j < 4; ++j) b.push_back(static_cast<char>(u >> (8 * (big ? 3 - j : j))));
  return b;
}

bool HoldsSurrogate(const std::string& utf8) {
  for (size_t k = 0; k + 1 < utf8.size(); ++k)
    if (utf8[k] == '\xED' && static_cast<unsigned char>(utf8[k + 1]) >= 0xA0) return true;
  return false;
}

const SourceEncoding kUnitEncodings[] = {SourceEncoding::Utf16LE, SourceEncoding::Utf16BE,
                                         SourceEncoding::Utf32LE, SourceEncoding::Utf32BE};

}  // namespace

// Every way of cutting the input gives the text of the whole, and a second reading of just the
// bytes the first consumed gives it again: a reader may stop there.
TEST(Utf8Transcoder, UnitFormatsReadAsTheTextOfOldInAnyPieces) {
  std::mt19937 engine(7);
  for (SourceEncoding encoding : kUnitEncodings) {
    const bool wide = encoding == SourceEncoding::Utf32LE || encoding == SourceEncoding::Utf32BE;
    const bool big = encoding == SourceEncoding::Utf16BE || encoding == SourceEncoding::Utf32BE;
    std::vector<std::string> pieces;
    for (uint32_t u : {0x41u, 0x0u, 0xE9u, 0x416u, 0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu, 0xFFFFu})
      pieces.push_back(wide ? Unit32(u, big) : Unit16(u, big));
    if (wide) {
      for (uint32_t u : {0x1F600u, 0x10FFFFu, 0x110000u, 0xFFFFFFFFu})
        pieces.push_back(Unit32(u, big));
    } else {
      pieces.push_back(Unit16(0xD83D, big) + Unit16(0xDE00, big));
    }
    pieces.push_back("a");  // misaligns all that follows
    for (int round = 0; round < 3000; ++round) {
      const std::string input = RandomBytes(engine, pieces);
      const Text units = wide ? Utf32Units(input, big) : Utf16Units(input, big);
      const std::string expected = Utf8FromText(units, LoneHighSurrogate::ThreeBytes);
      const Converted got = Convert(encoding, input, &engine);
      ASSERT_EQ(got.bytes, expected) << static_cast<int>(encoding) << " round " << round;
      const size_t unit = wide ? 4 : 2;
      size_t zero = input.size();
      for (size_t k = 0; k + unit <= input.size(); k += unit)
        if (input.compare(k, unit, std::string(unit, '\0')) == 0) {
          zero = k;
          break;
        }
      EXPECT_EQ(got.ended_at_zero, zero < input.size());
      EXPECT_EQ(got.lone_surrogate, HoldsSurrogate(expected)) << round;
      const Converted again = Convert(encoding, input.substr(0, got.consumed));
      EXPECT_EQ(again.bytes, expected);
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

// The one test to port when DecodeBytes goes: it checks the lenient conversion against the
// reading of old (the source's bytes to their first zero and up to 3 bytes past it, decoded
// whole), over random inputs cut into random pieces.
TEST(Utf8Transcoder, LenientUtf8MatchesTheWholeReadingOfOld) {
  std::mt19937 engine(11);
  const std::vector<std::string> pieces = {"a",
                                           "\n",
                                           std::string(1, '\0'),
                                           "\x80",
                                           "\xBF",
                                           "\xC0",
                                           "\xC1",
                                           "\xC3",
                                           "\xDF",
                                           "\xE0",
                                           "\xE3",
                                           "\xED",
                                           "\xEF",
                                           "\xF0",
                                           "\xF4",
                                           "\xF5",
                                           "\xF7",
                                           "\xF8",
                                           "\xFF",
                                           "\xD0\x96",
                                           "\xE2\x82\xAC",
                                           "\xF0\x9F\x98\x80",
                                           "\xED\xA0\xBD",
                                           "\xED\xB8\x80",
                                           "\xC0\x80",
                                           "\xE0\x80\x80",
                                           "\xF0\x80\x80\x80",
                                           "\xF4\x90\x80\x80",
                                           "\xE2\x82",
                                           "\xF0\x9F"};
  for (int round = 0; round < 20000; ++round) {
    const std::string input = RandomBytes(engine, pieces);
    const size_t zero = input.find('\0');
    std::string old = input.substr(0, zero == std::string::npos ? zero : zero + 4);
    bool well_formed = true;
    const Text text = DecodeBytes(reinterpret_cast<unsigned char*>(old.data()), old.size(),
                                  FormatUtf8, well_formed);
    const Converted got = Convert(SourceEncoding::Utf8Lenient, input, &engine);
    ASSERT_EQ(got.bytes, Utf8FromText(text, LoneHighSurrogate::ThreeBytes))
        << testing::PrintToString(input);
    ASSERT_EQ(got.not_utf8, !well_formed) << testing::PrintToString(input);
    ASSERT_EQ(got.ended_at_zero, zero != std::string::npos);
    const Converted again = Convert(SourceEncoding::Utf8Lenient, input.substr(0, got.consumed));
    ASSERT_EQ(again.bytes, got.bytes) << testing::PrintToString(input);
  }
}
