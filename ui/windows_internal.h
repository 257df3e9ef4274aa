#pragma once
// What the gadget module needs from the window module (internal to ui/). Main thread only.

#include <QWidget>

#include "ui/windows.h"

namespace lunadio::ui {

// A fresh opaque handle for a window or a gadget; never 0, never reused.
NativeHandle newNativeHandle();

// The window that owns a native handle, or -1.
ObjectNumber windowNumberOfHandle(NativeHandle handle);
// The window whose client area holds `widget` (walking up its parents), or -1.
ObjectNumber windowNumberOfWidget(const QWidget* widget);

// Keeps the window's drawing overlay above gadgets added since it was made.
void raiseWindowOverlay(ObjectNumber window);

}  // namespace lunadio::ui
