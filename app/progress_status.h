// What the status line shows while a long run goes on.
#pragma once

#include <cstdint>

#include "core/text.h"
#include "engine/run_progress.h"

// "Чтение списка 1: 45 %", "Обработка: 60 %", "Запись: 30 %"; a reading of unknown size
// counts megabytes ("Чтение списка 2: 120 МБ"), other phases of unknown size show the name.
// Each ends with how to stop the run: "Обработка: 60 % · Esc — отмена".
Text ProgressStatusText(RunPhase phase, uint64_t done, uint64_t total);
