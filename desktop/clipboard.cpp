#include "desktop/clipboard.h"

#include <gtk/gtk.h>

#include <memory>

#include "core/utf8.h"

namespace {

struct GFreeDeleter {
  void operator()(gchar* text) const { g_free(text); }
};

}  // namespace

Text ClipboardText() {
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  if (clipboard == nullptr) return {};
  std::unique_ptr<gchar, GFreeDeleter> text(gtk_clipboard_wait_for_text(clipboard));
  if (!text) return {};
  return TextFromUtf8(text.get());
}

void StoreClipboardOnExit() {
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  if (clipboard == nullptr) return;
  // No target list: every target the tool offers may be stored.
  gtk_clipboard_set_can_store(clipboard, nullptr, 0);
  gtk_clipboard_store(clipboard);
}
