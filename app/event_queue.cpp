#include "app/event_queue.h"

#include <utility>

bool SameReport(const Event& a, const Event& b) {
  return a.kind == b.kind && a.control == b.control && a.window == b.window && a.type == b.type &&
         a.data == b.data;
}

bool EventQueue::Post(Event event) {
  if (InProgramChange()) return false;
  if (!events_.empty() && SameReport(events_.back(), event)) return false;
  if (event.kind == ControlActivity && event.type == Clicked && !events_.empty() &&
      events_.front().kind == CloseRequested) {
    return false;
  }
  events_.push_back(std::move(event));
  return true;
}

bool EventQueue::Holds(int kind) const {
  for (const Event& event : events_)
    if (event.kind == kind) return true;
  return false;
}

std::optional<Event> EventQueue::Take() {
  if (events_.empty()) return std::nullopt;
  Event event = std::move(events_.front());
  events_.pop_front();
  return event;
}

void PostEvent(EventQueue& queue, int kind, int control, int type, std::shared_ptr<void> data) {
  queue.Post(Event{kind, control, kMainWindowNumber, type, std::move(data)});
}
