#include "app/fades.h"

#include <algorithm>

#include "app/panel.h"
#include "app/playback.h"
#include "app/player_state.h"
#include "app/pump.h"
#include "core/threads.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/images.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

constexpr int kWindowStepMs = 2;
constexpr int kSoundStepMs = 10;
constexpr int kShrinkStepMs = 10;
constexpr int kGrowStepMs = 2;
constexpr int kTrayFadeStepMs = 3;
constexpr int kCompactHeight = 60;
constexpr int kCompactAlpha = 200;
constexpr int kGrowStepPixels = 3;

void notify(FadeStep step, int value) {
  if (playerState().fadeStepObserver) playerState().fadeStepObserver(step, value);
}

// Waits one step through the pump: requests are served meanwhile, what a person does is dropped
// (the panel is not usable during a fade).
void waitStep(int ms) {
  dropQueuedEvents();
  delay(ms);
}

// One step of a sound fade: `percent` of the chosen volume and of the loaded speed.
void soundStep(int percent) {
  Track& track = playerState().currentTrack;
  track.setVolume(nearestInt(static_cast<double>(playerState().volumePercent) * percent / 100.0));
  track.setSpeed(percent);
  notify(FadeStep::Sound, percent);
  delay(kSoundStepMs);
}

// The title and the bar centred on the strip's height.
void placeStripGadgets(int window) {
  const double height = windowHeight(window);
  resizeGadget(TitleGadget, 10, static_cast<int>(height / 2 - 20), IgnoreValue, IgnoreValue);
  resizeGadget(ProgressGadget, 10, static_cast<int>(height / 2), IgnoreValue, IgnoreValue);
}

// The track keeps going while the panel is a strip: its bar and its volume.
void updateTrack() {
  PlayerState& st = playerState();
  if (!trackLoaded()) return;
  refreshProgressBar(st.currentTrack.status());
  st.currentTrack.setVolume(nearestInt(st.volumePercent));
}

bool pointerAway(int window) { return windowMouseX(window) == -1; }

}  // namespace

void setFadeStepObserver(FadeStepObserver observer) {
  playerState().fadeStepObserver = std::move(observer);
}

void fadeWindow(int window) {
  PlayerState& st = playerState();
  const NativeHandle handle = windowHandle(window);
  drawWindowFrame(window);
  // A hidden panel shows up transparent, not at full opacity for a frame.
  if (st.windowMode == ModeHidden) setWindowAlpha(handle, 1);
  hideWindow(window, 0);
  if (st.windowMode == ModeShown || st.windowMode == ModeCompact) {
    for (int alpha = 255; alpha >= 1; --alpha) {
      setWindowAlpha(handle, alpha);
      notify(FadeStep::WindowAlpha, alpha);
      waitStep(kWindowStepMs);
    }
    st.windowMode = ModeHidden;
    hideWindow(window, 1);
  } else if (st.windowMode == ModeHidden) {
    for (int alpha = 1; alpha <= 255; ++alpha) {
      setWindowAlpha(handle, alpha);
      notify(FadeStep::WindowAlpha, alpha);
      waitStep(kWindowStepMs);
    }
    st.windowMode = ModeShown;
  }
  drawWindowFrame(window);
}

void fadeOutAndPause() {
  for (int percent = 100; percent >= 0; percent -= 2) soundStep(percent);
  // Paused whatever the flag said: a track opened while paused plays under the play image.
  PlayerState& st = playerState();
  st.currentTrack.pause();
  st.playing = false;
  showPlayPauseImage();
}

void fadeInAndResume() {
  playerState().currentTrack.resume();
  for (int percent = 0; percent <= 99; percent += 3) soundStep(percent);
  soundStep(100);
  PlayerState& st = playerState();
  st.playing = true;
  showPlayPauseImage();
}

void enterCompactMode(int window) {
  PlayerState& st = playerState();
  const NativeHandle handle = windowHandle(window);
  for (int n = 0; n <= 19; ++n) freeGadget(n);
  st.gadgetOwner = GadgetOwner::Strip;
  useGadgetList(handle);
  createTitleGadget();
  createProgressGadget();
  setWindowAlpha(handle, kCompactAlpha);

  // One pixel a step; the bound on h ends the shrink even where the window keeps its height.
  for (int h = windowHeight(window); windowHeight(window) > kCompactHeight && h >= kCompactHeight;
       --h) {
    resizeWindow(window, IgnoreValue, IgnoreValue, IgnoreValue, h);
    placeStripGadgets(window);
    drawWindowFrame(window);
    updateTrack();
    notify(FadeStep::Shrink, windowHeight(window));
    if (!pointerAway(window)) break;
    waitStep(kShrinkStepMs);
  }
  st.windowMode = ModeCompact;

  while (pointerAway(window)) {
    if (waitPlayerEvent(5) == EventSysTray) {
      for (int alpha = kCompactAlpha; alpha <= 255; ++alpha) {
        setWindowAlpha(handle, alpha);
        delay(kTrayFadeStepMs);
      }
      // Compact: fades out and hides; the strip stays until the pointer comes back over it.
      fadeWindow(window);
    }
    updateTrack();
    notify(FadeStep::CompactPass, st.windowMode);
  }

  const int fullHeight = st.savedGeometry.innerHeight;
  for (int h = windowHeight(window);
       windowHeight(window) < fullHeight && h < fullHeight + kGrowStepPixels;
       h += kGrowStepPixels) {
    resizeWindow(window, IgnoreValue, IgnoreValue, IgnoreValue, std::min(h, fullHeight));
    placeStripGadgets(window);
    drawWindowFrame(window);
    if (trackLoaded()) {
      refreshProgressBar(st.currentTrack.status());
      st.currentTrack.setVolume(nearestInt(st.volumePercent));
    }
    notify(FadeStep::Grow, windowHeight(window));
    waitStep(kGrowStepMs);
  }

  setWindowAlpha(handle, 255);
  const WindowGeometry& saved = st.savedGeometry;
  resizeWindow(window, saved.x, saved.y, saved.innerWidth, saved.innerHeight);
  drawWindowFrame(window);
  useGadgetList(handle);
  buildMainGadgets();
  st.windowMode = ModeShown;
  drawWindowFrame(window);
}

}  // namespace lunadio
