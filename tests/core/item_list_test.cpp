#include <gtest/gtest.h>

#include <vector>

#include "core/item_list.h"
#include "core/text.h"

namespace {

std::vector<Text> Walk(ItemList<Text>& list) {
  std::vector<Text> items;
  ListReset(list);
  while (Text* v = ListNext(list)) items.push_back(*v);
  return items;
}

ItemListPtr<Text> ListOf(std::initializer_list<const char16_t*> items) {
  auto list = NewItemList<Text>();
  for (const char16_t* item : items) *ListAdd(*list) = item;
  return list;
}

}  // namespace

TEST(ItemList, AddsAfterTheCursorAndWalksInOrder) {
  auto list = ListOf({u"a", u"b", u"c"});
  EXPECT_EQ(Walk(*list), (std::vector<Text>{u"a", u"b", u"c"}));
  ListReset(*list);
  ListNext(*list);               // cursor on "a"
  *ListAdd(*list) = u"after-a";  // goes between a and b
  ListReset(*list);
  *ListAdd(*list) = u"front";  // no cursor: goes to the front
  EXPECT_EQ(Walk(*list), (std::vector<Text>{u"front", u"a", u"after-a", u"b", u"c"}));
  EXPECT_EQ(ListCount(*list), 5);
  // After the end, ListNext keeps answering none until a reset.
  EXPECT_EQ(ListNext(*list), nullptr);
  EXPECT_EQ(ListNext(*list), nullptr);
  auto empty = NewItemList<Text>();
  ListReset(*empty);
  EXPECT_EQ(ListNext(*empty), nullptr);
}

TEST(ItemList, SplitMovesTheTail) {
  const struct {
    int cursor_steps;  // ListNext calls after a reset
    bool keep_cursor;
    std::vector<Text> source, target;
    int32_t cursor_index;
  } cases[] = {
      {2, true, {u"a", u"b"}, {u"c", u"d"}, 1},
      {2, false, {u"a"}, {u"b", u"c", u"d"}, 0},
      {1, false, {}, {u"a", u"b", u"c", u"d"}, -1},
      {4, true, {u"a", u"b", u"c", u"d"}, {}, 3},   // cursor on the last: nothing moves
      {0, true, {u"a", u"b", u"c", u"d"}, {}, -1},  // no cursor: only the target is cleared
  };
  for (const auto& c : cases) {
    auto source = ListOf({u"a", u"b", u"c", u"d"});
    auto target = ListOf({u"old"});
    ListReset(*source);
    for (int k = 0; k < c.cursor_steps; ++k) ListNext(*source);
    ListSplit(*source, *target, c.keep_cursor);
    EXPECT_EQ(source->cursor_index(), c.cursor_index);
    EXPECT_EQ(Walk(*source), c.source);
    EXPECT_EQ(Walk(*target), c.target);
    EXPECT_EQ(ListCount(*source) + ListCount(*target), 4);
  }
}

TEST(ItemList, SplitBetweenListsOfDifferentValueSizesDoesNothing) {
  auto texts = ListOf({u"a", u"b"});
  auto numbers = NewItemList<int32_t>();
  *ListAdd(*numbers) = 1;
  ListReset(*texts);
  ListNext(*texts);
  ListSplit(*texts, *numbers, true);
  EXPECT_EQ(ListCount(*texts), 2);
  EXPECT_EQ(ListCount(*numbers), 1);
}

TEST(ItemList, ClearEmptiesAndReleasesElements) {
  auto list = ListOf({u"a", u"b"});
  ElementPool* pool = list->pool();
  const size_t before = pool->slots_in_use();
  ListClear(*list);
  EXPECT_EQ(ListCount(*list), 0);
  EXPECT_EQ(pool->slots_in_use(), before - 2);
  EXPECT_TRUE(Walk(*list).empty());
}
