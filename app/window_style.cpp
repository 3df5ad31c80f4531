#include "app/window_style.h"

namespace {

// Desktop themes give entries, combo boxes and buttons minimum heights of about 34 px, taller
// than the rows of this window (the two separator boxes stand 30 px apart, the fields and the
// small buttons are 33 px high). Without these rules the layout would stretch such controls
// over their neighbours; with them each control is exactly as large as the layout asks.
constexpr char kRules[] = R"css(
#MainWindow entry {
  min-height: 0;
  padding-top: 0;
  padding-bottom: 0;
}
#MainWindow button {
  min-height: 0;
  min-width: 0;
  padding: 0;
}
#MainWindow combobox button {
  min-height: 0;
  padding-top: 0;
  padding-bottom: 0;
}
#MainWindow checkbutton {
  min-height: 0;
  padding-top: 0;
  padding-bottom: 0;
}
)css";

}  // namespace

void ApplyWindowStyle(WindowStyle& style, GtkWidget* window) {
  gtk_widget_set_name(window, "MainWindow");
  if (!style.rules) {
    style.rules.reset(gtk_css_provider_new());
    gtk_css_provider_load_from_data(style.rules.get(), kRules, -1, nullptr);
  }
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window),
                                            GTK_STYLE_PROVIDER(style.rules.get()),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void RemoveWindowStyle(WindowStyle& style) {
  if (!style.rules) return;
  if (GdkScreen* screen = gdk_screen_get_default()) {
    gtk_style_context_remove_provider_for_screen(screen, GTK_STYLE_PROVIDER(style.rules.get()));
  }
  style.rules.reset();
}
