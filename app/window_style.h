// The few style rules that let every control of MainWindow keep the size the layout gives it.
#pragma once

#include <gtk/gtk.h>

// Names the window and installs the rules, which apply to this window's controls only.
void ApplyWindowStyle(GtkWidget* window);

// Takes the rules off the screen again.
void RemoveWindowStyle();
