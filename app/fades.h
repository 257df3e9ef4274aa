#pragma once
// The panel's fades: the window through its transparency, the sound through its volume and
// speed, and the compact strip the panel shrinks into while the pointer stays away. All run on
// the main thread inside the main loop's pass and wait through the pump, which serves second
// starts, media controls and a media track's end meanwhile; what a person does during a fade is
// dropped. Every wait sleeps.

#include "app/player_state.h"

namespace lunadio {

// Out (255 -> 1, then hidden, mode hidden) when the mode is shown or compact; in (1 -> 255, mode
// shown) when hidden; only shows the window in any other mode.
void fadeWindow(int window);
// 51 steps from 100 % to 0 of the chosen volume and the loaded frequency, 10 ms apart, then pause
// and the play image.
void fadeOutAndPause();
// Resume, then 35 steps up to the chosen volume and the loaded frequency, then the pause image.
void fadeInAndResume();
// Shrinks the panel into the 60-pixel strip, stays there while the pointer is away (the tray
// fades it out meanwhile), then grows it back to savedGeometry with its gadgets rebuilt.
void enterCompactMode(int window);

// -- test seam: called at every step, after the step's change and before its wait.
void setFadeStepObserver(FadeStepObserver observer);

}  // namespace lunadio
