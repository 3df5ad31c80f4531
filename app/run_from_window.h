// The comparison run as the window starts it: the engine's RunHost over the controls, and the
// action of StartButton.
#pragma once

#include "app/program_state.h"
#include "core/text.h"
#include "engine/run.h"

// What the engine shows and locks during a run, done on MainWindow's controls.
class WindowRunHost : public RunHost {
 public:
  explicit WindowRunHost(Program& program) : program_(program) {}
  void SetStatus(const Text& text) override;
  void ShowError(const Text& message) override;
  void LockControls(bool locked) override;
  void LaunchViewer(const Text& path) override;

 private:
  Program& program_;
};

// The run request as the window shows it now: both fields, the operation, both separators as
// typed, whether each check box is checked, and the clipboard texts the paste buttons kept
// (viewed, not copied: they must outlive the request).
RunRequest RequestFromWindow(const Program& program);

// The action of StartButton: a whole run on what the window shows, reported in the window.
void StartRunFromWindow(Program& program);
