// The progress bar listwise-cli draws on a terminal during a long run, and the Ctrl-C that
// stops the run as cleanly as its end would.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/run_progress.h"

// What one line of the bar shows.
struct BarState {
  RunPhase phase = RunPhase::ReadingFirst;
  uint64_t done = 0;
  uint64_t total = 0;      // 0: unknown
  double seconds = 0;      // since the phase began
  const char* first = "";  // the lists' names, as given
  const char* second = "";
};

// The bar's line, at most `width` columns: the phase, a bar and the share when the total is
// known, the bytes read and the rate while reading, and the time left when it can be told.
std::string ProgressBarLine(const BarState& state, int width);

// From a SIGINT, SIGTERM, SIGHUP or SIGQUIT on, reports ask the run to stop, and so do any
// more of them: the run always ends as cleanly as its stop allows, with nothing left behind.
// They break into a blocking call rather than letting it go on, and so does a timer from then
// on, so that a wait on a pipe ends too. Call it on the thread that runs the run. A signal the
// program was started with ignored (nohup, a background job) stays ignored.
void StopRunsOnInterrupt();
// The first signal that stopped the run, 0 when none came.
int InterruptSignal();
// Ends the program by the signal that stopped the run, as if it had not been caught, so that
// the shell sees it. SIGQUIT writes no core: everything was cleaned up, and the core would
// only hold the lists.
[[noreturn]] void EndByInterruptSignal();

// The run's watcher for listwise-cli: stops it on an interrupt, and with `draw` draws the bar
// on `terminal` once the run has lasted a second, at most ten times a second.
class CliProgress : public RunProgress {
 public:
  CliProgress(bool draw, std::FILE* terminal, const char* first, const char* second);
  // Takes the bar away, so that what follows starts on a clean line.
  void Clear();

 protected:
  bool Progress(RunPhase phase, uint64_t done, uint64_t total) override;

 private:
  bool draw_;
  std::FILE* terminal_;
  BarState state_;
  double started_;
  double phase_started_;
  double drawn_ = -1;  // when the bar was last drawn
  bool shown_ = false;
};
