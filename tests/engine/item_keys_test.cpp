#include "engine/item_keys.h"

#include <gtest/gtest.h>

#include <string>

#include "core/utf8.h"

namespace {

std::string Bytes(const char16_t* text) {
  return Utf8FromText(text, LoneHighSurrogate::ThreeBytes);
}

bool HoldsYoText(const std::string& bytes) {
  return HoldsYo(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace

// Every white space character goes from either end, one or many; the characters whose bytes
// look most like theirs stay, and so does all that stands inside.
TEST(TrimmedItem, CutsWhiteSpaceOfEveryKindFromBothEndsOnly) {
  const char16_t white[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                            0xA0,   0x1680, 0x2000, 0x2005, 0x200A, 0x200B, 0x2028,
                            0x2029, 0x202F, 0x205F, 0x3000, 0xFEFF};
  for (char16_t w : white) {
    const Text space(1, w);
    EXPECT_EQ(TrimmedItem(Bytes((space + u"a" + space + u"b" + space + space).c_str())),
              Bytes((u"a" + space + u"b").c_str()))
        << std::hex << static_cast<int>(w);
    EXPECT_EQ(TrimmedItem(Bytes((space + space).c_str())), "") << static_cast<int>(w);
  }
  // U+200C, U+2010, U+00A1, U+1681, U+3001 and U+FEFE are no white space.
  for (const char16_t* kept : {u"\u200Cx\u200C", u"\u2010x\u2010", u"\u00A1x\u00A1",
                               u"\u1681x\u1681", u"\u3001x\u3001", u"\uFEFEx\uFEFE", u"ё"})
    EXPECT_EQ(TrimmedItem(Bytes(kept)), Bytes(kept));
  // A lone surrogate is kept as its three bytes, and stops the trimming.
  EXPECT_EQ(TrimmedItem(Bytes(u" \xD83D \u00A0")), Bytes(u"\xD83D"));
}

ItemRules YoFolded(bool fold_yo) {
  ItemRules rules;
  rules.fold_yo = fold_yo;
  return rules;
}

// ё (D1 91) and Ё (D0 81) are found wherever they stand, across the eight-byte words too.
TEST(ItemKey, FindsAndFoldsYoAnywhere) {
  for (size_t at = 0; at < 20; ++at) {
    for (size_t after : {0, 1, 7, 8, 13}) {
      for (const char16_t* yo : {u"ё", u"Ё"}) {
        const std::string item = std::string(at, 'a') + Bytes(yo) + std::string(after, 'b');
        ASSERT_TRUE(HoldsYoText(item)) << at << " " << after;
        unsigned char scratch[64];
        const std::string folded =
            std::string(at, 'a') + Bytes(*yo == u'ё' ? u"е" : u"Е") + std::string(after, 'b');
        EXPECT_EQ(ItemKey(YoFolded(true), item, scratch), folded);
      }
      // Other Cyrillic, and bytes that only end the pair, are no ё.
      EXPECT_FALSE(HoldsYoText(std::string(at, 'a') + Bytes(u"жЖеЕ") + std::string(after, 'b')));
      EXPECT_FALSE(HoldsYoText(std::string(at, 'a') + "\xC3\x91" + std::string(after, 'b')));
    }
  }
  unsigned char scratch[16];
  EXPECT_EQ(ItemKey(YoFolded(false), Bytes(u"Ёж"), scratch), Bytes(u"Ёж"));
}
