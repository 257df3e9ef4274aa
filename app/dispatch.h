#pragma once
// The main loop: one event (or a timeout) per pass, what each event does, and the tail that keeps
// the progress bar going. It waits through the pump (pump.h), like every other loop of the
// player. Main thread only.

namespace lunadio {

enum class LoopStep { Continue, Quit };

// One pass: waits at most waitMs for an event, dispatches it, runs the tail, shows the panel when
// a request asked for it and publishes the state. Quit once the user confirmed quitting.
LoopStep runMainLoopPass(int waitMs = 5);
// Passes until Quit, each waiting loopWaitMs().
void runMainLoop();
// How long the next pass may wait: 5 ms while the bar moves on a visible panel, longer (-1:
// until an event or timer) when nothing would change meanwhile.
int loopWaitMs();

// What the pass does with an event code already taken from the queue (the current event).
LoopStep dispatchEvent(int event);
// After every event and every timeout: the progress bar and the track's own upkeep.
void runLoopTail();

// What a tray press does: the panel fades in or out, and the track with it.
void pressTray();

}  // namespace lunadio
