// Puts its argument on the clipboard as text, hands the clipboard over as the program does at
// shutdown, and exits: what a user's copy leaves behind. The text is offered through
// gtk_clipboard_set_with_data, which, unlike gtk_clipboard_set_text, does not already allow the
// hand-over: the shutdown has to.
#include <gtk/gtk.h>

#include "desktop/clipboard.h"
#include "desktop/gtk_events.h"

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc != 2) return 2;
  GtkTargetList* list = gtk_target_list_new(nullptr, 0);
  gtk_target_list_add_text_targets(list, 0);
  gint count = 0;
  GtkTargetEntry* targets = gtk_target_table_new_from_list(list, &count);
  gtk_clipboard_set_with_data(
      gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), targets, count,
      [](GtkClipboard*, GtkSelectionData* data, guint, gpointer text) {
        gtk_selection_data_set_text(data, static_cast<const char*>(text), -1);
      },
      nullptr, argv[1]);
  gtk_target_table_free(targets, count);
  gtk_target_list_unref(list);
  ProcessPendingEvents();
  StoreClipboardOnExit();
  return 0;
}
