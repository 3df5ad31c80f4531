#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/item_table.h"

namespace {

std::vector<Text> WalkKeys(ItemTable<Text>& table) {
  std::vector<Text> keys;
  TableReset(table);
  while (TableNext(table) != nullptr) keys.push_back(TableKey(table));
  return keys;
}

Text Key(int n) {
  return TextFromAscii("key" + std::to_string(n));
}

// The n-th of 2^blocks distinct keys that share one StringHash: the 2-unit blocks (c, b) and
// (c + 65473, b + 3969) add the same amount to it, since 65473 * 65599 + 3969 is 2^32.
Text CollidingKey(uint32_t n, int blocks) {
  Text key;
  for (int j = 0; j < blocks; ++j) {
    const char16_t c = static_cast<char16_t>(u'!' + j % 20), b = static_cast<char16_t>(u'a' + j);
    const bool shifted = (n >> j) & 1;
    key += static_cast<char16_t>(shifted ? c + 65473 : c);
    key += static_cast<char16_t>(shifted ? b + 3969 : b);
  }
  return key;
}

}  // namespace

TEST(StringHash, MultipliesBy65599Modulo2To32) {
  const struct {
    const char16_t* key;
    uint32_t hash;
    uint32_t slot;
  } cases[] = {
      {u"", 0, 0}, {u"a", 97, 97}, {u"b", 98, 98}, {u"ab", 6363201, 65}, {u"abc", 807794786, 98},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StringHash(c.key), c.hash) << c.hash;
    EXPECT_EQ(StringHash(c.key) % 512, c.slot);
  }
}

TEST(ItemTableWalk, AscendingSlotsNewestFirstWithinASlot) {
  auto table = NewItemTable<Text>(512);
  TableAdd(*table, u"b");
  TableAdd(*table, u"a");
  TableAdd(*table, u"abc");
  const std::vector<Text> expected = {u"a", u"abc", u"b"};
  EXPECT_EQ(WalkKeys(*table), expected);
  *TableAdd(*table, u"b") = u"value";  // a re-added key keeps its place
  EXPECT_EQ(WalkKeys(*table), expected);
  EXPECT_EQ(TableCount(*table), 3);
}

TEST(ItemTableWalk, OneSlotTablesWalkInReverseInsertionOrder) {
  for (int32_t slots : {0, -4, 1}) {
    auto table = NewItemTable<Text>(slots);
    for (const char16_t* k : {u"x", u"y", u"z"}) TableAdd(*table, k);
    EXPECT_EQ(WalkKeys(*table), (std::vector<Text>{u"z", u"y", u"x"})) << slots;
  }
}

TEST(ItemTableWalk, MatchesAModelOfTheChainsUnderRandomChurn) {
  // The index beside the chains must never change the order the chains give: compare with a
  // plain model of 512 chains through many adds, re-adds and removals.
  std::mt19937 random(7);
  auto table = NewItemTable<Text>(512);
  std::vector<std::vector<Text>> chains(512);  // newest first
  for (int step = 0; step < 60000; ++step) {
    const Text key = Key(static_cast<int>(random() % 5000));
    auto& chain = chains[StringHash(key) % 512];
    const auto at = std::find(chain.begin(), chain.end(), key);
    if (random() % 4 == 0) {
      EXPECT_EQ(TableRemove(*table, key), at != chain.end());
      if (at != chain.end()) chain.erase(at);
    } else {
      TableAdd(*table, key);
      if (at == chain.end()) chain.insert(chain.begin(), key);
    }
  }
  std::vector<Text> expected;
  for (const auto& chain : chains) expected.insert(expected.end(), chain.begin(), chain.end());
  EXPECT_EQ(WalkKeys(*table), expected);
  EXPECT_EQ(TableCount(*table), static_cast<int32_t>(expected.size()));
}

// Keys made to share a StringHash share a slot, as they must, but not a probe sequence in the
// index: otherwise each lookup walks past all of them. Their walk order is the slot's.
TEST(ItemTableIndex, KeysOfOneStringHashStillSpreadOverTheIndex) {
  constexpr int kBlocks = 12;
  auto table = NewItemTable<int32_t>(512);
  std::vector<Text> newest_first;
  for (uint32_t n = 0; n < (1u << kBlocks); ++n) {
    newest_first.insert(newest_first.begin(), CollidingKey(n, kBlocks));
    ASSERT_EQ(StringHash(newest_first.front()), StringHash(CollidingKey(0, kBlocks)));
    *TableAdd(*table, newest_first.front()) = static_cast<int32_t>(n);
  }
  EXPECT_LT(table->LongestProbe(), 100u);
  EXPECT_EQ(TableValue(*table, CollidingKey(1234, kBlocks)), 1234);
  std::vector<Text> walked;
  table->ForEach([&](const auto& e) { walked.emplace_back(e.Key()); });
  EXPECT_EQ(walked, newest_first);
}

TEST(ItemTableValues, AddResetsFindKeepsValueDefaultsOnMiss) {
  auto table = NewItemTable<int32_t>(512);
  *TableAdd(*table, u"k") = 5;
  EXPECT_EQ(*TableFind(*table, u"k"), 5);
  EXPECT_EQ(*TableEnsure(*table, u"k"), 5);
  EXPECT_EQ(*TableAdd(*table, u"k"), 0);
  EXPECT_EQ(TableValue(*table, u"missing"), 0);
  EXPECT_EQ(TableFind(*table, u"missing"), nullptr);
  EXPECT_EQ(TableFind(*table, u"K"), nullptr);  // case is told apart
  EXPECT_EQ(TableCount(*table), 1);
  *TableEnsure(*table, u"new") = 9;
  EXPECT_EQ(TableCount(*table), 2);
  EXPECT_EQ(TableValue(*table, u"new"), 9);
}

