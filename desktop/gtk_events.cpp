#include "desktop/gtk_events.h"

#include <gtk/gtk.h>

void ProcessPendingEvents() {
  while (gtk_events_pending()) gtk_main_iteration();
}
