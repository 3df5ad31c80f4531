// How far a run has come, told to whoever started it, and the one way to stop it midway.
#pragma once

#include <cstdint>

// The stretches of a run in the order they come. Reading counts bytes of the source; working
// counts the run's own steps (groups of slots, lines of merge); writing counts items.
enum class RunPhase : int {
  ReadingFirst,
  ReadingSecond,
  Working,
  Writing,
};

// Told between steps of a run, always on the thread that started it (workers never call it).
// Once Progress has asked for a stop, the run stops at its next step and is told nothing more:
// it writes no result, and its temporary files go with it. One object serves one run.
class RunProgress {
 public:
  virtual ~RunProgress() = default;
  // done of total units of the phase; total is 0 when unknown (a source still being written,
  // standard input), and done may pass it when a file grows while it is read.
  bool Report(RunPhase phase, uint64_t done, uint64_t total) {
    if (!stopped_ && !Progress(phase, done, total)) stopped_ = true;
    return !stopped_;
  }
  bool stopped() const { return stopped_; }

 protected:
  // false asks the run to stop.
  virtual bool Progress(RunPhase phase, uint64_t done, uint64_t total) = 0;

 private:
  bool stopped_ = false;
};

// Report through `progress` when there is one; a run nobody watches always goes on.
inline bool GoOn(RunProgress* progress, RunPhase phase, uint64_t done, uint64_t total) {
  return progress == nullptr || progress->Report(phase, done, total);
}
