#include <gtest/gtest.h>

#include <climits>

#include "core/text.h"
#include "core/utf8.h"

TEST(TextCut, LeftAndSliceClampTheirCounts) {
  const Text t = u"abcdef";
  EXPECT_EQ(TextLeft(t, -5), u"");
  EXPECT_EQ(TextLeft(t, 0), u"");
  EXPECT_EQ(TextLeft(t, 2), u"ab");
  EXPECT_EQ(TextLeft(t, TextLength(t) + 3), t);
  const struct {
    int64_t offset, n;
    const char16_t* expected;
  } slices[] = {
      {2, 0, u""},    {2, -1, u"cdef"}, {2, -2, u""},       {2, 2, u"cd"},
      {4, 10, u"ef"}, {6, -1, u""},     {0, -1, u"abcdef"},
  };
  for (const auto& c : slices)
    EXPECT_EQ(TextSlice(t, c.offset, c.n), c.expected) << c.offset << "," << c.n;
  EXPECT_EQ(TextLength(u""), 0);
  EXPECT_EQ(FirstUnit(u""), 0);
  EXPECT_EQ(FirstUnit(u"<1>"), 60);
}

TEST(TextFind, ReturnsOneBasedFirstPositionOrZero) {
  const struct {
    const char16_t *text, *pattern;
    int32_t expected;
  } cases[] = {
      {u"cabab", u"ab", 2}, {u"cabab", u"", 0}, {u"", u"a", 0},     {u"", u"", 0},
      {u"abc", u"c", 3},    {u"ab", u"abc", 0}, {u"aaa", u"aa", 1}, {u"abc", u"d", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TextFind(c.text, c.pattern), c.expected) << Utf8FromText(c.pattern);
}

TEST(TextReplaceAll, ScansLeftToRightWithoutOverlap) {
  const struct {
    const char16_t *text, *pattern, *replacement, *expected;
  } cases[] = {
      {u"aaaaa", u"aa", u"b", u"bba"},    {u"a\\nb", u"\\n", u"\n", u"a\nb"},
      {u"\\\\n", u"\\n", u"\n", u"\\\n"},  // backslash, backslash, n: backslash then line feed
      {u"abc", u"", u"x", u"abc"},         // an empty pattern matches nowhere
      {u"abcabc", u"b", u"", u"acac"},     // an empty replacement deletes
      {u"aaa", u"a", u"aa", u"aaaaaa"},    // a replacement is never scanned again
  };
  for (const auto& c : cases)
    EXPECT_EQ(TextReplaceAll(c.text, c.pattern, c.replacement), c.expected) << Utf8FromText(c.text);
}

TEST(TextLower, FoldsEachUnitAndKeepsTheLength) {
  const Text capitals = u"AZ\u0416\u0401\u0410\u042F";
  EXPECT_EQ(TextLower(capitals), u"az\u0436\u0451\u0430\u044F");
  // Sharp s has no one-unit lowercase change; digits and punctuation stay.
  EXPECT_EQ(TextLower(u"\u00DF09-_."), u"\u00DF09-_.");
  // A letter above U+FFFF is a surrogate pair and is not folded, although it has a small form.
  const Text deseret_capital = u"\U00010400";
  EXPECT_EQ(TextLower(deseret_capital), deseret_capital);
  EXPECT_EQ(TextLower(u"").size(), 0u);
}

TEST(TextFromInteger, CoversTheWhole64BitRange) {
  const struct {
    int64_t value;
    const char16_t* expected;
  } cases[] = {
      {0, u"0"},
      {-7, u"-7"},
      {42, u"42"},
      {4294967296LL, u"4294967296"},
      {INT64_MAX, u"9223372036854775807"},
      {INT64_MIN, u"-9223372036854775808"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextFromInteger(c.value), c.expected) << c.value;
}

TEST(TextEquals, ComparesUnitsExactly) {
  EXPECT_TRUE(TextEquals(u"", TextView()));
  EXPECT_FALSE(TextEquals(u"abc", u"ABC"));
  EXPECT_TRUE(TextEquals(u"/tmp/a", u"/tmp/a"));
}
