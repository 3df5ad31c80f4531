// A whole comparison run, from what the window shows to the result file and the viewer.
// The engine never touches GTK: everything outside it is reached through RunHost.
#pragma once

#include "core/text.h"
#include "engine/run_request.h"

// What a run needs of the window; tests stand in for it.
class RunHost {
 public:
  virtual ~RunHost() = default;
  virtual void SetStatus(const Text& text) = 0;
  // Returns only once the user has closed the message, so that nothing else happens meanwhile.
  virtual void ShowError(const Text& message) = 0;
  // While locked, the user can neither start another run nor change what a source is.
  virtual void LockControls(bool locked) = 0;
  // Never waits for the viewer: the window stays usable while the result is shown.
  virtual void LaunchViewer(const Text& path) = 0;
};

// "/tmp/~ListwiseData.txt"
Text ResultPath();

// The run of StartButton. An input error is shown through the host and ends the run before
// anything is locked, computed or written, so the earlier result file stays as it was. A result
// that cannot replace the file at `result_path` goes to the user's own file beside it
// (PersonalResultPath), which the status names. Tests name their own result file.
void RunComparison(const RunRequest& request, RunHost& host,
                   const Text& result_path = ResultPath());
