// The whole life of the window program, from the locale to the exit status.
#pragma once

// Starts up, builds MainWindow and its controls, runs the loop until the window is closed and
// shuts down. The result is the process's exit status, which is always 0.
int RunListwise(int argc, char** argv);
