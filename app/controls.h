// The controls of MainWindow as GTK widgets, and the access to them by control number that
// the actions, the layout and a comparison run use. Texts cross into GTK's UTF-8 here.
// Changes made through this access never come back as events.
#pragma once

#include <gtk/gtk.h>

#include "app/control_table.h"
#include "app/program_state.h"
#include "core/text.h"

// Builds the control of the row, puts it into the layout at its place and connects the
// signals that report what its kind reports. icon may be nullptr: the button then shows an
// empty image. Items and initial state are set by the caller (see AddControlItem).
void CreateControl(Program& program, GtkLayout* layout, const ControlRow& row, GdkPixbuf* icon);

// Appends an item to a choice box.
void AddControlItem(Program& program, int control, TextView text);

// The text of a control: the shown text of a label or a button, the entry's text of an input
// field or an editable choice box, the selected item's text of a choice box ("" when none).
Text ControlText(const Program& program, int control);
// Replaces the text. A choice box selects the first item whose text equals it; when none does,
// an editable choice box shows the text in its entry with no item selected, and a plain one
// selects nothing.
void SetControlText(Program& program, int control, TextView text);

// The selected item (−1 when none, and once an editable box's entry has been edited) of a
// choice box; 1 or 0 for a check box; kNoState for every other kind.
int ControlState(const Program& program, int control);
void SetControlState(Program& program, int control, int state);

// An insensitive control is greyed and reports nothing.
void SetControlEnabled(Program& program, int control, bool enabled);
bool ControlEnabled(const Program& program, int control);

// Brings the window to the front and puts the keyboard focus into the control (into the entry
// of an editable choice box).
void FocusControl(Program& program, int control);

// Moves and resizes the control; any of the four values may be kUnchanged. An unchanged
// coordinate keeps its current value; an unchanged dimension keeps the size last requested,
// and the size changes only when both dimensions come out above 0.
void PlaceControl(Program& program, int control, int x, int y, int width, int height);

// Places every control for the window's width as it last reported it.
void LayOutControls(Program& program);

// The widget that carries the control's place and size (a label's or choice box's outer box),
// and the widget that does the work (the entry of an input field, the combo box, the button).
GtkWidget* ControlOuterWidget(const Program& program, int control);
GtkWidget* ControlWidget(const Program& program, int control);

// The button a choice box is drawn as, where it takes the keyboard focus (beside the entry of
// an editable one, the button of its list); nullptr for every other kind.
GtkWidget* ChoiceBoxButton(const Program& program, int control);

// Drops every reference to the widgets; called when the window is being destroyed.
void ForgetControls(Program& program);
