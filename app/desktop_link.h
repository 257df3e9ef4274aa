#pragma once
// The player's side of the desktop layer: the running instance answers second starts
// (app/hand_over.h) and the desktop's media controls as it answers the tray and the panel's
// gadgets, and publishes its state to them. Main thread only.

#include "app/track.h"

namespace lunadio {

// After startPlayer(): listens for second starts and registers the media controls; on a desktop
// without a notification area the panel fades in, since no tray icon can bring it.
void startDesktopLink();

// Every second start and media-control call waiting, handled like the tray and the matching
// gadgets, then the state published. The pump calls it whatever loop is waiting; a request to
// show the panel is left to the main pass (showRequestedPanel), since only there is the panel
// free to fade.
void serveDesktopRequests();
// The main pass's share: the panel shown when a request asked for it.
void showRequestedPanel();

// The player's state to the media controls (after every pass and every request).
void publishPlayerState();

// A jump of the position, for the media controls.
void announceTrackSeek(TrackUs position);

}  // namespace lunadio
