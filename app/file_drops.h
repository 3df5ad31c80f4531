// The two input fields as drop destinations, and the drop a FilesDropped event carries.
#pragma once

#include "app/event_queue.h"
#include "app/program_state.h"

struct DropEvent;

// Makes FieldFirst and then FieldSecond accept dropped files, as a copy only. Each drop
// becomes a FilesDropped event for its field.
void EnableFileDrops(Program& program);

// The drop carried by a FilesDropped event; nullptr for any other event. It lives as long as
// the event does.
const DropEvent* DropOf(const Event& event);
