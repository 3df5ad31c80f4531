// The comparison run as the window starts it: the engine's RunHost over the controls, and the
// action of StartButton.
#pragma once

#include <cstdint>

#include "app/program_state.h"
#include "core/text.h"
#include "engine/run.h"

// What the engine shows and locks during a run, done on MainWindow's controls.
//
// A run that goes on for more than a moment lets GTK handle its pending events between its
// steps: the window draws, answers the window manager and takes the user's input, while the
// locked controls take no clicks. The handlers only queue events, as always; of those, Escape
// and a close request stop the run, a new window width places the controls at once, and the
// rest wait until it has ended.
class WindowRunHost : public RunHost {
 public:
  explicit WindowRunHost(Program& program);
  void SetStatus(const Text& text) override;
  void ShowError(const Text& message, const Text& detail) override;
  void LockControls(bool locked) override;
  void LaunchViewer(const Text& path) override;

 protected:
  bool Progress(RunPhase phase, uint64_t done, uint64_t total) override;

 private:
  Program& program_;
  int64_t started_ms_;
  int laid_out_width_;     // the window width the controls were last placed for
  int64_t shown_ms_ = -1;  // when the status line last showed progress
  Text shown_;
  bool locked_ = false;
  bool answering_ = false;  // GTK has handled events during this run
};

// The run request as the window shows it now: both fields, the operation, both separators as
// typed, whether each check box is checked, and the clipboard texts the paste buttons kept
// (viewed, not copied: they must outlive the request).
RunRequest RequestFromWindow(const Program& program);

// The action of StartButton: a whole run on what the window shows, reported in the window.
void StartRunFromWindow(Program& program);
