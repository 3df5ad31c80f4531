// A whole comparison run, from what the window shows to the result file and the viewer.
// The engine never touches GTK: everything outside it is reached through RunHost.
#pragma once

#include "core/text.h"
#include "engine/run_request.h"

// The window side of a run.
class RunHost {
 public:
  virtual ~RunHost() = default;
  // The text of StatusLine.
  virtual void SetStatus(const Text& text) = 0;
  // The modal message box titled "Ошибка" of kind 16; returns once the user has closed it.
  virtual void ShowError(const Text& message) = 0;
  // Makes StartButton, ModeBox, OpenFirst, OpenSecond, PasteFirst, PasteSecond insensitive
  // (true) or sensitive again (false), in that order.
  virtual void LockControls(bool locked) = 0;
  // Starts the viewer detached: LaunchProgram("xdg-open", path, "").
  virtual void LaunchViewer(const Text& path) = 0;
};

// "/tmp/~ListwiseData.txt"
Text ResultPath();

// The run of StartButton: checks the request, loads the sources, runs the operation, reports,
// writes ResultPath and launches the viewer. Input errors are shown through the host and end the
// run before anything is locked, computed or written.
// The result goes to ResultPath() unless the caller names another file (tests do).
void RunComparison(const RunRequest& request, RunHost& host,
                   const Text& result_path = ResultPath());
