#pragma once
// The choice of Qt platform at start (internal to ui/).

namespace lunadio::ui {

enum class PlatformChoice {
  AsGiven,    // Qt's own choice, or the user's QT_QPA_PLATFORM
  X11,        // a Wayland session with XWayland: run on X11
  NoDisplay,  // nothing to show windows on
};

struct DisplayEnvironment {
  bool platformChosen = false;  // QT_QPA_PLATFORM set
  bool x11 = false;             // DISPLAY set
  bool wayland = false;         // WAYLAND_DISPLAY set
};

PlatformChoice choosePlatform(const DisplayEnvironment& environment);

}  // namespace lunadio::ui
