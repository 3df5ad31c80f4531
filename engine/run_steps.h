// The steps of a run that the window and listwise-cli share: checking the request and loading
// the sources, the escapes of the separators, the clock and the report.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/text.h"
#include "engine/result_sink.h"
#include "engine/run_progress.h"
#include "engine/run_request.h"
#include "engine/source_notices.h"
#include "engine/temporary_space.h"

class SourceBytes;
struct ByteSources;

// The four typed escapes \r \n \t \f become CR, LF, tab and form feed, replaced in that order,
// each left to right without overlap; nothing else is an escape.
Text ExpandSeparatorEscapes(TextView text);

// The input errors, in the order the checks are made.
enum class InputError {
  None,
  MissingSeparator,  // "Отсутствует разделитель"
  MissingList,       // "Отсутствует список"
  SameFile,          // "один и тот же файл в поле ввода"
  FileMissing,       // "Файл не существует"
  FileIsDirectory,   // "Это папка, а не файл"
  FileUnreadable,    // "Файл не удаётся открыть"
  FileChangedWhileRead,  // "Файл изменился во время чтения": cut short while it was read
  // Lists read as tables: a header that names no column as asked, and (for a result of rows of
  // both lists) two lists that are not one table.
  NoSuchColumn,  // "В заголовке нет такого столбца"
  TablesDiffer,  // "У списков разные заголовки"
  // No input error: the run's RunProgress stopped it while the sources were read.
  Stopped,
};
Text InputErrorMessage(InputError error);

// A request that passed the checks, with its sources loaded and its separators expanded.
struct LoadedRun {
  Operation operation = Operation::ModeOnlyInSecond;
  Text read_separator;
  Text result_separator;
  bool whole_separator = false;
  bool case_sensitive = true;
  SourceNotices first_notices;
  SourceNotices second_notices;
  Text line_end = u"\r\n";  // ends each line of Merge
  std::shared_ptr<ByteSources> sources;
  RunProgress* progress = nullptr;  // the one LoadRun was given
};

// Which source an input error is about; None for the separator.
enum class RunSource { None, First, Second };

// Checks the request and reads its sources, in the fixed order; only the first failing check is
// reported. `progress` hears how the reading goes, and later how MakeResult goes, and may stop
// either.
InputError LoadRun(const RunRequest& request, LoadedRun& run, RunSource* failed = nullptr,
                   RunProgress* progress = nullptr);

// What a run found and the milliseconds its operation took, for a caller that words the report
// itself.
struct RunCount {
  int32_t found = 0;
  int64_t milliseconds = 0;
};
// Makes the result of a loaded run into the sink.
RunCount MakeResult(const LoadedRun& run, ResultSink& sink);
// After MakeResult: the source that could not be read again as it was first read (it changed or
// broke off), whose result is then incomplete and must not be kept; None when none failed.
RunSource SourceThatFailedDuringRun(const LoadedRun& run);
// After MakeResult: its RunProgress stopped it, so whatever reached the sink is incomplete.
bool RunStopped(const LoadedRun& run);

// Milliseconds on the wall clock since the first reading in this process (32-bit, as shown).
int32_t MillisecondClock();

// Shown when the lists do not fit in memory.
Text OutOfMemoryMessage();
// Shown when a run was stopped before its end: "Отменено".
Text StoppedMessage();

// "Недостаточно места для временных файлов"
Text NoTemporarySpaceMessage();

// "Найдено N за M мсек"
Text StatusText(int32_t found, int64_t milliseconds);
