// The program's one loop: it waits for the next event and runs what belongs to it, one event
// at a time, until the window is closed.
#pragma once

#include "app/event_queue.h"
#include "app/program_state.h"

// The next event, blocking in GTK's main loop while the queue is empty; one of kind NoEvent
// (−1) when one iteration brought nothing. A drop's data lives as long as the returned event.
Event WaitEvent(EventQueue& queue);

// Acts on events until a close request; returns once the window has been destroyed and GTK
// has processed what that left pending.
void RunEventLoop(Program& program);
