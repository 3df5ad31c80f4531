// A drag source of the test's own, in a separate process like a file manager would be.
// Usage: uri_drag_source X Y uris|text copy|move ITEM...
// Opens an undecorated 160x80 window titled "listwise-drag-source" at X,Y whose whole area
// starts a drag offering the ITEMs as text/uri-list ("uris") or as plain text ("text"), with the
// copy or the move action. Prints "ready" once the window is on the screen, and "dragged" when
// a drag has ended.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<char*> items;
bool offer_uris = true;

void OnDragDataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer) {
  if (offer_uris) {
    std::vector<char*> uris = items;
    uris.push_back(nullptr);
    gtk_selection_data_set_uris(data, uris.data());
  } else {
    gtk_selection_data_set_text(data, items.empty() ? "" : items[0], -1);
  }
}

void OnDragEnd(GtkWidget*, GdkDragContext*, gpointer) {
  std::printf("dragged\n");
  std::fflush(stdout);
}

gboolean OnMapped(GtkWidget*, GdkEvent*, gpointer) {
  std::printf("ready\n");
  std::fflush(stdout);
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc < 5) {
    std::fprintf(stderr, "usage: uri_drag_source X Y uris|text copy|move ITEM...\n");
    return 2;
  }
  offer_uris = std::strcmp(argv[3], "uris") == 0;
  const GdkDragAction action =
      std::strcmp(argv[4], "move") == 0 ? GDK_ACTION_MOVE : GDK_ACTION_COPY;
  for (int i = 5; i < argc; ++i) items.push_back(argv[i]);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "listwise-drag-source");
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window), 160, 80);
  gtk_window_move(GTK_WINDOW(window), std::atoi(argv[1]), std::atoi(argv[2]));
  GtkWidget* area = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(area), gtk_label_new("drag me"));
  gtk_container_add(GTK_CONTAINER(window), area);

  GtkTargetList* targets = gtk_target_list_new(nullptr, 0);
  if (offer_uris) {
    gtk_target_list_add_uri_targets(targets, 0);
  } else {
    gtk_target_list_add_text_targets(targets, 0);
  }
  gtk_drag_source_set(area, GDK_BUTTON1_MASK, nullptr, 0, action);
  gtk_drag_source_set_target_list(area, targets);
  gtk_target_list_unref(targets);
  g_signal_connect(area, "drag-data-get", G_CALLBACK(OnDragDataGet), nullptr);
  g_signal_connect(area, "drag-end", G_CALLBACK(OnDragEnd), nullptr);
  g_signal_connect(window, "map-event", G_CALLBACK(OnMapped), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
