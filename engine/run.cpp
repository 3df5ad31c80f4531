#include "engine/run.h"

#include <cstring>
#include <new>

#include "core/text_file.h"
#include "core/utf8.h"
#include "engine/result_sink.h"
#include "engine/result_writer.h"
#include "engine/run_steps.h"

Text ResultPath() {
  return TempDirectory() + u"~ListwiseData.txt";
}

namespace {

// What an input error is about, in the words of the window's labels, for the line below the
// message: a message alone does not say which of two lists, or which file, is meant.
Text ErrorDetail(InputError error, RunSource source, const RunRequest& request) {
  if (error == InputError::MissingSeparator) return u"Разделитель при чтении: поле пусто";
  if (source == RunSource::None) return Text();
  const bool first = source == RunSource::First;
  const Text& field = first ? request.first_field : request.second_field;
  if (error == InputError::SameFile) return u"Список 1 и список 2: " + field;
  Text detail = first ? u"Список 1" : u"Список 2";
  if (error == InputError::MissingList) return detail + u": поле пусто";
  if (field.empty()) return detail;  // a source handed in without a field
  if (FirstUnit(field) == u'<') return detail + u": текст из буфера обмена";
  return detail + u": " + field;
}

// "/tmp/~ListwiseData.txt: Нет места на устройстве", the reason in the locale's language.
Text WriteFailureDetail(const Text& path, int error) {
  if (error == 0) return path;
  return path + u": " + TextFromUtf8(std::strerror(error));
}

void RunAndReport(const RunRequest& request, RunHost& host, const Text& result_path, bool& locked) {
  LoadedRun run;
  RunSource failed = RunSource::None;
  const InputError error = LoadRun(request, run, &failed, &host);
  if (error == InputError::Stopped) {
    host.SetStatus(StoppedMessage());
    host.LockControls(false);
    return;
  }
  if (error != InputError::None) {
    const Text message = InputErrorMessage(error);
    host.SetStatus(message);
    host.ShowError(message, ErrorDetail(error, failed, request));
    return;
  }
  host.LockControls(true);
  locked = true;
  // The result streams into a fresh file while it is computed, without its final separator;
  // it replaces the result file only once complete.
  ResultFile result(Utf8FromText(result_path));
  NullSink unwritable;
  ResultSink& target = result.ok() ? result.sink() : static_cast<ResultSink&>(unwritable);
  const RunCount count = MakeResult(run, target);
  Text status = StatusText(count.found, count.milliseconds) +
                SourceNoticesText(run.first_notices, run.second_notices);
  if (RunStopped(run)) {
    // The unfinished result goes with `result`, as below.
    host.SetStatus(StoppedMessage());
    host.LockControls(false);
    locked = false;
    return;
  }
  if (const RunSource changed = SourceThatFailedDuringRun(run); changed != RunSource::None) {
    // The uncommitted result goes with `result`; the earlier one stays.
    const InputError changed_error = InputError::FileChangedWhileRead;
    const Text message = InputErrorMessage(changed_error);
    host.SetStatus(message);
    host.LockControls(false);
    locked = false;
    host.ShowError(message, ErrorDetail(changed_error, changed, request));
    return;
  }
  const bool written = result.Commit();
  const Text written_path = TextFromUtf8(result.path());
  if (!written) {
    // The count stays in the status line; the box tells where and why, which the status line
    // has no room for.
    host.SetStatus(status + u"; не удалось записать " + written_path);
    host.LockControls(false);
    locked = false;
    host.ShowError(u"Не удалось записать результат",
                   WriteFailureDetail(written_path, result.error()));
    return;
  }
  if (written_path != result_path) {
    // The usual name could not be replaced (another user's file): say where the result is.
    status += u"; записано в " + written_path;
  }
  host.SetStatus(status);
  host.LockControls(false);
  locked = false;
  host.LaunchViewer(written_path);
}

}  // namespace

void RunComparison(const RunRequest& request, RunHost& host, const Text& result_path) {
  // Lists that fit neither in memory nor in temporary files are the failures reported by
  // exception; they end here, as a message, with the window unlocked and the earlier result file
  // untouched.
  bool locked = false;
  try {
    RunAndReport(request, host, result_path, locked);
  } catch (const std::bad_alloc&) {
    host.SetStatus(OutOfMemoryMessage());
    if (locked) host.LockControls(false);
    host.ShowError(OutOfMemoryMessage(), Text());
  } catch (const TemporarySpaceExhausted&) {
    host.SetStatus(NoTemporarySpaceMessage());
    if (locked) host.LockControls(false);
    host.ShowError(NoTemporarySpaceMessage(), Text());
  }
}
