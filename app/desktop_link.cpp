#include "app/desktop_link.h"

#include <algorithm>
#include <cmath>

#include "app/dispatch.h"
#include "app/fades.h"
#include "app/panel.h"
#include "app/playback.h"
#include "app/player_state.h"
#include "core/instance_guard.h"
#include "desktop/instance_channel.h"
#include "desktop/mpris.h"
#include "storage/program_parameters.h"
#include "ui/tray.h"

namespace lunadio {
namespace {

// Asked by the media controls' Position property from inside Qt's dispatch.
std::int64_t currentPositionUs() {
  PlayerState& st = playerState();
  if (!trackLoaded()) return 0;
  st.announcedPositionUs = st.currentTrack.status().position;
  return st.announcedPositionUs;
}

void handle(const MediaControlCall& call) {
  switch (call.method) {
    case MediaControlMethod::Raise:
      playerState().panelShowRequested = true;
      break;
    case MediaControlMethod::Play:
      setPlaying(true);
      break;
    case MediaControlMethod::Pause:
    case MediaControlMethod::Stop:  // the player has no stopped state
      setPlaying(false);
      break;
    case MediaControlMethod::PlayPause:
      togglePlayPause();
      break;
    case MediaControlMethod::Seek:
      if (trackLoaded()) seekTrackTo(currentPositionUs() + call.microseconds);
      break;
    case MediaControlMethod::SetPosition:
      if (trackLoaded()) seekTrackTo(call.microseconds);
      break;
    case MediaControlMethod::SetVolume:
      setVolumePercent(static_cast<int>(std::lround(std::clamp(call.volume, 0.0, 1.0) * 100.0)));
      break;
  }
}

void handle(const InstanceRequest& request) {
  if (request.kind == InstanceRequestKind::ShowPanel) {
    playerState().panelShowRequested = true;
    return;
  }
  // Exactly what a command-line track gets: openTrack() with its messages, the mode unchanged.
  openTrack(request.path);
}

}  // namespace

void startDesktopLink() {
  startInstanceChannel(currentProgramName());
  startMediaControls();
  setMediaPositionReader(currentPositionUs);
  publishPlayerState();
  if (!isSysTrayAvailable() && playerState().windowMode == ModeHidden) fadeWindow(PanelWindow);
}

void serveDesktopRequests() {
  PlayerState& st = playerState();
  // A request's own message box must not let the next one in under it.
  if (st.servingRequests) return;
  st.servingRequests = true;
  for (;;) {
    if (auto request = takeInstanceRequest()) {
      handle(*request);
    } else if (auto call = takeMediaControlCall()) {
      handle(*call);
    } else {
      break;
    }
  }
  st.servingRequests = false;
  publishPlayerState();
}

void showRequestedPanel() {
  PlayerState& st = playerState();
  if (!st.panelShowRequested) return;
  st.panelShowRequested = false;
  // As a tray press does while the panel is hidden; a shown panel stays as it is.
  if (st.windowMode == ModeHidden) pressTray();
}

void publishPlayerState() {
  PlayerState& st = playerState();
  MediaState state;
  state.trackLoaded = trackLoaded();
  if (state.trackLoaded) {
    const TrackStatus& status = st.currentTrack.lastStatus();
    state.status = st.playing ? PlaybackStatus::Playing : PlaybackStatus::Paused;
    state.title = st.currentTrack.title();
    state.path = st.currentTrack.path();
    state.lengthUs = status.length;
    state.positionUs = st.announcedPositionUs;
  }
  state.volume = std::clamp(static_cast<double>(st.volumePercent) / 100.0, 0.0, 1.0);
  publishMediaState(state);
}

void announceTrackSeek(TrackUs position) {
  playerState().announcedPositionUs = position;
  announceSeek(position);
}

}  // namespace lunadio
