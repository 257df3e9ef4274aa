#pragma once
// Top-level windows: numbered objects in the window table. Main thread only; a call from another
// thread, or on a number that names no window, does nothing and returns 0.
// Native handles are opaque non-zero integers, never reused while the program runs.

#include <cstdint>
#include <string_view>

#include "core/object_table.h"

namespace lunadio {

using NativeHandle = std::intptr_t;

// openWindow flags.
enum : std::uint32_t {
  WindowScreenCentered = 0x1,
  WindowWindowCentered = 0x2,
  WindowTool = 0x4,
  WindowNoGadgets = 0x8,
  WindowMaximizeGadget = 0x10000,
  WindowMinimizeGadget = 0x20000,
  WindowSizeGadget = 0x40000,
  WindowSystemMenu = 0x80000,
  WindowTitleBar = 0xC00000,
  WindowMaximize = 0x1000000,
  WindowNoActivate = 0x2000000,
  WindowInvisible = 0x10000000,
  WindowMinimize = 0x20000000,
  WindowBorderless = 0x80000000,
};

enum class WindowMeasure { Inner, Outer };

// Where a window's key presses go. ToGadgets: to the focused gadget, as the desktop does.
// ToWindow: while the window or one of its gadgets has the keyboard focus, every key press but
// Tab and Shift+Tab (which still move the focus) and Shift, Ctrl or Alt alone is queued as
// EventKeyDown for the window (ui/events.h) and no gadget sees it; a focused text field keeps its
// keys. Pointer use is unchanged.
enum class WindowKeys { ToGadgets, ToWindow };

// Opens a window of the given inner size. Returns the native handle for a static number, the
// dynamic identifier for ObjectAny, 0 on failure. Opening under a number in use closes the old
// window first. x == IgnoreValue (or y == IgnoreValue without a centring flag) lets the desktop
// place it.
std::intptr_t openWindow(ObjectNumber window, int x, int y, int innerWidth, int innerHeight,
                         std::u16string_view title, std::uint32_t flags, NativeHandle parent = 0);
// Closes one window (or every window with ObjectAll), its gadgets, timers and queued events.
void closeWindow(ObjectNumber window);
// ToGadgets until set.
void setWindowKeys(ObjectNumber window, WindowKeys keys);
bool isWindow(ObjectNumber window);
NativeHandle windowHandle(ObjectNumber window);
void setWindowTitle(ObjectNumber window, std::u16string_view title);
// -1 returns to the desktop's default colour.
void setWindowColor(ObjectNumber window, std::int32_t colour);
int windowX(ObjectNumber window);
int windowY(ObjectNumber window);
int windowWidth(ObjectNumber window, WindowMeasure measure = WindowMeasure::Inner);
int windowHeight(ObjectNumber window, WindowMeasure measure = WindowMeasure::Inner);
// hide != 0 hides (and activates the owner); hide == 0 shows it in its current state, centred
// first when `flags` holds a centring flag, without activation with WindowNoActivate.
void hideWindow(ObjectNumber window, int hide, std::uint32_t flags = 0);
// Outer position, inner size; IgnoreValue keeps a value. A maximised window is restored first.
void resizeWindow(ObjectNumber window, int x, int y, int innerWidth, int innerHeight);
// The pointer relative to the client area, or -1 when it lies outside (the right and bottom
// edges count as outside).
int windowMouseX(ObjectNumber window);
int windowMouseY(ObjectNumber window);
// 255 opaque .. 0 transparent; where the desktop cannot show it nothing fails.
void setWindowAlpha(NativeHandle handle, int alpha);
// Queues EventTimer with `timerId` as object every intervalMs; reusing an id restarts it.
void addWindowTimer(ObjectNumber window, int timerId, int intervalMs);
void removeWindowTimer(ObjectNumber window, int timerId);

}  // namespace lunadio
