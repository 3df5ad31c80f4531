// What each control does when the loop hands it an event. Every action runs to its end on the
// main thread before the loop takes the next event.
#pragma once

#include "app/program_state.h"

struct DropEvent;

// A ControlActivity event: the control's number and what happened (Clicked, FocusGained,
// FocusLost, ValueChanged).
void RunControlAction(Program& program, int control, int type);

// A FilesDropped event on the control that received the drop; drop is what it delivered
// (nullptr when nothing came).
void RunDropAction(Program& program, int control, const DropEvent* drop);
