#include "app/run_from_window.h"

#include <gtk/gtk.h>

#include <chrono>
#include <utility>

#include "app/control_table.h"
#include "app/controls.h"
#include "app/main_window.h"
#include "app/progress_status.h"
#include "app/stop_signals.h"
#include "desktop/message_box.h"
#include "desktop/viewer_launch.h"

namespace {

// The controls that could start another run or change its sources' kind while one is going.
// The fields, the separator boxes, the check boxes and SwapButton stay usable.
constexpr int kLockedDuringRun[] = {StartButton, ModeBox,    OpenFirst,
                                    OpenSecond,  PasteFirst, PasteSecond};

// A run shorter than this looks as it always did: nothing greyed, no progress, no events.
constexpr int64_t kQuietMs = 300;
// Progress in the status line changes no more often than this: each change is drawn, and a
// screen reader speaks it.
constexpr int64_t kStatusEveryMs = 200;
// Events handled in one go, so that a flood of them cannot hold the run up.
constexpr int kEventsAtMost = 200;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void HandlePendingEvents() {
  for (int n = 0; n < kEventsAtMost && gtk_events_pending(); ++n) gtk_main_iteration_do(FALSE);
}

}  // namespace

WindowRunHost::WindowRunHost(Program& program)
    : program_(program), started_ms_(NowMs()), laid_out_width_(MainWindowWidth(program)) {}

void WindowRunHost::SetStatus(const Text& text) {
  SetControlText(program_, StatusLine, text);
}

void WindowRunHost::ShowError(const Text& message, const Text& detail) {
  // A reading long enough to lock the controls may still end in an input error.
  if (locked_) LockControls(false);
  ShowMessage(u"Ошибка", message, kMessageWarning, detail);
}

void WindowRunHost::LockControls(bool locked) {
  if (locked == locked_) return;
  // Clicks that came in since the last step reach the controls while they are still greyed,
  // and are dropped there instead of starting another run.
  if (!locked && answering_) HandlePendingEvents();
  for (int control : kLockedDuringRun) SetControlEnabled(program_, control, !locked);
  locked_ = locked;
}

bool WindowRunHost::Progress(RunPhase phase, uint64_t done, uint64_t total) {
  if (StopSignalCame()) return false;
  const int64_t now = NowMs();
  if (now - started_ms_ < kQuietMs) return true;
  // Before the first event is handled: a click on "Старт" waiting since the run began must find
  // the button greyed.
  LockControls(true);
  if (shown_ms_ < 0 || now - shown_ms_ >= kStatusEveryMs) {
    // An unchanged text is not set again: each change is drawn and told to a screen reader.
    Text text = ProgressStatusText(phase, done, total);
    if (text != shown_) {
      SetStatus(text);
      shown_ = std::move(text);
    }
    shown_ms_ = now;
  }
  HandlePendingEvents();
  // A resize waits in the queue for the loop, which takes it only once the run has ended: till
  // then the controls would keep the width they had.
  if (MainWindowWidth(program_) != laid_out_width_) {
    LayOutControls(program_);
    laid_out_width_ = MainWindowWidth(program_);
  }
  answering_ = true;
  return !program_.events.Holds(EscapePressed) && !program_.events.Holds(CloseRequested);
}

void WindowRunHost::LaunchViewer(const Text& path) {
  // Whether a viewer came up is the desktop's business; the status line already tells the
  // outcome of the run.
  LaunchProgram(u"xdg-open", path, u"");
}

RunRequest RequestFromWindow(const Program& program) {
  RunRequest request;
  request.first_field = ControlText(program, FieldFirst);
  request.second_field = ControlText(program, FieldSecond);
  request.operation = static_cast<Operation>(ControlState(program, ModeBox));
  request.read_separator = ControlText(program, ReadSeparatorBox);
  request.result_separator = ControlText(program, ResultSeparatorBox);
  // Only the lowest bit of a check box's state says whether it is checked.
  request.whole_separator = (ControlState(program, WholeSeparatorCheck) & 1) != 0;
  request.case_sensitive = (ControlState(program, CaseCheck) & 1) != 0;
  request.trim = (ControlState(program, TrimCheck) & 1) != 0;
  request.fold_yo = (ControlState(program, FoldYoCheck) & 1) != 0;
  request.clipboard_first = program.ClipboardFirst;
  request.clipboard_second = program.ClipboardSecond;
  return request;
}

void StartRunFromWindow(Program& program) {
  WindowRunHost host(program);
  RunComparison(RequestFromWindow(program), host);
}
