#include "app/pump.h"

#include "app/desktop_link.h"
#include "app/player_state.h"
#include "desktop/instance_channel.h"
#include "desktop/mpris.h"
#include "ui/events.h"

namespace lunadio {
namespace {

// Serves a background event; false for an event that belongs to the waiting loop.
bool serveBackground(int code) {
  switch (code) {
    case EventInstanceRequest:
    case EventMediaControl:
      serveDesktopRequests();
      return true;
    case EventMediaEnd:
      // Reading the status starts a media track found at its end again.
      playerState().currentTrack.status();
      return true;
    default:
      return false;
  }
}

}  // namespace

int waitPlayerEvent(int timeoutMs) {
  const int code = waitWindowEvent(timeoutMs);
  return serveBackground(code) ? 0 : code;
}

void dropQueuedEvents() {
  for (int code = windowEvent(); code != 0; code = windowEvent()) serveBackground(code);
}

}  // namespace lunadio
