#include "desktop/file_drop.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/utf8.h"

namespace {

constexpr char kDropSiteKey[] = "listwise-drop-site";
constexpr int kAnyAction = GDK_ACTION_COPY | GDK_ACTION_MOVE | GDK_ACTION_LINK;

struct TargetListUnref {
  void operator()(GtkTargetList* list) const { gtk_target_list_unref(list); }
};
using TargetListPtr = std::unique_ptr<GtkTargetList, TargetListUnref>;

// The URI-list target: files are the one format a field accepts.
TargetListPtr NewFileTargets() {
  TargetListPtr list(gtk_target_list_new(nullptr, 0));
  gtk_target_list_add_uri_targets(list.get(), 0);
  return list;
}

struct DropFormatEntry {
  DropFormat format;
  GdkDragAction actions;
};

struct DragMatch {
  DropFormat format = DropFormatFiles;
  GdkDragAction action = GdkDragAction(0);
  GdkAtom target = GDK_NONE;
};

enum SiteSignal { SignalDestroy, SignalDataReceived, SignalMotion, SignalLeave, SignalDrop };

// What a field that accepts drops keeps, attached to its widget until the widget goes.
struct DropSite {
  GtkWidget* widget = nullptr;  // also the widget to highlight
  int control_number = 0;
  DropHandler on_drop;
  std::vector<DropFormatEntry> formats;  // newest first
  TargetListPtr file_targets = NewFileTargets();
  gulong handler_ids[5] = {};
  bool highlighted = false;
  bool drop_pending = false;  // a drop was accepted and its data requested
  int drop_x = 0;
  int drop_y = 0;
  DragMatch match;  // of the current drag
};

void FreeDropSite(gpointer site) {
  delete static_cast<DropSite*>(site);
}

bool MatchDrag(const DropSite& site, GdkDragContext* context, DragMatch* match) {
  const int offered = gdk_drag_context_get_actions(context);
  for (const DropFormatEntry& entry : site.formats) {
    const auto usable = GdkDragAction(entry.actions & offered & kAnyAction);
    if (usable == 0) continue;
    const GdkAtom target = gtk_drag_dest_find_target(site.widget, context, site.file_targets.get());
    if (target == GDK_NONE) continue;
    match->format = entry.format;
    match->target = target;
    match->action = ChooseDropAction(usable, gdk_drag_context_get_suggested_action(context));
    return true;
  }
  return false;
}

gboolean OnDragMotion(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time,
                      gpointer data) {
  auto* site = static_cast<DropSite*>(data);
  if (MatchDrag(*site, context, &site->match)) {
    if (!site->highlighted) {
      gtk_drag_highlight(widget);
      site->highlighted = true;
    }
    gdk_drag_status(context, site->match.action, time);
  } else {
    gdk_drag_status(context, GdkDragAction(0), time);
  }
  // Handled: the field's own motion handling (which would offer to insert text) never runs.
  return TRUE;
}

void OnDragLeave(GtkWidget* widget, GdkDragContext*, guint, gpointer data) {
  auto* site = static_cast<DropSite*>(data);
  // GTK sends a leave just before the drop too, so the highlight is gone when the data arrives.
  if (site->highlighted) {
    gtk_drag_unhighlight(widget);
    site->highlighted = false;
  }
  g_signal_stop_emission_by_name(widget, "drag-leave");
}

gboolean OnDragDrop(GtkWidget* widget, GdkDragContext* context, gint x, gint y, guint time,
                    gpointer data) {
  auto* site = static_cast<DropSite*>(data);
  if (MatchDrag(*site, context, &site->match)) {
    site->drop_pending = true;
    site->drop_x = x;
    site->drop_y = y;
    gtk_drag_get_data(widget, context, site->match.target, time);
  } else {
    gtk_drag_finish(context, FALSE, FALSE, time);
  }
  return TRUE;
}

void OnDragDataReceived(GtkWidget* widget, GdkDragContext* context, gint, gint,
                        GtkSelectionData* selection, guint, guint time, gpointer data) {
  auto* site = static_cast<DropSite*>(data);
  // The entry's own handler would try to insert the data as text and finish the drop again.
  g_signal_stop_emission_by_name(widget, "drag-data-received");
  if (!site->drop_pending) return;
  site->drop_pending = false;
  if (gtk_selection_data_get_length(selection) > 0 && site->on_drop) {
    auto event = std::make_unique<DropEvent>();
    event->format = site->match.format;
    event->action = site->match.action;
    event->x = site->drop_x;
    event->y = site->drop_y;
    event->data.reset(gtk_selection_data_copy(selection));
    site->on_drop(site->control_number, std::move(event));
  }
  gtk_drag_finish(context, TRUE, site->match.action == GDK_ACTION_MOVE, time);
}

void OnDestroy(GtkWidget* widget, gpointer data) {
  auto* site = static_cast<DropSite*>(data);
  for (gulong id : site->handler_ids) {
    if (id != 0) g_signal_handler_disconnect(widget, id);
  }
  // Frees the site through the destroy notify it was attached with.
  g_object_set_data(G_OBJECT(widget), kDropSiteKey, nullptr);
}

}  // namespace

