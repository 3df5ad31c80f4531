#include "desktop/message_box.h"

#include <gtk/gtk.h>

#include <string>

#include "core/utf8.h"

namespace {

GtkMessageType MessageType(int kind) {
  if (kind & kMessageInformation) return GTK_MESSAGE_INFO;
  if (kind & kMessageWarning) return GTK_MESSAGE_WARNING;
  if (kind & kMessageError) return GTK_MESSAGE_ERROR;
  return GTK_MESSAGE_OTHER;
}

GtkButtonsType Buttons(int kind) {
  if (kind & (kMessageYesNo | kMessageYesNoCancel)) return GTK_BUTTONS_YES_NO;
  return GTK_BUTTONS_OK;
}

}  // namespace

void ShowMessage(TextView title, TextView text, int kind) {
  const std::string title_utf8 = Utf8FromText(title);
  const std::string text_utf8 = Utf8FromText(text);

  GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, MessageType(kind),
                                          Buttons(kind), "%s", text_utf8.c_str());
  if (box == nullptr) return;
  if (!(kind & kMessageYesNo) && (kind & kMessageYesNoCancel)) {
    gtk_dialog_add_button(GTK_DIALOG(box), "_Cancel", GTK_RESPONSE_CANCEL);
  }
  gtk_window_set_title(GTK_WINDOW(box), title_utf8.c_str());
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);

  // The caller goes on only once the box has really left the screen.
  while (gtk_events_pending()) gtk_main_iteration();
}
