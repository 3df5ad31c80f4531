// What the window program keeps from start-up to exit, in one place: start-up makes it, the
// shutdown ends it, and every part of the window is handed what it needs of it.
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <cstdint>

#include "app/control_table.h"
#include "app/event_queue.h"
#include "app/window_style.h"
#include "core/text.h"
#include "desktop/image_table.h"

// One control of MainWindow as GTK widgets. The window owns the widgets; these are borrowed.
struct ControlWidgets {
  ControlKind kind = ControlKind::Label;
  GtkWidget* outer = nullptr;   // placed and sized in the layout
  GtkWidget* widget = nullptr;  // label, entry, button, combo box, check button
  GtkWidget* entry = nullptr;   // an editable choice box's entry
  GtkListStore* store = nullptr;
};

struct MainWindowState {
  GtkWidget* window = nullptr;
  GtkWidget* layout = nullptr;
  // The size from the last size change the window reported.
  int width = kInitialWindowWidth;
  int height = kInitialWindowHeight;
};

struct Program {
  Program() = default;
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The clipboard texts kept by the paste buttons for the first and the second source.
  Text ClipboardFirst;
  Text ClipboardSecond;
  // How often each paste button has been used; shown in its field's marker "<count>".
  int32_t PasteCountFirst = 0;
  int32_t PasteCountSecond = 0;

  EventQueue events;
  ImageTable icons;  // the four embedded icons, decoded at start-up
  MainWindowState window;
  WindowStyle style;
  // By control number; entry 0 stays empty. Empty again once the window is destroyed.
  std::array<ControlWidgets, kControlCount + 1> controls;
};
