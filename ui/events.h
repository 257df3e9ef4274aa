#pragma once
// The program's events: numbered codes queued by windows, gadgets, timers and the tray, handed to
// the application one at a time by waitWindowEvent(). Main thread only, except postEvent().

#include <cstdint>

#include "core/object_table.h"

namespace lunadio {

enum : int {
  EventGadget = 13100,
  EventMenu = 13101,
  EventSysTray = 13102,
  EventActivateWindow = 13104,
  EventMinimizeWindow = 13107,
  EventMaximizeWindow = 13108,
  EventRestoreWindow = 13109,
  EventTimer = 13110,
  EventRightClick = 13111,
  EventLeftClick = 13112,
  EventLeftDoubleClick = 13113,
  EventDeactivateWindow = 13114,
  EventRepaint = 13115,
  EventCloseWindow = 13116,
  EventMoveWindow = 13117,
  EventSizeWindow = 13118,
  // A key press in a window that takes its keys (setWindowKeys, ui/windows.h): eventWindow() is
  // the window, eventType() the key's code (Key... below), eventData() the modifiers (Shift 1,
  // Alt 2, Ctrl 4) plus KeyAutoRepeat when the key is held down and the desktop repeats it.
  EventKeyDown = 13119,
  // Codes from here up belong to the application (postEvent).
  EventFirstCustom = 65536,
};

// Event types carried by EventGadget.
enum : int {
  EventTypeLeftClick = 0,
  EventTypeRightClick = 1,
  EventTypeLeftDoubleClick = 2,
  EventTypeRightDoubleClick = 3,
  EventTypeFocus = 256,
  EventTypeLostFocus = 512,
  EventTypeChange = 768,
  EventTypeFocusGained = 14000,  // canvas
  EventTypeFocusLost = 14001,    // canvas
  EventTypeDragStart = 14002,
  EventTypeMouseEnter = 65537,
  EventTypeMouseLeave = 65538,
  EventTypeMouseMove = 65539,
  EventTypeLeftButtonDown = 65540,
  EventTypeLeftButtonUp = 65541,
  EventTypeRightButtonDown = 65542,
  EventTypeRightButtonUp = 65543,
  EventTypeMiddleButtonDown = 65544,
  EventTypeMiddleButtonUp = 65545,
  EventTypeMouseWheel = 65546,
  EventTypeKeyDown = 65547,
  EventTypeKeyUp = 65548,
  EventTypeInput = 65549,
};

// Key codes of EventKeyDown and of a canvas's key attribute: the desktop's virtual key codes.
// Letters and digits are their upper-case ASCII codes, F1..F24 are 112..135.
enum : int {
  KeyBackspace = 8,
  KeyTab = 9,
  KeyReturn = 13,
  KeyEscape = 27,
  KeySpace = 32,
  KeyPageUp = 33,
  KeyPageDown = 34,
  KeyEnd = 35,
  KeyHome = 36,
  KeyLeft = 37,
  KeyUp = 38,
  KeyRight = 39,
  KeyDown = 40,
  KeyInsert = 45,
  KeyDelete = 46,
};
inline constexpr std::intptr_t KeyAutoRepeat = 0x100;  // in EventKeyDown's data

// Returns the next queued event's code. When the queue is empty it waits in the platform's
// dispatcher (sleeping, never polling) for at most timeoutMs (-1 = without limit, 0 = just look)
// and returns the first event that arrived, or 0 when none did.
int waitWindowEvent(int timeoutMs);
inline int windowEvent() { return waitWindowEvent(0); }
inline int waitWindowEvent() { return waitWindowEvent(-1); }

// Fields of the event last returned by waitWindowEvent().
ObjectNumber eventObject();
int eventType();
ObjectNumber eventWindow();
std::intptr_t eventData();

// Queues an event from any thread. It reaches the queue on the main thread, in the order of the
// calls, and wakes a waiting waitWindowEvent(). Returns false when the user interface has not
// started.
bool postEvent(int code, ObjectNumber window, ObjectNumber object, int type, std::intptr_t data);

}  // namespace lunadio
