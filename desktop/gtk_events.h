// Letting GTK catch up inside an action that does not return to the event loop.
#pragma once

// Handles every GTK event already waiting, without blocking: what was just shown, destroyed or
// received has then reached the screen and the program before the caller goes on.
void ProcessPendingEvents();
