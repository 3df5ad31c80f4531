// What the window reports to the program, and the queue the signal handlers fill.
// Signal handlers never act themselves: they post here, and the loop takes one event at a
// time. The queue knows nothing of GTK, so its rules are tested without a display.
#pragma once

#include <deque>
#include <memory>
#include <optional>

enum EventKind : int {
  NoEvent = -1,  // what WaitEvent gives when nothing came in
  CloseRequested = 2,
  ControlActivity = 3,
  WindowResized = 6,
  FilesDropped = 11,
  // Escape pressed in the window: it stops a run that is going on, and outside a run nothing
  // acts on it.
  EscapePressed = 12,
};

enum ActivityType : int {
  Clicked = 0,
  FocusGained = 256,
  FocusLost = 512,
  ValueChanged = 768,
};

// The program has one window; its events carry this number.
inline constexpr int kMainWindowNumber = 1;

struct Event {
  int kind = NoEvent;
  int control = 0;
  int window = kMainWindowNumber;
  int type = 0;
  // What a drop delivered; released when the loop asks for the next event.
  std::shared_ptr<void> data;
};

// Two events are the same report when kind, control, window and type agree and they carry the
// same data: two drops onto one field are two reports, each with its own names.
bool SameReport(const Event& a, const Event& b);

class EventQueue {
 public:
  // Appends the event unless one of the rules keeps it out; true when it was added.
  //  - a burst of identical reports that the loop has not yet taken counts once;
  //  - while the program itself changes a control, nothing comes back as an event;
  //  - once a close request waits at the head, clicks are lost.
  bool Post(Event event);
  std::optional<Event> Take();
  bool empty() const { return events_.empty(); }
  // Whether an event of that kind waits in the queue.
  bool Holds(int kind) const;
  size_t size() const { return events_.size(); }
  void Clear() { events_.clear(); }

  // Changes made by the program (texts, states, items) are bracketed by these.
  void BeginProgramChange() { ++program_change_depth_; }
  void EndProgramChange() { --program_change_depth_; }
  bool InProgramChange() const { return program_change_depth_ > 0; }

 private:
  std::deque<Event> events_;
  int program_change_depth_ = 0;
};

// Brackets one change made by the program; nests.
class ProgramChange {
 public:
  explicit ProgramChange(EventQueue& queue) : queue_(queue) { queue_.BeginProgramChange(); }
  ~ProgramChange() { queue_.EndProgramChange(); }
  ProgramChange(const ProgramChange&) = delete;
  ProgramChange& operator=(const ProgramChange&) = delete;

 private:
  EventQueue& queue_;
};

// Appends an event of MainWindow under the queue's rules. The signal handlers of the window and
// its controls use it, and so does the drop handling.
void PostEvent(EventQueue& queue, int kind, int control, int type,
               std::shared_ptr<void> data = nullptr);
