#include "app/playback.h"

#include "app/panel.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

#include "audio/sound.h"
#include "audio/sound_loader.h"
#include "core/strings.h"
#include "media/media.h"
#include "ui/gadgets.h"
#include "ui/requesters.h"
#include "ui/tray.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

// A stream without a duration yet is asked again at most this often. Main thread only.
constexpr auto kLengthQueryInterval = std::chrono::milliseconds(250);
std::chrono::steady_clock::time_point lastLengthQuery;

EngineKind engine() { return playerState().currentTrack.engine; }

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

// The real load after a trial that worked; false when even that failed.
bool openMediaTrack() {
  PlayerState& st = playerState();
  if (!loadMedia(TrialNumber, st.currentPath)) return false;
  const bool loaded = loadMedia(TrackNumber, st.currentPath) != 0;
  freeMedia(TrialNumber);
  if (!loaded) {
    // Loading into number 0 freed the media track that was there.
    if (engine() == EngineKind::Media) {
      st.currentTrack.engine = EngineKind::None;
      st.trackLength = 0;
    }
    return false;
  }
  if (isSound(TrackNumber)) freeSound(TrackNumber);
  // The stream's own duration when it tells one; else the loop raises the length to the largest
  // position seen, starting from 1, and keeps asking the stream (some tell it only once playing).
  const TrackTime duration = mediaLength(TrackNumber);
  st.trackLength = std::max<TrackTime>(duration, 1);
  st.currentTrack.lengthSource =
      duration > 0 ? LengthSource::Stream : LengthSource::LargestPosition;
  lastLengthQuery = std::chrono::steady_clock::now();
  st.currentTrack.baseFrequencyHz = 0;
  resizeMedia(TrackNumber, 10, 10, 0, 0);
  playMedia(TrackNumber, windowHandle(PanelWindow));
  st.currentTrack.engine = EngineKind::Media;
  return true;
}

bool isRegularFile(const std::u16string& path) {
  struct stat info {};
  return ::stat(toUtf8(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool openSoundTrack() {
  PlayerState& st = playerState();
  // Opening a FIFO for reading would wait for a writer with the panel frozen.
  if (!isRegularFile(st.currentPath)) return false;
  // The loader shares the trial's decode with the real load, so the file is decoded once.
  if (!loadSound(TrialNumber, st.currentPath)) return false;
  if (!loadSound(TrackNumber, st.currentPath)) return false;
  if (isMedia(TrackNumber)) freeMedia(TrackNumber);
  st.trackLength = std::max<TrackTime>(getSoundLength(TrackNumber), 0);
  st.currentTrack.baseFrequencyHz = static_cast<float>(getSoundFrequency(TrackNumber));
  playSound(TrackNumber, PlayLooped);
  st.currentTrack.engine = EngineKind::Sound;
  return true;
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The XDG_MUSIC_DIR line of user-dirs.dirs: "$HOME/Musique" or an absolute path, in quotes.
std::string musicDirFromUserDirs(const std::string& home) {
  std::string configHome;
  if (const char* value = std::getenv("XDG_CONFIG_HOME"); value && *value == '/') {
    configHome = value;
  } else if (!home.empty()) {
    configHome = home + "/.config";
  } else {
    return {};
  }
  std::ifstream in(configHome + "/user-dirs.dirs");
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    const std::string key = "XDG_MUSIC_DIR=";
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
    std::string value = line.substr(start + key.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) {
      value = home + value.substr(5);
    } else if (value.empty() || value.front() != '/') {
      continue;
    }
    found = value;  // the last definition wins, as in a shell
  }
  while (found.size() > 1 && found.back() == '/') found.pop_back();
  return found;
}

}  // namespace

int nearestInt(double value) { return static_cast<int>(std::nearbyint(value)); }

EngineKind chooseEngine(std::u16string_view extension) {
  if (findString(u".mp3", extension, 1, FindNoCase) > 0) return EngineKind::Media;
  if (findString(u".ogg .wav .flac", extension, 1, FindNoCase) > 0) return EngineKind::Sound;
  return EngineKind::None;
}

void openTrack() {
  PlayerState& st = playerState();
  st.currentTitle = getFilePart(st.currentPath, FilePartNoExtension);
  const EngineKind chosen = chooseEngine(getExtensionPart(st.currentPath));
  if (chosen == EngineKind::None) {
    showUnknownType();
    return;
  }
  const bool opened = chosen == EngineKind::Media ? openMediaTrack() : openSoundTrack();
  if (!opened) {
    showPlayFailure();
    return;
  }
  // A new track plays at the slider's volume, not at full level.
  setTrackVolume(nearestInt(st.volumePercent));
  st.currentTrack.path = st.currentPath;
  st.currentTrack.title = st.currentTitle;
  setGadgetText(TitleGadget, st.currentTitle);
  sysTrayIconToolTip(TrayIconNumber, u"Lunadio. Lecture de " + st.currentTitle);
}

void openFileFromRequester() {
  PlayerState& st = playerState();
  st.windowMode = ModeModal;
  const std::u16string path =
      openFileRequester(u"Choisissez une musique", musicFolder() + u"/",
                        u"Formats supportés|*.wav;*.ogg;*flac;*.mp3|Tous|*.*", 0);
  if (!path.empty()) {
    st.currentPath = path;
    openTrack();
  }
  st.windowMode = ModeShown;
}

std::u16string musicFolder() {
  const char* homeValue = std::getenv("HOME");
  const std::string home = homeValue ? homeValue : "";
  const std::string music = musicDirFromUserDirs(home);
  if (isDirectory(music)) return fromUtf8(music);
  std::string folder = home.empty() ? "/" : home;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return fromUtf8(folder);
}

TrackTime trackPosition() {
  switch (engine()) {
    case EngineKind::Media:
      return mediaStatus(TrackNumber);
    case EngineKind::Sound:
      return getSoundPosition(TrackNumber);
    case EngineKind::None:
      break;
  }
  return 0;
}

void seekTrack(TrackTime position) {
  if (engine() == EngineKind::Sound) setSoundPosition(TrackNumber, position);
  if (engine() == EngineKind::Media) seekMedia(TrackNumber, position);
}

void pauseTrack() {
  if (engine() == EngineKind::Sound) pauseSound(TrackNumber);
  if (engine() == EngineKind::Media) pauseMedia(TrackNumber);
}

void resumeTrack() {
  if (engine() == EngineKind::Sound) resumeSound(TrackNumber);
  if (engine() == EngineKind::Media) resumeMedia(TrackNumber);
}

void setTrackVolume(int volumePercent) {
  if (engine() == EngineKind::Sound) setSoundVolume(TrackNumber, volumePercent);
  if (engine() == EngineKind::Media) setMediaVolume(TrackNumber, volumePercent, 0);
}

void setTrackFrequency(int frequencyHz) {
  if (engine() == EngineKind::Sound) setSoundFrequency(TrackNumber, frequencyHz);
}

void updateMediaTrack(TrackTime position) {
  if (engine() != EngineKind::Media) return;
  PlayerState& st = playerState();
  if (position == 0) {
    playMedia(TrackNumber, windowHandle(PanelWindow));
    return;
  }
  st.trackLength = std::max(st.trackLength, position);
  if (st.currentTrack.lengthSource == LengthSource::LargestPosition) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLengthQuery < kLengthQueryInterval) return;
    lastLengthQuery = now;
    const TrackTime duration = mediaLength(TrackNumber);
    if (duration > 0) {
      st.trackLength = std::max(duration, position);
      st.currentTrack.lengthSource = LengthSource::Stream;
    }
  }
}

}  // namespace lunadio
