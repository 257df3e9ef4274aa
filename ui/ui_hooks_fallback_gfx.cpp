// Weak stand-ins for the hooks the windows, events and gadgets modules provide, so that the
// images, drawing and tray modules link and run on their own. The real definitions replace these
// at link time; once they are in the same library this file can go.

#include "ui/ui_internal.h"

namespace lunadio::ui {

__attribute__((weak)) void queueEvent(int, ObjectNumber, ObjectNumber, int, std::intptr_t) {}
__attribute__((weak)) QWidget* windowWidget(ObjectNumber) { return nullptr; }
__attribute__((weak)) ObjectNumber windowNumberOfHandle(std::intptr_t) { return -1; }
__attribute__((weak)) QImage* canvasBackingImage(ObjectNumber) { return nullptr; }
__attribute__((weak)) void canvasImageChanged(ObjectNumber) {}
__attribute__((weak)) QImage* windowOverlayImage(ObjectNumber) { return nullptr; }
__attribute__((weak)) void windowOverlayChanged(ObjectNumber) {}

}  // namespace lunadio::ui
