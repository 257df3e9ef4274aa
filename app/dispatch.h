#pragma once
// The main loop: one event (or a 5 ms timeout) per pass, what each event does, and the tail that
// keeps the progress bar and the media loop going. Main thread only.

namespace lunadio {

enum class LoopStep { Continue, Quit };

// One pass: waits at most waitMs for an event, dispatches it, runs the tail. Quit once the user
// confirmed quitting.
LoopStep runMainLoopPass(int waitMs = 5);
// Passes until Quit, each waiting loopWaitMs().
void runMainLoop();
// How long the next pass may wait: 5 ms while the bar moves on a visible panel or a media track
// nears its end, longer (-1: until an event or timer) when nothing would change meanwhile.
int loopWaitMs();

// What the pass does with an event code already taken from the queue (the current event).
LoopStep dispatchEvent(int event);
// After every event and every timeout: the progress bar and the media loop.
void runLoopTail();

// What a tray press and a click on the play/pause image do, for the desktop's requests.
void pressTray();
void clickPlayPause();

}  // namespace lunadio
