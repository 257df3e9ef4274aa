#pragma once
// The seam through which tests of the layers above see and drive the user interface as a person
// would: what a window or a canvas shows, the tooltip under the pointer or on the tray icon, a
// canvas event with the pointer at a given place, and the main thread's loop (whether events wait
// in the queue, running a function inside it). The program itself never calls these; they exist
// so those tests need none of ui/'s internal headers. Everything returns values, never the Qt
// objects behind the numbers. Main thread only unless a declaration says otherwise.

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

#include "core/object_table.h"

namespace lunadio::ui {

// -- what a person sees
// The window as it shows on screen (client area, gadgets and drawing overlay); null for no window.
QImage windowPixels(ObjectNumber window);
// A copy of a canvas gadget's pixels; null when the number is not a live canvas.
QImage canvasPixels(ObjectNumber gadget);
// Whether the window is on screen; false for no window.
bool windowShown(ObjectNumber window);
// The window's opacity, 0 (invisible) to 1 (opaque); 0 for no window.
double windowOpacity(ObjectNumber window);
// The tooltip the pointer would raise at (x, y) of the window's client area: that of the gadget
// under it, or of the nearest enclosing one that has a tooltip. Empty when there is none.
QString toolTipAt(ObjectNumber window, int x, int y);
// The tooltip of a tray icon; nothing when the number names no icon.
std::optional<QString> trayToolTip(ObjectNumber icon);

// -- what a person does
// Queues the event `type` of a canvas gadget as if the pointer were at (x, y) of the canvas with
// no button or key held; the canvas's pointer attributes read those while it is the current event.
void queueCanvasPointerEvent(ObjectNumber gadget, ObjectNumber window, int type, int x, int y);

// -- the main thread's loop
// True while events wait in the queue for waitWindowEvent().
bool eventsWaiting();
// Runs `work` from whatever loop the main thread is in, after the work and events posted before
// it. Callable from any thread, never blocks; false when the user interface has not started.
bool runOnMainLoop(std::function<void()> work);

}  // namespace lunadio::ui
