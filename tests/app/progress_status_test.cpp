#include "app/progress_status.h"

#include <gtest/gtest.h>

#include <string>

#include "core/utf8.h"

TEST(ProgressStatus, NamesThePhaseWithItsShare) {
  const struct {
    RunPhase phase;
    uint64_t done, total;
    const char* shown;
  } cases[] = {
      {RunPhase::ReadingFirst, 45, 100, "Чтение списка 1: 45 %"},
      {RunPhase::ReadingSecond, 0, 807u << 20, "Чтение списка 2: 0 %"},
      {RunPhase::Working, 255, 256, "Обработка: 99 %"},
      {RunPhase::Writing, 3, 3, "Запись: 100 %"},
      {RunPhase::ReadingFirst, 5000, 4000, "Чтение списка 1: 100 %"},  // the file grew
      {RunPhase::ReadingSecond, 120u << 20, 0, "Чтение списка 2: 120 МБ"},
      {RunPhase::Working, 65536, 0, "Обработка…"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Utf8FromText(ProgressStatusText(c.phase, c.done, c.total)),
              std::string(c.shown) + " · Esc — отмена");
}
