#include "app/dispatch.h"

#include "app/desktop_link.h"
#include "app/fades.h"
#include "app/library_window.h"
#include "app/panel.h"
#include "app/playback.h"
#include "app/player_state.h"
#include "app/pump.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/requesters.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

// The designed width of the progress bar: a click's x is scaled by it, whatever the canvas's
// real width.
constexpr double kProgressDesignWidth = 280.0;

// The loop's waits: a pass every 5 ms while something visible moves; otherwise until the next
// event or timer. A media track's end is an event of its own (EventMediaEnd), so nothing polls
// for it.
constexpr int kPassMs = 5;
constexpr int kWaitForEvents = -1;

// What the arrow keys move.
constexpr TrackUs kKeySeekUs = 5'000'000;
constexpr int kKeyVolumePercent = 5;

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
      if (st.draggingWindow) {
        resizeWindow(PanelWindow, windowX(PanelWindow) + x - st.dragStartX,
                     windowY(PanelWindow) + y - st.dragStartY, IgnoreValue, IgnoreValue);
        drawWindowFrame(PanelWindow);
        st.savedGeometry.x = windowX(PanelWindow);
        st.savedGeometry.y = windowY(PanelWindow);
      }
      break;
    case EventTypeLeftButtonDown:
      if (!st.draggingWindow) {
        st.dragStartX = x;
        st.dragStartY = y;
        st.draggingWindow = true;
      }
      setGadgetAttribute(gadget, 7, 6);  // four-way move cursor
      break;
    case EventTypeLeftButtonUp:
      st.draggingWindow = false;
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
  PlayerState& st = playerState();
  if (!trackLoaded() || type != EventTypeLeftButtonDown) return;
  const auto x = static_cast<double>(getGadgetAttribute(ProgressGadget, 2));
  const TrackUs length = st.currentTrack.status().length;
  seekTrackTo(static_cast<TrackUs>(static_cast<double>(length) * x / kProgressDesignWidth));
}

void onVolumeSlider(int type) {
  PlayerState& st = playerState();
  if (type == EventTypeLeftButtonDown) st.draggingVolume = true;
  if (type == EventTypeLeftButtonUp) st.draggingVolume = false;
  if (type != EventTypeMouseMove) return;
  if (!st.draggingVolume) {
    // Moving over the slider without dragging sets the track to the volume it already has.
    st.currentTrack.setVolume(nearestInt(st.volumePercent));
    return;
  }
  const int x = static_cast<int>(getGadgetAttribute(VolumeGadget, 2));
  const SliderVolume volume = volumeAtKnob(x, gadgetWidth(VolumeGadget));
  setVolume(volume.percent, x, volume.place);
}

void closePanel() {
  fadeWindow(PanelWindow);
  if (trackLoaded()) fadeOutAndPause();
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
  fadeWindow(PanelWindow);
  const LibraryChoice choice = openLibraryWindow();
  // Hidden now, so this fades the panel back in.
  fadeWindow(PanelWindow);
  buildMainGadgets();
  if (choice.outcome != LibraryOutcome::Play) return;
  if (choice.path == u"NULL") {
    messageRequester(u"Lunadio",
                     u"Impossible de récupérer les informations de lecture de la musique. "
                     u"Sélectionnez la manuellement via 'Ouvrir'",
                     MessageOk);
    return;
  }
  openTrack(choice.path);
}

// The panel's keys do what the matching pointer action does.
void onPanelKey(int key, std::intptr_t data) {
  PlayerState& st = playerState();
  const bool repeated = (data & KeyAutoRepeat) != 0;
  switch (key) {
    case KeySpace:
      if (!repeated) togglePlayPause();
      break;
    case KeyLeft:
    case KeyRight:
      if (trackLoaded()) {
        const TrackUs position = st.currentTrack.status().position;
        seekTrackTo(position + (key == KeyRight ? kKeySeekUs : -kKeySeekUs));
        refreshProgressBar(st.currentTrack.lastStatus());
      }
      break;
    case KeyUp:
    case KeyDown:
      setVolumePercent(nearestInt(st.volumePercent) +
                       (key == KeyUp ? kKeyVolumePercent : -kKeyVolumePercent));
      break;
    case KeyEscape:
      if (!repeated) hidePanel();
      break;
    default:
      break;
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

void pressTray() {
  PlayerState& st = playerState();
  drawWindowFrame(PanelWindow);
  if (st.windowMode == ModeShown) {
    fadeWindow(PanelWindow);
    st.windowMode = ModeHidden;
  } else if (st.windowMode == ModeHidden) {
    fadeWindow(PanelWindow);
    if (trackLoaded()) fadeInAndResume();
  }
}

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
      if (eventObject() == TrayIconNumber) pressTray();
      break;
    case EventKeyDown:
      // Only a shown panel takes keys; a press left over from a closed window is stale.
      if (eventWindow() == PanelWindow && playerState().windowMode == ModeShown) {
        onPanelKey(eventType(), eventData());
      }
      break;
    default:
      break;
  }
  return LoopStep::Continue;
}

void runLoopTail() {
  if (!trackLoaded()) return;
  refreshProgressBar(playerState().currentTrack.status());
}

int loopWaitMs() {
  const PlayerState& st = playerState();
  // Nothing moves without a track, on a hidden panel or while paused: the engines loop the track
  // by themselves, and a media track's end comes as an event; only a visible, moving bar needs
  // the passes.
  if (!trackLoaded() || st.windowMode == ModeHidden || !st.playing) return kWaitForEvents;
  return kPassMs;
}

LoopStep runMainLoopPass(int waitMs) {
  const int event = waitPlayerEvent(waitMs);
  const LoopStep step = dispatchEvent(event);
  if (step == LoopStep::Quit) return step;
  runLoopTail();
  showRequestedPanel();
  publishPlayerState();
  return LoopStep::Continue;
}

void runMainLoop() {
  while (runMainLoopPass(loopWaitMs()) == LoopStep::Continue) {
  }
}

}  // namespace lunadio
