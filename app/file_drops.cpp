#include "app/file_drops.h"

#include <memory>
#include <utility>

#include "app/control_table.h"
#include "app/controls.h"
#include "app/event_queue.h"
#include "desktop/file_drop.h"

namespace {

void QueueDrop(int control, std::unique_ptr<DropEvent> drop) {
  PostEvent(FilesDropped, control, 0, std::shared_ptr<DropEvent>(std::move(drop)));
}

}  // namespace

void EnableFileDrops() {
  for (int field : {FieldFirst, FieldSecond}) {
    if (GtkWidget* widget = ControlWidget(field)) {
      EnableFileDrop(widget, field, GDK_ACTION_COPY, QueueDrop);
    }
  }
}

const DropEvent* DropOf(const Event& event) {
  if (event.kind != FilesDropped) return nullptr;
  return static_cast<const DropEvent*>(event.data.get());
}
