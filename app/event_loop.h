// The program's one loop: it waits for the next event and runs what belongs to it, one event
// at a time, until the window is closed.
#pragma once

#include "app/event_queue.h"

// The kind of the next event, blocking in GTK's main loop while the queue is empty; NoEvent
// (−1) when one iteration brought nothing. The data of the event taken before is released
// here, so a drop's names must be read while its action runs.
int WaitEvent();

// Acts on events until a close request; returns once the window has been destroyed and GTK
// has processed what that left pending.
void RunEventLoop();
