#include "app/playback.h"

#include <algorithm>
#include <cmath>

#include "app/desktop_link.h"
#include "app/panel.h"
#include "app/player_state.h"
#include "core/strings.h"
#include "storage/user_folders.h"
#include "ui/requesters.h"
#include "ui/tray.h"

namespace lunadio {
namespace {

constexpr int kVolumeLeftEndX = 2;
constexpr int kVolumeRightEndX = 276;

void showPlayFailure() {
  const PlayerState& st = playerState();
  messageRequester(u"Lunadio",
                   u"Lunadio ne peut pas lire ce morceau. Seul les formats .mp3, .wav et .ogg sont "
                   u"actuellement supportés\n\nInfos: \nAdresse du fichier: " +
                       st.currentPath + u"\nNom : " + st.currentTitle +
                       u"\n\nNous sommes désolés de ce désagrément...",
                   MessageIconError);
}

void showUnknownType() {
  messageRequester(u"Erreur de chargement - Lunadio",
                   u"Lunadio ne reconnait pas le type de fichier du dernier fichier que vous avez "
                   u"essayé d'ouvrir. Essayez de le convertir dans un autre format, comme le MP3 "
                   u"ou le Wave.",
                   MessageIconError);
}

}  // namespace

int nearestInt(double value) { return static_cast<int>(std::nearbyint(value)); }

TrackOpenResult openTrack(const std::u16string& path) {
  if (path.empty()) return TrackOpenResult::NotRegularFile;
  const TrackOpenResult result = loadTrack(path);
  showOpenResult(result);
  return result;
}

TrackOpenResult loadTrack(const std::u16string& path) {
  PlayerState& st = playerState();
  st.currentPath = path;
  st.currentTitle = getFilePart(path, FilePartNoExtension);
  return st.currentTrack.open(path, nearestInt(st.volumePercent));
}

void showOpenResult(TrackOpenResult result) {
  PlayerState& st = playerState();
  switch (result) {
    case TrackOpenResult::Opened:
      break;
    case TrackOpenResult::UnknownType:
      showUnknownType();
      return;
    case TrackOpenResult::NotRegularFile:
    case TrackOpenResult::TrialRefused:
    case TrackOpenResult::DecoderFailed:
    case TrackOpenResult::MediaGraphFailed:
      showPlayFailure();
      return;
  }
  // The play/pause image and the `playing` flag stay as they were: a new track opened while
  // paused plays at once under the play image.
  showTitle();
  st.shownFillPixels = -1;
  sysTrayIconToolTip(TrayIconNumber, u"Lunadio. Lecture de " + st.currentTitle);
}

void openFileFromRequester() {
  PlayerState& st = playerState();
  st.windowMode = ModeModal;
  const std::u16string path =
      openFileRequester(u"Choisissez une musique", musicFolder() + u"/",
                        u"Formats supportés|*.wav;*.ogg;*flac;*.mp3|Tous|*.*", 0);
  if (!path.empty()) openTrack(path);
  st.windowMode = ModeShown;
}

void setPlaying(bool playing) {
  PlayerState& st = playerState();
  if (!trackLoaded() || st.playing == playing) return;
  if (playing) {
    st.currentTrack.resume();
  } else {
    st.currentTrack.pause();
  }
  st.playing = playing;
  showPlayPauseImage();
}

void togglePlayPause() { setPlaying(!playerState().playing); }

void seekTrackTo(TrackUs position) {
  PlayerState& st = playerState();
  if (!trackLoaded()) return;
  st.currentTrack.seek(position);
  announceTrackSeek(st.currentTrack.lastStatus().position);
}

SliderVolume volumeAtKnob(int knobX, int sliderWidth) {
  if (knobX <= kVolumeLeftEndX) return {0.0f, KnobPlace::LeftEnd};
  if (knobX >= kVolumeRightEndX) return {100.0f, KnobPlace::RightEnd};
  if (sliderWidth <= 0) return {0.0f, KnobPlace::AtX};
  const double percent = static_cast<double>(knobX) / sliderWidth * 100.0;
  return {static_cast<float>(static_cast<int>(percent)), KnobPlace::AtX};
}

void setVolume(float percent, int knobX, KnobPlace place) {
  PlayerState& st = playerState();
  st.volumePercent = std::clamp(percent, 0.0f, 100.0f);
  st.volumeKnobX = knobX;
  showVolumeSlider(place);
  st.currentTrack.setVolume(nearestInt(st.volumePercent));
}

void setVolumePercent(int percent) {
  percent = std::clamp(percent, 0, 100);
  const int knobX = percent * kPanelSliderWidth / 100;
  setVolume(static_cast<float>(percent), knobX,
            percent == 0     ? KnobPlace::LeftEnd
            : percent == 100 ? KnobPlace::RightEnd
                             : KnobPlace::AtX);
}

}  // namespace lunadio
