#include "app/main_window.h"

#include "app/control_table.h"
#include "app/controls.h"
#include "app/event_queue.h"
#include "app/window_style.h"
#include "desktop/gtk_events.h"

namespace {

constexpr GdkWMDecoration kDecorations =
    static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_RESIZEH | GDK_DECOR_TITLE |
                                 GDK_DECOR_MENU | GDK_DECOR_MINIMIZE | GDK_DECOR_MAXIMIZE);
constexpr GdkWMFunction kFunctions = static_cast<GdkWMFunction>(
    GDK_FUNC_RESIZE | GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE | GDK_FUNC_MAXIMIZE | GDK_FUNC_CLOSE);
static_assert(kDecorations == 0x7E && kFunctions == 0x3E);

constexpr int kLargestSide = 32767;

// GTK never destroys the window by itself: the close request waits its turn in the queue,
// and the loop closes the window when it gets there.
gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer program) {
  PostEvent(static_cast<Program*>(program)->events, CloseRequested, 0, 0);
  return TRUE;
}

// The key still goes on to the focused control, which does with it what it always did.
gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer program) {
  if (event->keyval == GDK_KEY_Escape)
    PostEvent(static_cast<Program*>(program)->events, EscapePressed, 0, 0);
  return FALSE;
}

gboolean OnConfigureEvent(GtkWidget*, GdkEventConfigure* event, gpointer data) {
  Program& program = *static_cast<Program*>(data);
  MainWindowState& state = program.window;
  if (event->width != state.width || event->height != state.height) {
    state.width = event->width;
    state.height = event->height;
    PostEvent(program.events, WindowResized, 0, 0);
  }
  return FALSE;
}

void OnDestroy(GtkWidget*, gpointer data) {
  Program& program = *static_cast<Program*>(data);
  ForgetControls(program);
  program.window.window = nullptr;
  program.window.layout = nullptr;
}

void ScreenSize(GtkWidget* window, int* width, int* height) {
  GdkScreen* screen = gtk_widget_get_screen(window);
  // The whole screen across all monitors, as the window is placed in screen coordinates.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  *width = gdk_screen_get_width(screen);
  *height = gdk_screen_get_height(screen);
  G_GNUC_END_IGNORE_DEPRECATIONS
}

}  // namespace

WindowPosition CentredPosition(int screen_width, int screen_height, int width, int height) {
  return {screen_width / 2 - width / 2, screen_height / 2 - height / 2};
}

bool OpenMainWindow(Program& program, GdkPixbuf* icon) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (!window) return false;
  MainWindowState& state = program.window;
  state = MainWindowState{};
  state.window = window;
  gtk_window_set_title(GTK_WINDOW(window), "Listwise");
  gtk_window_set_default_size(GTK_WINDOW(window), kInitialWindowWidth, kInitialWindowHeight);
  gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
  int screen_width = 0;
  int screen_height = 0;
  ScreenSize(window, &screen_width, &screen_height);
  const WindowPosition at =
      CentredPosition(screen_width, screen_height, kInitialWindowWidth, kInitialWindowHeight);
  gtk_window_move(GTK_WINDOW(window), at.x, at.y);
  ApplyWindowStyle(program.style, window);

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  state.layout = gtk_layout_new(nullptr, nullptr);
  gtk_box_pack_start(GTK_BOX(box), state.layout, TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(window), box);

  g_signal_connect(window, "delete-event", G_CALLBACK(OnDeleteEvent), &program);
  g_signal_connect(window, "configure-event", G_CALLBACK(OnConfigureEvent), &program);
  g_signal_connect(window, "key-press-event", G_CALLBACK(OnKeyPress), &program);
  g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), &program);

  gtk_widget_realize(window);
  if (GdkWindow* gdk_window = gtk_widget_get_window(window)) {
    gdk_window_set_decorations(gdk_window, kDecorations);
    gdk_window_set_functions(gdk_window, kFunctions);
  }
  gtk_widget_show_all(window);

  if (icon) gtk_window_set_icon(GTK_WINDOW(window), icon);

  GdkGeometry limits{};
  limits.min_width = kInitialWindowWidth;
  limits.min_height = kInitialWindowHeight;
  limits.max_width = kLargestSide;
  limits.max_height = kLargestSide;
  gtk_window_set_geometry_hints(GTK_WINDOW(window), nullptr, &limits,
                                static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
  return true;
}

GtkWidget* MainWindowWidget(const Program& program) {
  return program.window.window;
}

GtkLayout* MainLayout(const Program& program) {
  return program.window.layout ? GTK_LAYOUT(program.window.layout) : nullptr;
}

int MainWindowWidth(const Program& program) {
  return program.window.width;
}

void DestroyMainWindow(Program& program) {
  if (program.window.window) gtk_widget_destroy(program.window.window);
  ProcessPendingEvents();
}
