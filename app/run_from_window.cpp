#include "app/run_from_window.h"

#include "app/control_table.h"
#include "app/controls.h"
#include "app/program_values.h"
#include "desktop/message_box.h"
#include "desktop/viewer_launch.h"

namespace {

// The controls that could start another run or change its sources' kind while one is going.
// The fields, the separator boxes, the check boxes and SwapButton stay usable.
constexpr int kLockedDuringRun[] = {StartButton, ModeBox,    OpenFirst,
                                    OpenSecond,  PasteFirst, PasteSecond};

}  // namespace

void WindowRunHost::SetStatus(const Text& text) {
  SetControlText(StatusLine, text);
}

void WindowRunHost::ShowError(const Text& message) {
  ShowMessage(u"Ошибка", message, kMessageWarning);
}

void WindowRunHost::LockControls(bool locked) {
  for (int control : kLockedDuringRun) SetControlEnabled(control, !locked);
}

void WindowRunHost::LaunchViewer(const Text& path) {
  // Whether a viewer came up is the desktop's business; the status line already tells the
  // outcome of the run.
  LaunchProgram(u"xdg-open", path, u"");
}

RunRequest RequestFromWindow() {
  RunRequest request;
  request.first_field = ControlText(FieldFirst);
  request.second_field = ControlText(FieldSecond);
  request.operation = static_cast<Operation>(ControlState(ModeBox));
  request.read_separator = ControlText(ReadSeparatorBox);
  request.result_separator = ControlText(ResultSeparatorBox);
  // Only the lowest bit of a check box's state says whether it is checked.
  request.whole_separator = (ControlState(WholeSeparatorCheck) & 1) != 0;
  request.case_sensitive = (ControlState(CaseCheck) & 1) != 0;
  request.clipboard_first = ClipboardFirst;
  request.clipboard_second = ClipboardSecond;
  return request;
}

void StartRunFromWindow() {
  WindowRunHost host;
  RunComparison(RequestFromWindow(), host);
}
