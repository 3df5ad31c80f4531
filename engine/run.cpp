#include "engine/run.h"

#include <new>

#include "core/text_file.h"
#include "core/utf8.h"
#include "engine/operations.h"
#include "engine/result_writer.h"
#include "engine/run_steps.h"

Text ResultPath() {
  return TempDirectory() + u"~ListwiseData.txt";
}

namespace {

void RunChecked(const RunRequest& request, RunHost& host, const Text& result_path, bool& locked) {
  PreparedRun run;
  const InputError error = PrepareRun(request, run, nullptr, &host);
  if (error == InputError::Stopped) {
    host.SetStatus(StoppedMessage());
    host.LockControls(false);
    return;
  }
  if (error != InputError::None) {
    const Text message = InputErrorMessage(error);
    host.SetStatus(message);
    host.ShowError(message);
    return;
  }
  host.LockControls(true);
  locked = true;
  // The result streams into a fresh file while it is computed, without its final separator;
  // it replaces the result file only once complete.
  ResultFile result(Utf8FromText(result_path));
  NullSink unwritable;
  ResultSink& target = result.ok() ? result.sink() : static_cast<ResultSink&>(unwritable);
  Text status = RunPrepared(run, target) + SourceNoticesText(run.first_notices, run.second_notices);
  if (RunStopped(run)) {
    // The unfinished result goes with `result`, as below.
    host.SetStatus(StoppedMessage());
    host.LockControls(false);
    locked = false;
    return;
  }
  if (SourceFailedDuringRun(run)) {
    // The uncommitted result goes with `result`; the earlier one stays.
    const Text message = InputErrorMessage(InputError::FileChangedWhileRead);
    host.SetStatus(message);
    host.LockControls(false);
    locked = false;
    host.ShowError(message);
    return;
  }
  const bool written = result.Commit();
  const Text written_path = TextFromUtf8(result.path());
  if (!written) {
    status += u"; не удалось записать " + written_path;
  } else if (written_path != result_path) {
    // The usual name could not be replaced (another user's file): say where the result is.
    status += u"; записано в " + written_path;
  }
  host.SetStatus(status);
  host.LockControls(false);
  locked = false;
  // A viewer on a path that does not hold this run's result would show stale or foreign data.
  if (written) host.LaunchViewer(written_path);
}

}  // namespace

void RunComparison(const RunRequest& request, RunHost& host, const Text& result_path) {
  // Lists that fit neither in memory nor in temporary files are the failures reported by
  // exception; they end here, as a message, with the window unlocked and the earlier result file
  // untouched.
  bool locked = false;
  try {
    RunChecked(request, host, result_path, locked);
  } catch (const std::bad_alloc&) {
    host.SetStatus(OutOfMemoryMessage());
    if (locked) host.LockControls(false);
    host.ShowError(OutOfMemoryMessage());
  } catch (const TemporarySpaceExhausted&) {
    host.SetStatus(NoTemporarySpaceMessage());
    if (locked) host.LockControls(false);
    host.ShowError(NoTemporarySpaceMessage());
  }
}
