#pragma once
// Event plumbing shared by the window and gadget modules (internal to ui/).

#include <Qt>

#include <functional>

#include "ui/event_queue.h"

namespace lunadio::ui {

// True on the thread that owns the QApplication (false before one exists).
bool onMainThread();

// The queue itself. Main thread only.
EventQueue& eventQueue();
// The event last returned by waitWindowEvent() (all zero before the first one).
const QueuedEvent& currentEvent();

// Queues an EventGadget of a canvas with its pointer and keyboard snapshot. Main thread only.
void queueCanvasEvent(ObjectNumber gadget, ObjectNumber window, int type,
                      const CanvasSnapshot& snapshot);
// The desktop's virtual key code of a Qt key (Key... of ui/events.h), 0 for keys it has none for.
int virtualKey(int qtKey);
// Bits of Shift (1), Alt (2) and Ctrl (4).
int modifierBits(Qt::KeyboardModifiers modifiers);

// Queues a size event that replaces the window's queued size events. Main thread only.
void queueSizeEvent(ObjectNumber window);
// Drops every queued event that matches. Main thread only.
void dropEvents(const EventPattern& pattern);

// Runs `work` on the main thread, after the work posted before it; callable from any thread,
// never blocks. Returns false when the user interface has not started (the work is dropped).
bool postToMainThread(std::function<void()> work);

// Makes the receiver of posted events (main thread; idempotent) and tears it down at the end.
void startEventDelivery();
void stopEventDelivery();

}  // namespace lunadio::ui
