#include "ui/event_queue.h"

#include <algorithm>

namespace lunadio::ui {

bool EventQueue::matches(const EventPattern& pattern, const QueuedEvent& event) {
  return (pattern.code == -1 || pattern.code == event.code) &&
         (pattern.object == -1 || pattern.object == event.object) &&
         (pattern.window == -1 || pattern.window == event.window) &&
         (pattern.type == -1 || pattern.type == event.type);
}

void EventQueue::push(const QueuedEvent& event) {
  if (!events_.empty() && event.collapsible && event.code <= kLastCollapsibleCode) {
    QueuedEvent& last = events_.back();
    if (last.collapsible && last.code == event.code && last.object == event.object &&
        last.window == event.window && last.type == event.type) {
      last.data = event.data;
      if (event.hasSnapshot) {
        // Wheel notches of the collapsed turns add up instead of being lost.
        const int notches = last.hasSnapshot ? last.snapshot.wheelNotches : 0;
        last.snapshot = event.snapshot;
        last.snapshot.wheelNotches += notches;
        last.hasSnapshot = true;
      }
      return;
    }
  }
  events_.push_back(event);
}

void EventQueue::replaceAndPush(const EventPattern& replaced, const QueuedEvent& event) {
  remove(replaced);
  push(event);
}

void EventQueue::remove(const EventPattern& pattern) {
  std::erase_if(events_, [&](const QueuedEvent& event) { return matches(pattern, event); });
}

bool EventQueue::pop(QueuedEvent& out) {
  if (events_.empty()) return false;
  out = events_.front();
  events_.pop_front();
  return true;
}

}  // namespace lunadio::ui
