#include <gtest/gtest.h>

#include <string>

#include "core/utf8.h"
#include "tests/support/test_files.h"

TEST(Utf8Encoding, FollowsTheSurrogateRules) {
  const struct {
    Text text;
    std::string expected;
  } cases[] = {
      {u"abc", "abc"},
      {Text(u"\u00E9") + u"\U0001F600", Bytes({0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80})},
      {Text{u'a', 0xD800, u'b'}, "a"},            // a lone high surrogate ends the encoding
      {Text{0xD800}, ""},                         // ... also as the very last unit
      {Text{0xDC00}, Bytes({0xED, 0xB0, 0x80})},  // a lone low surrogate is 3 bytes
      {u"\u0416", Bytes({0xD0, 0x96})},
      {u"\uFFFF", Bytes({0xEF, 0xBF, 0xBF})},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8FromText(c.text), c.expected);
}

// File contents keep every unit: a lone high surrogate is written as three bytes, like a lone
// low one, instead of ending the text and losing every item after it.
TEST(Utf8Encoding, ContentsWriteALoneHighSurrogateAsThreeBytes) {
  const struct {
    Text text;
    std::string expected;
  } cases[] = {
      {Text{u'a', 0xD800, u'z'}, Bytes({0x61, 0xED, 0xA0, 0x80, 0x7A})},
      {Text{0xDBFF}, Bytes({0xED, 0xAF, 0xBF})},
      {Text{0xD83D, 0xD83D, 0xDE00}, Bytes({0xED, 0xA0, 0xBD, 0xF0, 0x9F, 0x98, 0x80})},
      {Text{0xDC00, 0xD800}, Bytes({0xED, 0xB0, 0x80, 0xED, 0xA0, 0x80})},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Utf8FromText(c.text, LoneHighSurrogate::ThreeBytes), c.expected);
}

TEST(Utf8Decoding, ConvertsAsTheSystemsNamesNeed) {
  const struct {
    std::string bytes;
    Text expected;
  } cases[] = {
      {"plain", u"plain"},
      {Bytes({0xF0, 0x9F, 0x98, 0x80}), Text{0xD83D, 0xDE00}},
      {Bytes({0x61, 0xC3, 0x62, 0x63}), Text{u'a', 0x0003, u'c'}},  // 62 swallowed
      {Bytes({0x61, 0x80, 0x62}), u"a"},             // a stray continuation ends the conversion
      {Bytes({0xF4, 0x90, 0x80, 0x80, 0x61}), u""},  // above 10FFFF ends it at once
      {Bytes({0x61, 0xE2}), u"a"},                   // too few bytes for the lead
      {Bytes({0x61, 0xE2, 0x82}), u"a\u0082"},       // the terminator counts as a byte
      {Bytes({0x61, 0xC3}), Text{u'a', 0x0003}},     // the terminator is examined and skipped
      {Bytes({0xC3, 0xA9, 0x00, 0x62}), u"\u00E9"},  // a zero byte ends the input
      {Bytes({0xD0, 0x9F, 0xD1, 0x80}), u"\u041F\u0440"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextFromUtf8(c.bytes), c.expected);
}

TEST(Utf8Decoding, RoundTripsEveryBmpUnitOutsideSurrogates) {
  Text all;
  for (char32_t u = 1; u < 0x10000; ++u)
    if (u < 0xD800 || u > 0xDFFF) all.push_back(static_cast<char16_t>(u));
  all += u"\U0010FFFF\U00010000";
  EXPECT_EQ(TextFromUtf8(Utf8FromText(all)), all);
}

// The check skips blocks of ASCII and 2-byte characters 16 bytes at a time: it must find the
// first malformed byte wherever it stands against those blocks, as a check byte by byte does.
TEST(Utf8Checking, FindsTheFirstMalformedByteAtAnyPlaceInABlock) {
  auto byte_by_byte = [](const std::string& s) {
    const auto* b = reinterpret_cast<const unsigned char*>(s.data());
    for (size_t i = 0; i < s.size();) {
      const size_t len = b[i] < 0x80 ? 1 : WellFormedLength(b + i, s.size() - i);
      if (len == 0) return i;
      i += len;
    }
    return s.size();
  };
  const std::string pieces[] = {
      "a", "\r\n",     "ж",    "Ё",    "\xC2\x80",     "\xDF\xBF",     "€",
      "😀", "\xC1\xBF", "\x80", "\xDF", "\xE0\x80\x80", "\xED\xA0\x80", "\xF5"};
  uint32_t random = 20261209;
  for (int round = 0; round < 20000; ++round) {
    std::string s;
    const int count = 1 + static_cast<int>(random % 40);
    for (int k = 0; k < count; ++k) {
      random = random * 1103515245 + 12345;
      // Mostly well-formed pieces, so that blocks pass before a malformed one.
      const uint32_t pick = (random >> 16) % 100;
      s += pieces[pick < 90 ? pick % 8 : 8 + pick % 6];
    }
    bool cut = false;
    const auto* b = reinterpret_cast<const unsigned char*>(s.data());
    ASSERT_EQ(FirstMalformedByte(b, s.size(), true, cut), byte_by_byte(s)) << s;
  }
}
