#pragma once
// The one way the player waits. Every loop of the player that waits for events (the main pass,
// the compact strip, the fades' drains, the library window, the filter dialog) waits here, and
// while it waits the pump serves the player's background work whatever loop it is:
//   - a second start's track or show request and the desktop's media-control calls
//     (serveDesktopRequests: the sound and the state change at once; the panel's gadgets only
//     where the panel holds them; a show request waits for the main pass);
//   - the end of a media track (the track starts it again).
// Other threads and processes reach the player only through posted events; the pump is where
// those events are taken. Main thread only.
//
// While a message box or a chooser is open, its own loop runs instead (Qt's): what arrives then
// is served by the first pump call after it closes.

namespace lunadio {

// Returns the next event meant for the calling loop (the codes of ui/events.h and the library's
// own). Waits at most timeoutMs (-1: without limit, 0: only what is queued already); returns 0
// when none came, and also right after serving a background event, so that the caller looks at
// the state again (the main pass then shows a panel a request asked for).
int waitPlayerEvent(int timeoutMs);

// Takes everything queued now: background events are served, the others dropped (what a person
// does during a fade is not acted on).
void dropQueuedEvents();

}  // namespace lunadio
