#include "app/run_from_window.h"

#include "app/control_table.h"
#include "app/controls.h"
#include "desktop/message_box.h"
#include "desktop/viewer_launch.h"

namespace {

// The controls that could start another run or change its sources' kind while one is going.
// The fields, the separator boxes, the check boxes and SwapButton stay usable.
constexpr int kLockedDuringRun[] = {StartButton, ModeBox,    OpenFirst,
                                    OpenSecond,  PasteFirst, PasteSecond};

}  // namespace

void WindowRunHost::SetStatus(const Text& text) {
  SetControlText(program_, StatusLine, text);
}

void WindowRunHost::ShowError(const Text& message) {
  ShowMessage(u"Ошибка", message, kMessageWarning);
}

void WindowRunHost::LockControls(bool locked) {
  for (int control : kLockedDuringRun) SetControlEnabled(program_, control, !locked);
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
  request.clipboard_first = program.ClipboardFirst;
  request.clipboard_second = program.ClipboardSecond;
  return request;
}

void StartRunFromWindow(Program& program) {
  WindowRunHost host(program);
  RunComparison(RequestFromWindow(program), host);
}
