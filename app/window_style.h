// The few style rules that let every control of MainWindow keep the size the layout gives it.
#pragma once

#include <gtk/gtk.h>

#include <memory>

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

// The rules once made; they stay installed on the screen until RemoveWindowStyle.
struct WindowStyle {
  std::unique_ptr<GtkCssProvider, ObjectUnref> rules;
};

// Names the window and installs the rules, which apply to this window's controls only.
void ApplyWindowStyle(WindowStyle& style, GtkWidget* window);

// Takes the rules off the screen again.
void RemoveWindowStyle(WindowStyle& style);
