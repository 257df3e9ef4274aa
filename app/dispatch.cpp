#include "app/dispatch.h"

#include <algorithm>

#include "app/desktop_link.h"
#include "app/fades.h"
#include "app/library_window.h"
#include "app/panel.h"
#include "app/playback.h"
#include "app/player_state.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/images.h"
#include "ui/requesters.h"
#include "ui/tray.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

// The designed width of the progress bar: a click's x is scaled by it, whatever the canvas's
// real width.
constexpr double kProgressDesignWidth = 280.0;
constexpr int kVolumeLeftEndX = 2;
constexpr int kVolumeRightEndX = 276;

// The loop's waits: a pass every 5 ms while something visible moves; otherwise until the next
// event or timer. A media track's end is an event of its own (EventMediaEnd), so nothing polls
// for it.
constexpr int kPassMs = 5;
constexpr int kWaitForEvents = -1;

// The position the last tail read (-1: a paused media track). Main thread only.
TrackTime lastTailPosition = 0;

void hidePanel() {
  fadeWindow(PanelWindow);
  playerState().windowMode = ModeHidden;
}

void onFramePiece(int gadget, int type) {
  PlayerState& st = playerState();
  const int x = static_cast<int>(getGadgetAttribute(gadget, 2));
  const int y = static_cast<int>(getGadgetAttribute(gadget, 3));
  switch (type) {
    case EventTypeMouseMove:
      if (st.draggingWindow == 1) {
        resizeWindow(PanelWindow, windowX(PanelWindow) + x - st.dragStartX,
                     windowY(PanelWindow) + y - st.dragStartY, IgnoreValue, IgnoreValue);
        drawWindowFrame(PanelWindow);
        st.savedGeometry.x = windowX(PanelWindow);
        st.savedGeometry.y = windowY(PanelWindow);
      }
      break;
    case EventTypeLeftButtonDown:
      if (st.draggingWindow == 0) {
        st.dragStartX = x;
        st.dragStartY = y;
        st.draggingWindow = 1;
      }
      setGadgetAttribute(gadget, 7, 6);  // four-way move cursor
      break;
    case EventTypeLeftButtonUp:
      st.draggingWindow = 0;
      setGadgetAttribute(gadget, 7, 0);  // arrow
      break;
    case EventTypeRightClick:
      hidePanel();
      break;
    default:
      break;
  }
}

void onProgressBar(int type) {
  const PlayerState& st = playerState();
  if (st.trackLength == 0 || type != EventTypeLeftButtonDown) return;
  const auto x = static_cast<double>(getGadgetAttribute(ProgressGadget, 2));
  const auto position =
      static_cast<TrackTime>(static_cast<double>(st.trackLength) * x / kProgressDesignWidth);
  seekTrack(position);
  announceTrackSeek(position);
}

void onVolumeSlider(int type) {
  PlayerState& st = playerState();
  if (type == EventTypeLeftButtonDown) st.draggingVolume = 1;
  if (type == EventTypeLeftButtonUp) st.draggingVolume = 0;
  if (type != EventTypeMouseMove) return;
  if (st.draggingVolume == 1) {
    const int x = static_cast<int>(getGadgetAttribute(VolumeGadget, 2));
    st.volumeKnobX = x;
    if (x > kVolumeLeftEndX && x < kVolumeRightEndX) {
      drawVolumeSlider();
      const int width = gadgetWidth(VolumeGadget);
      st.volumePercent =
          width > 0 ? static_cast<float>(static_cast<int>(static_cast<double>(x) / width * 100.0))
                    : 0.0f;
    } else if (x <= kVolumeLeftEndX) {
      drawVolumeSlider(KnobPlace::LeftEnd);
      st.volumePercent = 0;
    } else {
      drawVolumeSlider(KnobPlace::RightEnd);
      st.volumePercent = 100.0f;
    }
  }
  setTrackVolume(nearestInt(st.volumePercent));
}

void togglePlayPause() {
  PlayerState& st = playerState();
  if (st.trackLength == 0) return;
  if (st.playing == 1) {
    pauseTrack();
    setGadgetState(PlayPauseGadget, imageHandle(PlayImage));
    st.playing = 0;
  } else {
    resumeTrack();
    setGadgetState(PlayPauseGadget, imageHandle(PauseImage));
    st.playing = 1;
  }
}

void closePanel() {
  fadeWindow(PanelWindow);
  if (playerState().trackLength != 0) fadeOutAndPause();
  playerState().windowMode = ModeHidden;
}

LoopStep confirmQuit() {
  PlayerState& st = playerState();
  st.windowMode = ModeModal;
  const int answer = messageRequester(
      u"Lunadio",
      u"Attention ! Vous allez quitter Lunadio, ce qui otera son icone de la barre systéme.\nSi "
      u"vous souhaitez simplement couper la musique, mettez en pause et masquez la "
      u"fenêtre.\nVoulez "
      u"vous vraiement quitter ?",
      MessageYesNo | MessageIconWarning | MessageDefaultButton2);
  if (answer == RequesterYes) return LoopStep::Quit;
  st.windowMode = ModeShown;
  return LoopStep::Continue;
}

