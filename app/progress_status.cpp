#include "app/progress_status.h"

#include <algorithm>

namespace {

// Nothing else tells that a run can be stopped: "Старт" is only greyed while it goes on.
constexpr TextView kHowToStop = u" · Esc — отмена";

Text PhaseText(RunPhase phase, uint64_t done, uint64_t total) {
  Text text;
  switch (phase) {
    case RunPhase::ReadingFirst:
      text = u"Чтение списка 1";
      break;
    case RunPhase::ReadingSecond:
      text = u"Чтение списка 2";
      break;
    case RunPhase::Working:
      text = u"Обработка";
      break;
    case RunPhase::Writing:
      text = u"Запись";
      break;
  }
  const bool reading = phase == RunPhase::ReadingFirst || phase == RunPhase::ReadingSecond;
  if (total > 0) {
    // A file that grows while it is read may pass the size it had.
    const uint64_t percent = std::min(done, total) * 100 / total;
    return text + u": " + TextFromInteger(static_cast<int64_t>(percent)) + u" %";
  }
  if (reading) return text + u": " + TextFromInteger(static_cast<int64_t>(done >> 20)) + u" МБ";
  return text + u"…";
}

}  // namespace

Text ProgressStatusText(RunPhase phase, uint64_t done, uint64_t total) {
  return PhaseText(phase, done, total) + Text(kHowToStop);
}
