// A whole comparison run, from what the window shows to the result file and the viewer.
// The engine never touches GTK: everything outside it is reached through RunHost.
#pragma once

#include "core/text.h"
#include "engine/run_progress.h"
#include "engine/run_request.h"

// What a run needs of the window; tests stand in for it. One host serves one run.
//
// The run reports its progress from the reading of the sources on, so reports may come before
// LockControls(true). A host that lets the user act between reports must first lock what could
// start another run; the run then unlocks through LockControls(false) when it ends or is stopped,
// and ShowError of an input error must leave nothing locked.
class RunHost : public RunProgress {
 public:
  virtual void SetStatus(const Text& text) = 0;
  // Returns only once the user has closed the message, so that nothing else happens meanwhile.
  // `detail`, shown below the message, says what it is about: "Список 1: /home/anna/a.txt";
  // it may be empty.
  virtual void ShowError(const Text& message, const Text& detail) = 0;
  // While locked, the user can neither start another run nor change what a source is.
  virtual void LockControls(bool locked) = 0;
  // Never waits for the viewer: the window stays usable while the result is shown.
  virtual void LaunchViewer(const Text& path) = 0;

 protected:
  bool Progress(RunPhase, uint64_t, uint64_t) override { return true; }
};

// "/tmp/~ListwiseData.txt"
Text ResultPath();

// The run of StartButton. An input error is shown through the host and ends the run before
// anything is locked, computed or written, so the earlier result file stays as it was; so does
// a run the host stops, which tells StoppedMessage and starts no viewer. A result that cannot
// replace the file at `result_path` goes to the user's own file beside it (PersonalResultPath),
// which the status names; a result that cannot be written at all is shown as an error, with the
// system's reason, and starts no viewer. Tests name their own result file.
void RunComparison(const RunRequest& request, RunHost& host,
                   const Text& result_path = ResultPath());
