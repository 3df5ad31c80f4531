#include "app/window_layout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>

#include "app/control_table.h"

namespace {

std::map<int, Placement> ByControl(int width) {
  std::map<int, Placement> placed;
  for (const Placement& p : LayoutForWidth(width)) placed[p.control] = p;
  return placed;
}

}  // namespace

TEST(WindowLayout, FollowsTheWidth) {
  const struct {
    int width;
    int field_width, open_x, paste_x, start_x, mode_width, half, status_width;
  } cases[] = {
      {520, 388, 436, 476, 420, 490, 250, 410},
      {700, 568, 616, 656, 600, 670, 340, 590},
      {701, 569, 617, 657, 601, 671, 340, 591},  // the odd pixel leaves HalfWidth alone
      {1920, 1788, 1836, 1876, 1820, 1890, 950, 1810},
  };
  for (const auto& c : cases) {
    auto p = ByControl(c.width);
    EXPECT_EQ(HalfWidth(c.width), c.half) << c.width;
    EXPECT_EQ(p[FieldFirst].width, c.field_width) << c.width;
    EXPECT_EQ(p[FieldSecond].width, c.field_width) << c.width;
    EXPECT_EQ(p[OpenFirst].x, c.open_x) << c.width;
    EXPECT_EQ(p[OpenSecond].x, c.open_x) << c.width;
    EXPECT_EQ(p[PasteFirst].x, c.paste_x) << c.width;
    EXPECT_EQ(p[PasteSecond].x, c.paste_x) << c.width;
    EXPECT_EQ(p[StartButton].x, c.start_x) << c.width;
    EXPECT_EQ(p[ModeBox].width, c.mode_width) << c.width;
    EXPECT_EQ(p[StatusLine].width, c.status_width) << c.width;
    EXPECT_EQ(p[LabelReadSeparator].width, c.half) << c.width;
    EXPECT_EQ(p[LabelResultSeparator].width, c.half) << c.width;
    for (int box : {ReadSeparatorBox, ResultSeparatorBox}) {
      EXPECT_EQ(p[box].x, c.half + 10) << c.width;
      EXPECT_EQ(p[box].width, c.half) << c.width;
    }
  }
}

TEST(WindowLayout, NothingMovesVerticallyAndNoHeightChanges) {
  for (const Placement& p : LayoutForWidth(777)) {
    EXPECT_EQ(p.y, kUnchanged) << p.control;
    EXPECT_EQ(p.height, kUnchanged) << p.control;
  }
}

TEST(WindowLayout, PlacesOnlyTheControlsThatFollowTheWidthInTheirOrder) {
  std::vector<int> order;
  for (const Placement& p : LayoutForWidth(600)) order.push_back(p.control);
  const std::vector<int> expected = {
      StartButton,      FieldFirst,         FieldSecond, OpenFirst,          PasteFirst,
      OpenSecond,       PasteSecond,        ModeBox,     LabelReadSeparator, LabelResultSeparator,
      ReadSeparatorBox, ResultSeparatorBox, StatusLine};
  EXPECT_EQ(order, expected);
}

// At the starting width the layout puts every control exactly where it was built.
TEST(WindowLayout, AtTheStartingWidthAgreesWithTheControlTable) {
  for (const Placement& p : LayoutForWidth(kInitialWindowWidth)) {
    const ControlRow* row = FindControlRow(p.control);
    ASSERT_NE(row, nullptr);
    if (p.x != kUnchanged) {
      EXPECT_EQ(p.x, row->x) << row->name;
    }
    if (p.width != kUnchanged) {
      EXPECT_EQ(p.width, row->width) << row->name;
    }
  }
}

// Whatever the width, every control lies inside the window and apart from the others, save the
// swap button over the labels "1" and "2" and the last pixel row of LabelResultSeparator, which
// draws no text there, over the row of check boxes below it.
TEST(WindowLayout, ControlsLieApartAtEveryWidth) {
  struct Box {
    int x, y, width, height;
  };
  const std::set<std::pair<int, int>> allowed = {{LabelFirst, SwapButton},
                                                 {LabelSecond, SwapButton},
                                                 {LabelResultSeparator, CaseCheck},
                                                 {LabelResultSeparator, TrimCheck}};
  for (int width : {kInitialWindowWidth, 521, 700, 1920}) {
    std::map<int, Box> boxes;
    for (const ControlRow& row : ControlRows())
      boxes[row.number] = {row.x, row.y, row.width, row.height};
    for (const Placement& p : LayoutForWidth(width)) {
      Box& b = boxes[p.control];
      if (p.x != kUnchanged) b.x = p.x;
      if (p.width != kUnchanged) b.width = p.width;
    }
    for (const auto& [a, box] : boxes) {
      const char* name = FindControlRow(a)->name;
      EXPECT_TRUE(box.x >= 0 && box.x + box.width <= width) << name << " at " << width;
      EXPECT_TRUE(box.y >= 0 && box.y + box.height <= kInitialWindowHeight) << name;
      for (const auto& [b, other] : boxes) {
        if (b <= a || allowed.contains({a, b})) continue;
        const bool overlap = box.x < other.x + other.width && other.x < box.x + box.width &&
                             box.y < other.y + other.height && other.y < box.y + box.height;
        EXPECT_FALSE(overlap) << name << " and " << FindControlRow(b)->name << " at " << width;
      }
    }
  }
}
