#include "cli/progress_bar.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "cli/messages.h"

namespace {

constexpr double kQuietSeconds = 1.0;  // a shorter run draws nothing
constexpr double kDrawEvery = 0.1;     // seconds between two drawings
constexpr int kNarrowestBar = 10;      // columns of the bar itself, or no bar at all

volatile sig_atomic_t interrupt_signal = 0;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Once a stop is asked for, the main thread is interrupted this often, so that no blocking call
// holds the stop up: a write to a pipe nobody reads, which stdio takes up again after the part
// the signal broke off, or a call the signal came just before.
constexpr long kNudgeEveryNs = 50'000'000;

timer_t nudge_timer;
bool nudge_ready = false;

void OnNudge(int) {
  // Only there to break into the call the main thread is in.
}

void OnInterrupt(int signal) {
  if (interrupt_signal == 0) interrupt_signal = signal;
  if (nudge_ready) {
    const itimerspec every{{0, kNudgeEveryNs}, {0, kNudgeEveryNs}};
    timer_settime(nudge_timer, 0, &every, nullptr);  // safe in a signal handler
  }
}

// A timer that sends SIGALRM to the calling thread, disarmed until a stop comes.
void PrepareNudges() {
  struct sigaction action {};
  action.sa_handler = OnNudge;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the interrupted call returns
  if (sigaction(SIGALRM, &action, nullptr) != 0) return;
  sigevent to_this_thread{};
  to_this_thread.sigev_notify = SIGEV_THREAD_ID;
  to_this_thread.sigev_signo = SIGALRM;
  to_this_thread._sigev_un._tid = gettid();
  nudge_ready = timer_create(CLOCK_MONOTONIC, &to_this_thread, &nudge_timer) == 0;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Megabytes(uint64_t bytes) {
  return Format(bytes < (uint64_t{10} << 20) ? "%.1f" : "%.0f",
                static_cast<double>(bytes) / (1 << 20));
}

std::string Duration(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

// Columns a UTF-8 text takes, one a character.
int Columns(const std::string& text) {
  return static_cast<int>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The text cut to `columns` characters.
std::string Cut(const std::string& text, int columns) {
  size_t at = 0;
  for (int n = 0; at < text.size(); ++at)
    if ((text[at] & 0xC0) != 0x80 && n++ == columns) break;
  return text.substr(0, at);
}

int TerminalWidth(std::FILE* terminal) {
  winsize size{};
  if (ioctl(fileno(terminal), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

std::string ProgressBarLine(const BarState& state, int width) {
  const bool reading =
      state.phase == RunPhase::ReadingFirst || state.phase == RunPhase::ReadingSecond;
  std::string head;
  switch (state.phase) {
    case RunPhase::ReadingFirst:
      head = Formatted(Translated("reading %s"), state.first);
      break;
    case RunPhase::ReadingSecond:
      head = Formatted(Translated("reading %s"), state.second);
      break;
    case RunPhase::Working:
      head = Translated("working");
      break;
    case RunPhase::Writing:
      head = Translated("writing");
      break;
  }
  const bool known = state.total > 0;
  const double share = known ? static_cast<double>(std::min(state.done, state.total)) /
                                   static_cast<double>(state.total)
                             : 0;
  std::string tail;
  if (known) tail += Format(" %3.0f%%", std::floor(share * 100));
  if (reading) {
    std::string amount = Megabytes(state.done);
    if (known) amount += "/" + Megabytes(state.total);
    tail += "  " + Formatted(Translated("%s MB"), amount.c_str());
    if (state.seconds > 0) {
      const std::string rate =
          Megabytes(static_cast<uint64_t>(static_cast<double>(state.done) / state.seconds));
      tail += "  " + Formatted(Translated("%s MB/s"), rate.c_str());
    }
  }
  if (known && share > 0 && state.seconds > 0 && state.done < state.total) {
    const std::string left = Duration(state.seconds / share * (1 - share));
    tail += "  " + Formatted(Translated("%s left"), left.c_str());
  }

  const int room = width - Columns(tail) - 1;  // the last column stays free: no wrap
  if (!known) return Cut(head + tail, width - 1);
  // The name gives way first, then the bar.
  const int bar = std::max(room - Columns(head) - 3, kNarrowestBar);
  if (room - bar - 3 < 1) return Cut(head + tail, width - 1);
  const std::string name = Cut(head, room - bar - 3);
  const int filled = static_cast<int>(share * bar);
  return name + std::string(static_cast<size_t>(room - bar - 3 - Columns(name)), ' ') + " [" +
         std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(bar - filled), '-') + "]" + tail;
}

void StopRunsOnInterrupt() {
  PrepareNudges();
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  // No SA_RESTART: a read or write blocked on a pipe comes back with EINTR and the stop is seen.
  // No SA_RESETHAND either: a second signal killing the program mid-write would leave the
  // fresh --output file and the run's temporary directory behind.
  action.sa_flags = 0;
  for (int signal : kStopSignals) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int InterruptSignal() {
  return interrupt_signal;
}

void EndByInterruptSignal() {
  const int stopped_by = interrupt_signal;
  if (stopped_by == SIGQUIT) {
    rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
  }
  ::signal(stopped_by, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, stopped_by);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(stopped_by);
  _exit(128 + stopped_by);
}

CliProgress::CliProgress(bool draw, std::FILE* terminal, const char* first, const char* second)
    : draw_(draw), terminal_(terminal), started_(Now()), phase_started_(started_) {
  state_.first = first;
  state_.second = second;
}

bool CliProgress::Progress(RunPhase phase, uint64_t done, uint64_t total) {
  if (interrupt_signal != 0) return false;
  if (!draw_) return true;
  const double now = Now();
  if (phase != state_.phase) phase_started_ = now;
  state_.phase = phase;
  state_.done = done;
  state_.total = total;
  state_.seconds = now - phase_started_;
  if (now - started_ < kQuietSeconds || (drawn_ >= 0 && now - drawn_ < kDrawEvery)) return true;
  drawn_ = now;
  std::fprintf(terminal_, "\r%s\033[K", ProgressBarLine(state_, TerminalWidth(terminal_)).c_str());
  std::fflush(terminal_);
  shown_ = true;
  return true;
}

void CliProgress::Clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", terminal_);
  std::fflush(terminal_);
  shown_ = false;
}
