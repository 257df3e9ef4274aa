#include "app/track.h"

#include <algorithm>
#include <cmath>

#include "app/media_engine.h"
#include "audio/sound.h"
#include "audio/sound_loader.h"
#include "core/strings.h"
#include "media/media.h"

namespace lunadio {
namespace {

// The fixed numbers of each engine.
constexpr ObjectNumber kTrackNumber = kTrackSoundNumber;
constexpr ObjectNumber kTrialNumber = kTrialSoundNumber;

// A stream without a duration yet is asked again at most this often.
constexpr auto kLengthQueryInterval = std::chrono::milliseconds(250);

constexpr double kUsPerSecond = 1e6;
constexpr std::int64_t k100nsPerUs = 10;

int nearestInt(double value) { return static_cast<int>(std::nearbyint(value)); }

}  // namespace

TrackOpenResult Track::open(const std::u16string& path, int volumePercent) {
  const EngineKind chosen = chooseEngine(getExtensionPart(path));
  if (chosen == EngineKind::None) return TrackOpenResult::UnknownType;
  const TrackOpenResult result = chosen == EngineKind::Sound ? startSoundTrack(path, volumePercent)
                                                             : openMedia(path, volumePercent);
  if (result != TrackOpenResult::Opened) return result;
  if (chosen == EngineKind::Sound) {
    adoptSoundTrack(path);
  } else {
    adoptMediaTrack(path);
  }
  return result;
}

void Track::adoptSoundTrack(const std::u16string& path) {
  if (mediaEngineLoaded() && isMedia(kTrackNumber)) freeMedia(kTrackNumber);
  engine_ = EngineKind::Sound;
  engineLength_ = std::max<std::int64_t>(getSoundLength(kTrackNumber), 0);
  lengthSource_ = LengthSource::Stream;
  baseFrequencyHz_ = static_cast<float>(getSoundFrequency(kTrackNumber));
  startedAtTheTop(path);
}

void Track::adoptMediaTrack(const std::u16string& path) {
  if (isSound(kTrackNumber)) freeSound(kTrackNumber);
  engine_ = EngineKind::Media;
  // The stream's own duration when it tells one; else the length grows with the largest position
  // seen, starting from 1, while the stream is asked again (some tell it only once playing).
  const std::int64_t duration = mediaLength(kTrackNumber);
  engineLength_ = std::max<std::int64_t>(duration, 1);
  lengthSource_ = duration > 0 ? LengthSource::Stream : LengthSource::LargestPosition;
  lastLengthQuery_ = std::chrono::steady_clock::now();
  baseFrequencyHz_ = 0;
  mediaMoved_ = false;
  startedAtTheTop(path);
}

void Track::startedAtTheTop(const std::u16string& path) {
  path_ = path;
  title_ = getFilePart(path, FilePartNoExtension);
  paused_ = false;
  fadeFrequencyHz_ = 0;
  last_ = {TrackPhase::Playing, 0, toUs(engineLength_)};
}

TrackOpenResult Track::openMedia(const std::u16string& path, int volumePercent) {
  // The trial keeps a playing media track when the new file fails, as loading into number 0 frees
  // what was there; with no media track there (the start-up's track, or after a sound), that
  // load is its own trial and the track sounds one preroll sooner.
  if (!useMediaEngine()) return TrackOpenResult::MediaGraphFailed;
  if (isMedia(kTrackNumber) && !loadMedia(kTrialNumber, path)) {
    return TrackOpenResult::TrialRefused;
  }
  const bool loaded = loadMedia(kTrackNumber, path) != 0;
  freeMedia(kTrialNumber);
  if (!loaded) {
    // Loading into number 0 freed the media track that was there.
    if (engine_ == EngineKind::Media) forget();
    return TrackOpenResult::MediaGraphFailed;
  }
  // Looped from the first pass, so that every seam is seamless; status() still restarts a track
  // that ends should the engine not loop it.
  playMediaLooped(kTrackNumber, volumePercent);
  return TrackOpenResult::Opened;
}

void Track::forget() {
  engine_ = EngineKind::None;
  engineLength_ = 0;
  baseFrequencyHz_ = 0;
  paused_ = false;
  last_ = {};
}

TrackUs Track::toUs(std::int64_t engineTime) const {
  switch (engine_) {
    case EngineKind::Sound:
      if (baseFrequencyHz_ <= 0) return 0;
      return static_cast<TrackUs>(
          std::llround(static_cast<double>(engineTime) * kUsPerSecond / baseFrequencyHz_));
    case EngineKind::Media:
      return engineTime / k100nsPerUs;
    case EngineKind::None:
      break;
  }
  return 0;
}

std::int64_t Track::fromUs(TrackUs time) const {
  switch (engine_) {
    case EngineKind::Sound:
      return static_cast<std::int64_t>(
          std::llround(static_cast<double>(time) * baseFrequencyHz_ / kUsPerSecond));
    case EngineKind::Media:
      return time * k100nsPerUs;
    case EngineKind::None:
      break;
  }
  return 0;
}

void Track::pause() {
  if (engine_ == EngineKind::Sound) pauseSound(kTrackNumber);
  if (engine_ == EngineKind::Media) pauseMedia(kTrackNumber);
  if (loaded()) {
    paused_ = true;
    last_.phase = TrackPhase::Paused;
  }
}

void Track::resume() {
  if (engine_ == EngineKind::Sound) resumeSound(kTrackNumber);
  if (engine_ == EngineKind::Media) resumeMedia(kTrackNumber);
  if (loaded()) {
    paused_ = false;
    last_.phase = TrackPhase::Playing;
  }
}

void Track::seek(TrackUs position) {
  if (!loaded()) return;
  const std::int64_t target =
      std::clamp<std::int64_t>(fromUs(position), 0, std::max<std::int64_t>(engineLength_ - 1, 0));
  if (engine_ == EngineKind::Sound) setSoundPosition(kTrackNumber, target);
  if (engine_ == EngineKind::Media) seekMedia(kTrackNumber, target);
  last_.position = toUs(target);
}

void Track::setVolume(int volumePercent) {
  if (engine_ == EngineKind::Sound) setSoundVolume(kTrackNumber, volumePercent);
  if (engine_ == EngineKind::Media) setMediaVolume(kTrackNumber, volumePercent, 0);
}

void Track::setSpeed(int percent) {
  fadeFrequencyHz_ = baseFrequencyHz_ * static_cast<float>(percent) / 100.0f;
  if (engine_ == EngineKind::Sound) setSoundFrequency(kTrackNumber, nearestInt(fadeFrequencyHz_));
}

void Track::refreshMediaLength(std::int64_t position) {
  engineLength_ = std::max(engineLength_, position);
  if (lengthSource_ != LengthSource::LargestPosition) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastLengthQuery_ < kLengthQueryInterval) return;
  lastLengthQuery_ = now;
  const std::int64_t duration = mediaLength(kTrackNumber);
  if (duration > 0) {
    engineLength_ = std::max(duration, position);
    lengthSource_ = LengthSource::Stream;
  }
}

TrackStatus Track::status() {
  switch (engine_) {
    case EngineKind::None:
      last_ = {};
      return last_;
    case EngineKind::Sound:
      last_.position = toUs(getSoundPosition(kTrackNumber));
      break;
    case EngineKind::Media: {
      const std::int64_t position = mediaStatus(kTrackNumber);
      if (position < 0) break;  // paused: the engine tells no position, the last one stands
      if (position == 0 && !paused_ && mediaMoved_) {
        // Stopped at its end: the stream starts again. Before it has moved at all, 0 is only a
        // start that has not sounded yet (a slow machine), which a restart would keep at 0.
        last_.phase = TrackPhase::Ended;
        last_.position = 0;
        mediaMoved_ = false;
        playMedia(kTrackNumber, 0);
        return last_;
      }
      mediaMoved_ = mediaMoved_ || position > 0;
      refreshMediaLength(position);
      last_.position = toUs(position);
      break;
    }
  }
  last_.phase = paused_ ? TrackPhase::Paused : TrackPhase::Playing;
  last_.length = toUs(engineLength_);
  return last_;
}

}  // namespace lunadio
