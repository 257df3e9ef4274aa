#pragma once
// What the window module needs from the gadget module (internal to ui/). Main thread only.

#include "core/object_table.h"

namespace lunadio::ui {

// openWindow makes each new window the current gadget list unless told otherwise.
void setCurrentGadgetListWindow(ObjectNumber window);
// Frees every gadget placed in the window (before the window itself goes), and forgets the
// window as the current gadget list.
void windowClosing(ObjectNumber window);
// Frees every gadget of every window (program end).
void freeAllGadgets();

}  // namespace lunadio::ui

#include <QImage>

#include <cstdint>
#include <functional>

namespace lunadio::ui {

// The pixels of an image handle as gadgets see them: imagePixelsForHandle(), unless a test has
// put its own lookup in place (an empty function restores the real one).
QImage gadgetImagePixels(std::intptr_t image);
void overrideGadgetImageLookup(std::function<QImage(std::intptr_t)> lookup);

}  // namespace lunadio::ui