GdkDragAction ChooseDropAction(GdkDragAction usable, GdkDragAction suggested) {
  if (suggested & usable) {
    for (GdkDragAction action : {GDK_ACTION_COPY, GDK_ACTION_MOVE}) {
      if (suggested & usable & action) return action;
    }
    return GDK_ACTION_LINK;
  }
  for (GdkDragAction action : {GDK_ACTION_COPY, GDK_ACTION_MOVE}) {
    if (usable & action) return action;
  }
  return GDK_ACTION_LINK;
}

void EnableFileDrop(GtkWidget* field, int control_number, GdkDragAction actions,
                    DropHandler on_drop) {
  auto* site = static_cast<DropSite*>(g_object_get_data(G_OBJECT(field), kDropSiteKey));
  if (site == nullptr) {
    site = new DropSite;
    site->widget = field;
    // No default behaviour, targets or actions: GTK itself neither answers motions, nor
    // highlights, nor handles the drop. The handlers below do all of it.
    gtk_drag_dest_set(field, GtkDestDefaults(0), nullptr, 0, GdkDragAction(0));
    // These signals run their class handlers last, so handlers connected here come first.
    site->handler_ids[SignalDestroy] =
        g_signal_connect(field, "destroy", G_CALLBACK(OnDestroy), site);
    site->handler_ids[SignalDataReceived] =
        g_signal_connect(field, "drag-data-received", G_CALLBACK(OnDragDataReceived), site);
    site->handler_ids[SignalMotion] =
        g_signal_connect(field, "drag-motion", G_CALLBACK(OnDragMotion), site);
    site->handler_ids[SignalLeave] =
        g_signal_connect(field, "drag-leave", G_CALLBACK(OnDragLeave), site);
    site->handler_ids[SignalDrop] =
        g_signal_connect(field, "drag-drop", G_CALLBACK(OnDragDrop), site);
    g_object_set_data_full(G_OBJECT(field), kDropSiteKey, site, FreeDropSite);
  }
  site->control_number = control_number;
  site->on_drop = std::move(on_drop);
  for (DropFormatEntry& entry : site->formats) {
    if (entry.format == DropFormatFiles) {
      entry.actions = actions;
      return;
    }
  }
  site->formats.insert(site->formats.begin(), {DropFormatFiles, actions});
}

Text FileListFromUris(const char* const* uris) {
  if (uris == nullptr) return {};
  const std::string_view this_host = g_get_host_name();
  std::string joined;
  for (; *uris != nullptr; ++uris) {
    gchar* host = nullptr;
    gchar* name = g_filename_from_uri(*uris, &host, nullptr);
    // A file on another machine is no local file, even if a file of that name exists here.
    const bool local =
        name != nullptr && (host == nullptr || std::string_view(host) == "localhost" ||
                            std::string_view(host) == this_host);
    if (local) {
      if (!joined.empty()) joined += '\n';
      joined += name;
    }
    g_free(host);
    g_free(name);
  }
  return TextFromUtf8(joined);
}

Text DroppedFileList(const DropEvent* event) {
  if (event == nullptr || !event->data || event->format != DropFormatFiles) return {};
  gchar** uris = gtk_selection_data_get_uris(event->data.get());
  if (uris == nullptr) return {};
  Text names = FileListFromUris(uris);
  g_strfreev(uris);
  return names;
}
