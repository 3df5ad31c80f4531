#include "app/window_layout.h"

#include "app/control_table.h"

int HalfWidth(int window_width) {
  return window_width / 2 - 10;
}

std::vector<Placement> LayoutForWidth(int w) {
  const int half = HalfWidth(w);
  return {
      {.control = StartButton, .x = w - 100},
      {.control = FieldFirst, .width = w - 132},
      {.control = FieldSecond, .width = w - 132},
      {.control = OpenFirst, .x = w - 84},
      {.control = PasteFirst, .x = w - 44},
      {.control = OpenSecond, .x = w - 84},
      {.control = PasteSecond, .x = w - 44},
      {.control = ModeBox, .width = w - 30},
      {.control = LabelReadSeparator, .width = half},
      {.control = LabelResultSeparator, .width = half},
      {.control = ReadSeparatorBox, .x = half + 10, .width = half},
      {.control = ResultSeparatorBox, .x = half + 10, .width = half},
      // It ends 5 px short of StartButton, whose lower edge reaches into its row.
      {.control = StatusLine, .width = w - 110},
  };
}
