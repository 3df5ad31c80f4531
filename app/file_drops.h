// The two input fields as drop destinations, and the drop the loop is handling.
#pragma once

struct DropEvent;

// Makes FieldFirst and then FieldSecond accept dropped files, as a copy only. Each drop
// becomes a FilesDropped event for its field.
void EnableFileDrops();

// The drop carried by the event the loop took last; nullptr for any other event. It is
// released when the loop asks for the next event.
const DropEvent* CurrentDropEvent();
