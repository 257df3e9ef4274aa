#pragma once
// The program's own event queue: a first-in first-out list of numbered events that the window
// and gadget code fills and waitWindowEvent() empties. Plain C++ with no Qt, so its rules can be
// tested alone. Not locked: only the main thread touches it (other threads go through postEvent).

#include <cstdint>
#include <deque>

#include "core/object_table.h"

namespace lunadio::ui {

// The pointer and keyboard state a canvas event carries; read through the canvas's attributes
// while that event is the current one.
struct CanvasSnapshot {
  int mouseX = 0;
  int mouseY = 0;
  int buttons = 0;       // left 1, right 2, middle 4
  int wheelNotches = 0;  // signed, one per 120 units
  int modifiers = 0;     // Shift 1, Alt 2, Ctrl 4
  int key = 0;           // virtual key code of key events
  int character = 0;     // UTF-16 unit of character events
};

struct QueuedEvent {
  int code = 0;
  ObjectNumber object = 0;
  ObjectNumber window = 0;
  int type = 0;
  std::intptr_t data = 0;
  bool hasSnapshot = false;
  CanvasSnapshot snapshot;
  // Key and character events never collapse: two identical ones are two key strokes.
  bool collapsible = true;
};

// -1 in any field matches every value.
struct EventPattern {
  int code = -1;
  ObjectNumber object = -1;
  ObjectNumber window = -1;
  int type = -1;
};

// Codes above this never collapse: two identical custom events are two events.
inline constexpr int kLastCollapsibleCode = 65535;

class EventQueue {
 public:
  // Appends the event, except that a collapsible event identical (code, object, window, type) to
  // the last queued one collapses into it. A collapsed event refreshes the queued one's data and
  // snapshot, so a burst of pointer moves leaves one move that still carries the latest position.
  void push(const QueuedEvent& event);
  // Like push(), after dropping every queued event that matches `replaced` (a new size event
  // replaces the window's older ones).
  void replaceAndPush(const EventPattern& replaced, const QueuedEvent& event);
  // Drops every queued event that matches.
  void remove(const EventPattern& pattern);
  // Takes the oldest event; false when the queue is empty.
  bool pop(QueuedEvent& out);

  bool empty() const { return events_.empty(); }
  std::size_t size() const { return events_.size(); }
  void clear() { events_.clear(); }

 private:
  static bool matches(const EventPattern& pattern, const QueuedEvent& event);

  std::deque<QueuedEvent> events_;
};

}  // namespace lunadio::ui
