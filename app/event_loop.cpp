#include "app/event_loop.h"

#include <gtk/gtk.h>

#include <utility>

#include "app/control_actions.h"
#include "app/controls.h"
#include "app/file_drops.h"
#include "app/main_window.h"

Event WaitEvent(EventQueue& queue) {
  if (queue.empty()) gtk_main_iteration();
  std::optional<Event> next = queue.Take();
  return next ? std::move(*next) : Event{};
}

void RunEventLoop(Program& program) {
  for (;;) {
    // Each event, a drop's names with it, is released before the next one is waited for.
    const Event event = WaitEvent(program.events);
    switch (event.kind) {
      case WindowResized:
        LayOutControls(program);
        break;
      case ControlActivity:
        RunControlAction(program, event.control, event.type);
        break;
      case FilesDropped:
        RunDropAction(program, event.control, DropOf(event));
        break;
      case CloseRequested:
        DestroyMainWindow(program);
        program.events.Clear();
        return;
      default:
        break;
    }
  }
}