TEST(ItemTableValues, AddNewShadowsTheOlderTwinUntilRemoved) {
  auto table = NewItemTable<int32_t>(512);
  *TableAdd(*table, u"twin") = 1;
  *TableAddNew(*table, u"twin") = 2;
  *TableAddNew(*table, u"twin") = 3;
  EXPECT_EQ(TableCount(*table), 3);
  EXPECT_EQ(*TableFind(*table, u"twin"), 3);
  // Many other keys force the index to grow; the twins must keep their order.
  for (int n = 0; n < 5000; ++n) TableAdd(*table, Key(n));
  EXPECT_EQ(*TableFind(*table, u"twin"), 3);
  EXPECT_TRUE(TableRemove(*table, u"twin"));
  EXPECT_EQ(*TableFind(*table, u"twin"), 2);
  EXPECT_TRUE(TableRemove(*table, u"twin"));
  EXPECT_EQ(*TableFind(*table, u"twin"), 1);
  EXPECT_TRUE(TableRemove(*table, u"twin"));
  EXPECT_EQ(TableFind(*table, u"twin"), nullptr);
  EXPECT_FALSE(TableRemove(*table, u"twin"));
}

TEST(ItemTableCursor, FollowsTheRulesOfTheWalk) {
  auto table = NewItemTable<Text>(512);
  EXPECT_EQ(TableNext(*table), nullptr);  // a new table needs a reset first
  TableAdd(*table, u"a");
  TableAdd(*table, u"b");
  TableReset(*table);
  EXPECT_NE(TableNext(*table), nullptr);
  EXPECT_EQ(TableKey(*table), u"a");
  EXPECT_NE(TableNext(*table), nullptr);
  EXPECT_EQ(TableNext(*table), nullptr);
  EXPECT_EQ(TableNext(*table), nullptr);  // stays over until the next reset
  EXPECT_EQ(TableKey(*table), u"");
  TableReset(*table);
  EXPECT_NE(TableNext(*table), nullptr);
  TableValue(*table, u"absent");  // a miss drops the cursor entry
  EXPECT_EQ(TableKey(*table), u"");
  EXPECT_EQ(TableNext(*table), nullptr);
}

TEST(ItemTableKeys, EmptyKeyIsOrdinaryAndKeysAreCopies) {
  auto table = NewItemTable<Text>(512);
  {
    Text transient = u"temporary";
    TableAdd(*table, transient);
    transient.assign(u"overwrite");
  }
  TableAdd(*table, TextView());
  EXPECT_NE(TableFind(*table, u""), nullptr);
  EXPECT_NE(TableFind(*table, u"temporary"), nullptr);
  EXPECT_EQ(WalkKeys(*table).front(), u"");  // slot 0
  TableClear(*table);
  EXPECT_EQ(TableCount(*table), 0);
  EXPECT_EQ(TableFind(*table, u"temporary"), nullptr);
  EXPECT_TRUE(WalkKeys(*table).empty());
}

// A removed entry is marked apart from its key's size: a line of 2^31 units or more is an
// ordinary key, neither taken for removed nor cut short.
TEST(ItemTableKeys, HugeKeySizesStayWholeAndUnremoved) {
  for (size_t size : {size_t{1} << 31, (size_t{1} << 32) - 1, (size_t{1} << 32) + 5}) {
    TableEntry<uint32_t> entry{};
    entry.key = u"x";  // the size alone is under test; nothing reads the units
    entry.key_size = size;
    EXPECT_FALSE(entry.removed()) << size;
    EXPECT_EQ(entry.Key().size(), size);
  }
}

TEST(ItemTableScale, ManyDistinctKeysAllFoundAgain) {
  auto table = NewItemTable<int32_t>(512);
  constexpr int kKeys = 200000;
  for (int n = 0; n < kKeys; ++n) *TableAdd(*table, Key(n)) = n;
  EXPECT_EQ(TableCount(*table), kKeys);
  for (int n = 0; n < kKeys; n += 97) ASSERT_EQ(TableValue(*table, Key(n)), n);
  int32_t walked = 0;
  table->ForEach([&](const auto&) { ++walked; });
  EXPECT_EQ(walked, kKeys);
}

TEST(ItemTableIndex, ReleasedIndexIsRebuiltForTheNextLookup) {
  auto table = NewItemTable<int32_t>(512);
  for (int n = 0; n < 3000; ++n) *TableAdd(*table, Key(n)) = n;
  *TableAddNew(*table, Key(7)) = -7;  // a newer twin must still win after the rebuild
  const auto before = table->WalkOrder();
  table->ReleaseLookupIndex();
  EXPECT_EQ(table->WalkOrder(), before);  // walking needs no index
  EXPECT_EQ(TableValue(*table, Key(7)), -7);
  EXPECT_EQ(TableValue(*table, Key(2999)), 2999);
  *TableAdd(*table, u"new") = 1;
  EXPECT_EQ(TableCount(*table), 3002);
  table->ReleaseLookupIndex();
  TableClear(*table);  // entries are released without the index too
  EXPECT_EQ(TableCount(*table), 0);
}
