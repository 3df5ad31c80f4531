#include "desktop/message_box.h"

#include <gtk/gtk.h>

#include <string>

#include "core/utf8.h"
#include "desktop/gtk_events.h"

namespace {

GtkMessageType MessageType(int kind) {
  if (kind & kMessageInformation) return GTK_MESSAGE_INFO;
  if (kind & kMessageWarning) return GTK_MESSAGE_WARNING;
  if (kind & kMessageError) return GTK_MESSAGE_ERROR;
  return GTK_MESSAGE_OTHER;
}

// GTK 3 no longer shows an icon for the message type by itself; the box should still tell a
// warning from a piece of information at a glance.
const char* IconName(GtkMessageType type) {
  switch (type) {
    case GTK_MESSAGE_INFO:
      return "dialog-information";
    case GTK_MESSAGE_WARNING:
      return "dialog-warning";
    case GTK_MESSAGE_ERROR:
      return "dialog-error";
    default:
      return nullptr;
  }
}

GtkButtonsType Buttons(int kind) {
  if (kind & (kMessageYesNo | kMessageYesNoCancel)) return GTK_BUTTONS_YES_NO;
  return GTK_BUTTONS_OK;
}

}  // namespace

void ShowMessage(TextView title, TextView text, int kind, TextView detail) {
  const std::string title_utf8 = Utf8FromText(title);
  const std::string text_utf8 = Utf8FromText(text);
  const std::string detail_utf8 = Utf8FromText(detail);

  const GtkMessageType type = MessageType(kind);
  GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, type, Buttons(kind), "%s",
                                          text_utf8.c_str());
  if (box == nullptr) return;
  if (!detail_utf8.empty()) {
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box), "%s", detail_utf8.c_str());
  }
  if (const char* icon = IconName(type)) {
    GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
    // Deprecated only because the icon went out of fashion; it is still the one way to show it.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box), image);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_widget_show(image);
  }
  if (!(kind & kMessageYesNo) && (kind & kMessageYesNoCancel)) {
    gtk_dialog_add_button(GTK_DIALOG(box), "_Cancel", GTK_RESPONSE_CANCEL);
  }
  gtk_window_set_title(GTK_WINDOW(box), title_utf8.c_str());
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);

  // The caller goes on only once the box has really left the screen.
  ProcessPendingEvents();
}
