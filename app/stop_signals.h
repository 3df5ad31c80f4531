// The signals that close the window program as its close button would.
#pragma once

#include "app/program_state.h"

// From now on SIGTERM, SIGHUP, SIGINT and SIGQUIT post a close request: a run going on stops at
// its next step and its fresh result file goes with it, an open message box or file chooser is
// answered as if closed (nobody may be there to answer it), and the program shuts down as
// usual. A signal the program was started with ignored (nohup) stays ignored.
void CloseOnStopSignals(Program& program);

// Whether one of those signals has come. A run asks it at every step, also in its first
// moments, before it lets GTK handle events and so before the close request is posted.
bool StopSignalCame();

// After the shutdown. SIGTERM and SIGHUP (a logout, a service manager) asked for an ordinary
// close, which exits 0; SIGINT and SIGQUIT come from a terminal, and the program ends by the
// signal, as the shell expects. Returns when neither came.
void EndByTerminalSignal();
