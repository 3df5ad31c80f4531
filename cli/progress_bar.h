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

// From a SIGINT or SIGTERM on, reports ask the run to stop; a second one ends the program at
// once, as it would have without this.
void StopRunsOnInterrupt();
// The signal that stopped the run, 0 when none came.
int InterruptSignal();

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
