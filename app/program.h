// The whole life of the window program, from the locale to the exit status.
#pragma once

#include <vector>

#include "app/program_state.h"
#include "core/text.h"

// Starts up, builds MainWindow and its controls, runs the loop until the window is closed and
// shuts down. The result is the process's exit status: 1 when there is no display to show the
// window on, else 0.
int RunListwise(int argc, char** argv);

// The first two steps of start-up: the locale from the environment with numbers kept in the
// "C" form, then GTK with the real argument list, from which it removes its own options, under
// the names that tie the window to its desktop entry. false when GTK finds no display.
bool StartLocaleAndGtk(int* argc, char*** argv);

// The part of start-up between GTK and the loop: decodes the icons, opens MainWindow, builds
// the controls in their order with the field texts put in right after the two fields, and
// makes the fields accept dropped files. false when the window could not be made.
bool OpenWindowWithControls(Program& program, const std::vector<Text>& field_texts);

// Everything after the loop: the clipboard goes to the clipboard manager, then the icons, the
// style rules and the queue are released.
void ShutDown(Program& program);
