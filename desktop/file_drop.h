// Input fields as drop destinations for files, and the names a drop delivers.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "core/text.h"

// What a drop carries. The program registers files (the URI-list target) only.
enum DropFormat { DropFormatFiles = 1 };

struct SelectionDataDeleter {
  void operator()(GtkSelectionData* data) const { gtk_selection_data_free(data); }
};
using SelectionDataPtr = std::unique_ptr<GtkSelectionData, SelectionDataDeleter>;

// One accepted drop. It owns a copy of the received selection data, freed with it.
struct DropEvent {
  DropFormat format = DropFormatFiles;
  GdkDragAction action = GDK_ACTION_COPY;
  int x = 0;  // the drop position in the field's coordinates
  int y = 0;
  SelectionDataPtr data;
};

// Called on the window's thread, from inside GTK's event handling, once the data of an accepted
// drop has arrived. The handler only queues the event (with the control number the field was
// registered with); the drop is finished when the handler returns.
using DropHandler = std::function<void(int control_number, std::unique_ptr<DropEvent> event)>;

// Makes the field a drop destination for files with the given allowed actions (the program
// passes GDK_ACTION_COPY alone). The field's handlers run ahead of the widget's own, answer
// every drag themselves and so never let the field insert dragged text. The field is
// highlighted while an acceptable drag hovers over it. Calling it again for the same field
// replaces the actions, the control number and the handler. Everything is released with the
// field's widget.
void EnableFileDrop(GtkWidget* field, int control_number, GdkDragAction actions,
                    DropHandler on_drop);

// The local file names of a drop, in the dropped order, joined by line feeds (no line feed
// before the first or after the last). The empty text without an event, without data, for
// another format than files, or when no dropped item names a local file.
Text DroppedFileList(const DropEvent* event);

// The core of DroppedFileList on a null-terminated list of URIs: items that are no local file
// names (another scheme, another host, a malformed escape) are left out without notice.
Text FileListFromUris(const char* const* uris);

// The action a drop gets from the usable actions (allowed by the field and offered by the drag)
// and the drag's suggested one: copy before move before link, the suggestion first when usable.
GdkDragAction ChooseDropAction(GdkDragAction usable, GdkDragAction suggested);
