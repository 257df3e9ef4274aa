#pragma once
// Start and end of the user interface.

namespace lunadio {

// Makes the QApplication when none exists yet, and the event delivery of this library. On a
// Wayland session that also offers X11 (both WAYLAND_DISPLAY and DISPLAY set) and where the
// user chose no Qt platform, it runs on X11 (XWayland): Wayland lets no program place its
// windows or see the pointer outside them, which dragging the panel and its pointer check need.
// Main thread only; false when no display can be opened.
bool startUserInterface();

// Closes every window (with its gadgets and timers) and stops event delivery; the QApplication
// made by startUserInterface() goes at the very end of the program.
void endUserInterface();

// Adds the start and end routines of windows, events and gadgets to the program's sequences.
void registerUiWindowsLifecycle();

}  // namespace lunadio
