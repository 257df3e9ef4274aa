#pragma once
// The player's side of the desktop layer: a second start hands its track (or a show request) to
// the running instance; the running instance answers those requests and the desktop's media
// controls as it answers the tray and the panel's gadgets, and publishes its state to them.
// Main thread only.

#include "app/track.h"

namespace lunadio {

// The second instance: the one command-line track, or a request to show the panel, sent to the
// running instance. Returns within 100 ms whatever the running instance does. An empty track
// sends nothing: it opens nothing and shows nothing, as on a first start.
void handOverToRunningInstance(int argc, char** argv);

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
