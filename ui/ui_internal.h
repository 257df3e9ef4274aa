#pragma once
// Hooks between the ui/ modules (windows and events, gadgets, images and fonts, drawing, tray,
// requesters). Qt types appear here because this header is internal to ui/: nothing outside ui/
// includes it. Main thread only unless a declaration says otherwise.

#include <QFont>
#include <QImage>
#include <QPixmap>

#include <cstdint>

#include "core/object_table.h"

class QWidget;

namespace lunadio::ui {

// -- event queue (windows and events module)
// Appends an event to the program's queue, with the collapse and replacement rules of the queue.
// Main thread only; other threads use postEvent().
void queueEvent(int code, ObjectNumber object, ObjectNumber window, int type, std::intptr_t data);
// The widget of a live window, or null.
QWidget* windowWidget(ObjectNumber window);
// The number of the live window whose windowHandle() is `nativeHandle`, or -1.
ObjectNumber windowNumberOfHandle(std::intptr_t nativeHandle);

// -- drawing targets (gadgets and windows modules implement; the drawing module calls)
// The drawing module writes opaque pixels into 32-bit images (Format_RGB32, ARGB32 or
// ARGB32_Premultiplied) and looks the image up again at every call.
// The backing image of a live canvas gadget, or null; canvasImageChanged() repaints it.
QImage* canvasBackingImage(ObjectNumber gadget);
void canvasImageChanged(ObjectNumber gadget);
// The overlay image of a window's client area (made on first use, client size), or null.
QImage* windowOverlayImage(ObjectNumber window);
void windowOverlayChanged(ObjectNumber window);

// -- images and fonts (images/fonts module implements; gadgets and tray call)
// The pixels of a live image (by number or by the handle imageHandle() returned), or a null image.
QImage imagePixelsForHandle(std::intptr_t imageHandle);
// The image with that handle for a screen of `devicePixelRatio` device pixels per pixel: its
// detail picture (setImageDetail) with that ratio when the screen is at least that fine, else its
// pixels. Null for no such image.
QPixmap imagePixmapForHandle(std::intptr_t imageHandle, qreal devicePixelRatio);
// setImageName()'s name of the image with that handle, "" when none or no such image.
QString imageNameForHandle(std::intptr_t imageHandle);
// The font behind a handle fontHandle() returned, or null for an unknown handle.
const QFont* fontForHandle(std::intptr_t fontHandle);

}  // namespace lunadio::ui
