#include "app/event_loop.h"

#include <gtk/gtk.h>

#include <utility>

#include "app/control_actions.h"
#include "app/controls.h"
#include "app/file_drops.h"
#include "app/main_window.h"
#include "app/window_layout.h"

namespace {

Event current;

void TakeNext() {
  std::optional<Event> next = ProgramEventQueue().Take();
  current = next ? std::move(*next) : Event{};
}

void LayOutControls(int window_width) {
  for (const Placement& p : LayoutForWidth(window_width)) {
    PlaceControl(p.control, p.x, p.y, p.width, p.height);
  }
}

}  // namespace

int WaitEvent() {
  current = Event{};
  if (ProgramEventQueue().empty()) gtk_main_iteration();
  TakeNext();
  return current.kind;
}

void RunEventLoop() {
  for (;;) {
    switch (WaitEvent()) {
      case WindowResized:
        LayOutControls(MainWindowWidth());
        break;
      case ControlActivity:
        RunControlAction(current.control, current.type);
        break;
      case FilesDropped:
        RunDropAction(current.control, DropOf(current));
        break;
      case CloseRequested:
        DestroyMainWindow();
        current = Event{};
        ProgramEventQueue().Clear();
        return;
      default:
        break;
    }
  }
}
