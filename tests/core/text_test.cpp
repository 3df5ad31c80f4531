#include <gtest/gtest.h>

#include <climits>

#include "core/text.h"
#include "core/utf8.h"

TEST(FirstUnit, IsZeroForTheEmptyText) {
  EXPECT_EQ(FirstUnit(u""), 0);
  EXPECT_EQ(FirstUnit(u"<1>"), 60);
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

TEST(LowerUnit, FoldsEachUnitOnItsOwn) {
  const struct {
    char16_t unit, lower;
  } cases[] = {
      {u'A', u'a'},
      {u'Z', u'z'},
      {u'\u0416', u'\u0436'},
      {u'\u0401', u'\u0451'},
      {u'\u042F', u'\u044F'},
      {u'\u00DF', u'\u00DF'},  // sharp s has no one-unit lowercase
      {u'9', u'9'},
      {u'-', u'-'},
      // The halves of a letter above U+FFFF are no letters: it is not folded, although it has a
      // small form.
      {0xD801, 0xD801},
      {0xDC00, 0xDC00},
  };
  for (const auto& c : cases) EXPECT_EQ(LowerUnit(c.unit), c.lower) << static_cast<int>(c.unit);
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
