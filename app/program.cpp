#include "app/program.h"

#include <gtk/gtk.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "app/command_line.h"
#include "app/control_table.h"
#include "app/controls.h"
#include "app/event_loop.h"
#include "app/file_drops.h"
#include "app/main_window.h"
#include "app/program_state.h"
#include "app/stop_signals.h"
#include "app/window_style.h"
#include "core/utf8.h"
#include "desktop/clipboard.h"
#include "desktop/image_table.h"

#ifndef LISTWISE_APP_ID
#error "LISTWISE_APP_ID comes from the build"
#endif

namespace {

// StartupWMClass in the desktop entry.
constexpr char kWindowClass[] = "Listwise";

void BuildControl(Program& program, int number, const std::vector<Text>& arguments) {
  const ControlRow& row = *FindControlRow(number);
  GdkPixbuf* icon = row.icon != kNoIcon ? ImagePixbuf(program.icons, row.icon) : nullptr;
  CreateControl(program, MainLayout(program), row, icon);
  for (const char* item : row.items) AddControlItem(program, number, TextFromUtf8(item));
  if (row.initial_state != kNoState) SetControlState(program, number, row.initial_state);
  // The command-line arguments go in as soon as both fields exist.
  if (number == FieldSecond) {
    if (arguments.size() >= 1) SetControlText(program, FieldFirst, arguments[0]);
    if (arguments.size() >= 2) SetControlText(program, FieldSecond, arguments[1]);
  }
}

}  // namespace

void ShutDown(Program& program) {
  StoreClipboardOnExit();
  ReleaseImages(program.icons);
  RemoveWindowStyle(program.style);
  program.events.Clear();
}

bool OpenWindowWithControls(Program& program, const std::vector<Text>& field_texts) {
  LoadEmbeddedIcons(program.icons);
  if (!OpenMainWindow(program, ImagePixbuf(program.icons, IconWindow))) {
    ReleaseImages(program.icons);
    return false;
  }
  for (int number : ControlCreationOrder()) BuildControl(program, number, field_texts);
  EnableFileDrops(program);
  return true;
}

bool StartLocaleAndGtk(int* argc, char*** argv) {
  setlocale(LC_ALL, "");
  setlocale(LC_NUMERIC, "C");
  // GTK would take the whole locale from the environment once more, numbers included.
  gtk_disable_setlocale();
  // Docks and task bars tie a running window to its menu entry: on Wayland by the app id, which
  // GTK takes from the program name; on X11 by the class in WM_CLASS, which the entry names in
  // StartupWMClass. People still see the name "Listwise".
  g_set_prgname(LISTWISE_APP_ID);
  g_set_application_name("Listwise");
  // GTK removes the options it knows (its display option among them) before the fields see
  // the arguments.
  if (!gtk_init_check(argc, argv)) return false;
  // GTK has just made the class from the program name: "Org.listwise.Listwise".
  gdk_set_program_class(kWindowClass);
  return true;
}

int RunListwise(int argc, char** argv) {
  // Answered before GTK starts, so that they work without a display.
  switch (RequestedAtStart(argc, argv)) {
    case StartRequest::PrintVersion:
      std::fputs(VersionText(), stdout);
      return 0;
    case StartRequest::PrintHelp:
      std::fputs(UsageText(), stdout);
      return 0;
    case StartRequest::OpenWindow:
      break;
  }
  if (!StartLocaleAndGtk(&argc, &argv)) {
    // Said as GTK programs say it, so that a user started from a shell without a display (or
    // a script) learns why no window came.
    const char* display = gdk_get_display_arg_name();
    if (display == nullptr) display = std::getenv("DISPLAY");
    std::fprintf(stderr, "listwise: cannot open display: %s\n", display ? display : "");
    return 1;
  }

  Program program;
  if (!OpenWindowWithControls(program, FieldArguments(argc, argv))) return 0;
  CloseOnStopSignals(program);
  RunEventLoop(program);
  ShutDown(program);
  EndByTerminalSignal();
  return 0;
}
