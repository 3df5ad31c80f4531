#include "cli/progress_bar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

int Columns(const std::string& text) {
  return static_cast<int>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

// The line never reaches the terminal's last column, whose use would wrap it and leave a trail
// of bars; a bar fills the rest, whatever the width and however long the list's name.
TEST(ProgressBar, FillsTheLineWithoutWrapping) {
  const char* names[] = {"a.txt", "списки/очень-длинное-имя-файла-со-списком-адресов.txt",
                         "/a/long/path/to/some/directory/holding/the/first/list/of/items.txt"};
  const BarState states[] = {
      {RunPhase::ReadingFirst, 45 << 20, 100 << 20, 2.0, "", ""},
      {RunPhase::ReadingSecond, 7 << 20, 0, 0.5, "", ""},
      {RunPhase::Working, 128, 256, 3.0, "", ""},
      {RunPhase::Writing, 0, 10, 0.0, "", ""},
  };
  for (const char* name : names) {
    for (BarState state : states) {
      state.first = state.second = name;
      for (int width = 20; width <= 200; width += 7) {
        const std::string line = ProgressBarLine(state, width);
        EXPECT_LE(Columns(line), width - 1) << line;
        const bool bar = line.find('[') != std::string::npos;
        EXPECT_TRUE(!bar || Columns(line) == width - 1) << line;
        EXPECT_TRUE(bar || state.total == 0 || width < 60) << line;
      }
    }
  }
}

TEST(ProgressBar, TellsShareBytesRateAndTimeLeft) {
  const struct {
    BarState state;
    const char* line;
  } cases[] = {
      {{RunPhase::ReadingFirst, 45 << 20, 100 << 20, 3.0, "a.txt", "b.txt"},
       "reading a.txt [############---------------]  45%  45/100 MB  15 MB/s  0:04 left"},
      {{RunPhase::ReadingSecond, 120 << 20, 0, 4.0, "a.txt", "-"}, "reading -  120 MB  30 MB/s"},
      {{RunPhase::Working, 64, 256, 1.0, "a.txt", "b.txt"},
       "working [#############----------------------------------------]  25%  0:03 left"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressBarLine(c.state, 80), c.line);
}