void openLibrary() {
  PlayerState& st = playerState();
  fadeWindow(PanelWindow);
  const int result = openLibraryWindow();
  // Hidden now, so this fades the panel back in.
  fadeWindow(PanelWindow);
  buildMainGadgets();
  if (result != 1) return;
  if (st.selectedTrackPath == u"NULL") {
    messageRequester(u"Lunadio",
                     u"Impossible de récupérer les informations de lecture de la musique. "
                     u"Sélectionnez la manuellement via 'Ouvrir'",
                     MessageOk);
    return;
  }
  st.currentPath = st.selectedTrackPath;
  openTrack();
}

void onTray() {
  PlayerState& st = playerState();
  drawWindowFrame(PanelWindow);
  if (st.windowMode == ModeShown) {
    fadeWindow(PanelWindow);
    st.windowMode = ModeHidden;
  } else if (st.windowMode == ModeHidden) {
    fadeWindow(PanelWindow);
    if (st.trackLength != 0) fadeInAndResume();
  }
}

LoopStep onGadget(int gadget, int type) {
  if (getGadgetData(gadget) == FramePieceData) {
    onFramePiece(gadget, type);
    return LoopStep::Continue;
  }
  switch (gadget) {
    case ProgressGadget:
      onProgressBar(type);
      break;
    case VolumeGadget:
      onVolumeSlider(type);
      break;
    case ColourGadget:
      chooseThemeColour();
      break;
    case OpenFileGadget:
      openFileFromRequester();
      break;
    case PlayPauseGadget:
      togglePlayPause();
      break;
    case CloseGadget:
      if (type == EventTypeLeftClick) closePanel();
      if (type == EventTypeRightClick) return confirmQuit();
      break;
    case LibraryGadget:
      if (type == EventTypeLeftClick) openLibrary();
      break;
    case HideGadget:
      if (type == EventTypeLeftClick) hidePanel();
      break;
    default:
      break;
  }
  return LoopStep::Continue;
}

}  // namespace

LoopStep dispatchEvent(int event) {
  switch (event) {
    case EventSizeWindow:
      drawWindowFrame(PanelWindow);
      break;
    case EventTimer:
      // Nobody sees a hidden panel's frame (the tray redraws it before showing the panel), and
      // only a shown panel goes compact: a hidden panel's timers cost one cheap pass.
      if (playerState().windowMode == ModeHidden) break;
      drawWindowFrame(PanelWindow);
      if (eventObject() == CompactTimer && playerState().windowMode == ModeShown &&
          windowMouseX(PanelWindow) == -1) {
        enterCompactMode(PanelWindow);
      }
      break;
    case EventGadget:
      // Only the panel's gadgets count; the events of a window that has closed are stale.
      if (eventWindow() != PanelWindow) break;
      return onGadget(static_cast<int>(eventObject()), eventType());
    case EventSysTray:
      if (eventObject() == TrayIconNumber) onTray();
      break;
    case EventMediaEnd:
      break;  // the tail that follows sees the end and plays the track again
    default:
      break;
  }
  return LoopStep::Continue;
}

void runLoopTail() {
  const PlayerState& st = playerState();
  if (st.trackLength == 0) return;
  const TrackTime position = trackPosition();
  lastTailPosition = position;
  refreshProgressBar(position, st.trackLength);
  updateMediaTrack(position);
}

int loopWaitMs() {
  const PlayerState& st = playerState();
  // Nothing moves without a track: only events and timers have something to do.
  if (st.trackLength == 0) return kWaitForEvents;
  const bool panelHidden = st.windowMode == ModeHidden;
  switch (st.currentTrack.engine) {
    case EngineKind::Sound:
      // The engine loops a sound by itself; only a visible, moving bar needs the passes.
      return panelHidden || st.playing == 0 ? kWaitForEvents : kPassMs;
    case EngineKind::Media:
      // Paused, or hidden: the track loops inside the engine, and should it end anyway, its end
      // posts EventMediaEnd; the panel's timers still wake the loop for the length's queries.
      if (lastTailPosition < 0 || panelHidden) return kWaitForEvents;
      return kPassMs;
    case EngineKind::None:
      break;
  }
  return kWaitForEvents;
}

LoopStep runMainLoopPass(int waitMs) {
  const int event = waitWindowEvent(waitMs);
  const LoopStep step = dispatchEvent(event);
  if (step == LoopStep::Quit) return step;
  runLoopTail();
  // Second starts and media-control calls wait here, whatever loop took their events.
  serviceDesktopLink();
  return LoopStep::Continue;
}

void pressTray() { onTray(); }
void clickPlayPause() { togglePlayPause(); }

void runMainLoop() {
  while (runMainLoopPass(loopWaitMs()) == LoopStep::Continue) {
  }
}

}  // namespace lunadio
