#include "app/control_table.h"

#include "engine/run_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

TEST(ControlTable, NumbersAreTheRowsFromOneToTheCount) {
  int expected = 1;
  for (const ControlRow& row : ControlRows()) {
    EXPECT_EQ(row.number, expected) << row.name;
    EXPECT_EQ(FindControlRow(row.number), &row);
    ++expected;
  }
  EXPECT_EQ(expected, kControlCount + 1);
  EXPECT_EQ(FindControlRow(0), nullptr);
  EXPECT_EQ(FindControlRow(kControlCount + 1), nullptr);
}

TEST(ControlTable, CreationOrderBuildsEachControlOnceWithTheFieldsFirst) {
  std::vector<int> order(ControlCreationOrder().begin(), ControlCreationOrder().end());
  ASSERT_EQ(order.size(), static_cast<size_t>(kControlCount));
  EXPECT_EQ(std::set<int>(order.begin(), order.end()).size(), order.size());
  const std::vector<int> head(order.begin(), order.begin() + 4);
  EXPECT_EQ(head, (std::vector<int>{LabelFirst, LabelSecond, FieldFirst, FieldSecond}));
  // The swap button comes after the labels it overlaps, so it lies above them.
  const auto at = [&](int n) { return std::find(order.begin(), order.end(), n) - order.begin(); };
  EXPECT_GT(at(SwapButton), at(LabelFirst));
  EXPECT_GT(at(SwapButton), at(LabelSecond));
  EXPECT_EQ(order.back(), StatusLine);
}

TEST(ControlTable, ChoiceItemsAreTheTextsTheUserSees) {
  const struct {
    int control;
    std::vector<std::string> items;
    int state;
  } cases[] = {
      {ModeBox,
       {"Уникальные строки 2-го файла, которых нет в первом", "Одинаковые строки в 2-х файлах",
        "Уникальные строки одного файла, удаляет повторы", "Подсчёт уникальных строк одного файла",
        "Объединить строки 2-х файлов", "Уникальные строки 1-го файла, которых нет во втором",
        "Все строки 2-х файлов без повторов", "Строки, которые есть только в одном из 2-х файлов",
        "Повторяющиеся строки одного файла"},
       0},
      // Four characters, backslash r backslash n: the escapes are shown, not expanded.
      {ReadSeparatorBox, {"\\r\\n", "\\n", "\\r\\n\\t\\f", "Введите ваш разделитель"}, 0},
      {ResultSeparatorBox, {"\\r\\n", "Введите ваш разделитель"}, 0},
  };
  for (const auto& c : cases) {
    const ControlRow& row = *FindControlRow(c.control);
    EXPECT_EQ(std::vector<std::string>(row.items.begin(), row.items.end()), c.items) << row.name;
    EXPECT_EQ(row.initial_state, c.state) << row.name;
  }
  EXPECT_EQ(std::string(FindControlRow(ReadSeparatorBox)->items[0]).size(), 4u);
  EXPECT_EQ(std::string(FindControlRow(ReadSeparatorBox)->items[2]).size(), 8u);
}

// The status line is one row of 410 × 23: its first words must be short enough not to wrap.
TEST(ControlTable, InitialStatusTextIsOneShortLine) {
  const std::string text = kInitialStatusText;
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_LT(text.size(), 90u);  // bytes of UTF-8: about 45 Cyrillic letters
  EXPECT_EQ(std::string(FindControlRow(StatusLine)->text), text);
}

// The item at each index is the operation of that number, so an operation's name must say
// whether it reads one list or two: the second field greys out for the one-list operations.
TEST(ControlTable, ModeItemsSayWhetherTheyReadOneList) {
  const auto items = FindControlRow(ModeBox)->items;
  ASSERT_EQ(items.size(), 9u);
  for (size_t mode = 0; mode < items.size(); ++mode) {
    const bool one_list = std::string(items[mode]).find("одного файла") != std::string::npos;
    EXPECT_EQ(one_list, !UsesSecondSource(static_cast<Operation>(mode))) << items[mode];
  }
}

// Speech input finds a control by the words on screen: a name given to a control that shows a
// text holds that text.
TEST(ControlTable, SpokenNamesHoldTheTextsOnScreen) {
  int named = 0;
  for (const ControlRow& row : ControlRows()) {
    const ControlVoice* voice = FindControlVoice(row.number);
    if (!voice || !voice->name || !row.text || !*row.text) continue;
    EXPECT_NE(std::string(voice->name).find(row.text), std::string::npos) << row.name;
    ++named;
  }
  EXPECT_GE(named, 2);  // TrimCheck and FoldYoCheck at least
}
