#include <gtest/gtest.h>

#include <vector>

#include "core/utf8.h"
#include "engine/split.h"

namespace {

std::vector<Text> Items(TextView text, TextView separator, bool whole) {
  std::vector<Text> items;
  auto list = NewItemList<Text>();
  if (whole)
    SplitWholeToList(text, *list, separator);
  else
    SplitCharsToList(text, *list, separator);
  ListReset(*list);
  while (Text* item = ListNext(*list)) items.push_back(*item);
  return items;
}

using Items_ = std::vector<Text>;

}  // namespace

TEST(Split, WholeStringKeepsEveryEmptyItem) {
  const struct {
    const char16_t *text, *separator;
    Items_ items;
  } cases[] = {
      {u"a;b;;c;", u";", {u"a", u"b", u"", u"c", u""}},
      {u";a", u";", {u"", u"a"}},
      {u"", u";", {u""}},
      {u"abc", u";", {u"abc"}},
      {u"xaby", u"ab", {u"x", u"y"}},
      {u"xbay", u"ab", {u"xbay"}},
      {u"a\r\nb\nc\r\n", u"\r\n", {u"a", u"b\nc", u""}},
      {u"a\r\n\r\nb", u"\r\n", {u"a", u"", u"b"}},
      {u"ab", u"abc", {u"ab"}},           // separator longer than the text
      {u"aaaa", u"aa", {u"", u"", u""}},  // occurrences never overlap
  };
  for (const auto& c : cases)
    EXPECT_EQ(Items(c.text, c.separator, true), c.items) << Utf8FromText(c.text);
}

TEST(Split, CharacterRuleDropsEmptyPiecesButKeepsTheFinalOne) {
  const struct {
    const char16_t *text, *separator;
    Items_ items;
  } cases[] = {
      {u"a;b;;c;", u";", {u"a", u"b", u"c", u""}},
      {u";a", u";", {u"a"}},
      {u"", u";", {u""}},
      {u"xaby", u"ab", {u"x", u"y"}},
      {u"xbay", u"ab", {u"x", u"y"}},
      {u"a\r\nb\nc\rd\r\n\r\n", u"\r\n", {u"a", u"b", u"c", u"d", u""}},
      {u";;;", u";", {u""}},
      {u"a\u0416b", u"\u0416;", {u"a", u"b"}},
      {u"no separator here", u"\t", {u"no separator here"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Items(c.text, c.separator, false), c.items) << Utf8FromText(c.text);
}

TEST(Split, TablesFoldKeysAndKeepTheLastOccurrence) {
  const Text text = u"Apple;APPLE;pear;Pear";
  auto table = NewItemTable<TextRef>(512);
  SplitCharsToTable(text, *table, u";", 0);
  EXPECT_EQ(TableCount(*table), 2);
  EXPECT_EQ(TableValue(*table, u"apple").view(), u"APPLE");
  EXPECT_EQ(TableValue(*table, u"pear").view(), u"Pear");
  SplitWholeToTable(text, *table, u";", 1);  // emptied first, then keys as they stand
  EXPECT_EQ(TableCount(*table), 4);
  EXPECT_EQ(TableValue(*table, u"APPLE").size, 0u);
}

TEST(Split, BatchesGiveTheSameItemsAsOneByOne) {
  Text text;
  for (int n = 0; n < 100; ++n) text += TextFromAscii("Item" + std::to_string(n % 37)) + u"\r\n";
  for (bool case_sensitive : {true, false}) {
    KeyedItemReader reader(text, u"\r\n", false, case_sensitive, KeyHashes::Both);
    ItemSplitter plain(text, u"\r\n", false);
    ItemBatch batch;
    int seen = 0;
    while (reader.Read(batch)) {
      for (int k = 0; k < batch.size; ++k, ++seen) {
        TextView item;
        ASSERT_TRUE(plain.Next(item));
        EXPECT_EQ(batch.items[k], item);
        const Text key = case_sensitive ? Text(item) : TextLower(item);
        EXPECT_EQ(batch.keys[k], key);
        EXPECT_EQ(batch.hashes[k], StringHash(key));
        EXPECT_EQ(batch.lookups[k], LookupHash(key));
      }
    }
    EXPECT_EQ(seen, 101);
  }
}
