#include "app/file_drops.h"

#include <memory>
#include <utility>

#include "app/control_table.h"
#include "app/controls.h"
#include "desktop/file_drop.h"

void EnableFileDrops(Program& program) {
  EventQueue* events = &program.events;
  const DropHandler queue_drop = [events](int control, std::unique_ptr<DropEvent> drop) {
    PostEvent(*events, FilesDropped, control, 0, std::shared_ptr<DropEvent>(std::move(drop)));
  };
  for (int field : {FieldFirst, FieldSecond}) {
    if (GtkWidget* widget = ControlWidget(program, field)) {
      EnableFileDrop(widget, field, GDK_ACTION_COPY, queue_drop);
    }
  }
}

const DropEvent* DropOf(const Event& event) {
  if (event.kind != FilesDropped) return nullptr;
  return static_cast<const DropEvent*>(event.data.get());
}
