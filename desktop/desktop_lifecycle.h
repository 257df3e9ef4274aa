#pragma once
// The desktop layer's place in the program's end sequence. Main thread only.

namespace lunadio {

// Closes the running-instance channel and leaves the session bus at the tray's end stage, while
// the Qt application they run in still exists.
void registerDesktopLifecycle();

}  // namespace lunadio
