// MainWindow: the program's only window, titled "Listwise", holding one fixed-position layout
// into which the controls are put.
#pragma once

#include <gtk/gtk.h>

#include "app/program_state.h"

// Opens the window at 520 × 265 in the middle of the screen and shows it. The window's own
// icon is set when icon is not nullptr. false when the window could not be made.
bool OpenMainWindow(Program& program, GdkPixbuf* icon);

// The window and its layout; nullptr before OpenMainWindow and once the window is destroyed.
GtkWidget* MainWindowWidget(const Program& program);
GtkLayout* MainLayout(const Program& program);

// The width from the last size change the window reported; 520 until the first one.
int MainWindowWidth(const Program& program);

// Where the window goes on a screen of the given size: halves with the fraction dropped.
struct WindowPosition {
  int x;
  int y;
};
WindowPosition CentredPosition(int screen_width, int screen_height, int width, int height);

// Destroys the window with all its controls and lets GTK process what that leaves pending.
void DestroyMainWindow(Program& program);
