#pragma once
// Tray seams for tests: the Qt object behind an icon, and where its events go.

#include <functional>

#include "core/object_table.h"

class QSystemTrayIcon;

namespace lunadio::ui {

// The icon object behind a live tray number, or null.
QSystemTrayIcon* trayIconObject(ObjectNumber number);

// Receives every tray event instead of the window event queue while set; an empty function
// restores the queue.
using TrayEventSink =
    std::function<void(int code, ObjectNumber icon, ObjectNumber window, int type)>;
void setTrayEventSink(TrayEventSink sink);

}  // namespace lunadio::ui
