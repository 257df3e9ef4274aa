#include "app/desktop_link.h"

#include <algorithm>
#include <cmath>

#include "app/dispatch.h"
#include "app/fades.h"
#include "app/panel.h"
#include "app/playback.h"
#include "core/instance_guard.h"
#include "desktop/instance_channel.h"
#include "desktop/mpris.h"
#include "storage/program_parameters.h"
#include "ui/gadgets.h"
#include "ui/tray.h"

namespace lunadio {
namespace {

constexpr int kHandOverMs = 100;
constexpr int kSliderWidth = 280;
constexpr double kMicrosecondsPerSecond = 1e6;
constexpr std::int64_t kMicrosecondsPer100ns = 10;

// The last position read that was not a paused media track's -1. Main thread only.
std::int64_t lastPositionUs = 0;

std::int64_t toMicroseconds(TrackTime time) {
  const PlayerState& st = playerState();
  switch (st.currentTrack.engine) {
    case EngineKind::Sound:
      if (st.currentTrack.baseFrequencyHz <= 0) return 0;
      return static_cast<std::int64_t>(static_cast<double>(time) * kMicrosecondsPerSecond /
                                       st.currentTrack.baseFrequencyHz);
    case EngineKind::Media:
      return time / kMicrosecondsPer100ns;
    case EngineKind::None:
      break;
  }
  return 0;
}

TrackTime fromMicroseconds(std::int64_t microseconds) {
  const PlayerState& st = playerState();
  switch (st.currentTrack.engine) {
    case EngineKind::Sound:
      return static_cast<TrackTime>(static_cast<double>(microseconds) *
                                    st.currentTrack.baseFrequencyHz / kMicrosecondsPerSecond);
    case EngineKind::Media:
      return microseconds * kMicrosecondsPer100ns;
    case EngineKind::None:
      break;
  }
  return 0;
}

std::int64_t currentPositionUs() {
  if (playerState().trackLength == 0) return 0;
  const TrackTime position = trackPosition();
  if (position >= 0) lastPositionUs = toMicroseconds(position);
  return lastPositionUs;
}

bool panelHidden() { return playerState().windowMode == ModeHidden; }

// As a tray press does while the panel is hidden; a shown panel stays as it is.
void showPanel() {
  if (panelHidden()) pressTray();
}

void setPlaying(bool wanted) {
  if ((playerState().playing == 1) != wanted) clickPlayPause();
}

void seekTo(std::int64_t positionUs) {
  const std::int64_t lengthUs = toMicroseconds(playerState().trackLength);
  positionUs = std::clamp<std::int64_t>(positionUs, 0, std::max<std::int64_t>(lengthUs - 1, 0));
  seekTrack(fromMicroseconds(positionUs));
  lastPositionUs = positionUs;
  announceSeek(positionUs);
}

// The slider's knob and the track's volume, as a drag to that place leaves them.
void setVolume(double fraction) {
  PlayerState& st = playerState();
  const int percent = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 100.0));
  const int width = gadgetWidth(VolumeGadget) > 0 ? gadgetWidth(VolumeGadget) : kSliderWidth;
  st.volumePercent = static_cast<float>(percent);
  st.volumeKnobX = percent * width / 100;
  drawVolumeSlider(percent == 0     ? KnobPlace::LeftEnd
                   : percent == 100 ? KnobPlace::RightEnd
                                    : KnobPlace::AtX);
  setTrackVolume(percent);
}

void handle(const MediaControlCall& call) {
  switch (call.method) {
    case MediaControlMethod::Raise:
      showPanel();
      break;
    case MediaControlMethod::Play:
      setPlaying(true);
      break;
    case MediaControlMethod::Pause:
    case MediaControlMethod::Stop:  // the player has no stopped state
      setPlaying(false);
      break;
    case MediaControlMethod::PlayPause:
      clickPlayPause();
      break;
    case MediaControlMethod::Seek:
      if (playerState().trackLength != 0) seekTo(currentPositionUs() + call.microseconds);
      break;
    case MediaControlMethod::SetPosition:
      if (playerState().trackLength != 0) seekTo(call.microseconds);
      break;
    case MediaControlMethod::SetVolume:
      setVolume(call.volume);
      break;
  }
}

void handle(const InstanceRequest& request) {
  if (request.kind == InstanceRequestKind::ShowPanel) {
    showPanel();
    return;
  }
  // Exactly what a command-line track gets: openTrack() with its messages, the mode unchanged.
  playerState().currentPath = request.path;
  openTrack();
}

void publishState() {
  const PlayerState& st = playerState();
  MediaState state;
  state.trackLoaded = st.trackLength != 0;
  if (state.trackLoaded) {
    state.status = st.playing == 1 ? PlaybackStatus::Playing : PlaybackStatus::Paused;
    state.title = st.currentTrack.title;
    state.path = st.currentTrack.path;
    state.lengthUs = toMicroseconds(st.trackLength);
    state.positionUs = lastPositionUs;
  }
  state.volume = std::clamp(static_cast<double>(st.volumePercent) / 100.0, 0.0, 1.0);
  publishMediaState(state);
}

}  // namespace

void handOverToRunningInstance(int argc, char** argv) {
  setProgramArguments(argc, argv);
  InstanceRequest request;
  if (countProgramParameters() == 1) {
    request = {InstanceRequestKind::OpenTrack, nextProgramParameter()};
  }
  forwardToRunningInstance(currentProgramName(), request, kHandOverMs);
}

void startDesktopLink() {
  startInstanceChannel(currentProgramName());
  startMediaControls();
  setMediaPositionReader(currentPositionUs);
  publishState();
  if (!isSysTrayAvailable() && panelHidden()) fadeWindow(PanelWindow);
}

void serviceDesktopLink() {
  if (auto request = takeInstanceRequest()) handle(*request);
  if (auto call = takeMediaControlCall()) handle(*call);
  publishState();
}

void announceTrackSeek(TrackTime position) {
  lastPositionUs = toMicroseconds(position);
  announceSeek(lastPositionUs);
}

}  // namespace lunadio
