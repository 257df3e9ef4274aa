#pragma once
// The player's side of the desktop layer: a second start hands its track (or a show request) to
// the running instance; the running instance answers those requests and the desktop's media
// controls as it answers the tray and the panel's gadgets, and publishes its state to them.
// Main thread only.

#include "app/player_state.h"

namespace lunadio {

// The second instance: the one command-line track, or a request to show the panel, sent to the
// running instance. Returns within 100 ms whatever the running instance does.
void handOverToRunningInstance(int argc, char** argv);

// After startPlayer(): listens for second starts and registers the media controls; on a desktop
// without a notification area the panel fades in, since no tray icon can bring it.
void startDesktopLink();

// Once per main-loop pass: one waiting second start and one media-control call, handled like the
// tray and the matching gadgets, then the state published.
void serviceDesktopLink();

// A jump of the position made in the panel, for the media controls.
void announceTrackSeek(TrackTime position);

}  // namespace lunadio
