#pragma once
// Icons in the desktop's notification area. A press or double click on an icon queues
// EventSysTray for the owning window, with the icon's number as object and the type:
// 0 left press, 1 right press, 2 left double click (after the 0 of its first press),
// 3 right double click where the desktop reports one. Main thread only.
//
// On a desktop without a notification area every operation still succeeds and nothing shows;
// isSysTrayAvailable() tells the application so.

#include <cstdint>
#include <string_view>

#include "core/object_table.h"
#include "ui/events.h"  // EventSysTray

namespace lunadio {

inline constexpr int TrayToolTipMaxChars = 63;

enum TrayEventType : int {
  TrayLeftPress = 0,
  TrayRightPress = 1,
  TrayLeftDoubleClick = 2,
  TrayRightDoubleClick = 3,
};

// Shows an icon owned by the window whose windowHandle() is `ownerWindowHandle`, made from an
// image handle (imageHandle()). An image handle that names no image gives a plain placeholder
// icon, so the program never ends up hidden without a way back. Returns non-zero on success (the
// dynamic identifier for ObjectAny), 0 when the owner handle is 0. Re-adding a number replaces
// the old icon.
std::intptr_t addSysTrayIcon(ObjectNumber number, std::intptr_t ownerWindowHandle,
                             std::intptr_t imageHandle);
// Sets the tooltip, cut to its first 63 characters. An empty text or unknown number does nothing
// and returns 0; otherwise non-zero.
int sysTrayIconToolTip(ObjectNumber number, std::u16string_view text);
// Removes one icon, or every icon with ObjectAll (also done at program end).
void removeSysTrayIcon(ObjectNumber number);

// True when the desktop has a notification area to show icons in.
bool isSysTrayAvailable();

}  // namespace lunadio
